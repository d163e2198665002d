// The automatic download screen of the silent mode.
#pragma once
#include <string>

#include "common/globals.h"
#include "screens/frmgetint.h"

class QStatusBar;
class QTimer;

namespace velmo {

// Fetches gDataURL into gDataPath reporting only to the log, then files the
// archive (gDownOnly = 1) or registers it into this week's database and files
// it, and closes. It watches the parent channel every 200 ms; "END" (or the
// cancel button) ends the program.
class frmGetAuto : public FetchScreen, public StatusSink {
  Q_OBJECT
 public:
  explicit frmGetAuto(QWidget* parent = nullptr);
  ~frmGetAuto() override;

  std::string statusText() const override;
  void setStatusText(const std::string& text) override;
  void refresh() override;

  // Registers every archive of the download folder and moves it into the data
  // storage folder.
  void regDataDir(const std::string& mode);
  // Moves every archive of the download folder into the data storage folder.
  void DataIdoDir();

  QStatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;

  // The silent mode's exit code for what happened (SilentExit in startup/mmain.h).
  int exitCode() const { return exitCode_; }

 protected:
  void loadScreen() override;
  void onFinished(int result) override;

 private:
  void afterSaved();
  void tick();
  bool cancelling_ = false;
  int exitCode_ = 1;
  bool registrationFailed_ = false;
};

// Ends the process at once (cancel of the silent mode): the open transaction is
// rolled back, the databases closed, and nothing else runs.
[[noreturn]] void EndProgramAtOnce(int exitCode);

}  // namespace velmo
