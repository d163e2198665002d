// Catalogue addresses, the fetch screens against a real HTTP server on
// 127.0.0.1, the newest-file fetch and the automatic screen in this process.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <fstream>
#include <memory>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "screens/frmgetauto.h"
#include "download/httpfetch.h"
#include "download/latest.h"
#include "startup/settings.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
using velmo::test::Route;
using velmo::test::TestHttpServer;

namespace {

const std::string kHost = "http://www.kova.example/";

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    home = std::make_unique<TestHome>();
    server = std::make_unique<TestHttpServer>("member", "pass1234");
    std::ofstream ini(home->config + "kova.ini");
    ini << "[main]\r\nKovaHost=" << server->base() << "\r\n";
    G().gUserID = "member";
    G().gPasswd = "pass1234";
  }
  void catalogue(const std::string& id, const std::string& address, const char* listFile) {
    std::string lf = listFile ? "'" + std::string(listFile) + "'" : "NULL";
    home->sqlite("kova_this.mdb", "insert or replace into Sデータ管理 (データID, サーバアドレス, リストファイル) values ('" + id +
                                      "', '" + address + "', " + lf + ");");
  }
  // Fetches a path of the default host with the download screen.
  void fetch(const std::string& path, const std::string& name, frmGetInt* screen = nullptr) {
    G().gDataURL = kHost + path;
    G().gDataPath = G().gDwnDir + name;
    if (screen) screen->exec();
    else ShowFetchScreen();
  }
  std::vector<std::string> downloadFolder() const { return ListFiles(G().gDwnDir + "*"); }
  std::unique_ptr<TestHome> home;
  std::unique_ptr<TestHttpServer> server;
};

std::string archiveBytes(const std::string& kind, const std::string& folder) {
  fixture::RaceDay day;
  return ReadFileBytes(fixture::WriteDayArchives(folder, {kind}, day).at(0));
}

}  // namespace

TEST(Catalogue, NamesDatesAndAddresses) {
  struct {
    const char* id;
    const char* name;
  } names[] = {{"KYC", "KYC050312.lzh"}, {"TYRT", "TY050312.lzh"}, {"TYAR", "TYA050312.lzh"},
               {"TYBR", "TYB050312.lzh"}, {"TYB", "TYB050312.lzh"},  {"TY", "TY050312.lzh"}};
  for (const auto& c : names) EXPECT_EQ(ArchiveName(c.id, "20050312"), c.name) << c.id;

  EXPECT_EQ(ListLineDate("KYC690101.lzh"), "20690101");
  EXPECT_EQ(ListLineDate("KYC700101.lzh"), "19700101");
  EXPECT_EQ(ListLineDate("TY050312.lzh"), "20050312");
  EXPECT_EQ(ListLineDate(".lzh"), "");

  EXPECT_EQ(UrlParent("http://h/data/kyc/"), "http://h/data/");
  EXPECT_EQ(UrlParent("http://h/data/kyc"), "http://h/data/");
  EXPECT_EQ(UrlParent("kyc/"), "");

  EXPECT_EQ(AltHostUrl("http://www.kova.com/a.com/x", "user@mail"), "http://www.kova.jp/a.jp/x");
  EXPECT_EQ(AltHostUrl("http://www.kova.com/x", "user"), "http://www.kova.com/x");

  for (const char* bad : {"", ".", "..", "../x.lzh", "a/b.lzh", "a\\b.lzh"}) EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  EXPECT_TRUE(IsPlainFileName("KYC050312.lzh"));
}

// A member ID with "@" sends a catalogue address to the ".jp" host; a host set in
// kova.ini is used as written, whatever the ID.
TEST(Catalogue, AnAtInTheUserIdNeverMovesAConfiguredHost) {
  TestHome home;
  const std::string def = kDefaultKovaHost;
  EXPECT_EQ(FetchAddress("http://www.kova.com/member/x.lzh", "user@mail"), "http://www.kova.jp/member/x.lzh");
  EXPECT_EQ(FetchAddress("http://www.kova.com/member/x.lzh", "user"), "http://www.kova.com/member/x.lzh");
  EXPECT_EQ(FetchAddress(def + "member/x.lzh", "user@mail"), def + "member/x.lzh");
  ASSERT_TRUE(SetIni("main", "KovaHost", "http://mirror.com:8080/velmo"));
  for (const char* id : {"user@mail", "user"}) {
    EXPECT_EQ(FetchAddress(def + "member/kyc/x.lzh", id), "http://mirror.com:8080/velmo/member/kyc/x.lzh") << id;
    EXPECT_EQ(FetchAddress(def + "data/lst/", id), "http://mirror.com:8080/velmo/data/lst/") << id;
  }
}

