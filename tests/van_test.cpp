// The JRA-VAN conversion: archives of generated JRA-VAN files registered into
// the provider's tables, the refusals that stop a file, bad input, the code
// tables, the key updates and the re-conversion command.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "maintenance/commandui.h"
#include "registration/driver.h"
#include "startup/platform/db.h"
#include "startup/platform/writerlock.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"
#include "tools/fixture/van.h"
#include "van/jracode.h"
#include "van/regvan.h"
#include "van/vandriver.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

fx::RaceDay smallDay(int races = 2, int runners = 10) {
  fx::RaceDay d;
  d.courses = {"06"};
  d.races = races;
  d.runners = runners;
  return d;
}

std::string joined(const std::vector<std::string>& records) {
  std::string s;
  for (const auto& r : records) s += r;
  return s;
}

// Overwrites bytes of a record at an offset.
void patch(std::string& rec, int offset, const std::string& bytes) { rec.replace(static_cast<size_t>(offset), bytes.size(), bytes); }

// Entry i of a result record starts at 724 + 129 * i.
void patchRunner(std::string& rec, int i, int offset, const std::string& bytes) { patch(rec, 724 + 129 * i + offset, bytes); }

// The JRA-VAN setting for the length of a test.
struct VanSetting {
  explicit VanSetting(int van) : before(G().gVAN) { G().gVAN = van; }
  ~VanSetting() { G().gVAN = before; }
  int before;
};

std::string trimmed(const std::string& s) { return text::trimBlanks(text::rtrimBlanks(s.substr(0, s.find_last_not_of('\n') + 1))); }

}  // namespace

TEST(Van, ARaceReadsLikeAProviderRaceInEveryTable) {
  TestHome h;
  fx::RaceDay day = smallDay(2, 10);
  std::string arch = fx::WriteVanArchive(h.work, day);
  EXPECT_EQ(regMain(arch, "T", "V"), 0);
  std::string key = fx::RaceKey(day, "06", 1);  // the provider's key of the same race
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T番組データ where レースキー='" + key + "'")), "1");
  // Result rows: key, codes through the code table, result key = registration number + date.
  std::string reg8 = fx::VanRegNo("06", 1, 3).substr(2);
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb",
                             "select レースキー||','||芝ダ障害コード||右左||内外||','||種別||','||条件||','||グレード||','||データID "
                             "from T成績データ where 競走成績キー='" + reg8 + "20050312'")),
            key + ",110,13,03, ,SE_V");  // track 13 = turf right, kind 12, condition 703
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T成績データ where レースキー='" + key + "'")), "10");
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ where データID='KY_V'")), "20");
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select 競走成績キー from T競走馬データ where レースキー='" + key + "' and 馬番='03'")),
            reg8 + "20050312");
  // Horse records reach the runners of the race card.
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ where 馬主名 is not null and 獲得賞金 is not null")), "20");
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T馬基本データ")), "20");
  // Both payout files land in one row per race.
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb",
                             "select データID||(単勝馬番1 is not null)||(馬単組合せ1 is not null)||(３連複払戻1 is not null) "
                             "from T払戻情報データ where レースキー='" + key + "'")),
            "HJ_V111");
  // The data list shows the JRA-VAN entries of the day.
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select KOVAデータ||','||払戻情報データ||','||成績データ from Tデータ一覧テーブル where 年月日='20050312'")),
            "KY_V,HJ_V,SE_V");
}

TEST(Van, ModeDPutsHorsesIntoThisWeekAndEntriesIntoThePast) {
  TestHome h;
  std::string arch = fx::WriteVanArchive(h.work, smallDay(1, 8), {"JracDen1.dat", "JracUmaj.dat"});
  EXPECT_EQ(regMain(arch, "D", "V"), 0);
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T馬基本データ")), "8");
  EXPECT_EQ(trimmed(h.sqlite("kova_data.mdb", "select count(*) from D競走馬データ where 馬主名 is not null")), "8");
  EXPECT_EQ(trimmed(h.sqlite("kova_data.mdb", "select count(*) from W出走馬")), "8");
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ")), "0");
}

