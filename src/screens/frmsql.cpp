#include "screens/frmsql.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <memory>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/backup.h"
#include "maintenance/writerturn.h"
#include "screens/screenutil.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/jetsql.h"

namespace velmo::screens {

frmSQL::frmSQL(QWidget* parent) : QDialog(parent) {
  setObjectName("frmSQL");
  setWindowTitle("Velmo-SQL画面");
  auto* lay = new QGridLayout(this);
  Label2 = new QLabel("対象データベース指定", this);
  Label2->setObjectName("Label2");
  File1 = new QListWidget(this);
  File1->setObjectName("File1");
  File1->setMaximumWidth(200);
  Label1 = new QLabel("ＳＱＬ文を入力してください。（SQL：データベース操作用言語のことです。）", this);
  Label1->setObjectName("Label1");
  txtSQL = new QPlainTextEdit(this);
  txtSQL->setObjectName("txtSQL");
  txtSQL->setMinimumSize(460, 200);
  cmdOK = new QPushButton("実行", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setIcon(CommandIcon("run"));
  cmdCancel = new QPushButton("キャンセル", this);
  cmdCancel->setObjectName("cmdCancel");
  lay->addWidget(Label2, 0, 0);
  lay->addWidget(File1, 1, 0, 2, 1);
  lay->addWidget(Label1, 0, 1, 1, 3);
  lay->addWidget(txtSQL, 1, 1, 1, 3);
  lay->addWidget(cmdOK, 2, 2);
  lay->addWidget(cmdCancel, 2, 3);
  lay->setColumnStretch(1, 1);

  std::vector<std::string> names = ListFiles(G().gDBDir + "*.mdb");
  std::sort(names.begin(), names.end());
  for (const auto& n : names) File1->addItem(Q(n));
  connect(cmdOK, &QPushButton::clicked, this, &frmSQL::doSQL);
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmSQL::doSQL() {
  const std::string sql = S(txtSQL->toPlainText());
  auto& ws = db::Workspace::get();
  bool inTrans = false;
  db::DatabasePtr d;
  // A statement that may write holds the folder's writer lock from before the
  // file is opened until it is committed or rolled back.
  std::unique_ptr<db::WriterLock> turn;
  try {
    // The file the member picked; the list's current row alone is no choice.
    const QList<QListWidgetItem*> picked = File1->selectedItems();
    QListWidgetItem* item = picked.isEmpty() ? nullptr : picked.front();
    if (!item) throw VelmoError(err::InvalidArgument, "対象データベースが指定されていません。");
    if (db::jetStatementMayWrite(sql)) turn = std::make_unique<db::WriterLock>(G().gDBDir, WriterTurnOptions(NullCommandUi()));
    if (!DAO_Open(d, G().gDBDir + S(item->text())))
      throw VelmoError(err::CannotOpen, "データベースを開けません。[" + S(item->text()) + "]");
    // A statement that may change data is preceded by a copy of the database.
    if (turn && StatementMayWrite(sql, G().gDBDir + S(item->text())) && !BackupBefore("sql", {G().gDBDir + S(item->text())}, NullCommandUi())) {
      d->close();
      return;
    }
    ws.beginTrans();
    inTrans = true;
    const long affected = d->execute(sql);
    if (MsgBox(std::to_string(affected) + "件のレコードが処理されました。", vbOKCancel, "Velmo") == vbOK) {
      ws.commitTrans();
      inTrans = false;
    } else {
      ws.rollback();
      inTrans = false;
      MsgBox("キャンセルしました。", vbOKOnly, "Velmo");
    }
    d->close();
  } catch (const std::exception& ex) {
    // A rejected statement leaves nothing half done behind.
    if (inTrans) {
      try {
        ws.rollback();
      } catch (...) {
      }
    }
    if (d) d->close();
    WriteLog(ErrObject::from(ex), "frmSQL/doSQL", false, false);
    WriteLog(ErrObject(ErrObject::from(ex).number, "SQL:" + sql), "frmSQL/doSQL", false, true);
  }
}

}  // namespace velmo::screens
