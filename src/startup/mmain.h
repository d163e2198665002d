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
  // Closes the parent channel (silent-mode failure handling).
  virtual void closeParentChannel() {}
};

struct MainResult {
  bool runEventLoop = false;  // the main screen is open: run until it closes
  int exitCode = 0;
};

// Runs Main for the given command line (the words after the program name).
MainResult Main(const std::string& commandLine, StartupHooks& hooks);

}  // namespace velmo
