// The unattended update: kinds from the catalogue, list files and ranges,
// registration order, filing, counts and exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/func.h"
#include "common/globals.h"
#include "download/update.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

const std::string kHost = "http://www.kova.example/";

// Serves files by path on the default host: missing ones are not found, a
// body "FAIL" fails the fetch.
class FakeHost {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> requests;
  int operator()() {
    std::string path = G().gDataURL.substr(kHost.size());
    requests.push_back(path);
    auto it = files.find(path);
    if (it == files.end()) return G().gFetchResult = -2;
    if (it->second == "FAIL") return G().gFetchResult = -1;
    WriteFileBytes(G().gDataPath, it->second);
    return G().gFetchResult = 1;
  }
};

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    day.courses = {"06"};
    day.races = 2;
    day.runners = 4;
    host.files["member/lst/seclist.txt"] = "SEC050305.lzh\r\nSEC050312.lzh\r\nSEC050313.lzh\r\n";
    host.files["member/sec/SEC050305.lzh"] = ReadFileBytes(fixture::WriteDayArchives(h.work, {"SEC"}, old()).at(0));
    host.files["member/sec/SEC050312.lzh"] = ReadFileBytes(fixture::WriteDayArchives(h.work, {"SEC"}, day).at(0));
    host.files["member/sec/SEC050313.lzh"] = "LZH? no, just some bytes";
    host.files["member/lst/kovalist.txt"] = "KOVA050312.lzh\n";
    host.files["member/kova/KOVA050312.lzh"] = ReadFileBytes(fixture::WritePackArchive(h.work, {"KYG", "UKC"}, day));
  }
  fixture::RaceDay old() const {
    fixture::RaceDay d = day;
    d.date = "20050305";
    return d;
  }
  UpdateSummary run(const std::string& from, const std::string& to, bool downloadOnly = false) {
    UpdateRequest r;
    r.kinds = {"SEC", "KOVA", "TYBR"};
    r.from = from;
    r.to = to;
    r.downloadOnly = downloadOnly;
    return RunUpdate(r, NullCommandUi(), [this] { return host(); });
  }
  TestHome h;
  FakeHost host;
  fixture::RaceDay day;
};

}  // namespace

TEST(UpdateKinds, TheModesUsualSetInCatalogueOrder) {
  TestHome h;
  auto t = UpdateKinds("T");
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.front(), "KOVA");
  EXPECT_NE(std::find(t.begin(), t.end(), "TYBR"), t.end());
  EXPECT_EQ(std::find(t.begin(), t.end(), "BAB"), t.end());  // a single kind, not the usual set
  auto d = UpdateKinds("D");
  EXPECT_EQ(std::find(d.begin(), d.end(), "TYBR"), d.end());  // this week only
  EXPECT_NE(std::find(d.begin(), d.end(), "SEC"), d.end());

  for (const char* good : {"20050312", "20000229", "20261231"}) EXPECT_TRUE(IsDate8(good)) << good;
  for (const char* bad : {"2005031", "20050230", "2005-03-1", "20051301", ""}) EXPECT_FALSE(IsDate8(bad)) << bad;
}

TEST_F(UpdateTest, RegistersTheRangePackFirstAndFilesTheArchives) {
  UpdateSummary s = run("20050312", "20050312");
  EXPECT_EQ(s.fetched, 2);
  EXPECT_EQ(s.registered, 2);
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.notFound, 1);  // TYB050312.lzh of the kind without a list file
  EXPECT_GT(s.rows, 8 + 8 + 8);
  EXPECT_EQ(UpdateExitCode(s), 0);
  EXPECT_EQ(host.requests, (std::vector<std::string>{"member/lst/seclist.txt", "member/sec/SEC050312.lzh",
                                                      "member/lst/kovalist.txt", "member/kova/KOVA050312.lzh",
                                                      "member/tybr/TYB050312.lzh"}));
  EXPECT_TRUE(FileExists(h.lzhDir + "SEC050312.lzh"));
  EXPECT_TRUE(FileExists(h.lzhDir + "KOVA050312.lzh"));
  EXPECT_TRUE(ListFiles(G().gDwnDir + "*").empty());
  const std::string log = h.logText();
  EXPECT_LT(log.find("データ登録開始[KOVA050312.lzh]"), log.find("データ登録開始[SEC050312.lzh]"));
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ;"), "8\n");
  EXPECT_TRUE(h.messages.empty());  // nothing asked
  const std::string json = UpdateJson(s);
  EXPECT_EQ(json.rfind("{\"fetched\":2,\"registered\":2,\"failed\":0,\"not_found\":1,\"rows_written\":", 0), 0u) << json;
}

TEST_F(UpdateTest, ABadArchiveFailsTheRunAndIsKeptAside) {
  UpdateSummary s = run("20050313", "20050313");
  EXPECT_EQ(s.fetched, 1);
  EXPECT_EQ(s.registered, 0);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(UpdateExitCode(s), 1);
  EXPECT_FALSE(FileExists(h.lzhDir + "SEC050313.lzh"));
  EXPECT_TRUE(FileExists(G().gDwnDir + "failed/SEC050313.lzh"));

  // A fetch that fails counts as a failure too.
  host.files["member/tybr/TYB050312.lzh"] = "FAIL";
  s = run("20050312", "20050312", true);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(UpdateExitCode(s), 1);
}

