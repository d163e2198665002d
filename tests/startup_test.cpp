// Start-up: settings file, password scrambler, command line, run modes, log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>

#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "startup/mmain.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

struct FakeHooks : StartupHooks {
  std::vector<std::string> calls;
  std::function<void()> onSetup;
  void showSettings(bool lzh, bool db) override { calls.push_back(std::string("settings:") + (lzh ? "lzh" : "") + (db ? "db" : "")); }
  void showInitialSetup() override {
    calls.push_back("setup");
    if (onSetup) onSetup();
  }
  void showMainScreen() override { calls.push_back("main"); }
  void runSilent(const std::vector<std::string>& w) override { calls.push_back("silent:" + w[0]); }
  void closeParentChannel() override { calls.push_back("close"); }
};

void writeIni(const TestHome& h, const std::string& body) {
  std::ofstream o(h.config + "kova.ini", std::ios::binary);
  o << body;
}

}  // namespace

TEST(Settings, ProfileReadsAndWrites) {
  TestHome h;
  EXPECT_EQ(GetIni("main", "DBDir", "def"), "def");  // no file
  writeIni(h, "; comment\r\n[other]\r\nDBDir=wrong\r\n[Main]\r\n dbdir = /data/db/ \r\nBare\r\nQuoted=\"a b\"\r\nLong=" +
                  std::string(200, 'x') + "\r\n");
  EXPECT_EQ(GetIni("main", "DBDir", ""), "/data/db/");
  EXPECT_EQ(GetIni("main", "Bare", "d"), "");
  EXPECT_EQ(GetIni("main", "Quoted", ""), "a b");
  EXPECT_EQ(GetIni("main", "Long", "").size(), 127u);
  EXPECT_EQ(GetIni("main", "Missing", "d"), "d");
  EXPECT_TRUE(SetIni("main", "UserID", "member01"));
  EXPECT_TRUE(SetIni("main", "DBDir", "/new/"));
  EXPECT_TRUE(SetIni("fresh", "Key", "v"));
  EXPECT_EQ(GetIni("main", "UserID", ""), "member01");
  EXPECT_EQ(GetIni("main", "DBDir", ""), "/new/");
  EXPECT_EQ(GetIni("other", "DBDir", ""), "wrong");
  EXPECT_EQ(GetIni("fresh", "Key", ""), "v");
  struct stat st {};
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the member's credentials
}

namespace {
const char* const kReadableWarning = "設定ファイルが他のユーザーからも読めます";
size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}
}  // namespace

// kova.ini holds the member's credentials: private from its first byte, rewritten
// beside and renamed into place, and a file others may read is reported once per start.
TEST(Settings, TheSettingsFileStaysPrivate) {
  TestHome h;
  std::remove(IniPath().c_str());
  ASSERT_TRUE(SetIni("main", "UserID", "member01"));
  struct stat st {};
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A second name on the old file still sees the old text whole after a rewrite:
  // the new text went into another file that took the name.
  const std::string old = h.config + "kova.old";
  ASSERT_EQ(link(IniPath().c_str(), old.c_str()), 0);
  ASSERT_TRUE(SetIni("main", "Passwd", EncodeSetting("secret9")));
  EXPECT_EQ(ReadFileBytes(old), "[main]\r\nUserID=member01\r\n");
  EXPECT_EQ(GetIni("main", "UserID", ""), "member01");
  EXPECT_NE(GetIni("main", "Passwd", ""), "");
  EXPECT_FALSE(FileExists(IniPath() + ".new"));
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Within one process the warning is written at most once, however often the
  // settings are loaded.
  ASSERT_EQ(chmod(IniPath().c_str(), 0644), 0);
  LoadSettings();
  const size_t once = countOf(h.logText(), kReadableWarning);
  EXPECT_LE(once, 1u);
  LoadSettings();
  EXPECT_EQ(countOf(h.logText(), kReadableWarning), once);

  // Each start of the command says it once, on standard error and in the log;
  // a private file is not reported.
  SetIni("main", "LzhDir", h.lzhDir);
  SetIni("main", "DBDir", h.dbDir);
  test::EnsureQtApp();
  auto run = [&] {
    QProcess p;
    p.start(QString::fromStdString(test::BuildHome() + "velmo-cli"), {"list"});
    EXPECT_TRUE(p.waitForFinished(60000));
    return p.readAllStandardError().toStdString();
  };
  for (int mode : {0644, 0600}) {
    ASSERT_EQ(chmod(IniPath().c_str(), static_cast<mode_t>(mode)), 0);
    const size_t before = countOf(h.logText(), kReadableWarning);
    const std::string err = run();
    const size_t expected = mode == 0644 ? 1 : 0;
    EXPECT_EQ(countOf(err, kReadableWarning), expected) << err;
    EXPECT_EQ(countOf(h.logText(), kReadableWarning) - before, expected);
  }
}