TEST(Catalogue, LookupOfServerAddressAndListFile) {
  TestHome home;
  home.sqlite("kova_this.mdb",
              "insert or replace into Sデータ管理 (データID, サーバアドレス, リストファイル) values "
              "('KZA', 'http://www.kova.example/data/kza/', 'kza_list.txt'), "
              "('KYC', 'http://www.kova.example/data/kyc/', NULL), "
              "('KYD', 'http://www.kova.example/data/kyd/', '');");
  EXPECT_EQ(getServerAddress("KYC"), "http://www.kova.example/data/kyc/");
  ListInfo kza = getListInfo("KZA");
  EXPECT_EQ(kza.listFile, "kza_list.txt");
  EXPECT_EQ(kza.listAddress, "http://www.kova.example/data/lst/");
  EXPECT_EQ(getListInfo("KYC").listFile, "");  // Null: no list file
  EXPECT_EQ(getListInfo("KYD").listFile, "");
  // A data ID without a row, also one with a quote in it, is the missing-row error.
  for (const char* id : {"XXX", "K'YC"}) {
    try {
      getServerAddress(id);
      ADD_FAILURE() << id;
    } catch (const VelmoError& e) {
      EXPECT_EQ(e.number(), err::NoCurrentRecord) << id << " " << e.description();
    }
  }
}

TEST_F(DownloadTest, SavesTheBodyAndLogsEveryStage) {
  std::string bytes = archiveBytes("BAB", home->work);
  server->routes["/data/bab/BAB050312.lzh"] = {bytes};
  frmGetInt screen;
  fetch("data/bab/BAB050312.lzh", "BAB050312.lzh", &screen);
  EXPECT_EQ(G().gFetchResult, 1);
  EXPECT_EQ(ReadFileBytes(G().gDwnDir + "BAB050312.lzh"), bytes);
  EXPECT_TRUE(home->messages.empty());
  EXPECT_EQ(screen.LblDataURL->text().toStdString(), server->base() + "data/bab/BAB050312.lzh");
  const std::string& log = screen.progressLog();
  size_t at = 0;
  for (int s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}) {
    size_t p = log.find("] " + InetStateText(s), at);
    ASSERT_NE(p, std::string::npos) << "state " << s << " missing or out of order:\n" << log;
    at = p;
  }
  std::string tail = log.substr(log.rfind(InetStateText(12)) + InetStateText(12).size());
  EXPECT_NE(tail.find("\r\nHTTP/1.1 200\r\n["), std::string::npos) << tail;
  EXPECT_TRUE(text::endsWith(tail, "] BAB050312.lzh " + std::to_string(bytes.size()) + "バイト")) << tail;
}

TEST_F(DownloadTest, LengthHeaderInAnyCaseOrNoneAtAll) {
  struct {
    const char* name;
    Route route;
  } cases[] = {{"lower-case header", {"0123456789", 200, false, true}},
               {"no length", {"0123456789", 200, true}}};
  for (const auto& c : cases) {
    server->routes["/f/a.lzh"] = c.route;
    G().gFetchResult = 99;
    fetch("f/a.lzh", "a.lzh");
    EXPECT_EQ(G().gFetchResult, 1) << c.name;
    EXPECT_EQ(ReadFileBytes(G().gDwnDir + "a.lzh"), "0123456789") << c.name;
    std::remove((G().gDwnDir + "a.lzh").c_str());
  }
  EXPECT_TRUE(home->messages.empty());
}