TEST_F(UpdateTest, AListedNameThatIsNoArchiveFailsTheRun) {
  host.files["member/lst/seclist.txt"] = "SEC050312.lha\r\n";
  host.files["member/sec/SEC050312.lha"] = host.files["member/sec/SEC050312.lzh"];
  for (bool downloadOnly : {false, true}) {
    SCOPED_TRACE(downloadOnly);
    host.requests.clear();
    UpdateRequest r;
    r.kinds = {"SEC"};
    r.from = r.to = "20050312";
    r.downloadOnly = downloadOnly;
    UpdateSummary s = RunUpdate(r, NullCommandUi(), [this] { return host(); });
    EXPECT_EQ(s.fetched, 0);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(UpdateExitCode(s), 1);
    EXPECT_EQ(host.requests, std::vector<std::string>{"member/lst/seclist.txt"});
    EXPECT_FALSE(FileExists(h.lzhDir + "SEC050312.lha"));
  }
  EXPECT_NE(h.logText().find("[SEC050312.lha]"), std::string::npos);
}

TEST_F(UpdateTest, TheDownloadFoldersOfKilledRunsAreRemoved) {
  // A run that was killed leaves its folder; one of a live process stays.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  const std::string deadDir = G().gDwnDir + "update-" + std::to_string(dead) + "/";
  const std::string liveDir = G().gDwnDir + "update-" + std::to_string(getppid()) + "/";
  for (const auto& d : {deadDir, liveDir}) {
    ASSERT_TRUE(MakeDirAll(d));
    WriteFileBytes(d + "SEC050312.lzh.part", "half");
  }
  run("20050320", "20050320");
  EXPECT_FALSE(FileExists(deadDir + "SEC050312.lzh.part"));
  EXPECT_FALSE(std::filesystem::exists(deadDir));
  EXPECT_TRUE(FileExists(liveDir + "SEC050312.lzh.part"));
  std::filesystem::remove_all(liveDir);
}

TEST_F(UpdateTest, NothingPublishedAndDownloadOnly) {
  UpdateSummary s = run("20050320", "20050321");
  EXPECT_EQ(s.fetched, 0);
  EXPECT_EQ(s.notFound, 2);  // TYB050320.lzh and TYB050321.lzh
  EXPECT_EQ(UpdateExitCode(s), 3);

  s = run("20050301", "20050312", true);
  EXPECT_EQ(s.fetched, 3);
  EXPECT_EQ(s.registered, 0);
  EXPECT_EQ(s.rows, 0);
  EXPECT_EQ(UpdateExitCode(s), 0);
  for (const char* n : {"SEC050305.lzh", "SEC050312.lzh", "KOVA050312.lzh"}) EXPECT_TRUE(FileExists(h.lzhDir + n)) << n;
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ;"), "0\n");
}

namespace {

using test::CliRun;
CliRun runCli(const QStringList& args) { return test::RunCliServing(args); }

}  // namespace

TEST(UpdateCommand, RegistersADayFromTheHostUnattended) {
  test::EnsureQtApp();
  TestHome h;
  test::TestHttpServer server("member", "pass1234");
  fixture::RaceDay day;
  day.courses = {"06", "07"};
  day.races = 3;
  day.runners = 5;
  server.routes["/member/lst/kovalist.txt"].body = "KOVA050305.lzh\r\nKOVA050312.lzh\r\n";
  server.routes["/member/kova/KOVA050312.lzh"].body =
      ReadFileBytes(fixture::WritePackArchive(h.work, {"KYG", "UKC", "ZEC"}, day));
  server.routes["/member/lst/seclist.txt"].body = "SEC050312.lzh\r\n";
  server.routes["/member/sec/SEC050312.lzh"].body = ReadFileBytes(fixture::WriteDayArchives(h.work, {"SEC"}, day).at(0));
  auto ini = [&](const std::string& password) {
    std::ofstream f(h.config + "kova.ini");
    f << "[main]\nDBDir=" << h.dbDir << "\nLzhDir=" << h.lzhDir << "\nUserID=member\nPasswd=" << password
      << "\nKovaHost=" << server.base() << "\n";
  };
  ini("pass1234");

  CliRun r = runCli({"update", "--kinds", "SEC,KOVA,TYBR", "--from", "20050312", "--json"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"fetched\":2,\"registered\":2,\"failed\":0,\"not_found\":1,\"rows_written\":", 0), 0u) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  const long long rows = std::stoll(r.out.substr(r.out.find("rows_written") + 14));
  EXPECT_GT(rows, 30 * 3);  // KYG, UKC and SEC rows at least
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ;"), "30\n");
  EXPECT_TRUE(FileExists(h.lzhDir + "KOVA050312.lzh"));
  EXPECT_TRUE(FileExists(h.lzhDir + "SEC050312.lzh"));
  EXPECT_NE(r.err.find("[1/2] KOVA050312.lzh"), std::string::npos) << r.err;

  // Nothing in the range: exit 3. Wrong credentials: exit 1, nothing registered.
  r = runCli({"update", "--kinds", "SEC", "--from", "20050319", "--to", "20050320", "--json"});
  EXPECT_EQ(r.rc, 3) << r.err;
  EXPECT_EQ(r.out.rfind("{\"fetched\":0,\"registered\":0,\"failed\":0,\"not_found\":0,", 0), 0u) << r.out;
  ini("wrong");
  r = runCli({"update", "--kinds", "SEC", "--from", "20050312", "--json"});
  EXPECT_EQ(r.rc, 1) << r.err;
  EXPECT_NE(r.out.find("\"failed\":1"), std::string::npos) << r.out;

  for (const auto& bad : std::vector<QStringList>{{"update", "--from", "2005031"},
                                                  {"update", "--from", "20050313", "--to", "20050312"},
                                                  {"update", "--mode", "X"},
                                                  {"update", "--kinds"}})
    EXPECT_EQ(runCli(bad).rc, 2) << bad.join(' ').toStdString();
}
