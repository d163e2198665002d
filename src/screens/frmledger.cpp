#include "screens/frmledger.h"

#include <QBrush>
#include <QButtonGroup>
#include <QColor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "download/httpfetch.h"
#include "download/probe.h"
#include "download/update.h"
#include "screens/chourglass.h"
#include "screens/frmgetint.h"
#include "screens/screenutil.h"
#include "startup/platform/applog.h"

namespace velmo::screens {

namespace {

QColor colourOf(LedgerState s) {
  switch (s) {
    case LedgerState::Complete: return QColor(0xc6, 0xe8, 0xc6);
    case LedgerState::Partial: return QColor(0xf6, 0xe2, 0x8c);
    case LedgerState::Failed: return QColor(0xf2, 0xa0, 0xa0);
    case LedgerState::Missing: return QColor(0xf8, 0xc8, 0x90);
    case LedgerState::Unknown: return QColor(0xd8, 0xd8, 0xd8);
    case LedgerState::Unpublished: return QColor(Qt::white);
  }
  return QColor(Qt::white);
}

// Worst first, as the calendar colours a day: what needs doing comes first, a
// kind nobody can tell about (a kind without a list file, offline) does not
// hide the kinds that are complete.
int worstRank(LedgerState s) {
  switch (s) {
    case LedgerState::Failed: return 5;
    case LedgerState::Partial: return 4;
    case LedgerState::Missing: return 3;
    case LedgerState::Complete: return 2;
    case LedgerState::Unknown: return 1;
    case LedgerState::Unpublished: return 0;
  }
  return 0;
}

std::string ymdOf(const QDate& d) { return S(d.toString("yyyyMMdd")); }

const char* const kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

}  // namespace

std::string LedgerStateText(LedgerState s) {
  switch (s) {
    case LedgerState::Complete: return "登録済";
    case LedgerState::Partial: return "不完全";
    case LedgerState::Failed: return "失敗";
    case LedgerState::Missing: return "未登録";
    case LedgerState::Unpublished: return "提供なし";
    case LedgerState::Unknown: return "不明";
  }
  return "不明";
}

frmLedger::frmLedger(QWidget* parent) : QDialog(parent) {
  setObjectName("frmLedger");
  setWindowTitle("Velmo-データ台帳");
  auto* top = new QHBoxLayout;
  optThis = new QRadioButton("今週分ＤＢ", this);
  optThis->setObjectName("optThis");
  optPast = new QRadioButton("過去分ＤＢ", this);
  optPast->setObjectName("optPast");
  auto* group = new QButtonGroup(this);
  group->addButton(optThis);
  group->addButton(optPast);
  optThis->setChecked(true);
  cmdPrev = new QPushButton("◀ 前月", this);
  cmdPrev->setObjectName("cmdPrev");
  lblMonth = new QLabel(this);
  lblMonth->setObjectName("lblMonth");
  lblMonth->setAlignment(Qt::AlignCenter);
  lblMonth->setMinimumWidth(120);
  cmdNext = new QPushButton("翌月 ▶", this);
  cmdNext->setObjectName("cmdNext");
  top->addWidget(optThis);
  top->addWidget(optPast);
  top->addStretch(1);
  top->addWidget(cmdPrev);
  top->addWidget(lblMonth);
  top->addWidget(cmdNext);

  grdCalendar = new QTableWidget(6, 7, this);
  grdCalendar->setObjectName("grdCalendar");
  grdCalendar->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdCalendar->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grdCalendar->verticalHeader()->hide();
  for (int c = 0; c < 7; ++c) grdCalendar->setHorizontalHeaderItem(c, new QTableWidgetItem(Q(kWeekdays[c])));
  grdCalendar->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  grdCalendar->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  grdCalendar->setMinimumSize(420, 260);

  lstKinds = new QTreeWidget(this);
  lstKinds->setObjectName("lstKinds");
  lstKinds->setHeaderLabels({"データID", "書庫", "状態", "件数", "行数", "登録日時", "エラー"});
  lstKinds->setRootIsDecorated(false);
  lstKinds->setMinimumWidth(460);

  auto* legend = new QHBoxLayout;
  for (LedgerState s : {LedgerState::Complete, LedgerState::Missing, LedgerState::Failed, LedgerState::Partial,
                        LedgerState::Unknown}) {
    auto* l = new QLabel(Q(LedgerStateText(s)), this);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(56);
    l->setStyleSheet("QLabel { background: " + colourOf(s).name() + "; border: 1px solid #999; padding: 1px 4px; }");
    legend->addWidget(l);
  }
  legend->addStretch(1);
  lblSummary = new QLabel(this);
  lblSummary->setObjectName("lblSummary");
  cmdCheck = new QPushButton("提供状況を確認", this);
  cmdCheck->setObjectName("cmdCheck");
  cmdCheck->setToolTip("プロバイダのリストファイルを取得して、提供されているデータと照合します");
  cmdFetch = new QPushButton("未取得分をダウンロード", this);
  cmdFetch->setObjectName("cmdFetch");
  cmdFetch->setIcon(CommandIcon("download"));
  cmdFetch->setToolTip("選択した日の未登録・失敗・不完全のデータをダウンロードして登録します");
  cmdClose = new QPushButton("閉じる", this);
  cmdClose->setObjectName("cmdClose");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lblSummary, 1);
  buttons->addWidget(cmdCheck);
  buttons->addWidget(cmdFetch);
  buttons->addWidget(cmdClose);

