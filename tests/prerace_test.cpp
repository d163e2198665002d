// Pre-race information files: the columns of TY, TYA and TYB, the key update from
// the horse entry table, the status the data list shows, and the races whose
// first horse is missing.
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::readers::Session;
using velmo::test::TestHome;

namespace {

// A pre-race record with a distinct value in every field, written at the
// offsets of the pre-race record table; unused bytes hold letters that no
// column may show.
std::string preRace(int length, const std::string& raceKey, const std::string& horse) {
  RecordBuilder b(length);
  b.put(0, 8, raceKey).put(8, 2, horse).putBytes(10, std::string(15, 'U'));
  b.put(25, 5, " 12.3").put(30, 5, "A45.6").putBytes(35, "VVVVV").put(40, 5, "B78.9").put(45, 1, "C");
  if (length == 80) {
    b.putBytes(46, std::string(32, 'X'));
    return b.bytes();
  }
  b.put(46, 1, "D").put(47, 1, "E").put(48, 5, "01234").put(53, 12, "横山典弘").put(65, 3, "570");
  b.put(68, 1, "F").put(69, 2, "GH").put(71, 1, "I").put(72, 6, "  12.5").put(78, 6, "   3.1");
  b.put(84, 4, "0930").put(88, 3, "482").put(91, 3, " -4").put(94, 1, "J").put(95, 1, "K").put(96, 1, "L");
  b.putBytes(97, std::string(29, 'W'));
  return b.bytes();
}

std::string file(const std::vector<std::string>& records) {
  std::string all;
  for (const auto& r : records) all += r;
  return all;
}

// Entry rows (race key, horse number, registration number, result key, name).
void addEntries(RegKOVA& s, const std::string& prefix, const std::string& raceKey, std::initializer_list<int> horses,
                const std::string& tag = "") {
  for (int h : horses) {
    std::string n = test::readers::Two(h);
    s.db().execute("insert into " + prefix + "競走馬データ (データID, レースキー, 馬番, 血統登録番号, 競走成績キー, 馬名) values ('KYC', '" +
                   raceKey + "', '" + n + "', '200101" + n + "', '200101" + n + "2005031" + tag + "', '馬" + n + tag + "')");
  }
}

const char* kAllColumns =
    "select データID, レースキー, 馬番, 血統登録番号, 競走成績キー, 馬名, 直前オッズ指数, 直前パドック指数, 直前総合指数, "
    "直前馬具変更情報, 脚元情報, 取消フラグ, 騎手コード2, 騎手名2, 負担重量2, 見習区分2, 馬場状態, 天候, 単勝オッズ, "
    "複勝オッズ, オッズ取得時間, 馬体重, 増減, 直前オッズ印, 直前パドック印, 直前総合印 from T直前情報データ order by レースキー";

}  // namespace

TEST(PreRace, EachKindWritesItsColumns) {
  TestHome h;
  Session t("T");
  WriteFileBytes(h.work + "TY050904.txt", preRace(80, "06051101", "01"));
  WriteFileBytes(h.work + "TYA050904.txt", preRace(128, "06051102", "01"));
  WriteFileBytes(h.work + "TYB050904.txt", preRace(128, "06051103", "01"));
  t.s.regTY(h.work + "TY050904.txt");
  t.s.regTYA(h.work + "TYA050904.txt");
  t.s.regTYB(h.work + "TYB050904.txt");
  const std::string common = " 12.3|A45.6|B78.9|C|";
  const std::string full = "D|E|01234|横山典弘  |570|F|GH|I|  12.5|   3.1|0930|482| -4|";
  EXPECT_EQ(t.rows(kAllColumns),
            "TY|06051101|01|<null>|<null>|<null>|" + common +
                "<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>\n"
                "TYA|06051102|01|<null>|<null>|<null>|" + common + full + "<null>|<null>|<null>\n"
                "TYB|06051103|01|<null>|<null>|<null>|" + common + full + "J|K|L\n");
  EXPECT_EQ(t.s.DataID(), "TYB");
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  // Blank odds, weight and change are Null.
  RecordBuilder blank(128);
  blank.put(0, 8, "06051104").put(8, 2, "01");
  WriteFileBytes(h.work + "TYA050904.txt", blank.bytes());
  t.s.regTYA(h.work + "TYA050904.txt");
  EXPECT_EQ(t.rows("select 単勝オッズ, 複勝オッズ, 馬体重, 増減, 直前総合指数 from T直前情報データ where レースキー = '06051104'"),
            "<null>|<null>|<null>|<null>|     \n");
}

