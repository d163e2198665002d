// The program's global values: settings read at start, the run mode and the
// state of the current fetch.
#pragma once
#include <string>

namespace velmo {

// Where the status of a registration run is shown (the caller's status bar).
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual std::string statusText() const = 0;
  virtual void setStatusText(const std::string& text) = 0;
  virtual void refresh() {}
};

struct Globals {
  std::string gLzhDir;   // data storage folder
  std::string gDBDir;    // database folder, ending in "/"
  std::string gUserID;
  std::string gPasswd;   // restored password
  std::string gVANDir;
  int gVAN = 0;
  std::string gTmpDir;   // WritableDir(UserFolder::Cache) + "tmp/"
  std::string gDwnDir;   // WritableDir(UserFolder::Cache) + "dwn/"
  std::string gSilent = "0";
  int gDownOnly = 0;
  std::string gDataURL;
  std::string gDataPath;
  int gFetchResult = 0;  // 1 saved, 0 cancelled, -1 failed, -2 not found
  int gStallSeconds = 60;  // a fetch without a byte for this long fails (setting StallTimeout)
  long long gUnpackEntryLimit = 512LL << 20;  // largest archive entry unpacked (setting UnpackEntryLimitMB)
  long long gListFileLimit = 16LL << 20;      // largest list or check file fetched or read (setting ListFileLimitMB)
  long long gFetchMinRate = 4LL << 10;        // slowest average bytes per second of a fetch (setting FetchMinRateKB)
  StatusSink* gStatusForm = nullptr;
};

Globals& G();

// Program folder, ending in "/": VELMO_HOME; else the executable's folder when it
// holds the program's files (a build folder); else the installed folder
// "../share/velmo/" beside the executable's folder (/usr/bin -> /usr/share/velmo).
std::string ProgramDir();
// Sets the program folder (when VELMO_HOME is not set); `installed` marks it as
// the package's folder, which is never written.
void SetProgramDir(const std::string& dir, bool installed = false);

// True when the program may write its own files into the program folder: never
// for the installed folder (even for the superuser), otherwise when the folder
// can be written.
bool ProgramDirWritable();

// The user's folders for what the program writes for itself, used when the
// program folder cannot be written; each ends in "Velmo/".
enum class UserFolder {
  State,  // $XDG_STATE_HOME (~/.local/state): the log, the busy window's topic counter, update.log
  Cache,  // $XDG_CACHE_HOME (~/.cache): the work folder tmp/ and the download folder dwn/
  Data,   // $XDG_DATA_HOME (~/.local/share): the data check report, the databases of the initial setup
};
std::string UserFolderPath(UserFolder kind);
// Where the program writes a file of that kind: the program folder when it can be
// written (a build folder, VELMO_HOME), else UserFolderPath(kind). Ends in "/".
std::string WritableDir(UserFolder kind);
// The log file VelmoLog.dat.
std::string LogFilePath();
// Settings folder (VELMO_CONFIG_DIR, else $XDG_CONFIG_HOME/Velmo), ending in "/".
std::string ConfigDir();
const char* const kAppTitle = "Velmo";

}  // namespace velmo
