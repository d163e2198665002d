// The screens on the offscreen platform, driven as a member drives them: buttons
// clicked, grid rows picked, message boxes answered through the message-box
// service, modal screens filled in while they are open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QAbstractScrollArea>
#include <QGroupBox>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusTipEvent>
#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QPointer>
#include <QCursor>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "schema/dbversion.h"
#include "screens/commandface.h"
#include "screens/datagrid.h"
#include "screens/frmabout.h"
#include "screens/frmbusy.h"
#include "screens/frminiset.h"
#include "screens/frmgetauto.h"
#include "screens/frmgetint.h"
#include "screens/frmint.h"
#include "screens/frmmnt.h"
#include "screens/frmsettei.h"
#include "screens/frmsql.h"
#include "screens/qtmsgbox.h"
#include "screens/screenutil.h"
#include "screens/wiring.h"
#include "startup/mmain.h"
#include "startup/settings.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using namespace velmo::screens;
using velmo::test::TestHome;
using velmo::test::TestHttpServer;
namespace fs = std::filesystem;

namespace {

// Runs fn on the first visible top-level T as soon as it is shown (a modal
// screen is filled in and closed while its caller waits).
template <class T>
void WhenShown(std::function<void(T*)> fn) {
  auto* t = new QTimer;
  t->setInterval(5);
  QObject::connect(t, &QTimer::timeout, [t, fn]() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* d = qobject_cast<T*>(w); d && d->isVisible()) {
        t->stop();
        t->deleteLater();
        fn(d);
        return;
      }
    }
  });
  t->start();
}

std::string textOf(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return S(l->text());
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return S(e->text());
  return "";
}

// The built program folder's pictures, icons and help for a test home.
void CopyShippedFiles(const TestHome& h) {
  for (const char* d : {"pic", "icons"})
    fs::copy(test::BuildHome() + d, h.program + d, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void WriteIni(const TestHome& h, const std::string& extra = "") {
  std::ofstream ini(h.config + "kova.ini");
  ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n" << extra;
}

fixture::RaceDay Day(const std::string& date) {
  fixture::RaceDay d;
  d.date = date;
  d.races = 2;
  d.runners = 4;
  return d;
}

std::string Cell(const QAbstractItemModel* m, int r, int c) { return S(m->index(r, c).data().toString()); }

// The texts of a window that do not fully show: a label, button or frame title
// smaller than its text needs (a wrapped label lower than its lines), or lying
// outside the window or its frame. Lists, grids and edit boxes scroll and are not
// looked into.
std::vector<std::string> CutTexts(QWidget* w) {
  std::vector<std::string> cut;
  for (QWidget* c : w->findChildren<QWidget*>()) {
    if (!c->isVisibleTo(w) || c->objectName() == "StatusBar1Text") continue;
    bool scrolled = false;
    for (QWidget* p = c->parentWidget(); p && p != w; p = p->parentWidget())
      scrolled |= qobject_cast<QAbstractScrollArea*>(p) != nullptr || qobject_cast<QMenuBar*>(p) != nullptr;
    if (scrolled) continue;
    QString text;
    QSize need;
    if (auto* l = qobject_cast<QLabel*>(c)) {
      if (l->text().isEmpty()) continue;
      text = l->text();
      need = l->wordWrap() ? QSize(0, l->heightForWidth(l->width())) : l->sizeHint();
    } else if (auto* b = qobject_cast<QAbstractButton*>(c)) {
      if (b->text().isEmpty()) continue;
      text = b->text();
      need = b->sizeHint();
    } else if (auto* g = qobject_cast<QGroupBox*>(c)) {
      text = g->title();
      need = QSize(g->fontMetrics().horizontalAdvance(text), 0);
    } else {
      continue;
    }
    bool fits = c->width() >= need.width() && c->height() >= need.height();
    // Inside every frame up to the window.
    QRect r(QPoint(0, 0), c->size());
    for (QWidget* x = c; x != w; x = x->parentWidget()) {
      r.translate(x->pos());
      fits = fits && x->parentWidget()->rect().contains(r);
      r = QRect(QPoint(0, 0), x->parentWidget()->size()).intersected(r);
    }
    if (!fits)
      cut.push_back(S(text) + " (" + std::to_string(c->width()) + "x" + std::to_string(c->height()) + ", needs " +
                    std::to_string(need.width()) + "x" + std::to_string(need.height()) + ")");
  }
  return cut;
}

struct ScreenHooks : StartupHooks {
  std::unique_ptr<frmMnt> main;
  std::function<void()> initialSetup;
  void showSettings(bool, bool) override {}
  void showInitialSetup() override {
    if (initialSetup) initialSetup();
  }
  void showMainScreen() override {
    main = std::make_unique<frmMnt>();
    G().gStatusForm = main.get();
    main->show();
  }
  void runSilent(const std::vector<std::string>&) override {}
};

class ScreensTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    home = std::make_unique<TestHome>();
    CopyShippedFiles(*home);
  }
  void TearDown() override {
    G().gStatusForm = nullptr;
    QApplication::processEvents();
  }
  std::unique_ptr<TestHome> home;
};

}  // namespace

