// The silent mode end to end, as a parent runs it: the velmo executable with the
// three words and a pipe on its standard input, fetching from a local server.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <memory>

#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::Route;
using velmo::test::TestHome;
using velmo::test::TestHttpServer;

namespace {

class SilentMode : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    home = std::make_unique<TestHome>();
    server = std::make_unique<TestHttpServer>("member", "pass1234");
    std::ofstream ini(home->config + "kova.ini");
    ini << "[main]\r\nLzhDir=" << home->lzhDir << "\r\nDBDir=" << home->dbDir
        << "\r\nUserID=member\r\nPasswd=pass1234\r\nKovaHost=" << server->base() << "\r\n";
    ini.close();
    home->sqlite("kova_this.mdb",
                 "insert or replace into Sデータ管理 (データID, サーバアドレス, リストファイル) values "
                 "('BAB', 'http://www.kova.example/data/bab/', NULL), "
                 "('KYC', 'http://www.kova.example/data/kyc/', NULL), "
                 "('TYRT', 'http://www.kova.example/data/ty/', NULL);");
  }

  // Starts velmo with the words; stdin is a pipe unless noPipe. Returns the exit
  // code (-1 when it did not end in time).
  int runVelmo(const QStringList& words, bool noPipe = false) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMO_HOME", QString::fromStdString(home->program));
    env.insert("VELMO_CONFIG_DIR", QString::fromStdString(home->config));
    // As under a scheduler: no display; the program picks the offscreen platform itself.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    proc = std::make_unique<QProcess>();
    proc->setProcessEnvironment(env);
    if (noPipe) proc->setStandardInputFile(QProcess::nullDevice());
    proc->start(QString::fromStdString(test::BuildHome() + "velmo"), words);
    if (!proc->waitForStarted(10000)) return -1;
    bool ended = test::PumpUntil([&]() { return proc->state() == QProcess::NotRunning; }, 60000);
    if (!ended) {
      proc->kill();
      proc->waitForFinished(5000);
      return -1;
    }
    return proc->exitStatus() == QProcess::NormalExit ? proc->exitCode() : -1;
  }

  long rows(const std::string& table) {
    return std::stol(home->sqlite("kova_this.mdb", "select count(*) from " + table + ";"));
  }
  std::string dayArchive(const std::string& kind) {
    fixture::RaceDay day;
    return ReadFileBytes(fixture::WriteDayArchives(home->work, {kind}, day).at(0));
  }
  bool logHas(const std::string& s) const { return home->logText().find(s) != std::string::npos; }

  std::unique_ptr<TestHome> home;
  std::unique_ptr<TestHttpServer> server;
  std::unique_ptr<QProcess> proc;
};

}  // namespace

TEST_F(SilentMode, FetchesRegistersAndFilesTheArchive) {
  server->routes["/data/bab/BAB050312.lzh"] = {dayArchive("BAB")};
  WriteFileBytes(G().gDwnDir + "BAB050305.lzh", "left by an earlier run");
  EXPECT_EQ(runVelmo({"BAB", "0", "20050312"}), 0);
  EXPECT_EQ(rows("T番組データ"), 36);
  EXPECT_TRUE(FileExists(home->lzhDir + "BAB050312.lzh"));
  EXPECT_FALSE(FileExists(home->lzhDir + "BAB050305.lzh"));  // deleted before the fetch
  EXPECT_TRUE(ListFiles(G().gDwnDir + "*.lzh").empty());
  EXPECT_TRUE(logHas("サイレントモードSTART"));
  EXPECT_TRUE(logHas("正常終了（サイレントモード）"));
}

TEST_F(SilentMode, KycArchiveIsFetchedFromItsCatalogueAddress) {
  std::string bytes;
  bool generated = true;
  try {
    bytes = dayArchive("KYC");
  } catch (const std::exception&) {
    generated = false;
    fixture::WriteLzh(home->work + "KYC050312.lzh", {{"KYC050312.txt", "\r\n"}});
    bytes = ReadFileBytes(home->work + "KYC050312.lzh");
  }
  server->routes["/data/kyc/KYC050312.lzh"] = {bytes};
  EXPECT_EQ(runVelmo({"KYC", "0", "20050312"}), 0);
  EXPECT_EQ(server->requests, (std::vector<std::string>{"/data/kyc/KYC050312.lzh"}));
  EXPECT_TRUE(FileExists(home->lzhDir + "KYC050312.lzh"));
  const DispatchRow* row = DispatchFor("KYC050312.txt");
  if (generated && row && row->action) {
    EXPECT_TRUE(logHas("データ読込完了[" + home->program + "dwn/KYC050312.lzh]"));
    EXPECT_FALSE(logHas("エラーファイル[")) << home->logText();
  }
}