TEST(Van, OnlyPassedOverFilesOrNoDatFileRegisterNothing) {
  TestHome h;
  std::string a = fx::WriteVanArchive(h.work + "a/", smallDay(), {"JracKisi.dat", "JracChok.dat"});
  EXPECT_EQ(regMain(a, "T", "V"), 0);
  std::string b = h.work + "b.lzh";
  fx::WriteLzh(b, {{"readme.txt", "x"}});
  EXPECT_EQ(regMain(b, "T", "V"), 0);
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T成績データ")), "0");
}

TEST(Van, RefusedRecordsStopTheFileAndTheArchive) {
  struct Case {
    int record;            // 0-based record to change
    std::string key;       // its new race key
    std::string message;
    const char* kept;      // races registered before it
  };
  for (const Case& c : {Case{2, "2005031230010103", "ＪＲＡ以外のデータは登録できません。", "2"},
                        Case{0, "1991031206010101", "1992年以前のデータは登録できません。", "0"}}) {
    TestHome h;
    auto recs = fx::VanRecords("JracSei1.dat", smallDay(4, 6));
    patch(recs[static_cast<size_t>(c.record)], 0, c.key);
    std::string arch = h.work + "JV.lzh";
    fx::WriteLzh(arch, {{"JracSei1.dat", joined(recs)}, {"JracSeih.dat", joined(fx::VanRecords("JracSeih.dat", smallDay(4, 6)))}});
    EXPECT_EQ(regMain(arch, "T", "V"), -1) << c.message;
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, c.message);
    EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(distinct レースキー) from T成績データ")), c.kept);
    // Neither the payouts of the refused file nor the next file were converted.
    EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T払戻情報データ")), "0");
    EXPECT_NE(h.logText().find("エラーファイル[JracSei1.dat]"), std::string::npos);
  }
  // 1992 itself is accepted.
  TestHome h;
  fx::RaceDay day = smallDay(1, 4);
  day.date = "19920105";
  EXPECT_EQ(regMain(fx::WriteVanArchive(h.work, day, {"JracSei1.dat"}), "T", "V"), 0);
  EXPECT_TRUE(h.messages.empty());
}

TEST(Van, WinnerRunnerUpAndTimeDifference) {
  TestHome h;
  auto recs = fx::VanRecords("JracSei1.dat", smallDay(1, 4));
  std::string& r = recs[0];
  // Two horses placed "01" and none "02": the later "01" is the runner-up.
  const char* pos[] = {"03", "01", "04", "01"};
  const char* time[] = {"1240", "1234", "0000", "1234"};
  for (int i = 0; i < 4; ++i) {
    patchRunner(r, i, 93, pos[i]);
    patchRunner(r, i, 84, time[i]);
  }
  std::string arch = h.work + "JV.lzh";
  fx::WriteLzh(arch, {{"JracSei1.dat", r}});
  ASSERT_EQ(regMain(arch, "T", "V"), 0);
  auto nameOf = [&](int horse) { return text::headChars(trimmed(h.sqlite("kova_this.mdb", "select 馬名 from T成績データ where 馬番='0" + std::to_string(horse) + "'")), 6); };
  std::string rows = h.sqlite("kova_this.mdb", "select 馬番||'|'||\"1(2)着馬名\"||'|'||\"1(2)着タイム差\" from T成績データ order by 馬番");
  std::string first = nameOf(2), later = nameOf(4);
  // Both rows placed "01" name the runner-up (the later one); the rest name the first.
  EXPECT_EQ(rows, "01|" + first + "|006\n02|" + later + "|000\n03|" + first + "|   \n04|" + later + "|000\n");
}