TEST_F(ScreensTest, ScreenModeOpensTheMainScreenWithItsGrids) {
  WriteIni(*home);
  ASSERT_EQ(regMain(fixture::WriteDayArchives(home->work, {"SEC"}, Day("20050312"))[0], "T", "J"), 0);
  ScreenHooks hooks;
  MainResult r = Main("", hooks);
  ASSERT_TRUE(r.runEventLoop);
  frmMnt& m = *hooks.main;
  EXPECT_EQ(S(m.windowTitle()), "Velmo-メイン画面");
  auto* gr1 = m.findChild<DataGrid*>("Gr1");
  ASSERT_NE(gr1, nullptr);
  ASSERT_EQ(gr1->model()->rowCount(), 1);
  EXPECT_EQ(Cell(gr1->model(), 0, 0), "2005/03/12");
  EXPECT_EQ(S(gr1->model()->headerData(5, Qt::Horizontal).toString()), "成績/SE");
  EXPECT_FALSE(Cell(gr1->model(), 0, 5).empty());  // the results column
  EXPECT_EQ(Cell(gr1->model(), 0, 1), "");         // nothing else that day
  EXPECT_EQ(m.findChild<DataGrid*>("Gr2")->model()->rowCount(), 0);
  // An empty jockey master: only the two "/" and a count of 0.
  auto* gr3 = m.findChild<DataGrid*>("Gr3")->model();
  EXPECT_EQ(Cell(gr3, 0, 0), "騎手マスタ");
  EXPECT_EQ(Cell(gr3, 0, 1), "//");
  EXPECT_EQ(Cell(gr3, 0, 2), "0");
  EXPECT_EQ(Cell(gr3, 1, 0), "調教師マスタ");
  // Controls as the member finds them.
  EXPECT_EQ(S(m.findChild<QPushButton*>("cmdWeekChange")->toolTip()), "「今週データ」から「過去データ」にデータを移動します。");
  EXPECT_FALSE(m.findChild<QPushButton*>("cmdFileInpTV")->isVisible());
  EXPECT_FALSE(m.cmdVanDodeSaihenkan->isVisible());
  EXPECT_EQ(S(m.cmdSQLGamen->text()), "SQL画面－緊急修正用(&Q)");
  EXPECT_TRUE(m.Label4->isVisible());
  EXPECT_TRUE(m.cmdInternetT->isEnabled());
  EXPECT_TRUE(m.cmdInternet->isEnabled());
  EXPECT_FALSE(m.cmdInternetT->icon().isNull());
  EXPECT_TRUE(home->messages.empty());
  // The position is kept for the next start.
  m.move(40, 30);
  m.close();
  EXPECT_EQ(StoredPosition("frmMnt", "MainLeft"), std::to_string(m.x()));
  EXPECT_FALSE(StoredPosition("frmMnt", "MainHeight").empty());
}

TEST_F(ScreensTest, OlderDatabaseOrAStartupErrorKeepsTheInternetRegistrationClosed) {
  ASSERT_EQ(regMain(fixture::WriteDayArchives(home->work, {"SEC"}, Day("20050312"))[0], "T", "J"), 0);
  struct Case {
    const char* name;
    std::function<void()> spoil;
    const char* message;  // the last message of the start, from its beginning
  } cases[] = {
      {"older database", [] { ASSERT_TRUE(setDBVersion("Ver6.0", "kova_this.mdb")); },
       "データベースのバージョンが合っていません。\r\n"},
      {"start-up error",
       [&] {
         ASSERT_TRUE(setDBVersion("Ver7.2", "kova_this.mdb"));
         home->sqlite("kova_data.mdb", "drop table Dデータ一覧テーブル;");
       },
       "起動エラー"},
  };
  for (const auto& c : cases) {
    c.spoil();
    home->messages.clear();
    frmMnt m;
    ASSERT_FALSE(home->messages.empty()) << c.name;
    EXPECT_EQ(home->messages.back().text.rfind(c.message, 0), 0u) << c.name << ": " << home->messages.back().text;
    EXPECT_FALSE(m.cmdInternetT->isEnabled()) << c.name;
    EXPECT_FALSE(m.cmdInternet->isEnabled()) << c.name;
    EXPECT_EQ(m.Gr1->model()->rowCount(), 0) << c.name;  // the load stopped before the grids
  }
}

TEST_F(ScreensTest, StatusTextStaysUntilTheNextCommandWritesOne) {
  frmMnt m;
  m.show();
  QApplication::processEvents();
  const int width = m.width();
  m.setStatusText("KOVA050312.lzhの登録処理を完了しました( 1件)");
  // Opening a menu and moving over its items sends the window empty status tips.
  m.mnuTool->popup(m.mapToGlobal(QPoint(10, 10)));
  QApplication::processEvents();
  QStatusTipEvent tip("");
  QApplication::sendEvent(&m, &tip);
  m.mnuTool->hide();
  QApplication::processEvents();
  EXPECT_EQ(m.statusText(), "KOVA050312.lzhの登録処理を完了しました( 1件)");
  auto* panel = m.StatusBar1->findChild<QLabel*>("StatusBar1Text");
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(S(panel->text()), "KOVA050312.lzhの登録処理を完了しました( 1件)");
  // A long path on the status bar never widens the window.
  m.setStatusText(home->work + std::string(300, 'x') + ".lzhを取り込み中です( 1/ 1)");
  QApplication::processEvents();
  EXPECT_EQ(m.width(), width);
  m.setStatusText("週替わり処理終了");
  EXPECT_EQ(m.statusText(), "週替わり処理終了");
}

TEST_F(ScreensTest, GridSelectionGivesTheDownloadRange) {
  for (const char* d : {"20050312", "20050313", "20050319"})
    ASSERT_EQ(regMain(fixture::WriteDayArchives(home->work, {"SEC"}, Day(d))[0], "T", "J"), 0);
  frmMnt m;
  ASSERT_EQ(m.Gr1->model()->rowCount(), 3);
  EXPECT_EQ(Cell(m.Gr1->model(), 0, 0), "2005/03/19");  // newest first
  // Nothing picked: today, one date.
  std::string first, last;
  bool range = true;
  auto capture = [&](frmInt* f) {
    first = S(f->DTPicker1->date().toString("yyyyMMdd"));
    last = S(f->DTPicker2->date().toString("yyyyMMdd"));
    range = f->rangeOn();
    EXPECT_EQ(S(f->windowTitle()), "Velmo-ダウンロード指定画面");
    f->reject();
  };
  WhenShown<frmInt>(capture);
  m.internetRegister("T");
  EXPECT_EQ(first, S(QDate::currentDate().toString("yyyyMMdd")));
  EXPECT_FALSE(range);
  // A drag from 2005/03/19 down to 2005/03/12.
  m.Gr1->selectRows(0, 2);
  EXPECT_EQ(m.Gr1->currentDate(), "2005/03/19");
  WhenShown<frmInt>(capture);
  m.internetRegister("T");
  EXPECT_EQ(first, "20050312");
  EXPECT_EQ(last, "20050319");
  EXPECT_TRUE(range);
  EXPECT_EQ(m.Gr1->selectionEndDate(), "2005/03/12");
}