  auto* grid = new QGridLayout(this);
  grid->addLayout(top, 0, 0, 1, 2);
  grid->addWidget(grdCalendar, 1, 0);
  grid->addWidget(lstKinds, 1, 1);
  grid->addLayout(legend, 2, 0, 1, 2);
  grid->addLayout(buttons, 3, 0, 1, 2);
  grid->setColumnStretch(0, 3);
  grid->setColumnStretch(1, 4);

  connect(cmdPrev, &QPushButton::clicked, this, [this]() {
    showMonth(month_.addMonths(-1));
    loadLedger(false);
  });
  connect(cmdNext, &QPushButton::clicked, this, [this]() {
    showMonth(month_.addMonths(1));
    loadLedger(false);
  });
  connect(optThis, &QRadioButton::toggled, this, [this](bool) { loadLedger(false); });
  connect(cmdCheck, &QPushButton::clicked, this, [this]() { loadLedger(true); });
  connect(cmdFetch, &QPushButton::clicked, this, [this]() { cmdFetch_Click(); });
  connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(grdCalendar, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
    if (auto* it = grdCalendar->item(row, col)) showDay(S(it->data(Qt::UserRole).toString()));
  });
  showMonth(QDate::currentDate());
}

std::string frmLedger::mode() const { return optPast->isChecked() ? "D" : "T"; }

void frmLedger::setMode(const std::string& mode) { (mode == "D" ? optPast : optThis)->setChecked(true); }

void frmLedger::showMonth(const QDate& any) {
  month_ = QDate(any.year(), any.month(), 1);
  lblMonth->setText(month_.toString("yyyy年M月"));
}

void frmLedger::loadLedger(bool online) {
  LedgerRequest q;
  q.mode = mode();
  q.from = ymdOf(month_);
  q.to = ymdOf(month_.addMonths(1).addDays(-1));
  q.offline = !online;
  CHourglass wait;
  try {
    q.kinds = UpdateKinds(q.mode);
    G().gLzhDir = AddPathSep(G().gLzhDir);
    report_ = BuildLedger(q, [] { return RunFetch(); }, [](const std::string& a) { return ProbeAddress(a); });
  } catch (const std::exception& e) {
    report_ = LedgerReport();
    WriteLog(ErrObject::from(e), "frmLedger", false, false);
    MsgBox("データ台帳を作成できませんでした。\r\n" + ErrObject::from(e).description, vbOKOnly, "データ台帳");
  }
  for (const auto& p : report_.problems) WriteLog(ErrObject(0, p), "frmLedger", false, false);
  paintCalendar();
}

