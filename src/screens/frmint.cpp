#include "screens/frmint.h"

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <algorithm>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "screens/frmgetint.h"
#include "screens/screenutil.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"

namespace velmo::screens {

namespace {
QDate fromYmd(const std::string& ymd) { return QDate::fromString(Q(ymd), "yyyyMMdd"); }
std::string ymd(const QDateEdit* d) { return S(d->date().toString("yyyyMMdd")); }
// A number as the runtime writes it: a blank in place of the sign of a positive value.
std::string signed_(double v) { return (v >= 0 ? " " : "") + text::formatNumber(v); }
}  // namespace

bool isInDateRange(const std::string& line, const std::string& first, const std::string& last) {
  std::string d = ListLineDate(line);
  return !d.empty() && first <= d && d <= last;
}

frmInt::frmInt(QWidget* parent) : QDialog(parent) {
  setObjectName("frmInt");
  setWindowTitle("Velmo-ダウンロード指定画面");
  auto* lay = new QVBoxLayout(this);

  auto* sets = new QHBoxLayout;
  const char* const setNames[3] = {"通常", "単品", "旧形式"};
  for (int i = 0; i < 3; ++i) {
    optDataSet[i] = new QRadioButton(setNames[i], this);
    optDataSet[i]->setObjectName(QString("optDataSet_%1").arg(i));
    sets->addWidget(optDataSet[i]);
    connect(optDataSet[i], &QRadioButton::clicked, this, [this, i]() {
      static const char* const value[3] = {"通常", "単品", "旧"};
      gstrSet = value[i];
      loadDataKinds();
    });
  }
  optDataSet[0]->setChecked(true);
  sets->addStretch();
  lay->addLayout(sets);

  Label2 = new QLabel("日付指定", this);
  Label2->setObjectName("Label2");
  lay->addWidget(Label2);
  auto* dates = new QHBoxLayout;
  Label3 = new QLabel("From:", this);
  Label3->setObjectName("Label3");
  DTPicker1 = new QDateEdit(QDate::currentDate(), this);
  DTPicker1->setObjectName("DTPicker1");
  cmdHani = new QPushButton("から", this);
  cmdHani->setObjectName("cmdHani");
  Label4 = new QLabel("To:", this);
  Label4->setObjectName("Label4");
  DTPicker2 = new QDateEdit(QDate::currentDate(), this);
  DTPicker2->setObjectName("DTPicker2");
  DTPicker2->setEnabled(false);
  for (QDateEdit* d : {DTPicker1, DTPicker2}) {
    d->setDisplayFormat("yyyy/MM/dd");
    d->setCalendarPopup(true);
  }
  ComdYesterday = new QPushButton("きのう", this);
  ComdYesterday->setObjectName("ComdYesterday");
  cmdTomorrow = new QPushButton("あした", this);
  cmdTomorrow->setObjectName("cmdTomorrow");
  dates->addWidget(Label3);
  dates->addWidget(DTPicker1);
  dates->addWidget(cmdHani);
  dates->addWidget(Label4);
  dates->addWidget(DTPicker2);
  dates->addSpacing(16);
  dates->addWidget(ComdYesterday);
  dates->addWidget(cmdTomorrow);
  dates->addStretch();
  lay->addLayout(dates);
  connect(cmdHani, &QPushButton::clicked, this, [this]() { DTPicker2->setEnabled(!DTPicker2->isEnabled()); });
  connect(ComdYesterday, &QPushButton::clicked, this, [this]() { DTPicker1->setDate(QDate::currentDate().addDays(-1)); });
  connect(cmdTomorrow, &QPushButton::clicked, this, [this]() { DTPicker1->setDate(QDate::currentDate().addDays(1)); });

  Label1 = new QLabel("データ指定", this);
  Label1->setObjectName("Label1");
  lay->addWidget(Label1);
  ListView1 = new QTreeWidget(this);
  ListView1->setObjectName("ListView1");
  ListView1->setRootIsDecorated(false);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setAlternatingRowColors(true);
  ListView1->setMinimumHeight(260);
  ListView1->setMinimumWidth(Twips(11000));
  lay->addWidget(ListView1, 1);
  Label6 = new QLabel("※複数データ選択：Ctrlキーを押しながらクリック", this);
  Label6->setObjectName("Label6");
  lay->addWidget(Label6);

  auto* run = new QHBoxLayout;
  chkDownOnly = new QCheckBox("ダウンロードのみ", this);
  chkDownOnly->setObjectName("chkDownOnly");
  cmdDown = new QPushButton("ダウンロード開始", this);
  cmdDown->setObjectName("cmdDown");
  cmdDown->setIcon(CommandIcon("download"));
  cmdDown->setMinimumHeight(32);
  run->addWidget(chkDownOnly);
  run->addStretch();
  run->addWidget(cmdDown);
  lay->addLayout(run);
  connect(chkDownOnly, &QCheckBox::clicked, this, [this]() { G().gDownOnly = chkDownOnly->isChecked() ? 1 : 0; });
  connect(cmdDown, &QPushButton::clicked, this, &frmInt::cmdDown_Click);

  LblDataURL = new QLabel(this);
  LblDataURL->setObjectName("LblDataURL");
  LblDataFile = new QLabel(this);
  LblDataFile->setObjectName("LblDataFile");
  for (QLabel* l : {LblDataURL, LblDataFile}) {
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lay->addWidget(l);
  }
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  lay->addWidget(StatusBar1);
  resize(Twips(11000), 520);
}

void frmInt::setRange(const std::string& first, const std::string& last) {
  DTPicker1->setDate(fromYmd(first));
  DTPicker2->setDate(fromYmd(last));
  DTPicker2->setEnabled(true);
}

void frmInt::setSingle(const std::string& d) {
  DTPicker1->setDate(fromYmd(d));
  DTPicker2->setDate(fromYmd(d));
  DTPicker2->setEnabled(false);
}

bool frmInt::rangeOn() const { return DTPicker2->isEnabled(); }

void frmInt::setStatus(const std::string& t) { StatusBar1->showMessage(Q(t)); }

void frmInt::showEvent(QShowEvent* e) {
  if (!loaded_) {
    loaded_ = true;
    formLoad();
  }
  QDialog::showEvent(e);
}

void frmInt::formLoad() {
  auto& g = G();
  try {
    g.gFetchResult = 0;
    chkDownOnly->setChecked(g.gDownOnly == 1);
    DeleteFiles(g.gDwnDir + "*.lzh");
    RestorePosition(this, "frmInt", WindowPlace{true, Twips(6000)});
    gstrSet = "通常";
    optDataSet[0]->setChecked(true);
    loadDataKinds();
  } catch (const std::exception& ex) {
    g.gFetchResult = -1;
    WriteLog(ErrObject::from(ex), "Form_Load", false, false);
    QMetaObject::invokeMethod(this, "reject", Qt::QueuedConnection);
  }
}

void frmInt::loadDataKinds() {
  db::DatabasePtr d;
  if (!DAO_Open(d, G().gDBDir + "kova_this.mdb"))
    throw VelmoError(err::CannotOpen, "データベースを開けません。[kova_this.mdb]");
  auto q = d->openQuery(std::string("SELECT * FROM Sデータ管理 ") + " WHERE TDM like '" + gstrTDM + "'" +
                        "  AND セット = '" + gstrSet + "'" + "   ORDER BY 表示順;");
  ListView1->clear();
  ListView1->setColumnCount(5);
  ListView1->setHeaderLabels({"ID", "分類", "データ名", "提供時間", "説明"});
  const int widths[5] = {550, 650, 2050, 1300, 5000};
  for (int c = 0; c < 5; ++c) ListView1->setColumnWidth(c, Twips(widths[c]));
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    auto* item = new QTreeWidgetItem(ListView1);
    const char* const cols[5] = {"データID", "分類", "データ名", "提供時間", "説明"};
    for (int c = 0; c < 5; ++c) item->setText(c, Q(db::toText(q->get(cols[c]))));
    item->setToolTip(2, item->text(2));
    item->setToolTip(3, item->text(3));
    item->setToolTip(4, item->text(4));
  }
  // Never narrower than the texts of the first columns in this font.
  for (int c = 0; c < 4; ++c) {
    ListView1->resizeColumnToContents(c);
    ListView1->setColumnWidth(c, std::max(ListView1->columnWidth(c), Twips(widths[c])));
  }
  d->close();
}