TEST_F(ScreensTest, FileRegistrationOrdersPacksFirstAndAsksAfterAFailure) {
  WriteIni(*home);
  frmMnt m;
  const std::string sec = fixture::WriteDayArchives(home->work, {"SEC"}, Day("20050312"))[0];
  const std::string pack = fixture::WritePackArchive(home->work, {"BAB"}, Day("20050313"));
  // An archive whose results file breaks off in its second record.
  const std::string broken = home->work + "SEC050319.lzh";
  auto records = fixture::DayRecords("SEC", Day("20050319"));
  fixture::WriteLzh(broken, {{"SEC050319.txt", records[0] + records[1].substr(0, records[1].size() / 2)}});
  FileChoice asked;
  SetFileChooser([&](QWidget*, const FileChoice& c) {
    asked = c;
    return std::vector<std::string>{sec, pack};
  });
  m.CmdFileInp->click();
  EXPECT_EQ(asked.title, "LZHデータを選択する");
  EXPECT_EQ(asked.folder, home->lzhDir);
  ASSERT_EQ(asked.filters.size(), 2u);
  EXPECT_EQ(asked.filters[0], "すべてのファイル (*.*)");
  EXPECT_EQ(asked.filters[1], "LHA圧縮ファイル(*.LZH *.lzh)");
  EXPECT_EQ(asked.selectedFilter, 1);
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_EQ(home->messages[0].text, "登録処理が終了しました\r\n" + sec);  // the pack went first
  EXPECT_EQ(m.Gr2->model()->rowCount(), 2);
  EXPECT_TRUE(FileExists(sec));  // registered where it lies
  // A broken archive, and the member stops there.
  home->messages.clear();
  SetFileChooser([&](QWidget*, const FileChoice&) { return std::vector<std::string>{broken, sec}; });
  std::vector<std::string> shown;
  auto previous = SetMsgBoxHandler([&](const MsgRequest& r) {
    shown.push_back(r.text);
    return r.text == "処理を続行しますか？" ? static_cast<int>(vbCancel) : static_cast<int>(vbOK);
  });
  m.cmdFileInpT->click();
  SetMsgBoxHandler(previous);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[shown.size() - 2], "処理を続行しますか？");
  EXPECT_EQ(shown.back(), "登録処理が終了しました（一部データ登録異常がありました）\r\n" + broken);
  EXPECT_EQ(m.statusText(), broken + "登録キャンセルしました。");
  // Cancelling the chooser does nothing.
  home->messages.clear();
  SetFileChooser([](QWidget*, const FileChoice&) { return std::vector<std::string>{}; });
  m.cmdFileInpT->click();
  EXPECT_TRUE(home->messages.empty());
  SetFileChooser(nullptr);
}

TEST_F(ScreensTest, OpenWithVelmoAsksThenRegistersIntoTheChosenDatabase) {
  WriteIni(*home);
  const std::string sec = fixture::WriteDayArchives(home->work, {"SEC"}, Day("20050312"))[0];
  // Only existing files named *.lzh make an "Open with" call; anything else is left to the run modes.
  const std::string upper = home->work + "SEC050312.LZH";
  fs::copy_file(sec, upper);
  EXPECT_EQ(ArchivesToOpen({sec, upper}), (std::vector<std::string>{sec, upper}));
  EXPECT_TRUE(ArchivesToOpen({sec, home->work + "missing.lzh"}).empty());
  EXPECT_TRUE(ArchivesToOpen({"KYC", "0", "20050312"}).empty());
  struct Case {
    int answer;
    const char* thisRows;
    const char* pastRows;
  } cases[] = {{vbCancel, "0", "0"}, {vbYes, "1", "0"}, {vbNo, "1", "1"}};
  frmMnt m;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    home->messages.clear();
    home->answers = {c.answer};
    m.openArchives({sec});
    ASSERT_FALSE(home->messages.empty());
    EXPECT_EQ(home->messages[0].buttons, vbYesNoCancel);
    EXPECT_NE(home->messages[0].text.find(sec), std::string::npos);
    EXPECT_EQ(home->messages.size(), c.answer == vbCancel ? 1u : 2u);
    EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from [Tデータ一覧テーブル];"), std::string(c.thisRows) + "\n");
    EXPECT_EQ(home->sqlite("kova_data.mdb", "select count(*) from [Dデータ一覧テーブル];"), std::string(c.pastRows) + "\n");
  }
}

class InternetTest : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    server = std::make_unique<TestHttpServer>("member", "pass1234");
    WriteIni(*home, "KovaHost=" + server->base() + "\r\n");
    G().gUserID = "member";
    G().gPasswd = "pass1234";
    const std::string pack = fixture::WritePackArchive(home->work, {"BAB", "SEC"}, Day("20050312"));
    server->routes["/member/lst/kovalist.txt"] = {"KOVA050305.lzh\r\nKOVA050312.lzh\r\nKOVA050319.lzh\r\n"};
    server->routes["/member/kova/KOVA050312.lzh"] = {ReadFileBytes(pack)};
  }
  // Picks the kinds in the selection screen and starts the downloads.
  static void Download(frmInt* f, const std::vector<std::string>& ids, bool downloadOnly) {
    f->setRange("20050312", "20050313");
    for (int i = 0; i < f->ListView1->topLevelItemCount(); ++i) {
      auto* item = f->ListView1->topLevelItem(i);
      item->setSelected(std::find(ids.begin(), ids.end(), S(item->text(0))) != ids.end());
    }
    if (downloadOnly != f->chkDownOnly->isChecked()) f->chkDownOnly->click();
    f->cmdDown->click();
    if (f->isVisible()) f->reject();
  }
  std::unique_ptr<TestHttpServer> server;
};

TEST_F(InternetTest, DownloadedArchivesAreRegisteredAndFiled) {
  frmMnt m;
  WhenShown<frmInt>([](frmInt* f) { Download(f, {"KOVA"}, false); });
  m.cmdInternetT->click();
  ASSERT_EQ(home->messages.size(), 1u) << home->logText();
  EXPECT_EQ(home->messages[0].text, "データ登録完了しました。");
  EXPECT_EQ(m.statusText(), "KOVA050312.lzhの登録処理を完了しました(1件)");
  EXPECT_TRUE(FileExists(home->lzhDir + "KOVA050312.lzh"));
  EXPECT_EQ(CountFiles(G().gDwnDir + "*.lzh"), 0);
  ASSERT_EQ(m.Gr1->model()->rowCount(), 1);
  EXPECT_EQ(Cell(m.Gr1->model(), 0, 0), "2005/03/12");
  EXPECT_NE(home->sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "0\n");
  // The screen fetched the list, then only the archive of the range.
  EXPECT_EQ(server->requests.size(), 2u);
  EXPECT_EQ(G().gFetchResult, 0);
}

