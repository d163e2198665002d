// The maintenance commands of velmo-cli on a generated home, and the data check
// fetching its files from a loopback server without a window.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "download/httpfetch.h"
#include "download/latest.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "schema/datacheck.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

int cli(const TestHome& h, const std::string& args, std::string* out = nullptr) {
  std::string cmd = "VELMO_HOME='" + h.program + "' VELMO_CONFIG_DIR='" + h.config + "' " + test::BuildHome() +
                    "velmo-cli " + args + " </dev/null 2>'" + h.root + "err.txt' >'" + h.root + "out.txt'";
  int rc = std::system(cmd.c_str());
  if (out) *out = ReadFileBytes(h.root + "out.txt");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The public list folder on the test server, fetched without a window.
void useCheckHost(const TestHome& h, const test::TestHttpServer& server) {
  std::ofstream(h.config + "kova.ini") << "[main]\r\nKovaHost=" << server.base() << "\r\n";
  G().gUserID = "member";
  G().gPasswd = "pass1234";
  SetFetchPresenter(nullptr);
}

}  // namespace

TEST(CliMaintenance, CommandsOnAGeneratedHome) {
  TestHome h;
  std::ofstream(h.config + "kova.ini") << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  fx::RaceDay day;
  day.courses = {"06"};
  day.races = 2;
  day.runners = 4;
  for (const auto& a : fx::WriteDayArchives(h.work, {"BAB", "KYG", "SEC", "HJC"}, day)) ASSERT_EQ(regMain(a, "T", "J"), 0);
  db::Workspace::get().reset();

  std::string out;
  EXPECT_EQ(cli(h, "list --json", &out), 0);
  EXPECT_NE(out.find("\"年月日\": \"20050312\""), std::string::npos) << out;
  // Usage errors.
  EXPECT_EQ(cli(h, "delete --db past --from 20050312 --to 20050312"), 2);
  EXPECT_EQ(cli(h, "delete --db this --from 2005031 --to 20050312"), 2);
  EXPECT_EQ(cli(h, "compact"), 2);
  // A question without a terminal and without --yes is refused: nothing moves.
  EXPECT_EQ(cli(h, "changeover"), 1);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from Tデータ一覧テーブル;"), "1\n");
  EXPECT_EQ(cli(h, "changeover --yes"), 0) << ReadFileBytes(h.root + "err.txt");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from Tデータ一覧テーブル;"), "0\n");
  EXPECT_EQ(cli(h, "list --db data", &out), 0);
  EXPECT_NE(out.find("20050312"), std::string::npos);
  EXPECT_EQ(cli(h, "rebuild-list --yes"), 0);
  EXPECT_EQ(cli(h, "compact --db data --yes"), 0);
  EXPECT_EQ(cli(h, "delete --db data --from 20050312 --to 20050301 --yes"), 0);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D番組データ;"), "0\n");
  EXPECT_EQ(cli(h, "upgrade"), 0);  // current: nothing to do
  // The check with no server to fetch from fails and says why.
  std::ofstream(h.config + "kova.ini", std::ios::app) << "KovaHost=http://127.0.0.1:9/\r\n";
  EXPECT_EQ(cli(h, "check --yes"), 1);
  EXPECT_NE(ReadFileBytes(h.root + "err.txt").find("error"), std::string::npos);
}

TEST(CliMaintenance, DataCheckFetchesItsFilesWithoutAWindow) {
  TestHome h;
  test::TestHttpServer server("member", "pass1234");
  useCheckHost(h, server);
  server.routes["/data/lst/datacheckD.txt"] = {"1,20050312,KYG,,,,,,,,0\r\n"};
  server.routes["/data/lst/datacheckUK.txt"] = {"1,20050310,UKB,0\r\n"};
  SetFetchFunctions({getNewFile, subFileDownload});
  EXPECT_EQ(DataChk(NullCommandUi()), Outcome::Done) << h.logText();
  SetFetchFunctions({});
  std::string report = text::decodeCp932(ReadFileBytes(DataCheckReportPath()));
  EXPECT_NE(report.find("2005/03/12     データ未登録"), std::string::npos) << report;
  EXPECT_NE(report.find("2005/03/10 UKB 未登録"), std::string::npos) << report;
}