TEST(Settings, LoadSettingsRestoresThePasswordAndMakesTheWorkFolders) {
  TestHome h;
  writeIni(h, "[main]\r\nLzhDir=/l/\r\nDBDir=/d/\r\nUserID=u\r\nPasswd=" + EncodeSetting("secret9") + "\r\nVAN=1\r\n");
  LoadSettings();
  EXPECT_EQ(G().gPasswd, "secret9");
  EXPECT_EQ(G().gVAN, 1);
  EXPECT_EQ(G().gTmpDir, h.program + "tmp/");
  EXPECT_TRUE(FolderExists(h.program + "dwn"));
  writeIni(h, "[main]\r\nPasswd=plain\r\nVAN=yes\r\n");
  LoadSettings();
  EXPECT_EQ(G().gPasswd, "plain");
  EXPECT_EQ(G().gVAN, 0);
}

TEST(Settings, PasswordScrambler) {
  for (const std::string p : {"ab", "Zz", "member2005", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"}) {
    std::string e = EncodeSetting(p);
    EXPECT_EQ(e[0], '#') << p;
    EXPECT_EQ(e.size(), 1 + 2 * p.size()) << p;
    EXPECT_EQ(DecodeSetting(e), p) << p;
  }
  EXPECT_EQ(EncodeSetting(""), "");
  EXPECT_EQ(DecodeSetting("plain-text"), "plain-text");
  EXPECT_EQ(DecodeSetting(EncodeSetting("ab-cd")), "abcd");  // "-" is not in the alphabet
  EXPECT_THROW(EncodeSetting("a"), VelmoError);
  EXPECT_THROW(EncodeSetting("--"), VelmoError);
  EXPECT_THROW(DecodeSetting("#12"), VelmoError);
}

TEST(Settings, CommandLineWords) {
  std::vector<std::string> w;
  EXPECT_EQ(SplitCommandLine("  KYC\t0  20050312 ", w), 3);
  EXPECT_EQ(w, (std::vector<std::string>{"KYC", "0", "20050312"}));
  EXPECT_EQ(SplitCommandLine("a b c d e", w, 2), 2);
  EXPECT_EQ(SplitCommandLine("\"a b\"", w), 2);  // no quoting
  EXPECT_EQ(SplitCommandLine("", w), 0);
}

TEST(Startup, WordCountsDecideTheRunMode) {
  TestHome h;
  struct Case {
    const char* line;
    const char* calls;
  } cases[] = {
      {"KYC", ""},
      {"KYC 0", ""},
      {"KYC 0 20050312 x", ""},
      {"KYC 0 2005031", ""},
      {"KYC 0 200503121", ""},
      {"KYC 0 20050312", "silent:KYC,close"},
  };
  for (const auto& c : cases) {
    FakeHooks hooks;
    MainResult r = Main(c.line, hooks);
    std::string got;
    for (const auto& s : hooks.calls) got += (got.empty() ? "" : ",") + s;
    EXPECT_EQ(got, c.calls) << c.line;
    EXPECT_FALSE(r.runEventLoop);
  }
  EXPECT_TRUE(h.messages.empty());
  // A word 2 that is not a number ends with "異常終了" and no window.
  FakeHooks hooks;
  MainResult r = Main("KYC x 20050312", hooks);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(hooks.calls, std::vector<std::string>{"close"});
  EXPECT_TRUE(h.messages.empty());
  EXPECT_NE(h.logText().find("異常終了"), std::string::npos);
}

TEST(Startup, ScreenModeChecksFoldersAndDatabase) {
  TestHome h;
  {
    FakeHooks hooks;  // no settings file: the initial setup, then the end
    MainResult r = Main("", hooks);
    EXPECT_EQ(hooks.calls, std::vector<std::string>{"setup"});
    EXPECT_FALSE(r.runEventLoop);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, "設定値が入っていません、終了します。");
  }
  h.messages.clear();
  writeIni(h, "[main]\r\nLzhDir=" + h.root + "nolzh/\r\nDBDir=" + h.dbDir + "\r\n");
  {
    FakeHooks hooks;
    MainResult r = Main("", hooks);
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"settings:lzh", "main"}));
    EXPECT_TRUE(r.runEventLoop);
    EXPECT_EQ(h.messages.at(0).text, "設定されているデータ保存フォルダ「" + h.root + "nolzh/」がありません");
  }
  h.messages.clear();
  writeIni(h, "[main]\r\nLzhDir=" + h.lzhDir + "\r\nDBDir=" + h.root + "nodb/\r\n");
  {
    FakeHooks hooks;
    Main("", hooks);
    EXPECT_EQ(hooks.calls.at(0), "settings:db");
    EXPECT_EQ(text::split(h.messages.at(0).text, '\n').size(), 5u);
  }
  h.messages.clear();
  // Both folders exist: the add-in row is written once however often the program starts.
  writeIni(h, "[main]\r\nLzhDir=" + h.lzhDir + "\r\nDBDir=" + h.dbDir + "\r\n");
  for (int i = 0; i < 2; ++i) {
    FakeHooks hooks;
    MainResult r = Main("", hooks);
    EXPECT_EQ(hooks.calls, std::vector<std::string>{"main"});
    EXPECT_TRUE(r.runEventLoop);
  }
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select ソフトID, 名称, パス, 起動オプション, 買い目出力 from Sアドイン管理;"),
            "Velmo|データ登録ソフト|" + h.program.substr(0, h.program.size() - 1) + "||0\n");  // no "/" at the end
  EXPECT_TRUE(h.messages.empty());
  // The database file is missing: a message, the initial setup, and on.
  std::remove((h.dbDir + "kova_this.mdb").c_str());
  FakeHooks hooks;
  MainResult r = Main("", hooks);
  EXPECT_EQ(h.messages.at(0).text, "データベースフォルダにデータベースファイル［kova_this.mdb］がありません");
  EXPECT_EQ(hooks.calls.at(0), "setup");
  (void)r;
  std::string log = h.logText();
  for (const char* m : {"起動", "画面モードSTART", "メイン画面開始"}) EXPECT_NE(log.find(m), std::string::npos) << m;
}