TEST_F(InternetTest, DownloadOnlyFilesTheArchivesUnregistered) {
  frmMnt m;
  WhenShown<frmInt>([](frmInt* f) { Download(f, {"KOVA"}, true); });
  m.cmdInternetT->click();
  EXPECT_TRUE(home->messages.empty());
  EXPECT_TRUE(FileExists(home->lzhDir + "KOVA050312.lzh"));
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "0\n");
  G().gDownOnly = 0;
}

TEST_F(InternetTest, SelectionScreenChecksItsDatesAndTheLimit) {
  frmInt f;
  f.show();
  EXPECT_EQ(f.ListView1->topLevelItemCount() > 0, true);
  EXPECT_EQ(S(f.ListView1->topLevelItem(0)->text(0)), "KOVA");
  f.optDataSet[2]->click();  // 旧形式
  EXPECT_EQ(f.gstrSet, "旧");
  bool hasKyc = false;
  for (int i = 0; i < f.ListView1->topLevelItemCount(); ++i) hasKyc |= f.ListView1->topLevelItem(i)->text(0) == "KYC";
  EXPECT_TRUE(hasKyc);
  f.setRange("20050313", "20050312");
  f.cmdDown->click();
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_EQ(home->messages[0].text, "日付指定が間違えています。");
  // 20 weeks and every listed kind: k × 21 × 2 above 1980 is refused, nothing fetched.
  f.setRange("20050101", "20050521");
  f.ListView1->selectAll();
  const int k = f.ListView1->topLevelItemCount();
  f.cmdDown->click();
  if (k * 21 * 2 > 1980) {
    EXPECT_EQ(home->messages.back().text, "１回の処理で登録できるデータ件数は、1980件以内です。\r\n数回に分けて登録してください。今回指定件数=[" +
                                              std::to_string(k * 42) + "]");
  }
  f.reject();
  struct Case {
    const char* line;
    const char* first;
    const char* last;
    bool in;
  } cases[] = {{"KYC050312.lzh", "20050312", "20050313", true},
               {"KYC050312.lzh", "20050313", "20050320", false},
               {"KYC991231.lzh", "19991231", "19991231", true},
               {"x", "20050101", "20051231", false}};
  for (const auto& c : cases) EXPECT_EQ(isInDateRange(c.line, c.first, c.last), c.in) << c.line;
}

TEST_F(ScreensTest, BusyWindowPagesThroughTopicsBySeason) {
  // Five topics; the second is passed over from April to June, the fourth from
  // November to February.
  std::string t = "TPC0005NEXT0001 \r\n";
  for (int i = 1; i <= 5; ++i) {
    t += "■" + std::to_string(i);
    if (i == 2) t += " 時期=[04-06]";
    if (i == 4) t += " 時期=[11-02]";
    if (i == 3) t += " pic=[missing.jpg]";
    t += "\r\nタイトル" + std::to_string(i) + "\r\n本文" + std::to_string(i) + "\r\n";
  }
  WriteFileBytes(home->program + "topics.txt", text::encodeCp932(t));
  auto header = [&]() { return ReadFileBytes(home->program + "topics.txt").substr(0, 16); };
  auto setN = [&](int n) {
    std::string b = ReadFileBytes(home->program + "topics.txt");
    char num[5];
    std::snprintf(num, sizeof num, "%04d", n);
    b.replace(11, 4, num);
    WriteFileBytes(home->program + "topics.txt", b);
  };
  struct Case {
    const char* month;
    int start;
    int shown;
  } cases[] = {{"05", 2, 3}, {"07", 2, 2}, {"12", 4, 5}, {"01", 4, 5}, {"03", 4, 4}};
  for (const auto& c : cases) {
    frmBusy::SetMonthForTests(c.month);
    setN(c.start);
    frmBusy b;
    EXPECT_EQ(b.currentTopic(), c.shown) << c.month;
    EXPECT_EQ(S(b.lblDaimei->text()), "タイトル" + std::to_string(c.shown));
  }
  EXPECT_TRUE(isInSeason("01", "11", "02"));
  EXPECT_FALSE(isInSeason("03", "11", "02"));
  frmBusy::SetMonthForTests("08");
  // H = 5: from 4 the next topic is 1; from 1 the previous is 5.
  setN(4);
  {
    frmBusy b;
    b.cmdNext->click();
    EXPECT_EQ(b.currentTopic(), 1);
    EXPECT_EQ(header(), "TPC0005NEXT0001 ");
    b.cmdPre->click();
    EXPECT_EQ(b.currentTopic(), 5);
    EXPECT_EQ(S(b.txtHonbun->toPlainText()), "本文5\n");
    EXPECT_EQ(header(), "TPC0005NEXT0005 ");
  }
  // Cancel twice before the end advances the stored number twice; after the end
  // the same button closes the window.
  setN(1);
  frmBusy b;
  b.show();
  EXPECT_TRUE(b.timBlink->isActive());
  b.cmdCancel->click();
  b.cmdCancel->click();
  EXPECT_EQ(b.mstrCancel, "1");
  EXPECT_EQ(S(b.lblSyori->text()), "キャンセル処理を受け付けました。切りのいいところで処理を中断します。");
  EXPECT_EQ(header(), "TPC0005NEXT0003 ");
  b.syoriEnd();
  EXPECT_EQ(S(b.cmdCancel->text()), "閉じる");
  EXPECT_TRUE(b.lblYajirusi->isVisible());
  b.cmdCancel->click();
  EXPECT_FALSE(b.isVisible());
  frmBusy::SetMonthForTests("");
}

