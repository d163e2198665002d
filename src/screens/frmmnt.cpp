#include "screens/frmmnt.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "startup/platform/daofunc.h"

namespace velmo::screens {

frmMnt::frmMnt(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Velmo-メイン画面");
  setObjectName("frmMnt");
  auto* central = new QWidget(this);
  auto* lay = new QVBoxLayout(central);
  lay->addWidget(new QLabel("今週のデータ", central));
  grThis_ = new QTableWidget(central);
  grThis_->setObjectName("GrThis");
  grThis_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lay->addWidget(grThis_);
  setCentralWidget(central);
  statusBar()->setObjectName("StatusBar1");
  resize(900, 520);
  fillThisWeek();
}

std::string frmMnt::statusText() const { return statusBar()->currentMessage().toStdString(); }

void frmMnt::setStatusText(const std::string& t) { statusBar()->showMessage(QString::fromStdString(t)); }

void frmMnt::refresh() { repaint(); }

void frmMnt::fillThisWeek() {
  static const char* cols[] = {"年月日", "KOVAデータ", "情報データ", "番組データ", "払戻情報データ",
                               "調教分析データ", "直前情報データ", "成績データ", "成績拡張データ"};
  grThis_->clear();
  grThis_->setColumnCount(9);
  QStringList headers;
  for (const char* c : cols) headers << QString::fromUtf8(c);
  grThis_->setHorizontalHeaderLabels(headers);
  grThis_->setRowCount(0);
  try {
    db::DatabasePtr d;
    if (!DAO_Open(d, G().gDBDir + "kova_this.mdb")) return;
    auto q = d->openQuery("select * from Tデータ一覧テーブル order by 年月日 desc");
    int r = 0;
    for (q->moveFirst(); !q->eof(); q->moveNext(), ++r) {
      grThis_->insertRow(r);
      for (int c = 0; c < 9; ++c)
        grThis_->setItem(r, c, new QTableWidgetItem(QString::fromStdString(db::toText(q->get(cols[c])))));
    }
    d->close();
  } catch (const std::exception&) {
  }
  grThis_->resizeColumnsToContents();
}

}  // namespace velmo::screens
