#include "screens/qtmsgbox.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QString>
#include <QTranslator>

#include "common/msgbox.h"
#include "startup/platform/applog.h"

namespace velmo::screens {

std::unique_ptr<QMessageBox> MessageBoxFor(const MsgRequest& r) {
  QString t = QString::fromStdString(r.text);
  t.replace("\r\n", "\n");
  auto box = std::make_unique<QMessageBox>();
  box->setWindowTitle(QString::fromStdString(r.title));
  box->setText(t);
  switch (r.buttons) {
    case vbOKCancel:
      box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case vbYesNo:
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case vbYesNoCancel:
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    default:
      box->setStandardButtons(QMessageBox::Ok);
  }
  return box;
}

void InstallQtMessageBoxes() {
  SetMsgBoxHandler([](const MsgRequest& r) {
    std::unique_ptr<QMessageBox> box = MessageBoxFor(r);
    switch (box->exec()) {
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

bool InstallQtTranslations() {
  static QTranslator* installed = nullptr;
  if (installed) return true;
  auto* qt = new QTranslator(QCoreApplication::instance());
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!qt->load("qtbase_ja", folder) || !QCoreApplication::installTranslator(qt)) {
    delete qt;
    WriteLog(ErrObject(0, "Qt の日本語訳 (qtbase_ja.qm) が見つかりません。[" + folder.toStdString() + "]"),
             "InstallQtTranslations", false, true);
    return false;
  }
  installed = qt;
  return true;
}

}  // namespace velmo::screens