TEST_F(DownloadTest, FailuresGiveTheirMessageAndLeaveNoFile) {
  struct Case {
    const char* name;
    Route route;
    const char* password;
    int result;
    const char* message;
    const char* logText;
  } cases[] = {
      {"wrong password", {"abc"}, "wrong", -1, "ユーザＩＤ，あるいは、パスワードが無効です。", nullptr},
      {"missing", {}, nullptr, -2, "指定されたデータはありません。", "指定されたデータはありません。[KYC050312.lzh]\t"},
      {"zero length", {""}, nullptr, -1, "データ受信が正常でありません", "ダウンロード失敗[KYC050312.lzh]\t"},
      {"body shorter than its length", {"abc", 200, false, false, 500}, nullptr, -1, "データ受信が正常でありません",
       "ダウンロード失敗[KYC050312.lzh]\t"},
      {"server error page", {"<html>oops</html>", 500}, nullptr, -1, "データ受信が正常でありません", nullptr},
  };
  for (const auto& c : cases) {
    server->routes.clear();
    if (std::string(c.name) != "missing") server->routes["/data/kyc/KYC050312.lzh"] = c.route;
    G().gPasswd = c.password ? c.password : "pass1234";
    home->messages.clear();
    fetch("data/kyc/KYC050312.lzh", "KYC050312.lzh");
    EXPECT_EQ(G().gFetchResult, c.result) << c.name;
    ASSERT_EQ(home->messages.size(), 1u) << c.name;
    EXPECT_EQ(home->messages[0].text, c.message) << c.name;
    if (c.logText) {
      EXPECT_NE(home->logText().find(std::string(c.logText) + "frmGetInt"), std::string::npos) << c.name;
    }
    EXPECT_TRUE(downloadFolder().empty()) << c.name;
  }
}

TEST_F(DownloadTest, CommunicationErrorShowsTheErrorCode) {
  int port;
  {
    TestHttpServer gone("member", "pass1234");
    port = gone.port();
  }
  std::ofstream(home->config + "kova.ini") << "[main]\r\nKovaHost=http://127.0.0.1:" << port << "/\r\n";
  fetch("data/kyc/KYC050312.lzh", "KYC050312.lzh");
  EXPECT_EQ(G().gFetchResult, -1);
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_TRUE(text::startsWith(home->messages[0].text, "ErrorCode: ")) << home->messages[0].text;
  EXPECT_TRUE(downloadFolder().empty());
}

TEST_F(DownloadTest, CancelDuringTheTransferWritesNothing) {
  server->routes["/data/kyc/KYC050312.lzh"] = {std::string(40000, 'x'), 200, false, false, -1, 500, 50};
  frmGetInt screen;
  bool clicked = false;
  QObject::connect(screen.Inet2, &HttpFetch::received, &screen, [&](long long n) {
    if (n > 0 && !clicked) {
      clicked = true;
      screen.Command2->click();
    }
  });
  G().gFetchResult = 99;
  fetch("data/kyc/KYC050312.lzh", "KYC050312.lzh", &screen);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(G().gFetchResult, 0);
  EXPECT_TRUE(downloadFolder().empty());
  EXPECT_TRUE(home->messages.empty());
}

TEST_F(DownloadTest, MemberOfTheAlternativeHost) {
  G().gUserID = "member@mail";
  server = std::make_unique<TestHttpServer>("member@mail", "pass1234");
  std::ofstream(home->config + "kova.ini") << "[main]\r\nKovaHost=" << server->base() << "\r\n";
  server->routes["/kova.jp/KYC050312.lzh"] = {"lzh"};
  frmGetInt screen;
  fetch("kova.com/KYC050312.lzh", "KYC050312.lzh", &screen);
  EXPECT_EQ(G().gFetchResult, 1);
  EXPECT_EQ(screen.LblDataURL->text().toStdString(), server->base() + "kova.jp/KYC050312.lzh");
}

TEST_F(DownloadTest, NewestFileFetchesOnlyTheLastListLine) {
  catalogue("KZA", kHost + "data/kza/", "kza_list.txt");
  server->routes["/data/lst/kza_list.txt"] = {"KZA050305.lzh\r\nKZA050306.lzh\r\nKZA050312.lzh\r\n"};
  for (const char* n : {"KZA050305.lzh", "KZA050306.lzh", "KZA050312.lzh"})
    server->routes["/data/kza/" + std::string(n)] = {std::string("archive ") + n};
  EXPECT_EQ(getNewFile("KZA"), 0);
  EXPECT_EQ(server->requests, (std::vector<std::string>{"/data/lst/kza_list.txt", "/data/kza/KZA050312.lzh"}));
  EXPECT_EQ(ReadFileBytes(G().gDwnDir + "KZA050312.lzh"), "archive KZA050312.lzh");
  EXPECT_NE(home->logText().find("最新ファイルダウンロード処理完了[KZA050312.lzh]\tfrmMnt/getNewFile"), std::string::npos);
}

