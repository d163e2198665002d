// The entry point's logic: log set-up, settings, run-mode decision and the
// screen mode's start-up checks. The screens themselves are reached through
// hooks so that the logic runs (and is tested) without a display.
#pragma once
#include <string>
#include <vector>

namespace velmo {

class StartupHooks {
 public:
  virtual ~StartupHooks() = default;
  // The settings screen, shown modally, with one folder box marked red.
  virtual void showSettings(bool redStorageFolder, bool redDatabaseFolder) = 0;
  // The initial setup screen, shown modally.
  virtual void showInitialSetup() = 0;
  // Shows the main screen (not modally); the program runs until it closes.
  virtual void showMainScreen() = 0;
  // The silent mode's steps after the run-mode decision: fetch (and register) one
  // archive for the parent program. Returns when the automatic screen has closed.
  virtual void runSilent(const std::vector<std::string>& words) = 0;
  // The exit code of the silent run that just ended (SilentExit).
  virtual int silentResult() const { return 0; }
  // Opens the parent channel and makes message boxes log-only: the first steps
  // of the silent mode, before any word is read.
  virtual void openParentChannel() {}
  // Closes the parent channel (silent-mode failure handling).
  virtual void closeParentChannel() {}
};

// Exit codes of the silent mode, for the parent program.
namespace SilentExit {
constexpr int Done = 0;       // fetched and registered (or filed, word 2 = 1); also "END" from the parent
constexpr int Failed = 1;     // the fetch, the unpacking, the registration or the start-up failed
constexpr int Usage = 2;      // the words are not a silent call (wrong number of words, a bad date)
constexpr int NotFound = 3;   // the provider has no such archive (404)
constexpr int Cancelled = 4;  // cancelled on the screen, or the wait for the database folder ended
}  // namespace SilentExit

struct MainResult {
  bool runEventLoop = false;  // the main screen is open: run until it closes
  int exitCode = 0;
};

// The archives of a call such as the desktop's "Open with Velmo": the words when
// every one is an existing file named *.lzh (any case), else nothing. Such a call
// opens the screen mode, which then offers to register them.
std::vector<std::string> ArchivesToOpen(const std::vector<std::string>& words);

// Runs Main for the given command line (the words after the program name).
MainResult Main(const std::string& commandLine, StartupHooks& hooks);

}  // namespace velmo