TEST(Van, RaceWithoutPlacedRunnersAndBlankRunnerCount) {
  TestHome h;
  auto recs = fx::VanRecords("JracSei1.dat", smallDay(2, 3));
  for (int i = 0; i < 3; ++i) patchRunner(recs[0], i, 93, "00");  // a race without placings
  patch(recs[1], 324, "  ");                                        // no runner count
  std::string arch = h.work + "JV.lzh";
  fx::WriteLzh(arch, {{"JracSei1.dat", joined(recs)}});
  ASSERT_EQ(regMain(arch, "T", "V"), 0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*), count(\"1(2)着馬名\"), count(\"1(2)着タイム差\") from T成績データ"), "3|0|0\n");
}

TEST(Van, CodesWithoutARowGiveEmptyPartsLoggedOncePerFile) {
  TestHome h;
  auto recs = fx::VanRecords("JracDen1.dat", smallDay(3, 4));
  for (auto& r : recs) patch(r, 136, "99");  // no such track code
  std::string arch = h.work + "JV.lzh";
  fx::WriteLzh(arch, {{"JracDen1.dat", joined(recs)}});
  ASSERT_EQ(regMain(arch, "T", "V"), 0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select distinct 芝ダ障害コード||'/'||右左||'/'||内外 from T番組データ"), "//\n");
  std::string log = h.logText();
  size_t first = log.find("[トラ:99]");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("[トラ:99]", first + 1), std::string::npos);
}

TEST(Van, BadInputNamesFileAndRecordAndKeepsEarlierFiles) {
  struct Case {
    std::function<void(std::string&)> spoil;
    std::string expect;
  };
  std::vector<Case> cases = {
      {[](std::string& all) { all.resize(all.size() - 300); }, "JracDen1.dat"},
      {[](std::string& all) { patch(all, 1463, "2005133106010101"); }, "レコード2"},
      {[](std::string& all) { patch(all, 1463 + 17, "\x81\x20\xff\xff"); }, "レコード2"},
  };
  for (const auto& c : cases) {
    TestHome h;
    fx::RaceDay day = smallDay(3, 4);
    std::string den = joined(fx::VanRecords("JracDen1.dat", day));
    c.spoil(den);
    std::string arch = h.work + "JV.lzh";
    // Names list in this order: the results are converted before the race card.
    fx::WriteLzh(arch, {{"JracSei1.dat", joined(fx::VanRecords("JracSei1.dat", day))}, {"JracDen1.dat", den}});
    EXPECT_EQ(regMain(arch, "T", "V"), -1) << c.expect;
    std::string log = h.logText();
    EXPECT_NE(log.find(c.expect), std::string::npos) << log;
    EXPECT_NE(log.find("エラーファイル[JracDen1.dat]"), std::string::npos);
    // The race card's transaction is rolled back; the results stay.
    EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T番組データ")), "0");
    EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T成績データ")), "12");
  }
}

TEST(Van, MoreThan32DatFilesFailBeforeAnyFile) {
  TestHome h;
  std::vector<fx::ArchiveEntry> entries = fx::VanDayFiles(smallDay(1, 2), {"JracSei1.dat"});
  for (int i = 0; i < 32; ++i) entries.push_back({"x" + std::to_string(i) + ".dat", ""});
  std::string arch = h.work + "JV.lzh";
  fx::WriteLzh(arch, entries);
  EXPECT_EQ(regMain(arch, "T", "V"), -1);
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(*) from T成績データ")), "0");
}

