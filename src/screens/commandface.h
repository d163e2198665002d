// The screen face of a long command: the main screen's status bar, the busy
// window with its cancel flag, and the wait cursor.
#pragma once
#include <QPointer>

#include <functional>

#include <memory>
#include <string>

#include "common/globals.h"
#include "maintenance/commandui.h"
#include "screens/chourglass.h"
#include "screens/frmbusy.h"

class QWidget;

namespace velmo::screens {

class ScreenCommandUi : public CommandUi {
 public:
  // owner: the window the busy window belongs to; status: where progress shows
  // (the main screen's status bar; none for other screens).
  explicit ScreenCommandUi(QWidget* owner, StatusSink* status = nullptr);
  ~ScreenCommandUi() override;

  void setStatus(const std::string& text) override;
  void showBusy(const std::string& caption) override;
  void setBusyText(const std::string& text) override;
  void setBusyCaption(const std::string& caption) override;
  void endBusy() override;
  void closeBusy() override;
  bool cancelRequested() override;
  void setWaitCursor(bool on) override;
  void refillMasterGrid() override;
  // What refills the master grid (the main screen's fill of Gr3).
  void setMasterGridRefill(std::function<void()> refill) { refillMasters_ = std::move(refill); }

  // The busy window of the running command (null when none is shown).
  frmBusy* busy() const { return busy_; }

 private:
  QWidget* owner_;
  StatusSink* status_;
  QPointer<frmBusy> busy_;
  std::unique_ptr<CHourglass> wait_;
  bool closedEarly_ = false;
  QMetaObject::Connection closedEarlyWatch_;
  std::function<void()> refillMasters_;
};

// Called with each busy window as it opens (tests use it to press its buttons).
void SetBusyWindowWatcher(void (*watcher)(frmBusy*));

}  // namespace velmo::screens
