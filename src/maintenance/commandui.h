// What a long command needs of whoever started it. The main screen's handlers
// give it the status bar, the busy window and the wait cursor; velmo-cli gives
// it standard error. Questions and reports go through the message-box service
// (common/msgbox.h), which both faces install.
#pragma once
#include <string>

namespace velmo {

class CommandUi {
 public:
  virtual ~CommandUi() = default;
  // The main screen's status bar "StatusBar1".
  virtual void setStatus(const std::string& text) {}
  // The busy window: shown with its caption, its processing text (lblSyori),
  // the end of processing (syoriEnd) and closing it after a failure.
  virtual void showBusy(const std::string& caption) {}
  virtual void setBusyText(const std::string& text) {}
  // The busy window's caption, changed while it is shown.
  virtual void setBusyCaption(const std::string& caption) {}
  virtual void endBusy() {}
  virtual void closeBusy() {}
  // The busy window's cancel flag (mstrCancel = "1").
  virtual bool cancelRequested() { return false; }
  // The wait cursor (CHourglass) for the length of the command.
  virtual void setWaitCursor(bool on) {}
  // The main screen's master grid (Gr3), refilled before the master update reports.
  virtual void refillMasterGrid() {}
};

// A face that shows nothing and never cancels (tests, nested calls).
CommandUi& NullCommandUi();

}  // namespace velmo
