// Where the program writes its own files: into a program folder that can be
// written (a build folder, VELMO_HOME), else into the user's XDG folders, so an
// installed program folder is never written, not even by the superuser.
#include <gtest/gtest.h>

#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "schema/datacheck.h"
#include "screens/frmbusy.h"
#include "screens/frminiset.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"

using namespace velmo;
namespace fs = std::filesystem;

namespace {

// Every file below the folder with its size and modification time.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    std::string what = e.is_directory() ? "dir" : std::to_string(e.file_size());
    what += "@" + std::to_string(e.last_write_time().time_since_epoch().count());
    files[e.path().string()] = what;
  }
  return files;
}

class UserFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = std::make_unique<test::TestHome>();
    std::ofstream(home->config + "kova.ini") << "[main]\r\nDBDir=" << home->dbDir << "\r\nLzhDir=" << home->lzhDir
                                              << "\r\n";
    for (const auto& [variable, kind] : {std::pair{"XDG_STATE_HOME", "state"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_DATA_HOME", "data"}})
      setenv(variable, (home->root + "xdg/" + kind).c_str(), 1);
  }
  void TearDown() override {
    SetProgramDir("");
    setenv("VELMO_HOME", home->program.c_str(), 1);
    for (const char* v : {"XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) unsetenv(v);
    AppLog::instance().setLogFile(home->program + "VelmoLog.dat");
  }
  // The program folder as the package installs it: found beside the executable,
  // read-only whatever the permissions say.
  void Install() {
    unsetenv("VELMO_HOME");
    SetProgramDir(home->program, true);
  }
  std::string xdg(const std::string& kind) const { return home->root + "xdg/" + kind + "/Velmo/"; }
  std::unique_ptr<test::TestHome> home;
};

}  // namespace

TEST_F(UserFoldersTest, EachFileGoesToTheProgramFolderOrItsUserFolder) {
  struct Case {
    const char* name;
    bool installed;
  } cases[] = {{"writable program folder", false}, {"installed program folder", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.installed) Install();
    LoadSettings();
    const std::string p = home->program;
    EXPECT_EQ(ProgramDir(), p);
    EXPECT_EQ(ProgramDirWritable(), !c.installed);
    EXPECT_EQ(LogFilePath(), (c.installed ? xdg("state") : p) + "VelmoLog.dat");
    EXPECT_EQ(G().gTmpDir, (c.installed ? xdg("cache") : p) + "tmp/");
    EXPECT_EQ(G().gDwnDir, (c.installed ? xdg("cache") : p) + "dwn/");
    EXPECT_TRUE(FolderExists(G().gTmpDir));
    EXPECT_TRUE(FolderExists(G().gDwnDir));
    EXPECT_EQ(DataCheckReportPath(), (c.installed ? xdg("data") : p) + "datacheckD_Result.txt");
    EXPECT_EQ(screens::DefaultSetupBase() + "/", c.installed ? xdg("data") : p);
    EXPECT_EQ(ConfigDir(), home->config);  // kova.ini and Velmo.conf: always the settings folder
  }
}

TEST_F(UserFoldersTest, AnInstalledProgramFolderIsNeverWritten) {
  test::EnsureQtApp();
  WriteFileBytes(home->program + "topics.txt",
                 text::encodeCp932("TPC0003NEXT0001 \r\n■1\r\n題1\r\n本文1\r\n■2\r\n題2\r\n本文2\r\n■3\r\n題3\r\n本文3\r\n"));
  fs::remove_all(home->program + "tmp");
  fs::remove_all(home->program + "dwn");
  Install();
  const auto before = Snapshot(home->program);
  AppLog::instance().setLogFile(LogFilePath());  // as the programs set it up, before the settings
  LoadSettings();
  WriteLog(ErrObject(0, "起動"), "Main", false, true);
  {
    screens::frmBusy b;
    EXPECT_EQ(b.currentTopic(), 1);
    b.cmdNext->click();
    EXPECT_EQ(b.currentTopic(), 2);
  }
  {
    // The next busy window goes on from the counter kept in the state folder.
    screens::frmBusy b;
    EXPECT_EQ(b.currentTopic(), 2);
  }
  EXPECT_EQ(ReadFileBytes(xdg("state") + "topics.next"), "TPC0003NEXT0002 ");
  EXPECT_NE(ReadFileBytes(xdg("state") + "VelmoLog.dat").find("起動"), std::string::npos);
  EXPECT_EQ(Snapshot(home->program), before);
}