namespace {

// A home whose provider host is a loopback server serving the newest jockey,
// trainer and horse master archives and, with VAN=1, both code change lists.
struct MasterHost {
  TestHome h;
  test::TestHttpServer server{"member", "pass1234"};
  explicit MasterHost(bool van) {
    std::ofstream(h.config + "kova.ini") << "[main]\r\nKovaHost=" << server.base() << "\r\n";
    G().gUserID = "member";
    G().gPasswd = "pass1234";
    G().gVAN = van ? 1 : 0;
    SetFetchPresenter(nullptr);
    SetFetchFunctions({getNewFile, subFileDownload});
    const std::string folder = h.work + "served/";
    MakeDirAll(folder);
    fx::RaceDay day;
    for (const auto& path : fx::WriteDayArchives(folder, {"KZA", "CZA", "MZA"}, day)) {
      const std::string name = FileNamePart(path);
      const std::string kind = text::toLowerAscii(name.substr(0, 2));
      server.routes["/member/lst/" + kind + "list.txt"] = {name + "\r\n"};
      server.routes["/member/" + kind + "/" + name] = {ReadFileBytes(path)};
    }
    // 12-byte records: the provider's code, then the JRA-VAN code.
    server.routes["/data/lst/datachgKZ.txt"] = {"1234501234\r\n2222202222\r\n"};
    server.routes["/data/lst/datachgCZ.txt"] = {"5432105432\r\n"};
  }
  ~MasterHost() {
    SetFetchFunctions({});
    G().gVAN = 0;
  }
  std::string rows(const std::string& table) const {
    return h.sqlite("kova_this.mdb", "select Kova || '=' || Jravan from " + table + " order by Jravan;");
  }
};

}  // namespace

TEST(MasterUpdateOverHttp, WithVanBothCodeTablesAreReplacedAndAFailedListKeepsItsOldRows) {
  MasterHost m(true);
  m.h.sqlite("kova_this.mdb", "insert into S騎手コード変換 (Kova, Jravan) values ('99999', '09999');");
  m.h.sqlite("kova_this.mdb", "insert into S調教師コード変換 (Kova, Jravan) values ('88888', '08888');");
  EXPECT_EQ(MasterUpdate(NullCommandUi()), Outcome::Done) << m.h.logText();
  EXPECT_EQ(m.h.messages.back().text, "データ登録完了しました。");
  EXPECT_EQ(m.rows("S騎手コード変換"), "12345=01234\n22222=02222\n");
  EXPECT_EQ(m.rows("S調教師コード変換"), "54321=05432\n");
  EXPECT_NE(m.h.sqlite("kova_this.mdb", "select count(*) from T騎手マスタ;"), "0\n");

  // A trainer list that cannot be written keeps the trainer table as it was;
  // the jockey list, its own unit, is replaced; the command fails.
  m.server.routes["/data/lst/datachgKZ.txt"] = {"3333303333\r\n"};
  m.server.routes["/data/lst/datachgCZ.txt"] = {"7777707777\r\n"};
  m.h.sqlite("kova_this.mdb",
             "create trigger refuse before insert on S調教師コード変換 begin select raise(abort, 'refused'); end;");
  m.h.messages.clear();
  EXPECT_EQ(MasterUpdate(NullCommandUi()), Outcome::Failed);
  EXPECT_EQ(m.h.messages.back().text, "データ登録異常終了しました。");
  EXPECT_EQ(m.rows("S騎手コード変換"), "33333=03333\n");
  EXPECT_EQ(m.rows("S調教師コード変換"), "54321=05432\n");
}

