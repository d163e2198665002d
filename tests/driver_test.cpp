// The registration driver: unpacking, file order, one transaction per file,
// failures, the dispatch table and the command-line registration.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

class RecordingStatus : public StatusSink {
 public:
  std::string statusText() const override { return text; }
  void setStatusText(const std::string& t) override {
    text = t;
    seen.push_back(t);
  }
  std::string text = "archive";
  std::vector<std::string> seen;
};

std::string fileOf(const std::string& kind, int n = 2, const std::string& date = "20050312") {
  fx::RaceDay day;
  day.date = date;
  day.courses = {"06"};
  day.races = n;
  std::string all;
  for (const auto& r : fx::DayRecords(kind, day)) all += r;
  return all;
}

int runCli(const std::string& args) {
  std::string cmd = test::BuildHome() + "velmo-cli " + args + " >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

TEST(Driver, RegistersFilesInNameOrderWithProgress) {
  TestHome h;
  std::string arch = h.work + "KOVA050312.lzh";
  fx::WriteLzh(arch, {{"KYC050312.txt", ""}, {"BAB050312.txt", fileOf("BAB")}, {"BA050312.txt", fileOf("BA", 3)},
                      {"notes.dat", "ignored"}});
  RecordingStatus status;
  G().gStatusForm = &status;
  EXPECT_FALSE(regMainKOVA(arch, "T"));
  G().gStatusForm = nullptr;
  ASSERT_EQ(status.seen.size(), 3u);
  EXPECT_EQ(status.seen[0], "archive BA050312.txt登録中(1/3)");
  EXPECT_EQ(status.seen[1], "archive BAB050312.txt登録中(2/3)");
  EXPECT_EQ(status.seen[2], "archive KYC050312.txt登録中(3/3)");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "3\n");
  // Milestones in their order.
  std::string log = h.logText();
  size_t p = 0;
  for (const char* m : {"regMainKOVA開始", "データベースに接続完了", "解凍ワークをクリア完了", "解凍ＤＬＬを呼ぶ完了[", "データ読込完了["}) {
    size_t q = log.find(m, p);
    ASSERT_NE(q, std::string::npos) << m;
    p = q;
  }
}

TEST(Driver, CompressedArchivesAndModes) {
  TestHome h;
  std::string arch = h.work + "BAB050312.lzh";
  fx::WriteLzh(arch, {{"BAB050312.txt", fileOf("BAB", 12)}, {"ou050312.txt", "x"}}, fx::Method::Compressed);
  EXPECT_FALSE(regMainKOVA(arch, "D"));
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*), max(データ区分) from D番組データ;"), "12|2\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 年月日, 番組データ from Dデータ一覧テーブル;"), "20050312|BAB\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "0\n");
  // A T-only kind in mode "D" is committed without rows; the lower-case name matches nothing.
  const DispatchRow* ou = DispatchFor("OU050312.txt");
  ASSERT_NE(ou, nullptr);
  EXPECT_TRUE(ou->thisWeekOnly);
  EXPECT_EQ(DispatchFor("ou050312.txt"), nullptr);
  EXPECT_EQ(DispatchFor("BAB050312.txt")->prefixes[0], "BAB");
  EXPECT_EQ(DispatchFor("BAX050312.txt")->prefixes[0], "BA");
  EXPECT_EQ(DispatchFor("KSA050312.txt")->prefixes[0], "KZA");
}

TEST(Driver, AFailingFileLeavesNoneOfItsRowsAndStopsTheRun) {
  TestHome h;
  std::string bad = fileOf("BAB", 3);
  bad += bad.substr(0, 100);  // a truncated record at the end
  std::string arch = h.work + "KOVA050312.lzh";
  fx::WriteLzh(arch, {{"BA050312.txt", fileOf("BA", 2)}, {"BAB050312.txt", bad}, {"KAA050312.txt", fileOf("KAA")}});
  EXPECT_TRUE(regMainKOVA(arch, "T"));
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "2\n");  // BA's rows only
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T開催データ;"), "0\n");  // not reached
  std::string log = h.logText();
  EXPECT_NE(log.find("エラーファイル[BAB050312.txt]"), std::string::npos);
  EXPECT_EQ(db::Workspace::get().transDepth(), 0);
  // In the screen mode the failure is brought to the user's attention.
  EXPECT_FALSE(h.messages.empty());
}

TEST(Driver, ABatchOfArchivesCommitsTogetherAndAFailingFileStillRollsBackAlone) {
  TestHome h;
  std::string bad = fileOf("UKA", 3);
  bad += bad.substr(0, 100);
  std::string a = h.work + "BA050312.lzh", b = h.work + "KOVA050312.lzh";
  fx::WriteLzh(a, {{"BA050312.txt", fileOf("BA", 2)}});
  fx::WriteLzh(b, {{"KAA050312.txt", fileOf("KAA")}, {"UKA050312.txt", bad}});
  G().gSilent = "1";
  {
    ArchiveBatch batch(G().gDBDir, 3600);
    batch.begin();
    EXPECT_FALSE(regMainKOVA(a, "T"));
    batch.begin();
    EXPECT_TRUE(regMainKOVA(b, "T"));
    EXPECT_TRUE(batch.open());
    // Nothing is on disk for other programs until the batch commits.
    EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "0\n");
    EXPECT_TRUE(batch.commit());
  }
  EXPECT_EQ(db::Workspace::get().transDepth(), 0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "2\n");
  EXPECT_NE(h.sqlite("kova_this.mdb", "select count(*) from T開催データ;"), "0\n");  // the file before the failure
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T馬基本データ;"), "0\n");  // none of the failing file's
  EXPECT_NE(h.logText().find("エラーファイル[UKA050312.txt]"), std::string::npos);
}