TEST_F(DownloadTest, NewestFileWithoutListOrWithABadList) {
  catalogue("KYC", kHost + "data/kyc/", nullptr);
  G().gFetchResult = 7;
  EXPECT_EQ(getNewFile("KYC"), 0);  // no list file: nothing fetched
  EXPECT_EQ(G().gFetchResult, 7);
  EXPECT_TRUE(server->requests.empty());

  catalogue("KZA", kHost + "data/kza/", "kza_list.txt");
  EXPECT_EQ(getNewFile("KZA"), -1);  // the list is missing on the host
  EXPECT_NE(home->logText().find("ダウンロードエラー[]\tfrmMnt/getNewFile"), std::string::npos);

  // A list line that names a path is not used as a local file name.
  server->routes["/data/lst/kza_list.txt"] = {"KZA050305.lzh\r\n../../escape.lzh\r\n"};
  server->requests.clear();
  EXPECT_EQ(getNewFile("KZA"), -1);
  EXPECT_EQ(server->requests, (std::vector<std::string>{"/data/lst/kza_list.txt"}));
  // The closing entry keeps the number of the error that ended the fetch.
  EXPECT_NE(home->logText().find("\t" + std::to_string(err::InvalidArgument) +
                                 "\tダウンロードエラー[../../escape.lzh]\tfrmMnt/getNewFile"),
            std::string::npos);
  EXPECT_FALSE(FileExists(home->program + "escape.lzh"));
}

TEST_F(DownloadTest, SingleNamedFile) {
  server->routes["/data/lst/datacheckD.txt"] = {"check"};
  EXPECT_EQ(subFileDownload(kHost + "data/lst/", "datacheckD.txt"), 0);
  EXPECT_EQ(ReadFileBytes(G().gDwnDir + "datacheckD.txt"), "check");
  EXPECT_EQ(subFileDownload(kHost + "data/lst/", "datachgKZ.txt"), -1);
  EXPECT_NE(home->logText().find("ダウンロードエラー[datachgKZ.txt]\tfrmMnt/subFileDownload"), std::string::npos);
}

// ---- the exchange without a window ------------------------------------------------------

TEST_F(DownloadTest, WithoutWindowSavesStallsCancelsAndReportsWriteFailures) {
  G().gStallSeconds = 1;
  server->routes["/f/a.lzh"] = {std::string(300000, 'a')};
  // A server that answers the header and then sends nothing for long.
  server->routes["/f/stall.lzh"] = {std::string(100, 's'), 200, false, false, -1, 10, 20000};
  G().gDataURL = kHost + "f/a.lzh";
  G().gDataPath = G().gDwnDir + "a.lzh";
  EXPECT_EQ(FetchWithoutWindow(), 1);
  EXPECT_EQ(ReadFileBytes(G().gDwnDir + "a.lzh"), std::string(300000, 'a'));
  std::remove(G().gDataPath.c_str());

  QElapsedTimer t;
  t.start();
  G().gDataURL = kHost + "f/stall.lzh";
  G().gDataPath = G().gDwnDir + "stall.lzh";
  EXPECT_EQ(FetchWithoutWindow(), -1);
  EXPECT_LT(t.elapsed(), 8000);
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_NE(home->messages[0].text.find("1秒間ありません"), std::string::npos) << home->messages[0].text;
  EXPECT_NE(home->logText().find("ダウンロード失敗[stall.lzh]"), std::string::npos);
  EXPECT_TRUE(downloadFolder().empty());

  // A cancel ends the fetch at once, also while the server stalls.
  G().gStallSeconds = 60;
  home->messages.clear();
  t.restart();
  EXPECT_EQ(FetchWithoutWindow([&]() { return t.elapsed() > 300; }), 0);
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_TRUE(home->messages.empty());
  EXPECT_TRUE(downloadFolder().empty());

  // The destination cannot be written: a failure, never a saved file.
  G().gDataURL = kHost + "f/a.lzh";
  G().gDataPath = home->work + "missing/a.lzh";
  EXPECT_EQ(FetchWithoutWindow(), -1);
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_NE(home->messages[0].text.find("ファイルを書き込めません"), std::string::npos) << home->messages[0].text;
  EXPECT_FALSE(FileExists(G().gDataPath));
}