TEST_F(SilentMode, DownloadOnlyFilesTheArchiveUnregistered) {
  fixture::WriteLzh(home->work + "TY050312.lzh", {{"TY050312.txt", "not registered\r\n"}});
  server->routes["/data/ty/TY050312.lzh"] = {ReadFileBytes(home->work + "TY050312.lzh")};
  // Standard input that is not a pipe: no cancel is ever seen, the run goes to its end.
  EXPECT_EQ(runVelmo({"TYRT", "1", "20050312"}, true), 0);
  EXPECT_TRUE(FileExists(home->lzhDir + "TY050312.lzh"));
  EXPECT_FALSE(logHas("regMainKOVA開始"));
  EXPECT_TRUE(logHas("正常終了（サイレントモード）"));
}

TEST_F(SilentMode, EndFromTheParentStopsTheFetch) {
  Route slow{dayArchive("BAB")};
  slow.chunk = 200;
  slow.delayMs = 100;
  server->routes["/data/bab/BAB050312.lzh"] = slow;
  server->onSlowSend = [this](const std::string&) { proc->write("END"); };
  EXPECT_EQ(runVelmo({"BAB", "0", "20050312"}), 0);
  EXPECT_EQ(rows("T番組データ"), 0);
  EXPECT_TRUE(ListFiles(home->lzhDir + "*").empty());
  EXPECT_TRUE(ListFiles(G().gDwnDir + "*").empty());
  EXPECT_TRUE(logHas("Canselを受信しました"));
  EXPECT_FALSE(logHas("正常終了（サイレントモード）"));
}

TEST_F(SilentMode, FailuresAreLoggedAndLeaveNoFile) {
  fixture::WriteLzh(home->work + "ok.lzh", {{"BAB050312.txt", "x"}});
  std::string cut = ReadFileBytes(home->work + "ok.lzh");
  cut.resize(cut.size() - 3);
  struct {
    QStringList words;
    int code;  // the exit code the parent sees
    const char* logText;
    Route route;
  } cases[] = {
      {{"BAB", "0", "20050312"}, 3, "指定されたデータはありません。[BAB050312.lzh]\tInet2_StateChanged", {}},
      {{"BAB", "0", "20050312"}, 1, "データ受信が正常でありません\tInet2_StateChanged", {"<html>oops</html>", 500}},
      {{"BAB", "0", "20050312"}, 1, "解凍できないため登録しません。", {cut}},
      {{"XXX", "0", "20050312"}, 1, "異常終了\tMain", {}},
      {{"BAB", "x", "20050312"}, 1, "異常終了\tMain", {}},
      {{"BAB", "0", "20/../xy"}, 1, "異常終了\tMain", {}},
      {{"BAB", "0"}, 2, "起動パラメータが正しくないため終了します", {}},
  };
  for (const auto& c : cases) {
    std::remove((home->program + "VelmoLog.dat").c_str());
    server->routes.clear();
    if (!c.route.body.empty()) server->routes["/data/bab/BAB050312.lzh"] = c.route;
    int code = runVelmo(c.words);
    EXPECT_EQ(code, c.code) << c.logText;
    EXPECT_FALSE(logHas("正常終了（サイレントモード）")) << c.logText;
    EXPECT_TRUE(logHas(c.logText)) << c.logText << "\n" << home->logText();
    // Never filed as if it were done; an archive that did not unpack stays in
    // the download folder until the next run clears it.
    EXPECT_TRUE(ListFiles(home->lzhDir + "*").empty()) << c.logText;
    for (const auto& f : ListFiles(G().gDwnDir + "*")) {
      EXPECT_EQ(c.code == 1 && c.route.status == 200, true) << f << " " << c.logText;
      std::remove((G().gDwnDir + f).c_str());
    }
  }
  EXPECT_EQ(rows("T番組データ"), 0);
}

TEST_F(SilentMode, UndecodablePasswordIsAClearErrorWithoutAWindow) {
  std::ofstream ini(home->config + "kova.ini");
  ini << "[main]\r\nLzhDir=" << home->lzhDir << "\r\nDBDir=" << home->dbDir << "\r\nUserID=member\r\nPasswd=#1\r\n";
  ini.close();
  EXPECT_EQ(runVelmo({"BAB", "0", "20050312"}), 1);
  EXPECT_TRUE(logHas("パスワード(Passwd)を復元できません"));
  EXPECT_NE(proc->readAllStandardError().toStdString().find("Passwd"), std::string::npos);
  // velmo-cli says the same and ends with 1, without an uncaught exception.
  std::string cmd = "VELMO_HOME=" + home->program + " VELMO_CONFIG_DIR=" + home->config + " " + test::BuildHome() +
                    "velmo-cli register " + home->work + "x.lzh 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  int rc = p ? pclose(p) : -1;
  EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 1);
  EXPECT_NE(out.find("Passwd"), std::string::npos) << out;
}