TEST(Driver, MoreThan32TextFilesStopBeforeTheFirstFile) {
  TestHome h;
  std::vector<fx::ArchiveEntry> entries;
  for (int i = 1; i <= 33; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "BA05%04d.txt", i);
    entries.push_back({name, fileOf("BA", 1)});
  }
  std::string arch = h.work + "BA050312.lzh";
  fx::WriteLzh(arch, entries);
  G().gSilent = "1";
  EXPECT_TRUE(regMainKOVA(arch, "T"));
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "0\n");
  EXPECT_TRUE(h.messages.empty());  // silent mode: recorded only
  EXPECT_NE(h.logText().find("エラーファイル["), std::string::npos);
}

TEST(Driver, ArchivesThatEscapeTheWorkFolderAreRefused) {
  TestHome h;
  for (const std::string name : {"../BA050312.txt", "/tmp/BA050312.txt", "sub/../../BA050312.txt"}) {
    std::string arch = h.work + "evil.lzh";
    fx::WriteLzh(arch, {{"BAA050312.txt", fileOf("BAA", 1)}, {name, fileOf("BA", 1)}});
    EXPECT_TRUE(Com_UnLzh(arch, G().gTmpDir)) << name;
    EXPECT_FALSE(FileExists(G().gTmpDir + "BAA050312.txt")) << name;  // nothing extracted
    EXPECT_FALSE(FileExists(h.program + "BA050312.txt"));
  }
  EXPECT_NE(h.logText().find("Com_UnLzh"), std::string::npos);
  // A damaged archive is an unpacking error, and the run fails and registers nothing.
  WriteFileBytes(h.work + "BA050312.lzh", "not an archive at all");
  EXPECT_TRUE(Com_UnLzh(h.work + "BA050312.lzh", G().gTmpDir));
  EXPECT_TRUE(regMainKOVA(h.work + "BA050312.lzh", "T"));
  EXPECT_NE(h.logText().find("解凍エラー["), std::string::npos);
}

TEST(Driver, SortAndOrderHelpers) {
  std::vector<std::string> names = {"KYC050312.txt", "BAB050312.txt", "BA050312.txt", "", "A.txt"};
  SortPairs(names);
  EXPECT_EQ(names, (std::vector<std::string>{"", "A.txt", "BA050312.txt", "BAB050312.txt", "KYC050312.txt"}));
  std::vector<std::string> paths = {"/d/SEC050312.lzh", "/d/KOVA050313.lzh", "/a/BA050312.lzh", "/z/KOVA050312.lzh", "",
                                    "/d/after.lzh"};
  OrderArchives(paths);
  EXPECT_EQ(paths, (std::vector<std::string>{"/z/KOVA050312.lzh", "/d/KOVA050313.lzh", "/a/BA050312.lzh", "/d/SEC050312.lzh"}));
}

TEST(Driver, KindsStillWithoutReaderAreListed) {
  // Every kind of the dispatch table either has a reader or is listed here.
  std::vector<std::string> pending = PendingKinds();
  for (const auto& row : DispatchTable()) {
    bool listed = std::find(pending.begin(), pending.end(), row.prefixes[0]) != pending.end();
    EXPECT_NE(static_cast<bool>(row.action), listed) << row.prefixes[0];
  }
  EXPECT_EQ(DispatchTable().size(), 39u);
}

TEST(CommandLine, RegistersArchivesIntoBothDatabases) {
  TestHome h;
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  }
  fx::RaceDay day;
  auto archives = fx::WriteDayArchives(h.work, {"BA", "BAA", "BAB", "KAA"}, day);
  std::string list;
  for (const auto& a : archives) list += " '" + a + "'";
  EXPECT_EQ(runCli("register" + list), 0);
  EXPECT_EQ(runCli("register --mode D" + list), 0);
  for (const auto& [file, p] : {std::pair<std::string, std::string>{"kova_this.mdb", "T"}, {"kova_data.mdb", "D"}}) {
    EXPECT_EQ(h.sqlite(file, "select count(*), count(レース名9文字) from " + p + "番組データ;"), "36|36\n") << file;
    EXPECT_EQ(h.sqlite(file, "select count(*), min(データID) from " + p + "開催データ;"), "3|KAA\n") << file;
    EXPECT_EQ(h.sqlite(file, "select 年月日, 番組データ from " + p + "データ一覧テーブル;"), "20050312|BAB\n") << file;
  }
  // A missing or damaged archive fails the run; the others still register.
  WriteFileBytes(h.work + "BAB050313.lzh", fileOf("BAB"));
  EXPECT_EQ(runCli("register '" + h.work + "missing.lzh'"), 1);
  EXPECT_EQ(runCli("register '" + h.work + "BAB050313.lzh'" + list), 1);
}

TEST(Driver, AStageMarkOfTheProgrammeIsNotCarriedIntoThePayoutCount) {
  TestHome h;
  fx::RaceDay day;
  day.courses = {"06"};
  std::string arch = fx::WritePackArchive(h.work, {"BAB", "HJB"}, day);
  ASSERT_FALSE(regMainKOVA(arch, "T"));
  // BAB leaves its mark "確" before HJB counts the day's races.
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select 番組データ, 払戻情報データ from Tデータ一覧テーブル;"), "BAB|HJB12\n");
}