TEST_F(DownloadTest, StalledServerInTheSilentModeIsLoggedWithItsReason) {
  G().gStallSeconds = 1;
  G().gSilent = "1";
  server->routes["/f/stall.lzh"] = {std::string(100, 's'), 200, false, false, -1, 10, 20000};
  G().gDataURL = kHost + "f/stall.lzh";
  G().gDataPath = G().gDwnDir + "stall.lzh";
  frmGetAuto screen;
  screen.exec();
  EXPECT_EQ(G().gFetchResult, -1);
  EXPECT_NE(home->logText().find("1\tインターネット通信エラー\tInet2_StateChanged"), std::string::npos);
  EXPECT_NE(home->logText().find("1秒間ありません"), std::string::npos);
  EXPECT_TRUE(downloadFolder().empty());
  G().gStallSeconds = 60;
}

// ---- the automatic screen (silent mode) -------------------------------------------------

class AutoScreenTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    G().gSilent = "1";
  }
  void run(const std::string& path, const std::string& name) {
    G().gDataURL = kHost + path;
    G().gDataPath = G().gDwnDir + name;
    frmGetAuto screen;
    screen.exec();
    statusBar = screen.statusText();
    progress = screen.progressLog();
  }
  long rows(const std::string& table) { return std::stol(home->sqlite("kova_this.mdb", "select count(*) from " + table + ";")); }
  std::string statusBar, progress;
};

TEST_F(AutoScreenTest, RegistersTheArchiveAndFilesIt) {
  server->routes["/data/bab/BAB050312.lzh"] = {archiveBytes("BAB", home->work)};
  G().gDownOnly = 0;
  run("data/bab/BAB050312.lzh", "BAB050312.lzh");
  EXPECT_EQ(G().gFetchResult, 1);
  EXPECT_EQ(rows("T番組データ"), 36);
  EXPECT_TRUE(FileExists(home->lzhDir + "BAB050312.lzh"));
  EXPECT_TRUE(downloadFolder().empty());
  EXPECT_EQ(statusBar, "BAB050312.lzhを取り込み完了しました(1件)");
  EXPECT_TRUE(text::startsWith(progress, "状態表示\r\n"));
  EXPECT_TRUE(text::endsWith(progress, "バイト\r\nダウンロード完了"));
  EXPECT_NE(home->logText().find("ダウンロード完了\tInet2_StateChanged"), std::string::npos);
  EXPECT_TRUE(home->messages.empty());
}

TEST_F(AutoScreenTest, DownloadOnlyFilesWithoutRegistering) {
  server->routes["/data/bab/BAB050312.lzh"] = {archiveBytes("BAB", home->work)};
  G().gDownOnly = 1;
  run("data/bab/BAB050312.lzh", "BAB050312.lzh");
  EXPECT_EQ(G().gFetchResult, 1);
  EXPECT_EQ(rows("T番組データ"), 0);
  EXPECT_TRUE(FileExists(home->lzhDir + "BAB050312.lzh"));
  EXPECT_EQ(home->logText().find("regMainKOVA開始"), std::string::npos);
}