void frmLedger::paintCalendar() {
  std::map<std::string, LedgerState> worst;
  for (const auto& c : report_.cells) {
    auto it = worst.find(c.date);
    if (it == worst.end() || worstRank(c.state) > worstRank(it->second)) worst[c.date] = c.state;
  }
  grdCalendar->clearContents();
  const int lead = month_.dayOfWeek() % 7;  // Sunday first
  for (QDate d = month_; d.month() == month_.month(); d = d.addDays(1)) {
    const int cell = lead + d.day() - 1;
    const std::string ymd = ymdOf(d);
    auto* it = new QTableWidgetItem;
    it->setData(Qt::UserRole, Q(ymd));
    auto w = worst.find(ymd);
    QString text = QString::number(d.day());
    if (w != worst.end()) {
      text += "\n" + Q(LedgerStateText(w->second));
      it->setBackground(QBrush(colourOf(w->second)));
    }
    it->setText(text);
    it->setTextAlignment(Qt::AlignCenter);
    grdCalendar->setItem(cell / 7, cell % 7, it);
  }
  std::string s;
  for (LedgerState st : {LedgerState::Complete, LedgerState::Missing, LedgerState::Failed, LedgerState::Partial,
                         LedgerState::Unknown})
    s += LedgerStateText(st) + " " + std::to_string(report_.count(st)) + "　";
  lblSummary->setText(Q(s));
  lstKinds->clear();
}

void frmLedger::showDay(const std::string& ymd) {
  lstKinds->clear();
  for (const auto& c : report_.cells) {
    if (c.date != ymd) continue;
    const LedgerArchive& a = c.shown();
    auto* item = new QTreeWidgetItem(lstKinds);
    item->setText(0, Q(c.id));
    item->setText(1, Q(a.name));
    item->setText(2, Q(LedgerStateText(c.state)));
    item->setBackground(2, QBrush(colourOf(c.state)));
    if (c.recorded()) {
      item->setText(3, QString::number(c.records()));
      item->setText(4, QString::number(c.rows()));
      item->setText(5, Q(a.record.at));
    }
    std::string error = a.recorded ? a.record.error : std::string();
    if (error.empty() && a.recorded && c.state == LedgerState::Failed) error = "登録が途中で終わりました";
    item->setText(6, Q(error));
    item->setToolTip(6, Q(error));
  }
  for (int c = 0; c < lstKinds->columnCount() - 1; ++c) lstKinds->resizeColumnToContents(c);
}

void frmLedger::pickDays(const std::vector<std::string>& days) {
  grdCalendar->clearSelection();
  for (int r = 0; r < grdCalendar->rowCount(); ++r)
    for (int c = 0; c < grdCalendar->columnCount(); ++c)
      if (auto* it = grdCalendar->item(r, c))
        if (std::find(days.begin(), days.end(), S(it->data(Qt::UserRole).toString())) != days.end()) {
          it->setSelected(true);
          grdCalendar->setCurrentCell(r, c, QItemSelectionModel::Select);
        }
}

std::vector<std::string> frmLedger::pickedDays() const {
  std::vector<std::string> days;
  for (auto* it : grdCalendar->selectedItems()) days.push_back(S(it->data(Qt::UserRole).toString()));
  std::sort(days.begin(), days.end());
  return days;
}

int frmLedger::cmdFetch_Click() {
  const std::vector<std::string> days = pickedDays();
  if (days.empty()) {
    MsgBox("カレンダーでダウンロードする日を選択してください。", vbOKOnly, "データ台帳");
    return 0;
  }
  std::vector<std::pair<std::string, std::string>> wanted;  // name, address
  for (const auto& c : report_.cells) {
    if (!std::binary_search(days.begin(), days.end(), c.date)) continue;
    for (const auto& a : c.archives)
      if (LedgerWantsFetch(a.state) && !a.address.empty()) wanted.emplace_back(a.name, a.address);
  }
  if (wanted.empty()) {
    MsgBox("選択した日に未取得のデータはありません。", vbOKOnly, "データ台帳");
    return 0;
  }
  auto& g = G();
  int got = 0;
  for (const auto& [name, address] : wanted) {
    g.gDataURL = address;
    g.gDataPath = g.gDwnDir + name;
    g.gFetchResult = 0;
    frmGetInt f(this);
    f.exec();
    if (g.gFetchResult == 1) ++got;
    if (g.gFetchResult == 0) break;  // cancelled
  }
  fetched_ += got;
  g.gFetchResult = fetched_ > 0 ? 1 : g.gFetchResult;
  if (fetched_ > 0) accept();  // the main screen registers the downloads
  return got;
}

}  // namespace velmo::screens
