#include "screens/qtmsgbox.h"

#include <QMessageBox>
#include <QString>

#include "common/msgbox.h"

namespace velmo::screens {

void InstallQtMessageBoxes() {
  SetMsgBoxHandler([](const MsgRequest& r) {
    QString t = QString::fromStdString(r.text);
    t.replace("\r\n", "\n");
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(r.title));
    box.setText(t);
    switch (r.buttons) {
      case vbOKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
      case vbYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
      case vbYesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
      default:
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
      case QMessageBox::Ok:
        return static_cast<int>(vbOK);
      case QMessageBox::Cancel:
        return static_cast<int>(vbCancel);
      case QMessageBox::Yes:
        return static_cast<int>(vbYes);
      case QMessageBox::No:
        return static_cast<int>(vbNo);
      default:
        return static_cast<int>(vbCancel);
    }
  });
}

}  // namespace velmo::screens