TEST_F(AutoScreenTest, FailuresAreLoggedWithoutMessages) {
  struct Case {
    const char* name;
    bool route;
    Route r;
    const char* password;
    int result;
    const char* logText;
  } cases[] = {
      {"missing", false, {}, nullptr, -2, "指定されたデータはありません。[BAB050312.lzh]\tInet2_StateChanged"},
      {"wrong password", true, {"x"}, "bad", -1, "ユーザＩＤ，あるいは、パスワードが無効です。\tInet2_StateChanged"},
      {"zero length", true, {""}, nullptr, -1, "1\tデータ受信が正常でありません\tInet2_StateChanged"},
      {"body shorter than its length", true, {"abc", 200, false, false, 99}, nullptr, -1,
       "1\tデータ受信が正常でありません\tInet2_StateChanged"},
  };
  for (const auto& c : cases) {
    server->routes.clear();
    if (c.route) server->routes["/data/bab/BAB050312.lzh"] = c.r;
    G().gPasswd = c.password ? c.password : "pass1234";
    run("data/bab/BAB050312.lzh", "BAB050312.lzh");
    EXPECT_EQ(G().gFetchResult, c.result) << c.name;
    EXPECT_NE(home->logText().find(c.logText), std::string::npos) << c.name << "\n" << home->logText();
    EXPECT_TRUE(downloadFolder().empty()) << c.name;
    EXPECT_TRUE(ListFiles(home->lzhDir + "*").empty()) << c.name;
  }
  EXPECT_TRUE(home->messages.empty());
}

// ---- the limits of a fetch ----------------------------------------------------------------

TEST_F(DownloadTest, ATrickleThatNeverStallsEndsAtTheTimeLimit) {
  // One byte every 1.5 s never trips a 2 s stall; six bytes would take 9 s.
  G().gStallSeconds = 2;
  G().gFetchMinRate = 4 << 10;
  server->routes["/f/trickle.lzh"] = {std::string(6, 't'), 200, false, false, -1, 1, 1500};
  G().gDataURL = kHost + "f/trickle.lzh";
  G().gDataPath = G().gDwnDir + "trickle.lzh";
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(FetchWithoutWindow(), -1);
  EXPECT_GE(t.elapsed(), 3500);  // twice the stall time plus six bytes at 4 KB/s
  EXPECT_LT(t.elapsed(), 7500);
  ASSERT_EQ(home->messages.size(), 1u);
  EXPECT_NE(home->messages[0].text.find("制限時間(4秒)を超えました"), std::string::npos) << home->messages[0].text;
  EXPECT_NE(home->logText().find("ダウンロード失敗[trickle.lzh]"), std::string::npos);
  EXPECT_TRUE(downloadFolder().empty());
  G().gStallSeconds = 60;
}

TEST_F(DownloadTest, AFileAboveItsSizeLimitIsRefusedWhileItArrives) {
  G().gListFileLimit = 4000;
  G().gUnpackEntryLimit = 20000;
  struct Case {
    const char* name;
    Route route;
    int result;
  };
  const std::vector<Case> cases = {
      {"kyclist.txt", {std::string(3000, 'l')}, 1},                              // within the list limit
      {"kyclist.txt", {std::string(5000, 'l')}, -1},                             // a list above it
      {"datacheckD.txt", {std::string(9000, 'c'), 200, true}, -1},               // no length: counted as it comes
      {"KYC050312.lzh", {std::string(9000, 'a')}, 1},                            // an archive has the larger limit
      {"KYC050312.lzh", {std::string(30000, 'a')}, -1},                          // above the archive limit
      {"KYC050312.lzh", {std::string(100, 'a'), 200, false, false, 1LL << 40}, -1},  // refused at the header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.route.body.size()));
    server->routes[std::string("/f/") + c.name] = c.route;
    home->messages.clear();
    G().gDataURL = kHost + "f/" + c.name;
    G().gDataPath = G().gDwnDir + c.name;
    EXPECT_EQ(FetchWithoutWindow(), c.result);
    if (c.result == 1) {
      EXPECT_EQ(ReadFileBytes(G().gDataPath), c.route.body);
      std::remove(G().gDataPath.c_str());
    } else {
      ASSERT_EQ(home->messages.size(), 1u);
      EXPECT_NE(home->messages[0].text.find("ファイルが大きすぎます"), std::string::npos) << home->messages[0].text;
    }
    EXPECT_TRUE(downloadFolder().empty());
  }
  // A list file already on disk above the limit is refused before it is read.
  WriteFileBytes(home->work + "big.txt", std::string(5000, '\n'));
  EXPECT_THROW(ReadListFile(home->work + "big.txt"), VelmoError);
  G().gListFileLimit = 16LL << 20;
  G().gUnpackEntryLimit = 512LL << 20;
}
