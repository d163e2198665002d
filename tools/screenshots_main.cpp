// velmo-screenshots OUT_FOLDER: opens every screen on a generated home in a real
// window and saves a picture of each (main screen with data, download selection,
// busy window in the middle of a changeover and after a cancel, message boxes,
// settings, initial setup, SQL, data ledger and version screens), each at the size it opens
// with and at the smallest size it allows. scripts/screenshots.sh runs it under Xvfb.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "download/ledgerview.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "screens/commandface.h"
#include "screens/datagrid.h"
#include "screens/frmabout.h"
#include "screens/frmbusy.h"
#include "screens/frminiset.h"
#include "screens/frmint.h"
#include "screens/frmledger.h"
#include "screens/frmmnt.h"
#include "screens/frmsettei.h"
#include "screens/frmsql.h"
#include "screens/qtmsgbox.h"
#include "screens/screenutil.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"
#include "tools/fixture/fixture.h"

namespace fs = std::filesystem;
using namespace velmo;
using namespace velmo::screens;

namespace {

std::string gOut;

void settle(int ms = 250) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A picture of the window at the size it opens with (name.png), and one at the
// smallest size it allows (min_name.png); the window keeps its size afterwards.
void shoot(QWidget* w, const std::string& name, bool smallest = true) {
  w->show();
  w->raise();
  settle();
  auto save = [&](const std::string& file) {
    const std::string path = gOut + file + ".png";
    if (!w->grab().save(Q(path))) std::fprintf(stderr, "could not save %s\n", path.c_str());
    else std::printf("%s %dx%d\n", path.c_str(), w->width(), w->height());
  };
  save(name);
  if (!smallest) return;
  const QSize opened = w->size();
  w->resize(1, 1);
  settle();
  save("min_" + name);
  w->resize(opened);
  settle(100);
}

// The message-box service as the program shows it (Qt's buttons in Japanese),
// with a picture of the first box whose text starts with each wanted text.
std::vector<std::pair<std::string, std::string>> gWanted;  // text start, picture name
int ShowAndShoot(const MsgRequest& r) {
  for (auto it = gWanted.begin(); it != gWanted.end(); ++it) {
    if (r.text.rfind(it->first, 0) != 0) continue;
    std::unique_ptr<QMessageBox> box = MessageBoxFor(r);
    shoot(box.get(), it->second, false);
    gWanted.erase(it);
    break;
  }
  return r.buttons == vbYesNo || r.buttons == vbYesNoCancel ? static_cast<int>(vbYes) : static_cast<int>(vbOK);
}

// The busy window photographed after a few steps of the changeover; with
// cancelAt, the cancel button is pressed at that step.
class ShootingUi : public ScreenCommandUi {
 public:
  ShootingUi(QWidget* owner, StatusSink* status, int cancelAt) : ScreenCommandUi(owner, status), cancelAt_(cancelAt) {}
  void setBusyText(const std::string& text) override {
    ScreenCommandUi::setBusyText(text);
    ++steps_;
    if (!busy()) return;
    if (steps_ == cancelAt_) busy()->cmdCancel->click();
    if (cancelAt_ == 0 && steps_ == 4) {
      busy()->lblSyori->setVisible(true);
      busy()->timBlink->stop();
      shoot(busy(), "busy_changeover");
      busy()->timBlink->start();
    }
  }

