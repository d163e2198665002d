// Pack and day archives of the entry, result and horse basic kinds through the
// registration driver and the velmo-cli command: the right tables of both
// databases, the mode switches, and a failing file that leaves none of its rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "registration/regkova.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

std::string count(const TestHome& h, const std::string& db, const std::string& where) {
  std::string out = h.sqlite(db, "select count(*) from " + where + ";");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string one(const TestHome& h, const std::string& db, const std::string& sql) {
  std::string out = h.sqlite(db, sql);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Registers one file into a database of the folder, outside any archive.
void registerFile(const std::string& mode, const std::string& path, void (RegKOVA::*reader)(const std::string&)) {
  RegKOVA s;
  s.Mode(mode);
  s.conDB(G().gDBDir);
  (s.*reader)(path);
  s.clsDB();
}

}  // namespace

TEST(EntryPack, PackArchiveThroughTheCommandLineFillsBothDatabases) {
  TestHome h;
  fixture::RaceDay day;  // 3 courses × 12 races × 16 runners
  // Two earlier runs that the past database already holds, with other values.
  auto zec = fixture::DayRecords("ZEC", day);
  auto zkb = fixture::DayRecords("ZKB", day);
  std::string pastSec = zec[0], pastSkb = zkb[0];
  pastSec.replace(140, 2, "99");
  pastSkb.replace(26, 3, "OLD");
  WriteFileBytes(h.work + "SEC050226.txt", pastSec);
  WriteFileBytes(h.work + "SKB050226.txt", pastSkb);
  registerFile("D", h.work + "SEC050226.txt", &RegKOVA::regSEC);
  registerFile("D", h.work + "SKB050226.txt", &RegKOVA::regSKB);
  db::Workspace::get().reset();
  std::string key = zec[0].substr(10, 16), extKey = zkb[0].substr(10, 16);

  std::string archive = fixture::WritePackArchive(h.work, {"KYG", "KKA", "ZEC", "ZKB", "UKC"}, day);
  ASSERT_EQ(FileNamePart(archive), "KOVA050312.lzh");
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\nDBDir=" << h.dbDir << "\nLzhDir=" << h.lzhDir << "\n";
  }
  std::string cmd = "'" + test::BuildHome() + "velmo-cli' register '" + archive + "' > '" + h.work + "cli.log' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << h.logText();

  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ where データID='KYG'"), "576");
  // The post step of the pack archive gave every extension row its registration number.
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬拡張データ where 血統登録番号 is not null"), "576");
  EXPECT_EQ(count(h, "kova_this.mdb", "T前走データ"), "2880");
  EXPECT_EQ(count(h, "kova_this.mdb", "T前走拡張データ"), "2880");
  EXPECT_EQ(count(h, "kova_this.mdb", "T馬基本データ where データID='UKC'"), "576");
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ k join T前走データ z on z.競走成績キー = k.前走１競走成績キー"), "576");
  // The earlier runs refreshed the rows the past database holds, and added none.
  EXPECT_EQ(one(h, "kova_data.mdb", "select 着順 || '|' || データID from D成績データ where 競走成績キー='" + key + "';"),
            zec[0].substr(140, 2) + "|SEC");
  EXPECT_EQ(count(h, "kova_data.mdb", "D成績データ"), "1");
  EXPECT_EQ(one(h, "kova_data.mdb", "select 特記1 || '|' || データID from D成績拡張データ where 競走成績キー='" + extKey + "';"),
            zkb[0].substr(26, 3) + "|SKB");
  EXPECT_EQ(count(h, "kova_data.mdb", "D成績拡張データ"), "1");
}

TEST(EntryPack, AFailingFileLeavesNoneOfItsRowsAndTheEarlierFilesStay) {
  TestHome h;
  fixture::RaceDay day;
  day.courses = {"06"};
  auto sec = fixture::DayRecords("SEC", day);
  // The third record's horse name is not Shift_JIS.
  sec[2].replace(26, 2, std::string("\x82\x0a", 2));
  std::string all;
  for (const auto& r : sec) all += r;
  std::string kyg;
  for (const auto& r : fixture::DayRecords("KYG", day)) kyg += r;
  std::string archive = h.work + "KOVA050312.lzh";
  fixture::WriteLzh(archive, {{"KYG050312.txt", kyg}, {"SEC050312.txt", all}});
  EXPECT_TRUE(regMainKOVA(archive, "T"));
  db::Workspace::get().reset();
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ"), std::to_string(12 * 16));
  EXPECT_EQ(count(h, "kova_this.mdb", "T成績データ"), "0");
  EXPECT_NE(h.logText().find("エラーファイル[SEC050312.txt]"), std::string::npos);
  // The data list kept the entry file's cell and has no result cell.
  EXPECT_EQ(one(h, "kova_this.mdb", "select KOVAデータ || '|' || ifnull(成績データ, '<null>') from Tデータ一覧テーブル;"), "KYG|<null>");
}

TEST(EntryPack, PastModeRunsHorseBasicDataInThisWeekAndSkipsPreviousRuns) {
  TestHome h;
  fixture::RaceDay day;
  day.courses = {"06"};
  day.races = 2;
  std::string archive = fixture::WritePackArchive(h.work, {"SEB", "UKA", "ZEB", "KKA"}, day);
  EXPECT_FALSE(regMainKOVA(archive, "D"));
  db::Workspace::get().reset();
  EXPECT_EQ(count(h, "kova_this.mdb", "T馬基本データ"), "32");
  EXPECT_EQ(count(h, "kova_data.mdb", "D成績データ"), "32");
  EXPECT_EQ(count(h, "kova_this.mdb", "T前走データ"), "0");
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬拡張データ"), "0");
  // After the horse basic file the session is back on the past database: the
  // data list rows written after every file are all in kova_data.mdb.
  EXPECT_EQ(one(h, "kova_data.mdb", "select 年月日 || '|' || 成績データ from Dデータ一覧テーブル;"), "20050312|SEB完");
  EXPECT_EQ(count(h, "kova_this.mdb", "Tデータ一覧テーブル"), "0");
}

TEST(EntryPack, ABadRegisteredHorseFileKeepsTheDayItWouldReplace) {
  TestHome h;
  fixture::RaceDay day;
  day.courses = {"06"};
  std::string good;
  for (const auto& r : fixture::DayRecords("KTA", day)) good += r;
  std::string archive = h.work + "KTA050312.lzh";
  fixture::WriteLzh(archive, {{"KTA050312.txt", good}});
  ASSERT_FALSE(regMainKOVA(archive, "T"));
  // The next delivery of the day is cut off in the middle of its second record:
  // its delete of the day's rows is undone with the rest of the file.
  fixture::WriteLzh(archive, {{"KTA050312.txt", good.substr(0, 388 + 300)}});
  EXPECT_TRUE(regMainKOVA(archive, "T"));
  db::Workspace::get().reset();
  EXPECT_EQ(count(h, "kova_this.mdb", "T登録馬データ where 年月日='20050312'"), std::to_string(12 * 18));
  EXPECT_NE(h.logText().find("エラーファイル[KTA050312.txt]"), std::string::npos);
}
