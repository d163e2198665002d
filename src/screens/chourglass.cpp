#include "screens/chourglass.h"

#include <QApplication>
#include <QCursor>

namespace velmo::screens {

// The cursors stack, so a command that calls another keeps the hourglass until
// the outer one ends.
CHourglass::CHourglass() {
  if (qApp) QApplication::setOverrideCursor(Qt::WaitCursor);
}

CHourglass::~CHourglass() {
  if (qApp) QApplication::restoreOverrideCursor();
}

}  // namespace velmo::screens