void frmInt::fetch(const std::string& url, const std::string& path) {
  auto& g = G();
  LblDataURL->setText(Q(url));
  LblDataFile->setText(Q(path));
  g.gDataURL = url;
  g.gDataPath = path;
  frmGetInt f(this);
  f.exec();
}

void frmInt::cmdDown_Click() {
  const std::string first = ymd(DTPicker1);
  const std::string last = ymd(DTPicker2);
  if (rangeOn() && first > last) {
    MsgBox("日付指定が間違えています。", vbOKOnly, "Velmo");
    return;
  }
  LogMilestone("日付範囲 開始[" + first + "-" + last + "]", "frmInt");
  std::vector<std::string> ids;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
    if (ListView1->topLevelItem(i)->isSelected()) ids.push_back(S(ListView1->topLevelItem(i)->text(0)));
  if (rangeOn()) {
    const long long k = static_cast<long long>(ids.size());
    const long long w = DTPicker1->date().daysTo(DTPicker2->date()) / 7;
    const long long count = k * (w + 1) * 2;
    if (count > 1980) {
      MsgBox("１回の処理で登録できるデータ件数は、1980件以内です。\r\n数回に分けて登録してください。今回指定件数=[" +
                 std::to_string(count) + "]",
             vbOKOnly, "Velmo");
      return;
    }
  }
  for (const auto& id : ids) {
    if (getMultiFile(id, first, rangeOn() ? last : first) == -1) break;
  }
  if (G().gFetchResult == 1) accept();
}

