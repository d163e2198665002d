// Version upgrade of database pairs built from the definition files, and the
// data check report.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "maintenance/maintenance.h"
#include "schema/datacheck.h"
#include "schema/dbversion.h"
#include "schema/tablealter.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fs = std::filesystem;

namespace {

// A database pair of an older release: this week's from the Ver6.0 definitions,
// the past one from the current definitions less a table, both marked `version`.
// A Ver5.0 pair also has the pay-at-track odds tables that Ver6.0 dropped.
void buildPair(const TestHome& h, const std::string& version) {
  auto& ws = db::Workspace::get();
  ws.reset();
  for (const char* f : {"kova_this.mdb", "kova_data.mdb"}) {
    fs::remove(h.dbDir + f);
    ws.createDatabase(h.dbDir + f);
  }
  ASSERT_TRUE(TableAlter("teigi_t60.txt", h.dbDir + "kova_this.mdb"));
  ASSERT_TRUE(TableAlter("teigi_d72.txt", h.dbDir + "kova_data.mdb"));
  ASSERT_TRUE(TableDelete("D成績レースデータ", h.dbDir + "kova_data.mdb"));
  if (version == "Ver5.0") {
    auto d = ws.openDatabase(h.dbDir + "kova_this.mdb");
    for (const char* t : {"TPATオッズ３連複データ", "TPATオッズワイドデータ", "T基準馬単データ"})
      d->createTable({t, {{"レースキー", db::FieldType::Text, 8}}, {}});
    d->close();
  }
  ASSERT_TRUE(setDBVersion(version, "kova_this.mdb"));
  ASSERT_TRUE(setDBVersion(version, "kova_data.mdb"));
  h.sqlite("kova_data.mdb",
           "insert into D払戻情報データ (レースキー, ３連複組合せ1) values ('06051101', '      ');"
           "insert into D基準オッズデータ (レースキー) values ('06051101');");
  ws.reset();
}

std::string tables(const TestHome& h, const std::string& file, const std::string& like) {
  return h.sqlite(file, "select name from sqlite_master where type = 'table' and name like '" + like + "' order by name;");
}

}  // namespace

TEST(DbVersionUp, TakesVer50AndVer60PairsToVer72) {
  for (const std::string version : {"Ver5.0", "Ver6.0"}) {
    SCOPED_TRACE(version);
    TestHome h;
    buildPair(h, version);
    WriteFileBytes(h.dbDir + "kova_code.mdb", "an old code database");
    EXPECT_EQ(getDBVersion(), version);
    EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Done) << h.logText();
    const std::string P = "セットアップされているデータベース(kova_XXXX.mdb)は" + version + "です。";
    EXPECT_EQ(h.messages[0].text, P + "Ver7.2にバージョンアップする必要があります。\r\nバージョンアップしますか？");
    EXPECT_EQ(h.messages[0].buttons, vbYesNo);
    EXPECT_EQ(h.messages.back().text, "データベースのバージョンを [Ver7.2]にセットしました\r\nVelmo を再起動してください");
    EXPECT_EQ(getDBVersion(), "Ver7.2");
    EXPECT_EQ(h.sqlite("kova_data.mdb", "select 値 from MSysVelmoProperties where 名前 = 'Subject';"), "Ver7.2\n");
    // Schema of Ver7.2, the clean-ups, the catalogue and the code database.
    EXPECT_EQ(tables(h, "kova_data.mdb", "D成績レースデータ"), "D成績レースデータ\n");
    EXPECT_NE(h.sqlite("kova_this.mdb", "select 騎手名 from S騎手コード変換;").find("no such column"), 0u);
    EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D基準オッズデータ;"), "0\n");
    EXPECT_NE(h.sqlite("kova_this.mdb", "select count(*) from Sデータ管理;"), "0\n");
    EXPECT_EQ(ReadFileBytes(h.dbDir + "kova_code.mdb"), ReadFileBytes(h.program + "initDB/kova_code.mdb"));
    if (version == "Ver5.0") {
      EXPECT_EQ(tables(h, "kova_this.mdb", "TPAT%"), "");
      EXPECT_EQ(tables(h, "kova_this.mdb", "T基準馬単データ"), "");
      EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D払戻情報データ where ３連複組合せ1 is null;"), "1\n");
      EXPECT_EQ(h.messages[2].text, "データベースのバージョンを [Ver6.0]にセットしました");
    }
  }
}

TEST(DbVersionUp, NoCancelAndUnknownVersions) {
  TestHome h;
  buildPair(h, "Ver6.0");
  // No: nothing runs.
  h.answers = {vbNo};
  EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Cancelled);
  EXPECT_EQ(getDBVersion(), "Ver6.0");
  EXPECT_EQ(tables(h, "kova_data.mdb", "D成績レースデータ"), "");
  // Cancel at the code database question keeps the old file and still sets the version.
  WriteFileBytes(h.dbDir + "kova_code.mdb", "kept");
  h.answers = {vbYes, vbCancel};
  EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Done);
  EXPECT_EQ(ReadFileBytes(h.dbDir + "kova_code.mdb"), "kept");
  EXPECT_EQ(getDBVersion(), "Ver7.2");
  // Current: upgraded again only on request.
  h.messages.clear();
  h.answers = {vbYes};
  EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Done);
  EXPECT_NE(h.messages[0].text.find("バージョンアップする必要はありません。強制的にしますか？"), std::string::npos);
  // No version property: not upgradable; writing the version creates it.
  h.sqlite("kova_this.mdb", "delete from MSysVelmoProperties where 名前 = 'Subject';");
  db::Workspace::get().reset();
  h.messages.clear();
  EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Failed);
  EXPECT_NE(h.messages[0].text.find("初期設定にて最新ＤＢにセットアップして下さい。"), std::string::npos);
  EXPECT_EQ(h.messages.size(), 1u);
  EXPECT_TRUE(setDBVersion("Ver7.2", "kova_this.mdb"));
  EXPECT_EQ(getDBVersion(), "Ver7.2");
}

