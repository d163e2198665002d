// The screen mode's start-up on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTableWidget>

#include <fstream>
#include <memory>

#include "common/globals.h"
#include "registration/driver.h"
#include "screens/frmmnt.h"
#include "startup/mmain.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

void app() {
  if (QCoreApplication::instance()) return;  // another test made it
  static int argc = 1;
  static char name[] = "velmo_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

struct ScreenHooks : StartupHooks {
  std::unique_ptr<screens::frmMnt> main;
  void showSettings(bool, bool) override {}
  void showInitialSetup() override {}
  void showMainScreen() override {
    main = std::make_unique<screens::frmMnt>();
    G().gStatusForm = main.get();
    main->show();
  }
  void runSilent(const std::vector<std::string>&) override {}
};

}  // namespace

TEST(Screens, ScreenModeOpensTheMainScreenWithThisWeeksList) {
  app();
  TestHome h;
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  }
  fixture::RaceDay day;
  auto archives = fixture::WriteDayArchives(h.work, {"BAB"}, day);
  ASSERT_FALSE(regMainKOVA(archives[0], "T"));
  ScreenHooks hooks;
  MainResult r = Main("", hooks);
  ASSERT_TRUE(r.runEventLoop);
  ASSERT_TRUE(hooks.main);
  EXPECT_EQ(hooks.main->windowTitle().toStdString(), "Velmo-メイン画面");
  auto* grid = hooks.main->findChild<QTableWidget*>("GrThis");
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->item(0, 0)->text().toStdString(), "20050312");
  EXPECT_EQ(grid->item(0, 3)->text().toStdString(), "BAB");
  // Registration progress shows on the main screen's status bar.
  G().gStatusForm->setStatusText("BAB050312.lzh");
  ASSERT_FALSE(regMainKOVA(archives[0], "T"));
  EXPECT_EQ(hooks.main->statusText(), "BAB050312.lzh BAB050312.txt登録中(1/1)");
  if (const char* shot = std::getenv("VELMO_SCREENSHOT")) hooks.main->grab().save(shot);
  G().gStatusForm = nullptr;
  QApplication::processEvents();
}
