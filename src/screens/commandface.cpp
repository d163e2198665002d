#include "screens/commandface.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "common/func.h"
#include "common/globals.h"
#include "screens/screenutil.h"

namespace velmo::screens {

namespace {
void (*gWatcher)(frmBusy*) = nullptr;
}

void SetBusyWindowWatcher(void (*watcher)(frmBusy*)) { gWatcher = watcher; }

ScreenCommandUi::ScreenCommandUi(QWidget* owner, StatusSink* status) : owner_(owner), status_(status) {}

// The busy window stays open after the command, until the member closes it:
// closing it then must not reach this face any more.
ScreenCommandUi::~ScreenCommandUi() { QObject::disconnect(closedEarlyWatch_); }

void ScreenCommandUi::setStatus(const std::string& text) {
  if (status_) {
    status_->setStatusText(text);
    status_->refresh();
  }
}

void ScreenCommandUi::showBusy(const std::string& caption) {
  if (!busy_) {
    busy_ = new frmBusy(owner_);
    busy_->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the window through its frame while the work runs asks for a cancel too.
    closedEarlyWatch_ = QObject::connect(busy_, &QDialog::finished, busy_, [this]() {
      if (busy_ && busy_->cmdCancel->text() == "キャンセル") closedEarly_ = true;
    });
  }
  // The window keeps its own caption unless the caller names one.
  if (!caption.empty()) busy_->setWindowTitle(Q(caption));
  busy_->show();
  busy_->raise();
  if (gWatcher) gWatcher(busy_);
  DoEvents();
}

void ScreenCommandUi::setBusyText(const std::string& text) {
  // Once a cancel is accepted its notice stays until the work has ended; the
  // caller's closing words ("キャンセルしました") then show.
  if (busy_ && (busy_->mstrCancel != "1" || busy_->ended())) busy_->lblSyori->setText(Q(text));
  DoEvents();
}

void ScreenCommandUi::setBusyCaption(const std::string& caption) {
  if (busy_) busy_->setWindowTitle(Q(caption));
}

void ScreenCommandUi::endBusy() {
  if (busy_) busy_->syoriEnd();
}

void ScreenCommandUi::closeBusy() {
  if (busy_) busy_->close();
}

bool ScreenCommandUi::cancelRequested() {
  DoEvents();
  return closedEarly_ || (busy_ && busy_->mstrCancel == "1");
}

void ScreenCommandUi::setWaitCursor(bool on) {
  if (on && !wait_) wait_ = std::make_unique<CHourglass>();
  if (!on) wait_.reset();
}

void ScreenCommandUi::refillMasterGrid() {
  if (refillMasters_) refillMasters_();
}

}  // namespace velmo::screens