TEST_F(ScreensTest, SettingsAreCheckedAndSaved) {
  WriteIni(*home, "UserID=member\r\nVAN=1\r\nVANDir=/van/\r\n");
  SetIni("main", "Passwd", EncodeSetting("secret99"));
  frmSettei s;
  EXPECT_EQ(S(s.windowTitle()), "Velmo-設定画面");
  EXPECT_EQ(textOf(s.Text5), "secret99");
  EXPECT_TRUE(s.chkVAN->isChecked());
  EXPECT_TRUE(s.Text6->isEnabled());
  // A folder of the program's own is refused, naming it with its trailing "/".
  s.Text3->setText(Q(home->program + "tmp"));
  s.OKButton->click();
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_EQ(home->messages[0].text, "フォルダ[" + home->program + "tmp/]は、Velmo で使用します。他の名前にしてください。");
  // An empty password blocks saving.
  s.Text3->setText(Q(home->lzhDir));
  s.Text5->clear();
  s.OKButton->click();
  EXPECT_EQ(home->messages.back().text, "ユーザＩＤ、パスワードを入力してください。");
  // A cancelled folder picker leaves the box; a chosen one ends in "/".
  SetFolderPicker([](QWidget*, const std::string&, const std::string&) { return std::string(); });
  s.Command3->click();
  EXPECT_EQ(textOf(s.Text3), home->lzhDir);
  SetFolderPicker([&](QWidget*, const std::string& title, const std::string&) {
    EXPECT_EQ(title, "データベースフォルダを選択");
    return home->dbDir + "sub";
  });
  s.Command2->click();
  EXPECT_EQ(textOf(s.Text2), home->dbDir + "sub/");
  SetFolderPicker(nullptr);
  s.Text2->setText(Q(home->dbDir + "//"));
  s.Text5->setText("newpass1");
  s.chkVAN->click();
  EXPECT_FALSE(s.Text6->isEnabled());
  // The copies before a command: three by default, in the database folder's backup/ when left empty.
  EXPECT_EQ(s.spnBackupGenerations->value(), 3);
  EXPECT_EQ(textOf(s.txtBackupDir), "");
  s.txtBackupDir->setText(Q(home->work + "copies"));
  s.spnBackupGenerations->setValue(5);
  s.OKButton->click();
  EXPECT_EQ(GetIni("main", "BackupDir", ""), home->work + "copies/");
  EXPECT_EQ(BackupGenerations(), 5);
  EXPECT_EQ(home->messages.back().text, "設定を有効にする為 Velmo を再起動してください。");
  EXPECT_EQ(GetIni("main", "DBDir", ""), home->dbDir);
  EXPECT_EQ(GetIni("main", "VAN", ""), "0");
  EXPECT_EQ(GetIni("main", "VANDir", ""), "/van/");
  EXPECT_EQ(GetIni("main", "Passwd", "").substr(0, 1), "#");
  EXPECT_EQ(G().gPasswd, "newpass1");
}

