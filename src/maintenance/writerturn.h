// The database folder's writer lock for a maintenance command: the wait is shown
// on the command's status line and its cancel button ends the wait.
#pragma once
#include "common/globals.h"
#include "maintenance/commandui.h"
#include "startup/platform/writerlock.h"

namespace velmo {

inline db::WriterLock::Options WriterTurnOptions(CommandUi& ui) {
  db::WriterLock::Options o;
  o.waitSeconds = db::WriterLock::defaultWaitSeconds();
  o.onWait = [&ui](const std::string& message) { ui.setStatus(message); };
  o.cancelled = [&ui]() { return ui.cancelRequested(); };
  return o;
}

}  // namespace velmo