TEST(Van, KeyUpdatesAndReconversionUseTheProviderCodes) {
  TestHome h;
  fx::RaceDay day = smallDay(1, 3);
  // Jockey codes of the generated runners: 01007, 01014, 01021.
  h.sqlite("kova_this.mdb",
           "insert into S騎手コード変換(Jravan,Kova,騎手名) values('01007','12345','新名前'),('01014','',''),('99999','55555','');");
  std::string arch = fx::WriteVanArchive(h.work, day, {"JracDen1.dat", "JracSei1.dat"});
  ASSERT_EQ(regMain(arch, "D", "V"), 0);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 馬番||'|'||騎手コード||'|'||騎手名 from D競走馬データ order by 馬番"),
            "01|12345|新名前\n02|01014|岩田康誠\n03|01021|福永祐一\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 騎手コード from D成績データ order by 馬番"), "12345\n01014\n01021\n");
  // The links are gone after the run.
  EXPECT_EQ(trimmed(h.sqlite("kova_data.mdb", "select count(*) from sqlite_master where name like 'S%コード変換'")), "0");
  // A conversion row that arrives later is applied by the re-conversion.
  h.sqlite("kova_this.mdb", "update S騎手コード変換 set Kova='22222' where Jravan='01014';");
  VanSetting on(1);
  h.answers = {vbCancel};
  EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Cancelled);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 騎手コード from D競走馬データ where 馬番='02'"), "01014\n");
  EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Done);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 騎手コード from D競走馬データ where 馬番='02' union all select 騎手コード from D成績データ where 馬番='02'"),
            "22222\n22222\n");
  EXPECT_EQ(h.messages.back().text, "VANコード再変換処理終了しました。");
}

// In mode "T" the rows of a file are written with the codes the key update would
// give them; the result must stay the update's own, run by run.
TEST(Van, ModeTKeyUpdatesConvertOncePerRunAndKeepLaterRowsForTheUpdate) {
  TestHome h;
  fx::RaceDay day = smallDay(1, 3);
  // Jockeys 01007, 01014, 01021; trainers 01103, 01106, 01109. 01021 converts to
  // 01028, itself a JRA-VAN code with a row: one step per run of the update.
  h.sqlite("kova_this.mdb",
           "insert into S騎手コード変換(Jravan,Kova,騎手名) values('01007','12345','新名前'),('01014','',''),"
           "('01021','01028',''),('01028','23456','別名');"
           "insert into S調教師コード変換(Jravan,Kova,調教師名) values('01106','20000',NULL);");
  ASSERT_EQ(regMain(fx::WriteVanArchive(h.work, day, {"JracDen1.dat", "JracSei1.dat"}), "T", "V"), 0);
  const std::string entries = "select 馬番||'|'||騎手コード||'|'||騎手名||'|'||調教師コード||'|'||調教師名 from T競走馬データ order by 馬番";
  const std::string results = "select 馬番||'|'||騎手コード||'|'||騎手名||'|'||調教師コード from T成績データ order by 馬番";
  EXPECT_EQ(h.sqlite("kova_this.mdb", entries),
            "01|12345|新名前|01103|池江泰寿\n02|01014|岩田康誠|20000|角居勝彦\n03|01028|福永祐一|01109|国枝栄\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", results), "01|12345|新名前|01103\n02|01014|岩田康|20000\n03|01028|福永祐|01109\n");
  // A later run: the update converts the earlier rows one step further, and a
  // conversion row that arrived meanwhile reaches the earlier rows too.
  h.sqlite("kova_this.mdb", "update S騎手コード変換 set Kova='22222' where Jravan='01014';");
  day.date = "20050313";
  day.dayNo = 2;
  ASSERT_EQ(regMain(fx::WriteVanArchive(h.work + "2/", day, {"JracDen1.dat", "JracSei1.dat"}), "T", "V"), 0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", results + ", 年月日"),
            "01|12345|新名前|01103\n01|12345|新名前|01103\n02|22222|岩田康|20000\n02|22222|岩田康|20000\n"
            "03|23456|別名|01109\n03|01028|福永祐|01109\n");
}

TEST(Van, BothSourcesOnOneRaceKeepTheOtherSourcesColumns) {
  TestHome h;
  fx::RaceDay day = smallDay(1, 4);
  // The provider's result row of a horse of the race, with a column JRA-VAN never writes.
  std::string reg8 = fx::VanRegNo("06", 1, 1).substr(2);
  h.sqlite("kova_this.mdb", "insert into T成績データ(競走成績キー,レースキー,馬番,ＩＤＭ,馬名,データID) values('" + reg8 +
                                "20050312','" + fx::RaceKey(day, "06", 1) + "','01',45,'旧名','SEC');");
  ASSERT_EQ(regMain(fx::WriteVanArchive(h.work, day, {"JracSei1.dat"}), "T", "V"), 0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select ＩＤＭ||'|'||(馬名<>'旧名')||'|'||データID from T成績データ where 競走成績キー='" + reg8 + "20050312'"),
            "45.0|1|SE_V\n");
}