int frmInt::getMultiFile(const std::string& dataId, const std::string& first, const std::string& last) {
  auto& g = G();
  const char* const where = "frmInt/getMultiFile";
  std::string current;
  try {
    ListInfo info = getListInfo(dataId);
    if (info.listFile.empty()) {
      getSingleFile(dataId);
      if (g.gFetchResult == -1) {
        WriteLog(ErrObject(0, "ダウンロードエラー[" + current + "]"), where, false, true);
        return -1;
      }
      return 0;
    }
    setStatus(info.listFile + "をダウンロード中です");
    LogMilestone("マルチダウン開始[" + info.listFile + "]", where);
    LogMilestone("IDXダウン開始[" + info.listFile + "]", where);
    fetch(info.listAddress + info.listFile, g.gDwnDir + info.listFile);
    if (g.gFetchResult == -1) {
      WriteLog(ErrObject(0, "ダウンロードエラー[" + current + "]"), where, false, true);
      return -1;
    }
    LogMilestone("IDXダウン完了[" + info.listFile + "]", where);
    const std::string listPath = g.gDwnDir + info.listFile;
    const double size = static_cast<double>(ReadFileBytes(listPath).size());
    int started = 0;
    for (const std::string& line : ReadListFile(listPath)) {
      current = line;
      if (!isInDateRange(line, first, last)) continue;
      // A list line becomes a local file name: it must stay inside the download folder.
      if (!IsPlainFileName(line)) {
        WriteLog(ErrObject(err::InvalidArgument, "ファイル名が不正です。[" + line + "]"), where, false, true);
        continue;
      }
      ++started;
      setStatus(line + "をダウンロード中です(" + signed_(started) + "/" + signed_(size / line.size()) + ")");
      DoEvents();
      LogMilestone("ダウン開始[" + line + "]", where);
      fetch(info.serverAddress + line, g.gDwnDir + line);
      if (g.gFetchResult == 0) {
        MsgBox("キャンセルしました。", vbOKOnly, "");
        WriteLog(ErrObject(0, "ユーザキャンセル"), where, false, true);
        break;
      }
      LogMilestone("ダウン完了[" + line + "]", where);
    }
    LogMilestone("マルチダウン完了[" + info.listFile + "]", where);
    return 0;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject(ErrObject::from(ex).number, "ダウンロードエラー[" + current + "]"), where, false, true);
    return -1;
  }
}

void frmInt::getSingleFile(const std::string& dataId) {
  const std::string name = ArchiveName(dataId, ymd(DTPicker1));
  setStatus(name + "をダウンロード中です");
  fetch(getServerAddress(dataId) + name, G().gDwnDir + name);
}

void frmInt::done(int r) {
  SavePosition(this, "frmInt", true);
  QDialog::done(r);
}

}  // namespace velmo::screens