TEST(Log, EntriesAreLinesAndTheFileKeepsItsLimit) {
  TestHome h;
  auto& log = AppLog::instance();
  log.setLogLimit(5);
  for (int i = 0; i < 12; ++i) WriteLog(ErrObject(i, "entry " + std::to_string(i)), "Test/loc", false, true);
  std::vector<std::string> lines = text::split(h.logText(), '\n');
  lines.pop_back();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines.back().find("\t11\tentry 11\tTest/loc"), std::string::npos);
  // A larger limit trims a tenth at a time: never above the limit, the newest kept.
  log.setLogLimit(20);
  for (int i = 0; i < 50; ++i) WriteLog(ErrObject(i, "entry " + std::to_string(i)), "Test/loc", false, true);
  lines = text::split(h.logText(), '\n');
  lines.pop_back();
  EXPECT_LE(lines.size(), 20u);
  EXPECT_GE(lines.size(), 18u);
  EXPECT_NE(lines.back().find("\t49\tentry 49\tTest/loc"), std::string::npos);
  log.setLogLimit(3000);
  // A screen-mode failure with the second flag false reaches the user; silent mode only records.
  WriteLog(ErrObject(3022, "重複"), "frmMnt/x", false, false);
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].text.find("重複"), std::string::npos);
  G().gSilent = "1";
  WriteLog(ErrObject(3022, "重複"), "frmMnt/x", false, false);
  EXPECT_EQ(h.messages.size(), 1u);
}

TEST(Helpers, GeneralHelpers) {
  EXPECT_EQ(ToYear4Date("050312"), "20050312");
  EXPECT_EQ(ToYear4Date("791231"), "20791231");
  EXPECT_EQ(ToYear4Date("800101"), "19800101");
  EXPECT_EQ(ValueOr(std::nullopt, "x"), "x");
  EXPECT_EQ(ValueOr(std::string(""), "x"), "x");
  EXPECT_EQ(ValueOr(std::string("a"), "x"), "a");
  EXPECT_EQ(StageMark("1") + StageMark("2") + StageMark("3") + StageMark("4") + StageMark("5") + StageMark(""), "登確前直");
  EXPECT_EQ(NameHead("武　豊"), "武　");
  EXPECT_EQ(NameHead("武豊"), "武豊");
  EXPECT_EQ(AddPathSep("/a/b"), "/a/b/");
  EXPECT_EQ(AddPathSep("/a/b//"), "/a/b/");
  EXPECT_EQ(SplitFileList(std::string("/dir\0a.lzh\0b.lzh", 16)), (std::vector<std::string>{"/dir/a.lzh", "/dir/b.lzh"}));
  EXPECT_EQ(SplitFileList("/dir/a.lzh"), std::vector<std::string>{"/dir/a.lzh"});
  EXPECT_GT(DriveFreeMB("/tmp"), 0);
  TestHome h;
  WriteFileBytes(h.work + "A.LZH", "");
  WriteFileBytes(h.work + "b.lzh", "");
  WriteFileBytes(h.work + "c.txt", "");
  EXPECT_EQ(CountFiles(h.work + "*.lzh"), 2);
  MoveFileOver(h.work + "c.txt", h.work + "b.lzh");
  EXPECT_EQ(CountFiles(h.work + "*.*"), 2);
  EXPECT_TRUE(MakeDirAll(h.work + "x/y/z"));
}

TEST(Text, ShiftJisCodec) {
  std::string s = "馬名ｱｲｳ ABC①髙";
  std::string sj = text::encodeCp932(s);
  EXPECT_EQ(text::decodeCp932(sj), s);
  std::string out;
  EXPECT_FALSE(text::decodeCp932(std::string("\x82\xa0\x81", 3), out));  // a lead byte at the end
  EXPECT_NE(out.find("\xEF\xBF\xBD"), std::string::npos);                // U+FFFD
  EXPECT_EQ(text::foldName("Ｓデータ管理"), text::foldName("sデータ管理"));
  EXPECT_EQ(text::foldName("コーナー順位１"), "コーナー順位1");
  EXPECT_EQ(text::headChars("馬名です", 2), "馬名");
  EXPECT_EQ(text::charCount("馬a"), 2u);
}
