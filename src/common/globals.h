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
  std::string gTmpDir;   // program folder + "tmp/"
  std::string gDwnDir;   // program folder + "dwn/"
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

// Program folder (VELMO_HOME, else the executable's folder), ending in "/".
std::string ProgramDir();
void SetProgramDir(const std::string& dir);
// Settings folder (VELMO_CONFIG_DIR, else $XDG_CONFIG_HOME/Velmo), ending in "/".
std::string ConfigDir();
const char* const kAppTitle = "Velmo";

}  // namespace velmo