TEST_F(ScreensTest, InitialSetupCopiesTheDatabasesStepByStep) {
  TestHome fresh(false);
  frmIniSet s;
  EXPECT_EQ(textOf(s.txtDBdir), fresh.program + "DB");
  EXPECT_EQ(textOf(s.txtLZHdir), fresh.program + "Lzh");
  EXPECT_FALSE(s.cmdCopy->isEnabled());
  s.cmdDB_OK->click();
  ASSERT_EQ(fresh.messages.size(), 1u);
  EXPECT_EQ(fresh.messages[0].text, "フォルダを作成しますか？");
  EXPECT_TRUE(FolderExists(fresh.program + "DB"));
  EXPECT_EQ(GetIni("main", "DBDir", ""), fresh.program + "DB/");
  EXPECT_TRUE(s.cmdCopy->isEnabled());
  // Only two of the three databases: step 3 stays closed.
  fs::copy_file(fresh.program + "initDB/kova_this.mdb", fresh.program + "DB/kova_this.mdb");
  fs::copy_file(fresh.program + "initDB/kova_code.mdb", fresh.program + "DB/kova_code.mdb");
  s.cmdCopy_OK->click();
  EXPECT_EQ(fresh.messages.back().text, "データベースフォルダに、「kova_????.mdb」が入っていません｡ ");
  EXPECT_FALSE(s.cmdLZH_OK->isEnabled());
  // The copy asks once for each file there; Cancel keeps it.
  fresh.messages.clear();
  fresh.answers = {vbCancel, vbCancel};
  // The wait cursor lasts through the copy, its questions included, and is gone
  // for the closing message.
  std::vector<bool> waiting;
  MsgBoxHandler answer;
  answer = SetMsgBoxHandler([&](const MsgRequest& r) {
    const QCursor* c = QApplication::overrideCursor();
    waiting.push_back(c && c->shape() == Qt::WaitCursor);
    return answer(r);
  });
  s.cmdCopy->click();
  SetMsgBoxHandler(answer);
  EXPECT_EQ(waiting, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(fresh.messages.size(), 3u);
  EXPECT_EQ(fresh.messages[0].text, "[" + fresh.program + "DB/kova_code.mdb] は既に存在します。上書きしますか？");
  EXPECT_EQ(fresh.messages[2].text, "処理終了しました。");
  EXPECT_EQ(s.File1->count(), 3);
  s.cmdCopy_OK->click();
  EXPECT_TRUE(s.cmdLZH_OK->isEnabled());
  s.txtLZHdir->setText(Q(fresh.program + "dwn"));
  s.cmdLZH_OK->click();
  EXPECT_EQ(fresh.messages.back().text, "フォルダ[" + fresh.program + "dwn/]は、Velmo で使用します。他の名前にしてください。");
  EXPECT_FALSE(s.cmdNextSet->isEnabled());
  s.txtLZHdir->setText(Q(fresh.program + "Lzh"));
  s.cmdLZH_OK->click();
  EXPECT_EQ(G().gLzhDir, fresh.program + "Lzh/");
  EXPECT_TRUE(s.cmdNextSet->isEnabled());
}

TEST_F(ScreensTest, InitialSetupDefaultsToTheDataFolderWhenTheProgramFolderIsReadOnly) {
  const std::string data = home->root + "xdg";
  EXPECT_EQ(DefaultSetupBase() + "/", home->program);
  // A program folder nobody can write into (here: one below a plain file, which
  // even the superuser cannot create).
  WriteFileBytes(home->root + "installed", "");
  const std::string installed = home->root + "installed/velmo/";
  setenv("VELMO_HOME", installed.c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  const std::string base = DefaultSetupBase();
  unsetenv("XDG_DATA_HOME");
  setenv("VELMO_HOME", home->program.c_str(), 1);
  EXPECT_EQ(base, data + "/Velmo");
}

TEST_F(ScreensTest, SqlScreenCommitsOrRollsBack) {
  for (int i = 1; i <= 5; ++i)
    home->sqlite("kova_this.mdb", "insert into Sアドイン管理 (ソフトID, 名称) values ('S" + std::to_string(i) + "', 'x');");
  frmSQL s;
  EXPECT_EQ(S(s.windowTitle()), "Velmo-SQL画面");
  ASSERT_EQ(s.File1->count(), 3);
  // No file picked (the first row only current, as the list makes it when it
  // gets the focus): the member is told, and no database is touched.
  const std::string codes = home->sqlite("kova_code.mdb", "select count(*) from CJRAコード変換;");
  ASSERT_NE(codes, "0\n");
  s.File1->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  s.txtSQL->setPlainText("DELETE FROM CJRAコード変換");
  s.cmdOK->click();
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_EQ(home->messages[0].text.rfind("対象データベースが指定されていません。", 0), 0u) << home->messages[0].text;
  EXPECT_NE(home->logText().find("SQL:DELETE FROM CJRAコード変換"), std::string::npos);
  EXPECT_EQ(home->sqlite("kova_code.mdb", "select count(*) from CJRAコード変換;"), codes);
  home->messages.clear();
  s.File1->setCurrentRow(2);  // kova_this.mdb
  ASSERT_EQ(S(s.File1->currentItem()->text()), "kova_this.mdb");
  s.txtSQL->setPlainText("UPDATE Sアドイン管理 SET 名称 = 'y' WHERE ソフトID Like 'S*'");
  home->answers = {vbCancel};
  s.cmdOK->click();
  ASSERT_EQ(home->messages.size(), 2u);
  EXPECT_EQ(home->messages[0].text, "5件のレコードが処理されました。");
  EXPECT_EQ(home->messages[1].text, "キャンセルしました。");
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from Sアドイン管理 where 名称='y';"), "0\n");
  s.cmdOK->click();
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from Sアドイン管理 where 名称='y';"), "5\n");
  s.txtSQL->setPlainText("UPDATE Sアドイン管理 SET 名称 = 'z' WHERE ソフトID = 'none'");
  s.cmdOK->click();
  EXPECT_EQ(home->messages.back().text, "0件のレコードが処理されました。");
  // A statement the engine rejects: two log entries, nothing changed, the text kept.
  s.txtSQL->setPlainText("UPDATE Sアドイン管理 SET WHERE");
  s.cmdOK->click();
  EXPECT_NE(home->logText().find("SQL:UPDATE Sアドイン管理 SET WHERE"), std::string::npos);
  EXPECT_EQ(S(s.txtSQL->toPlainText()), "UPDATE Sアドイン管理 SET WHERE");
  EXPECT_EQ(db::Workspace::get().transDepth(), 0);
}

TEST_F(ScreensTest, VersionScreenAndHelp) {
  frmAbout a;
  EXPECT_EQ(S(a.windowTitle()), "Velmoのﾊﾞｰｼﾞｮﾝ情報");
  EXPECT_EQ(VersionText(1, 0, 9), "ﾊﾞｰｼﾞｮﾝ 1.0.9");
  // The version the build defines: the project's version in CMakeLists.txt.
  const std::string cmake = ReadFileBytes(std::string(VELMO_SOURCE_DIR) + "/CMakeLists.txt");
  const size_t at = cmake.find("project(Velmo VERSION ");
  ASSERT_NE(at, std::string::npos);
  const size_t from = at + std::string("project(Velmo VERSION ").size();
  const std::string version = cmake.substr(from, cmake.find_first_of(" )", from) - from);
  EXPECT_EQ(S(a.lblVersion->text()), "ﾊﾞｰｼﾞｮﾝ " + version);
  a.cmdSysInfo->click();
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_EQ(home->messages[0].text, "現時点ではｼｽﾃﾑ情報を使用できません");
  std::string opened;
  SetUrlOpener([&](const std::string& url) {
    opened = url;
    return true;
  });
  frmMnt m;
  m.cmdHelp->trigger();
  SetUrlOpener(nullptr);
  EXPECT_EQ(opened, home->program + "Velmo.html");
  EXPECT_TRUE(FileExists(test::BuildHome() + "Velmo.html"));
}

namespace {
// The busy window of the last command and its caption as it showed.
QPointer<frmBusy> gBusy;
std::string gBusyCaption;
void Watch(frmBusy* b) {
  gBusy = b;
  gBusyCaption = S(b->windowTitle());
}
// Presses the busy window's cancel button as soon as it shows.
void CancelAtOnce(frmBusy* b) {
  Watch(b);
  b->cmdCancel->click();
}
}  // namespace

TEST_F(ScreensTest, ChangeoverMovesTheWeekAndCanBeCancelled) {
  for (const char* d : {"20050312", "20050313"})
    ASSERT_EQ(regMain(fixture::WriteDayArchives(home->work, {"SEC"}, Day(d))[0], "T", "J"), 0);
  frmMnt m;
  ASSERT_EQ(m.Gr1->model()->rowCount(), 2);
  SetBusyWindowWatcher(CancelAtOnce);
  m.cmdWeekChange->click();
  SetBusyWindowWatcher(nullptr);
  EXPECT_EQ(m.Gr1->model()->rowCount(), 2);  // not emptied after a cancel
  // The window keeps its caption and ends with the cancel, its button closing it.
  ASSERT_TRUE(gBusy);
  EXPECT_EQ(gBusyCaption, "只今処理中です。しばらくお待ちください。");
  EXPECT_TRUE(gBusy->isVisible());
  EXPECT_EQ(S(gBusy->windowTitle()), "只今処理中です。しばらくお待ちください。");
  EXPECT_EQ(S(gBusy->lblSyori->text()), "キャンセルしました");
  EXPECT_EQ(S(gBusy->cmdCancel->text()), "閉じる");
  EXPECT_TRUE(gBusy->lblYajirusi->isVisible());
  EXPECT_EQ(m.statusText(), "キャンセルしました");
  gBusy->cmdCancel->click();
  EXPECT_FALSE(gBusy && gBusy->isVisible());
  home->messages.clear();
  SetBusyWindowWatcher(Watch);
  m.cmdWeekChange->click();
  SetBusyWindowWatcher(nullptr);
  EXPECT_FALSE(home->messages.empty());  // the question, answered OK
  EXPECT_EQ(gBusyCaption, "只今処理中です。しばらくお待ちください。");
  ASSERT_TRUE(gBusy);
  EXPECT_EQ(S(gBusy->windowTitle()), "週替わり処理完了しました");
  EXPECT_EQ(S(gBusy->lblSyori->text()), "週替わり処理完了！！");
  gBusy->close();
  EXPECT_EQ(m.Gr1->model()->rowCount(), 0);
  ASSERT_EQ(m.Gr2->model()->rowCount(), 2);
  EXPECT_EQ(Cell(m.Gr2->model(), 0, 0), "2005/03/13");
  // The past grid's selection gives the deletion its range.
  m.Gr2->selectRows(1, 1);
  m.cmdDelete->click();
  EXPECT_EQ(m.Gr2->model()->rowCount(), 1);
  EXPECT_EQ(Cell(m.Gr2->model(), 0, 0), "2005/03/13");
  EXPECT_EQ(home->sqlite("kova_data.mdb", "select count(*) from D成績データ where 年月日='20050312';"), "0\n");
  EXPECT_NE(home->sqlite("kova_data.mdb", "select count(*) from D成績データ where 年月日='20050313';"), "0\n");
}

// A new member's first week: initial setup and settings, registration from files
// and from the provider, the grids, a cancelled and a finished changeover, a
// deletion chosen in a grid, a statement in the SQL screen and the help.
TEST(ScreensEndToEnd, NewMembersFirstWeek) {
  test::EnsureQtApp();
  TestHome h(false);
  CopyShippedFiles(h);
  TestHttpServer server("kova123", "pass5678");
  ScreenHooks hooks;
  hooks.initialSetup = [&]() {
    frmIniSet s;
    s.show();
    s.cmdDB_OK->click();
    s.cmdCopy->click();
    s.cmdCopy_OK->click();
    s.cmdLZH_OK->click();
    WhenShown<frmSettei>([](frmSettei* f) {
      f->Text4->setText("kova123");
      f->Text5->setText("pass5678");
      f->OKButton->click();
    });
    s.cmdNextSet->click();
    EXPECT_FALSE(s.isVisible());
  };
  G() = Globals();
  MainResult r = Main("", hooks);
  ASSERT_TRUE(r.runEventLoop) << h.logText();
  frmMnt& m = *hooks.main;
  EXPECT_EQ(G().gDBDir, h.program + "DB/");
  EXPECT_EQ(G().gUserID, "kova123");
  EXPECT_EQ(h.sqlite("../home/DB/kova_this.mdb", "select パス from Sアドイン管理 where ソフトID='Velmo';"),
            h.program.substr(0, h.program.size() - 1) + "\n");

  // From files.
  const std::string sec = fixture::WriteDayArchives(h.work, {"SEC"}, Day("20050305"))[0];
  SetFileChooser([&](QWidget*, const FileChoice&) { return std::vector<std::string>{sec}; });
  m.cmdFileInpT->click();
  SetFileChooser(nullptr);
  ASSERT_EQ(m.Gr1->model()->rowCount(), 1);

  // From the provider, through the download selection screen.
  SetIni("main", "KovaHost", server.base());
  const std::string pack = fixture::WritePackArchive(h.work, {"BAB", "SEC"}, Day("20050312"));
  server.routes["/member/lst/kovalist.txt"] = {"KOVA050312.lzh\r\n"};
  server.routes["/member/kova/KOVA050312.lzh"] = {ReadFileBytes(pack)};
  h.messages.clear();
  WhenShown<frmInt>([](frmInt* f) {
    f->setRange("20050312", "20050312");
    f->ListView1->topLevelItem(0)->setSelected(true);  // KOVA
    f->cmdDown->click();
    if (f->isVisible()) f->reject();
  });
  m.cmdInternetT->click();
  ASSERT_FALSE(h.messages.empty());
  EXPECT_EQ(h.messages.back().text, "データ登録完了しました。");
  ASSERT_EQ(m.Gr1->model()->rowCount(), 2);
  EXPECT_EQ(Cell(m.Gr1->model(), 0, 0), "2005/03/12");

  // The changeover: cancelled once, then run to its end.
  SetBusyWindowWatcher(CancelAtOnce);
  m.cmdWeekChange->click();
  SetBusyWindowWatcher(nullptr);
  EXPECT_EQ(m.Gr1->model()->rowCount(), 2);
  m.cmdWeekChange->click();
  EXPECT_EQ(m.Gr1->model()->rowCount(), 0);
  ASSERT_EQ(m.Gr2->model()->rowCount(), 2);

  // Deleting the older date, picked in the past grid.
  m.Gr2->selectRows(1, 1);
  m.cmdDelete->click();
  ASSERT_EQ(m.Gr2->model()->rowCount(), 1);

  // A statement in the SQL screen.
  WhenShown<frmSQL>([](frmSQL* s) {
    s->File1->setCurrentRow(1);  // kova_data.mdb
    s->txtSQL->setPlainText("DELETE FROM Dデータ一覧テーブル");
    s->cmdOK->click();
    s->reject();
  });
  m.cmdSQLGamen->trigger();
  EXPECT_EQ(h.messages.back().text, "1件のレコードが処理されました。");

  // The help.
  std::string opened;
  SetUrlOpener([&](const std::string& url) {
    opened = url;
    return true;
  });
  m.cmdHelp->trigger();
  SetUrlOpener(nullptr);
  EXPECT_EQ(opened, h.program + "Velmo.html");
  m.close();
  G().gStatusForm = nullptr;
}

// The SQL screen's change waits for the database folder's writer lock like any
// other writer, and gives up without changing anything when it stays held.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "startup/platform/writerlock.h"

TEST_F(ScreensTest, SqlScreenChangesTakeTheWriterLock) {
  home->sqlite("kova_this.mdb", "insert into Sアドイン管理 (ソフトID, 名称) values ('S1', 'x');");
  frmSQL s;
  s.File1->setCurrentRow(2);  // kova_this.mdb
  s.txtSQL->setPlainText("UPDATE Sアドイン管理 SET 名称 = 'y'");
  int fd = ::open(db::WriterLock::lockFilePath(G().gDBDir).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const int wait = db::WriterLock::defaultWaitSeconds();
  db::WriterLock::setDefaultWaitSeconds(0);
  s.cmdOK->click();
  db::WriterLock::setDefaultWaitSeconds(wait);
  ::close(fd);
  EXPECT_NE(home->logText().find("書き込み中"), std::string::npos) << home->logText();
  for (const auto& m : home->messages) EXPECT_EQ(m.text.find("件のレコードが処理されました"), std::string::npos) << m.text;
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from Sアドイン管理 where 名称='y';"), "0\n");
  EXPECT_EQ(db::Workspace::get().transDepth(), 0);
  // Free again: the change runs.
  s.cmdOK->click();
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from Sアドイン管理 where 名称='y';"), "1\n");
}

// The master update stopped by the member after a broken archive: the master
// grid shows the masters registered before the stop when the message comes.
TEST_F(InternetTest, StoppedMasterUpdateRefillsTheMasterGridBeforeItsMessage) {
  frmMnt m;
  ASSERT_EQ(Cell(m.Gr3->model(), 0, 2), "0");
  const std::string host = "http://www.kova.example/";
  auto route = [&](const std::string& url) {
    EXPECT_EQ(url.rfind(host, 0), 0u) << url;
    return "/" + url.substr(host.size());
  };
  // The newest archive of each master kind; the last in registration order
  // (MZ_) breaks off in its second record.
  const fixture::RaceDay day = Day("20050312");
  const auto jockeys = fixture::DayRecords("KZA", day);
  ASSERT_GE(jockeys.size(), 2u);
  const std::string broken = home->work + "MZA050312.lzh";
  fixture::WriteLzh(broken, {{"KZA050312.txt", jockeys[0] + jockeys[1].substr(0, jockeys[1].size() / 2)}});
  const std::pair<const char*, std::string> served[] = {
      {"KZ_", fixture::WriteDayArchives(home->work, {"KZA"}, day)[0]},
      {"CZ_", fixture::WriteDayArchives(home->work, {"CZA"}, day)[0]},
      {"MZ_", broken}};
  for (const auto& [id, path] : served) {
    const ListInfo info = getListInfo(id);
    ASSERT_FALSE(info.listFile.empty()) << id;
    const std::string name = fs::path(path).filename().string();
    server->routes[route(info.listAddress + info.listFile)] = {name + "\r\n"};
    server->routes[route(info.serverAddress + name)] = {ReadFileBytes(path)};
  }
  std::vector<std::string> shown;
  std::string jockeysAtMessage;
  MsgBoxHandler previous = SetMsgBoxHandler([&](const MsgRequest& r) {
    shown.push_back(r.text);
    if (r.text == "データ登録異常終了しました。") jockeysAtMessage = Cell(m.Gr3->model(), 0, 2);
    return r.text == "処理を続行しますか？" ? static_cast<int>(vbCancel) : static_cast<int>(vbOK);
  });
  m.cmdMasterUpdate->click();
  SetMsgBoxHandler(previous);
  SetFetchFunctions({});
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "データ登録異常終了しました。") << home->logText();
  EXPECT_NE(home->sqlite("kova_this.mdb", "select count(*) from T騎手マスタ;"), "0\n");
  EXPECT_NE(jockeysAtMessage, "");
  EXPECT_NE(jockeysAtMessage, "0");
  EXPECT_EQ(home->sqlite("kova_this.mdb", "select count(*) from T騎手マスタ;"), jockeysAtMessage + "\n");
}

TEST_F(ScreensTest, MessageBoxesSpeakJapanese) {
  ASSERT_TRUE(InstallQtTranslations());
  using B = QMessageBox::StandardButton;
  struct Case {
    int buttons;
    std::vector<std::pair<B, std::string>> texts;
  } cases[] = {
      {vbOKOnly, {{B::Ok, "OK"}}},
      {vbOKCancel, {{B::Ok, "OK"}, {B::Cancel, "キャンセル"}}},
      {vbYesNo, {{B::Yes, "はい(&Y)"}, {B::No, "いいえ(&N)"}}},
      {vbYesNoCancel, {{B::Yes, "はい(&Y)"}, {B::No, "いいえ(&N)"}, {B::Cancel, "キャンセル"}}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<QMessageBox> box = MessageBoxFor(MsgRequest{"週替わり処理を実行しますか？\r\n次の行", c.buttons, "週替わりチェック"});
    EXPECT_EQ(S(box->windowTitle()), "週替わりチェック");
    EXPECT_EQ(S(box->text()), "週替わり処理を実行しますか？\n次の行");
    EXPECT_EQ(box->buttons().size(), static_cast<qsizetype>(c.texts.size())) << c.buttons;
    for (const auto& [button, text] : c.texts) {
      ASSERT_NE(box->button(button), nullptr) << c.buttons;
      EXPECT_EQ(S(box->button(button)->text()), text) << c.buttons;
    }
  }
}

// Each screen at the size it opens with and at the smallest size it allows.
// The download windows start their fetch when shown: they are laid out unshown.
TEST_F(ScreensTest, EveryScreenShowsAllItsTextsAtItsFirstAndSmallestSize) {
  WriteIni(*home, "VAN=1\r\n");
  LoadSettings();
  struct Case {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
    bool show;
  } cases[] = {
      {"frmMnt", [] { return std::make_unique<frmMnt>(); }, true},
      {"frmInt", [] { return std::make_unique<frmInt>(); }, true},
      {"frmBusy", [] { return std::make_unique<frmBusy>(); }, true},
      {"frmBusy after a cancel",
       [] {
         auto b = std::make_unique<frmBusy>();
         b->cmdCancel->click();
         b->syoriEnd();
         return b;
       },
       true},
      {"frmSettei", [] { return std::make_unique<frmSettei>(); }, true},
      {"frmIniSet", [] { return std::make_unique<frmIniSet>(); }, true},
      {"frmSQL", [] { return std::make_unique<frmSQL>(); }, true},
      {"frmAbout", [] { return std::make_unique<frmAbout>(); }, true},
      {"frmGetInt", [] { return std::make_unique<frmGetInt>(); }, false},
      {"frmGetAuto", [] { return std::make_unique<frmGetAuto>(); }, false},
  };
  auto layOut = [](QWidget* w, bool shown) {
    if (shown) {
      QApplication::processEvents();
    } else if (w->layout()) {
      // An unshown window gets no resize event: its layout is laid anew.
      w->layout()->invalidate();
      w->layout()->activate();
    }
  };
  for (const auto& c : cases) {
    std::unique_ptr<QWidget> w = c.make();
    if (c.show) {
      w->show();
    } else if (!w->testAttribute(Qt::WA_Resized)) {
      w->adjustSize();
    }
    layOut(w.get(), c.show);
    EXPECT_EQ(CutTexts(w.get()), std::vector<std::string>{}) << c.name << " as it opens, " << w->width() << "x" << w->height();
    w->resize(1, 1);
    layOut(w.get(), c.show);
    EXPECT_EQ(CutTexts(w.get()), std::vector<std::string>{}) << c.name << " at its smallest, " << w->width() << "x" << w->height();
    w->hide();
  }
  home->messages.clear();
}