TEST(Van, CodeSourceFileIsCheckedAndShipped) {
  EXPECT_THROW(ParseJraCodes("\"トラ\" \"10\" \"130\"\n\"トラ\" \"10\" \"120\"\n"), std::exception);
  EXPECT_THROW(ParseJraCodes("\"トラ\" \"10\"\n"), std::exception);
  auto rows = ParseJraCodes("# c\n\"グレ\" \" \" \" \" 一般\n");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].jravan, " ");
  TestHome h;
  for (const char* k : {"トラ", "種別", "条件", "記号", "グレ"})
    EXPECT_NE(trimmed(h.sqlite("kova_code.mdb", std::string("select count(*) from CJRAコード変換 where 種類='") + k + "'")), "0") << k;
  EXPECT_EQ(RegVAN::mkRaceKey("2005031206010203"), "06051203");
}

TEST(Van, CommandLineRegistersJraVanArchives) {
  TestHome h;
  auto cli = [](const std::string& args) {
    int rc = std::system((test::BuildHome() + "velmo-cli " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  }
  std::string arch = fx::WriteVanArchive(h.work, smallDay(1, 4), {"JracSei1.dat"});
  EXPECT_EQ(cli("register --source X " + arch), 2);
  EXPECT_EQ(cli("register --source V --mode D " + arch), 0);
  EXPECT_EQ(trimmed(h.sqlite("kova_data.mdb", "select count(*) from D成績データ where データID='SE_V'")), "4");
  EXPECT_EQ(cli("van-recode extra"), 2);
  // With the JRA-VAN setting off the command is refused.
  EXPECT_EQ(cli("van-recode --yes"), 1);
  std::ofstream(h.config + "kova.ini", std::ios::app) << "VAN=1\r\n";
  EXPECT_EQ(cli("van-recode --yes"), 0);
}

// A past day converted from JRA-VAN files whose jockey 01014 has a conversion
// row that arrived after the conversion.
struct RecodeHome {
  TestHome h;
  VanSetting on{1};
  RecodeHome() {
    std::string arch = fx::WriteVanArchive(h.work, smallDay(1, 3), {"JracDen1.dat", "JracSei1.dat"});
    EXPECT_EQ(regMain(arch, "D", "V"), 0);
    h.sqlite("kova_this.mdb", "insert into S騎手コード変換(Jravan,Kova,騎手名) values('01014','22222','新名前');");
  }
  std::string codes() const {
    return h.sqlite("kova_data.mdb",
                    "select 騎手コード from D競走馬データ where 馬番='02' union all select 騎手コード from D成績データ where 馬番='02'");
  }
};

TEST(VanRecode, AFailedUpdateFailsTheCommandAndUndoesBoth) {
  RecodeHome r;
  // The results cannot be updated: the entries' update, done first, is undone too.
  r.h.sqlite("kova_data.mdb", "create trigger refuse before update on D成績データ begin select raise(abort, 'refused'); end;");
  EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Failed);
  EXPECT_EQ(r.codes(), "01014\n01014\n");
  for (const auto& m : r.h.messages) EXPECT_NE(m.text, "VANコード再変換処理終了しました。");
  EXPECT_NE(r.h.logText().find("cmdVanCodeSai_Click"), std::string::npos);
  // Once the table can be updated, both are converted.
  r.h.sqlite("kova_data.mdb", "drop trigger refuse;");
  EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Done) << r.h.logText();
  EXPECT_EQ(r.codes(), "22222\n22222\n");
}