TEST(MasterUpdateOverHttp, AnyFailedFetchOrArchiveFailsTheCommandAndAFailedArchiveIsNeverFiled) {
  MasterHost m(false);
  // The jockey list is missing; the trainer archive is broken. The question
  // after the broken archive is answered "continue" (as --yes does).
  m.server.routes.erase("/member/lst/kzlist.txt");
  std::string broken;
  for (auto& [path, route] : m.server.routes)
    if (path.rfind("/member/cz/", 0) == 0) {
      route.body = "not an archive";
      broken = FileNamePart(path);
    }
  ASSERT_FALSE(broken.empty());
  EXPECT_EQ(MasterUpdate(NullCommandUi()), Outcome::Failed) << m.h.logText();
  EXPECT_EQ(m.h.messages.back().text, "データ登録異常終了しました。");
  // The horse master archive registered and was filed; the broken one was not.
  EXPECT_EQ(CountFiles(m.h.lzhDir + "MZ*.lzh"), 1);
  EXPECT_FALSE(FileExists(m.h.lzhDir + broken));
  EXPECT_TRUE(FileExists(G().gDwnDir + "failed/" + broken));
  EXPECT_EQ(CountFiles(G().gDwnDir + "*.lzh"), 0);
}

TEST(CliMaintenance, ACheckFileThatCannotBeFetchedIsNeverReadFromAnEarlierRun) {
  struct Case {
    const char* what;
    int status;  // of the past check file; 0: the host does not have it
  };
  for (const Case& c : {Case{"not found", 0}, Case{"server error", 500}}) {
    SCOPED_TRACE(c.what);
    TestHome h;
    test::TestHttpServer server("member", "pass1234");
    useCheckHost(h, server);
    if (c.status) server.routes["/data/lst/datacheckD.txt"] = {"1,20050305,KYG,,,,,,,,0\r\n", c.status};
    server.routes["/data/lst/datacheckUK.txt"] = {"1,20050310,UKB,0\r\n"};
    // An earlier run's copy, which would report 2005/03/12 as missing.
    WriteFileBytes(G().gDwnDir + "datacheckD.txt", "1,20050312,KYG,,,,,,,,0\r\n");
    SetFetchFunctions({getNewFile, subFileDownload});
    EXPECT_EQ(DataChk(NullCommandUi()), Outcome::Done) << h.logText();
    SetFetchFunctions({});
    EXPECT_TRUE(DataCheckHadFailure());  // velmo-cli check exits 1 on it
    const std::string report = text::decodeCp932(ReadFileBytes(DataCheckReportPath()));
    EXPECT_EQ(report.find("2005/03/12"), std::string::npos) << report;
    EXPECT_EQ(report.find("2005/03/05"), std::string::npos) << report;
    EXPECT_NE(report.find("■過去分データチェック\r\n■馬基本データチェック\r\n2005/03/10 UKB 未登録"), std::string::npos)
        << report;
    EXPECT_NE(h.logText().find("ダウンロードエラー[datacheckD.txt]"), std::string::npos);
  }
}

TEST(CliMaintenance, ForcedUpgradeAsksBeforeItDeletesAndReplaces) {
  TestHome h;
  std::ofstream(h.config + "kova.ini") << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  h.sqlite("kova_data.mdb", "insert into D基準オッズデータ (レースキー, 頭数) values ('06050101', '16');");
  // No terminal and no --yes: refused, nothing deleted.
  EXPECT_EQ(cli(h, "upgrade --force"), 1);
  const std::string err = ReadFileBytes(h.root + "err.txt");
  EXPECT_NE(err.find("deletes every row of D基準オッズデータ"), std::string::npos) << err;
  EXPECT_NE(err.find("no terminal to ask"), std::string::npos) << err;
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D基準オッズデータ;"), "1\n");
  EXPECT_EQ(cli(h, "upgrade --force --yes"), 0) << ReadFileBytes(h.root + "err.txt");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D基準オッズデータ;"), "0\n");
}