 private:
  int cancelAt_;
  int steps_ = 0;
};

fixture::RaceDay day(const std::string& date) {
  fixture::RaceDay d;
  d.date = date;
  d.races = 2;
  d.runners = 6;
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmo-screenshots OUT_FOLDER (with VELMO_HOME set to a program folder)\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Velmo");
  InstallQtTranslations();
  gOut = AddPathSep(argv[1]);
  MakeDirAll(gOut);
  char tmpl[] = "/tmp/velmo-shots-XXXXXX";
  const std::string root = AddPathSep(mkdtemp(tmpl));
  const std::string cfg = root + "config/", dbDir = root + "db/", lzh = root + "lzh/", work = root + "work/";
  for (const auto& d : {cfg, dbDir, lzh, work}) MakeDirAll(d);
  for (const auto& n : ListFiles(ProgramDir() + "initDB/*.mdb")) fs::copy_file(ProgramDir() + "initDB/" + n, dbDir + n);
  setenv("VELMO_CONFIG_DIR", cfg.c_str(), 1);
  {
    std::ofstream ini(cfg + "kova.ini");
    ini << "[main]\r\nDBDir=" << dbDir << "\r\nLzhDir=" << lzh << "\r\nUserID=member\r\nVAN=0\r\n";
  }
  SetIni("main", "Passwd", EncodeSetting("member123"));
  LoadSettings();
  AppLog::instance().setLogFile(root + "VelmoLog.dat");
  SetMsgBoxHandler(ShowAndShoot);

  // Three weeks of this week's data and a season of past data.
  const std::vector<std::string> kinds = {"SEC", "SKB", "HJC", "CYA", "TYB"};
  for (const char* d : {"20050312", "20050313", "20050319"}) {
    regMain(fixture::WritePackArchive(work, {"BAB", "KYG"}, day(d)), "T", "J");
    for (const auto& a : fixture::WriteDayArchives(work, kinds, day(d))) regMain(a, "T", "J");
  }
  for (const char* d : {"20050226", "20050227", "20050305", "20050306"})
    for (const auto& a : fixture::WriteDayArchives(work, {"SEC", "HJC"}, day(d))) regMain(a, "D", "J");

  auto* main = new frmMnt;
  G().gStatusForm = main;
  main->Gr1->selectRows(0, 2);
  main->setStatusText("SEC050319.lzhの登録処理を完了しました( 3件)");
  shoot(main, "main");

  {
    frmInt f(main);
    f.gstrTDM = "T??";
    f.setRange("20050312", "20050319");
    f.show();
    settle();
    for (int i = 0; i < f.ListView1->topLevelItemCount() && i < 4; i += 3) f.ListView1->topLevelItem(i)->setSelected(true);
    f.LblDataURL->setText("http://www.kova.example/member/lst/kovalist.txt");
    f.LblDataFile->setText(Q(G().gDwnDir + "kovalist.txt"));
    shoot(&f, "int");
  }

  // A registration that fails: a results file that breaks off.
  gWanted = {{"最後のレコードが途中で切れています", "message_failure"}, {"処理を続行しますか？", "message_question"}};
  {
    auto records = fixture::DayRecords("SEC", day("20050326"));
    const std::string broken = work + "SEC050326.lzh";
    fixture::WriteLzh(broken, {{"SEC050326.txt", records[0] + records[1].substr(0, records[1].size() / 2)}});
    SetFileChooser([&](QWidget*, const FileChoice&) { return std::vector<std::string>{broken}; });
    main->cmdFileInpT->click();
    SetFileChooser(nullptr);
  }

  // A changeover cancelled at its second step: the window as it is left.
  gWanted = {{"週替わり処理を実行しますか？", "message_changeover"}};
  {
    ShootingUi ui(main, main, 2);
    WeekChange(ui);
    if (ui.busy()) {
      ui.busy()->timBlink->stop();
      ui.busy()->lblYajirusi->setVisible(true);
      shoot(ui.busy(), "busy_cancelled");
    }
    ui.closeBusy();
  }
  gWanted.clear();
  {
    ShootingUi ui(main, main, 0);
    WeekChange(ui);
    ui.closeBusy();
    main->fillGr1();
    main->fillGr2();
  }
  main->Gr2->selectRows(1, 3);
  shoot(main, "main_after_changeover");

  {
    // The data ledger of March 2005 in the past database, with the list files
    // kept from a fetch: one day the host has and nobody fetched, one that failed.
    MakeDirAll(KeptListFolder());
    const std::map<std::string, std::string> lists = {
        {"kovalist.txt", "KOVA050312.lzh\r\nKOVA050313.lzh\r\nKOVA050319.lzh\r\n"},
        {"seclist.txt", "SEC050305.lzh\r\nSEC050306.lzh\r\nSEC050312.lzh\r\nSEC050313.lzh\r\nSEC050319.lzh\r\n"
                        "SEC050320.lzh\r\nSEC050326.lzh\r\n"},
        {"hjclist.txt", "HJC050305.lzh\r\nHJC050306.lzh\r\nHJC050312.lzh\r\nHJC050313.lzh\r\nHJC050319.lzh\r\n"},
        {"skblist.txt", "SKB050312.lzh\r\nSKB050313.lzh\r\nSKB050319.lzh\r\n"},
        {"sralist.txt", ""},
        {"ovlist.txt", ""}};
    for (const auto& [name, body] : lists) WriteFileBytes(KeptListFolder() + name, body);
    frmLedger f(main);
    f.setMode("D");
    f.showMonth(QDate(2005, 3, 1));
    f.loadLedger(false);
    f.resize(1100, 520);
    f.show();
    settle();
    f.pickDays({"20050313"});
    shoot(&f, "ledger");
  }
  {
    frmSettei s(main);
    shoot(&s, "settei");
  }
  {
    frmIniSet s(main);
    s.cmdDB_OK_Click();
    shoot(&s, "iniset");
  }
  {
    frmSQL s(main);
    s.File1->setCurrentRow(2);
    s.txtSQL->setPlainText("UPDATE Tデータ一覧テーブル SET 成績データ = 'SEC' WHERE 年月日 = '20050312'");
    shoot(&s, "sql");
  }
  {
    frmAbout a(main);
    shoot(&a, "about");
  }
  main->close();
  delete main;
  G().gStatusForm = nullptr;
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