TEST(PreRace, KeysComeFromTheEntriesOfTheSameMode) {
  TestHome h;
  Session t("T");
  const std::string tya = h.work + "TYA050904.txt";
  WriteFileBytes(tya, file({preRace(128, "06051111", "02"), preRace(128, "06051112", "01"), preRace(128, "06051112", "02")}));
  // Before the entries: no keys, the data list shows " err".
  t.s.regTYA(tya);
  EXPECT_EQ(t.rows("select count(*), count(血統登録番号), count(競走成績キー), count(馬名) from T直前情報データ"), "3|0|0|0\n");
  EXPECT_EQ(t.s.Status(), " err");
  // With the entries the same file links every row and gives the last record's race number.
  addEntries(t.s, "T", "06051111", {2});
  addEntries(t.s, "T", "06051112", {1, 2});
  t.s.regTYA(tya);
  EXPECT_EQ(t.rows("select レースキー, 馬番, 血統登録番号, 競走成績キー, 馬名 from T直前情報データ order by レースキー, 馬番"),
            "06051111|02|20010102|200101022005031|馬02\n06051112|01|20010101|200101012005031|馬01\n"
            "06051112|02|20010102|200101022005031|馬02\n");
  EXPECT_EQ(t.s.Status(), "12");
  // Rows linked earlier keep their keys when the entries change and the file comes again.
  t.s.db().execute("update T競走馬データ set 競走成績キー = 'changed', 馬名 = '別名'");
  t.s.regTYA(tya);
  EXPECT_EQ(t.rows("select count(*) from T直前情報データ where 競走成績キー like '2001010*'"), "3\n");
  // Mode D links from the past entries and leaves this week's rows alone.
  t.s.db().execute("update T直前情報データ set 競走成績キー = null, 馬名 = null");
  Session d("D");
  addEntries(d.s, "D", "06051112", {1, 2}, "9");
  d.s.regTYA(tya);
  EXPECT_EQ(d.rows("select 馬番, 競走成績キー, 馬名 from D直前情報データ order by レースキー, 馬番"),
            "02|<null>|<null>\n01|2001010120050319|馬019\n02|2001010220050319|馬029\n");
  EXPECT_EQ(d.s.Status(), "12");
  EXPECT_EQ(t.rows("select count(競走成績キー) from T直前情報データ"), "0\n");
}

TEST(PreRace, StatusIsTheLastOrHighestRaceNumber) {
  TestHome h;
  Session t("T");
  for (int r = 1; r <= 12; ++r) addEntries(t.s, "T", "060511" + test::readers::Two(r), {1});
  std::vector<std::string> records;
  for (int r : {4, 11, 1, 7, 3}) records.push_back(preRace(128, "060511" + test::readers::Two(r), "01"));
  WriteFileBytes(h.work + "TYB050904.txt", file(records));
  WriteFileBytes(h.work + "TYA050904.txt", file(records));
  struct Case {
    const char* kind;
    const char* prevId;  // the previous file of the run, its day and the status it left
    const char* prevDate;
    const char* before;
    const char* status;
  } cases[] = {
      {"TYB", "HJC", "20050904", "", "11"},    // the highest race number, whatever the order
      {"TYB", "TYA", "20050904", "12", "12"},  // it starts from the same day's pre-race count
      {"TYB", "BAB", "20050904", "確", "11"},  // a stage mark of another family is not carried over
      {"TYB", "TYA", "20050903", "12", "11"},  // nor another day's count
      {"TYA", "TYB", "20050904", "12", "03"},  // TYA: the race number of the last record
  };
  for (const auto& c : cases) {
    t.s.setCatalogue(c.prevId, c.prevDate, c.before);
    if (std::string(c.kind) == "TYB") t.s.regTYB(h.work + "TYB050904.txt");
    else t.s.regTYA(h.work + "TYA050904.txt");
    EXPECT_EQ(t.s.Status(), c.status) << c.kind << " after " << c.prevId << c.before << " of " << c.prevDate;
    EXPECT_EQ(t.s.DataID(), c.kind);
  }
}

// A race whose horse "01" is missing from the file (scratched) must not refuse
// the whole file: the race counts as not linked.
TEST(PreRace, LastRaceWithoutHorseOneRegistersAsNotLinked) {
  TestHome h;
  Session t("T");
  addEntries(t.s, "T", "06051101", {1, 2});
  addEntries(t.s, "T", "06051112", {1, 2});
  fixture::WriteLzh(h.work + "TYA050904.lzh",
                    {{"TYA050904.txt", file({preRace(128, "06051101", "01"), preRace(128, "06051112", "02")})}});
  t.s.clsDB();
  EXPECT_FALSE(regMainKOVA(h.work + "TYA050904.lzh", "T"));
  Session again("T");
  EXPECT_EQ(again.rows("select count(*), count(競走成績キー) from T直前情報データ"), "2|2\n");
  EXPECT_EQ(again.rows("select 直前情報データ from Tデータ一覧テーブル where 年月日 = '20050904'"), "TYA err\n");
  // A complete file of the same day then shows its race number.
  again.s.clsDB();
  fixture::WriteLzh(h.work + "TYA050904.lzh", {{"TYA050904.txt", file({preRace(128, "06051112", "01")})}});
  EXPECT_FALSE(regMainKOVA(h.work + "TYA050904.lzh", "T"));
  Session last("T");
  EXPECT_EQ(last.rows("select 直前情報データ from Tデータ一覧テーブル where 年月日 = '20050904'"), "TYA12\n");
  // A race key with a quote in it is looked up as it stands, not cut into the statement.
  last.s.db().execute("insert into T競走馬データ (レースキー, 馬番, 競走成績キー) values ('0605''103', '01', '2001010120050905')");
  WriteFileBytes(h.work + "TYA050905.txt", preRace(128, "0605'103", "01"));
  last.s.regTYA(h.work + "TYA050905.txt");
  EXPECT_EQ(last.s.Status(), "03");
}