TEST(DbVersionUp, AFailedFirstStepStopsTheChain) {
  TestHome h;
  buildPair(h, "Ver5.0");
  // The Ver6.0 definitions are missing.
  fs::remove(h.program + "teigi_t60.txt");
  EXPECT_EQ(dbVersionUp(NullCommandUi()), Outcome::Failed);
  EXPECT_EQ(getDBVersion(), "Ver5.0");
  bool failedShown = false;
  for (const auto& m : h.messages) {
    failedShown = failedShown || m.text == "ＤＢバージョンアップに失敗しました。";
    EXPECT_EQ(m.text.find("[Ver7.2]"), std::string::npos);
  }
  EXPECT_TRUE(failedShown);
  EXPECT_NE(h.logText().find("エラーファイル[teigi_t60.txt]"), std::string::npos);
}

TEST(DataCheck, ReportsMissingAndOlderDataAndSurvivesAMissingCheckFile) {
  TestHome h;
  h.sqlite("kova_data.mdb",
           "insert into Dデータ一覧テーブル (年月日, KOVAデータ, 成績データ, 払戻情報データ, 番組データ) values "
           "('20050312', 'KYG', 'SEB', 'HJB', 'BAB'), ('20050313', 'KYG', 'SED', 'HJC12', 'BAB'), "
           "('20050319', 'KYG', 'SEC速', 'HJC12', 'BAB');");
  h.sqlite("kova_this.mdb",
           "insert into T馬基本データ (血統登録番号, データ年月日, データID) values ('00000001', '20050310', 'UKA');");
  const std::string dwn = G().gDwnDir;
  auto rec = [](const std::string& date, const std::string& se, const std::string& hj) {
    return "\"x\"," + date + ",KYG,,," + hj + "," + se + ",,BAB,,\"y\"\r\n";
  };
  WriteFileBytes(dwn + kCheckFileD, text::encodeCp932(rec("20050312", "SEC", "HJB12") + rec("20050313", "SEC", "HJC12") +
                                                      rec("20050319", "SEC", "HJC12") + rec("20050320", "SEC", "HJC12")));
  WriteFileBytes(dwn + kCheckFileUK, "1,20050310,UKB,0\r\n1,20050311,UKC,0\r\n");
  EXPECT_TRUE(DataCheck(NullCommandUi(), kCheckFileD, kCheckFileUK, kCheckResult));
  std::string report = text::decodeCp932(ReadFileBytes(DataCheckReportPath()));
  const std::string expected = std::string(25, ' ') + "(2005/03/20)\r\n" +
                               "******** Velmoデータチェックリスト ********\r\n"
                               "日付 必要データ チェック内容（ＤＢ内データ）\r\n" +
                               std::string(43, '-') + "\r\n■過去分データチェック\r\n" +
                               "2005/03/12 SEC 旧形式or不完全(SEB)\r\n"
                               "2005/03/19 SEC 旧形式or不完全(SEC速)\r\n"
                               "2005/03/20     データ未登録\r\n"
                               "■馬基本データチェック\r\n"
                               "2005/03/10 UKB 旧形式or不完全(UKA)\r\n"
                               "2005/03/11 UKC 未登録\r\n" +
                               std::string(43, '*') + "\r\n";
  EXPECT_EQ(report, expected);
  EXPECT_EQ(h.messages.back().text, "データチェック完了しました");
  EXPECT_FALSE(DataCheckHadFailure());

  // The past check file missing: the failure is shown, the section stays empty,
  // and the report is still written.
  fs::remove(dwn + kCheckFileD);
  h.messages.clear();
  EXPECT_TRUE(DataCheck(NullCommandUi(), kCheckFileD, kCheckFileUK, kCheckResult));
  EXPECT_EQ(h.messages.front().text, "データチェックに失敗しました。");
  EXPECT_EQ(h.messages.back().text, "データチェック完了しました");
  EXPECT_TRUE(DataCheckHadFailure());
  report = text::decodeCp932(ReadFileBytes(DataCheckReportPath()));
  EXPECT_NE(report.find("■過去分データチェック\r\n■馬基本データチェック\r\n2005/03/10"), std::string::npos);
  EXPECT_NE(h.logText().find("データチェック失敗。"), std::string::npos);
}

namespace {
int noList(const std::string&, const std::string& name) {
  G().gFetchResult = -2;
  return -1;
}
}  // namespace

TEST(DataCheck, TheCommandStopsWhenTheHorseCheckFileCannotBeFetched) {
  TestHome h;
  SetFetchFunctions({nullptr, noList});
  // Cancel: nothing happens.
  h.answers = {vbCancel};
  EXPECT_EQ(DataChk(NullCommandUi()), Outcome::Cancelled);
  EXPECT_EQ(h.messages.back().title, "データチェック");
  EXPECT_EQ(DataChk(NullCommandUi()), Outcome::Failed);
  EXPECT_FALSE(FileExists(DataCheckReportPath()));
  EXPECT_NE(h.logText().find("cmdDataCheck_Click"), std::string::npos);
  SetFetchFunctions({});
}