TEST(VanRecode, TakesTheWriterLockAndIsRefusedWithTheSettingOff) {
  RecodeHome r;
  {
    VanSetting off(0);
    r.h.messages.clear();
    EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Failed);
    for (const auto& m : r.h.messages) EXPECT_NE(m.text, "VANコード再変換処理を実行しますか？");  // not even asked
    EXPECT_NE(r.h.logText().find("VAN=1"), std::string::npos);
  }
  // Another writer holds the database folder: the command gives up, nothing changed.
  int fd = ::open(db::WriterLock::lockFilePath(r.h.dbDir).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const int wait = db::WriterLock::defaultWaitSeconds();
  db::WriterLock::setDefaultWaitSeconds(0);
  EXPECT_EQ(VanCodeRecode(NullCommandUi()), Outcome::Failed);
  db::WriterLock::setDefaultWaitSeconds(wait);
  ::close(fd);
  EXPECT_NE(r.h.logText().find("書き込み中"), std::string::npos);
  EXPECT_EQ(r.codes(), "01014\n01014\n");
}

// A results file that stops at its third record never gets its key update: the
// races before the stop keep the file's own codes and names, whatever the order
// of the files in the archive.
TEST(Van, AStoppedResultsFileKeepsTheFilesCodesInEveryFileOrder) {
  fx::RaceDay day = smallDay(4, 3);
  auto results = fx::VanRecords("JracSei1.dat", day);
  patch(results[2], 0, "2005031230010103");  // a racecourse that is not the JRA's
  const std::vector<fx::ArchiveEntry> files = {
      {"JracSei1.dat", joined(results)},
      {"JracDen1.dat", joined(fx::VanRecords("JracDen1.dat", day))},
      {"JracSeih.dat", joined(fx::VanRecords("JracSeih.dat", day))}};
  const std::string rows = "select 競走成績キー||'|'||騎手コード||'|'||騎手名||'|'||調教師コード||'|'||調教師名 from T成績データ order by 1";
  auto run = [&](const std::vector<int>& order, bool withConversions) {
    TestHome h;
    if (withConversions)
      h.sqlite("kova_this.mdb",
               "insert into S騎手コード変換(Jravan,Kova,騎手名) values('01007','12345','新名前');"
               "insert into S調教師コード変換(Jravan,Kova,調教師名) values('01106','20000','新調教師');");
    std::vector<fx::ArchiveEntry> entries;
    for (int i : order) entries.push_back(files[static_cast<size_t>(i)]);
    fx::WriteLzh(h.work + "JV.lzh", entries);
    EXPECT_EQ(regMain(h.work + "JV.lzh", "T", "V"), -1);
    return h.sqlite("kova_this.mdb", rows);
  };
  const std::string own = run({0, 1, 2}, false);
  ASSERT_NE(own, "");
  EXPECT_NE(own.find("|01007|"), std::string::npos) << own;
  std::vector<int> order = {0, 1, 2};
  do {
    EXPECT_EQ(run(order, true), own) << order[0] << order[1] << order[2];
  } while (std::next_permutation(order.begin(), order.end()));
}

// A stop rule ends the archive: velmo-cli says why and at which file, and the
// races before the stop stay.
TEST(Van, CommandLineSaysWhyAndWhereAStopRuleEndedTheArchive) {
  TestHome h;
  std::ofstream(h.config + "kova.ini") << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  auto recs = fx::VanRecords("JracSei1.dat", smallDay(4, 3));
  patch(recs[2], 0, "2005031230010103");
  fx::WriteLzh(h.work + "JV050312.lzh", {{"JracSei1.dat", joined(recs)}});
  const std::string err = h.root + "err.txt";
  int rc = std::system((test::BuildHome() + "velmo-cli register --source V " + h.work + "JV050312.lzh </dev/null >/dev/null 2>'" + err +
                        "'").c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  const std::string said = ReadFileBytes(err);
  EXPECT_NE(said.find("stopped at JracSei1.dat: ＪＲＡ以外のデータは登録できません。"), std::string::npos) << said;
  EXPECT_NE(said.find("stay registered"), std::string::npos) << said;
  EXPECT_EQ(trimmed(h.sqlite("kova_this.mdb", "select count(distinct レースキー) from T成績データ")), "2");
}
