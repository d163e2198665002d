// Result files: the day's results SEB (334 bytes) and SEC (346 bytes), the
// earlier runs ZEB and ZEC, the refresh of the past results from them, and the
// status texts the data list shows.
#include <gtest/gtest.h>

#include "common/func.h"
#include "common/globals.h"
#include "registration/regkova.h"
#include "tests/fieldcheck.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::BuildDistinct;
using velmo::test::FieldSpec;
using velmo::test::Rows;
using velmo::test::TestHome;

namespace {

// The 334-byte result record.
const std::vector<FieldSpec> k334 = {
    {10, 8, "競走成績キー", {"key"}},
    {0, 8, "レースキー", {"text"}},
    {8, 2, "馬番", {"text"}},
    {10, 8, "血統登録番号", {"text"}},
    {18, 8, "年月日", {"text"}},
    {26, 36, "馬名", {"trim head 9"}},
    {62, 4, "距離", {"text"}},
    {66, 1, "芝ダ障害コード", {"text"}},
    {67, 1, "右左", {"text"}},
    {68, 1, "内外", {"text"}},
    {69, 2, "馬場状態", {"text"}},
    {71, 2, "種別", {"text"}},
    {73, 2, "条件", {"text"}},
    {75, 3, "記号A", {"char 1"}},
    {75, 3, "記号B", {"char 2"}},
    {75, 3, "記号C", {"char 3"}},
    {78, 1, "重量", {"text"}},
    {79, 1, "グレード", {"text"}},
    {80, 50, "レース名", {"trim head 25"}},
    {130, 2, "頭数", {"blank-null number"}},
    {132, 8, "レース名略称", {"trim head 4"}},
    {140, 2, "着順", {"text"}},
    {142, 1, "異常区分", {"text"}},
    {143, 4, "タイム", {"text"}},
    {147, 3, "斤量", {"text"}},
    {150, 12, "騎手名", {"trim head 6"}},
    {162, 12, "調教師名", {"trim head 6"}},
    {174, 6, "確定単勝オッズ", {"blank-null"}},
    {180, 2, "確定単勝人気順位", {"custom"}},
    {182, 3, "ＩＤＭ", {"blank-null number"}},
    {185, 3, "素点", {"blank-null number"}},
    {188, 3, "馬場差", {"blank-null number"}},
    {191, 3, "ペース", {"blank-null number"}},
    {194, 3, "出遅", {"blank-null number"}},
    {197, 3, "位置取", {"blank-null number"}},
    {200, 3, "不利", {"blank-null number"}},
    {203, 3, "前不利", {"blank-null number"}},
    {206, 3, "中不利", {"blank-null number"}},
    {209, 3, "後不利", {"blank-null number"}},
    {212, 3, "レース", {"blank-null number"}},
    {215, 1, "コース取り", {"text"}},
    {216, 1, "上昇度コード", {"text"}},
    {217, 2, "クラスコード", {"text"}},
    {219, 1, "馬体コード", {"text"}},
    {220, 1, "気配コード", {"text"}},
    {221, 1, "レースペース", {"text"}},
    {222, 1, "馬ペース", {"text"}},
    {223, 5, "テン指数", {"blank-null"}},
    {228, 5, "上がり指数", {"blank-null"}},
    {233, 5, "ペース指数", {"blank-null"}},
    {238, 5, "レースＰ指数", {"blank-null"}},
    {243, 12, "1(2)着馬名", {"trim head 6"}},
    {255, 3, "1(2)着タイム差", {"text"}},
    {258, 3, "前３Ｆ", {"blank-null"}},
    {261, 3, "後３Ｆ", {"blank-null"}},
    {264, 24, "備考", {"trim head 12"}},
    {290, 6, "確定複勝オッズ", {"blank-null"}},
    {296, 6, "10時単勝オッズ", {"blank-null"}},
    {302, 6, "10時複勝オッズ", {"blank-null"}},
    {308, 2, "コーナー順位1", {"text"}},
    {310, 2, "コーナー順位2", {"text"}},
    {312, 2, "コーナー順位3", {"text"}},
    {314, 2, "コーナー順位4", {"text"}},
    {316, 3, "前３F先頭差", {"blank-null"}},
    {319, 3, "後３F先頭差", {"blank-null"}},
    {322, 5, "騎手コード", {"text"}},
    {327, 5, "調教師コード", {"text"}},
};
// The fields the 346-byte record adds.
const std::vector<FieldSpec> k346More = {
    {332, 3, "馬体重", {"custom"}},
    {335, 3, "増減", {"blank-null"}},
    {338, 1, "天候コード", {"text"}},
    {339, 1, "コース", {"text"}},
    {340, 1, "レース脚質", {"text"}},
};

// Rule columns: 334-byte record, 346-byte record.
std::vector<FieldSpec> bothRecords() {
  std::vector<FieldSpec> all;
  for (const auto& f : k334) all.push_back({f.offset, f.length, f.column, {f.rules[0], f.rules[0]}});
  for (const auto& f : k346More) all.push_back({f.offset, f.length, f.column, {"-", f.rules[0]}});
  return all;
}

using Session = velmo::test::readers::Session;

// A result record of the given length with its key, race key and the given fields.
std::string result(int length, const std::string& regNo, const std::string& date, const std::string& raceKey,
                   const std::vector<std::pair<std::pair<int, int>, std::string>>& fields = {}) {
  RecordBuilder b(length);
  b.put(0, 8, raceKey).put(8, 2, "01").put(10, 8, regNo).put(18, 8, date).put(308, 2, "03");
  for (const auto& [range, v] : fields) b.put(range.first, range.second, v);
  return b.bytes();
}

void read(RegKOVA& s, const std::string& kind, const std::string& path) {
  if (kind == "SEB") s.regSEB(path);
  else if (kind == "SEC") s.regSEC(path);
  else if (kind == "ZEB") s.regZEB(path);
  else if (kind == "ZEC") s.regZEC(path);
  else if (kind == "SEBfromZEB") s.regSEBfromZEB(path);
  else s.regSECfromZEC(path);
}

}  // namespace

TEST(Results, EachKindWritesExactlyItsColumns) {
  TestHome h;
  Session s;
  struct Case {
    const char* kind;
    int length;
    size_t rules;
    const char* table;
  };
  const Case cases[] = {{"SEB", 334, 0, "T成績データ"}, {"SEC", 346, 1, "T成績データ"}, {"ZEB", 334, 0, "T前走データ"}, {"ZEC", 346, 1, "T前走データ"}};
  int variant = 0;
  for (const auto& c : cases) {
    auto rec = BuildDistinct(c.length, bothRecords(), c.rules, "20050312", variant++);
    if (std::string(c.table) == "T成績データ") rec.expected["データID"] = std::string(c.kind);
    rec.expected["競走成績キー"] = rec.put["血統登録番号"] + rec.put["年月日"];
    std::string path = h.work + c.kind + std::string("050312.txt");
    WriteFileBytes(path, rec.bytes);
    read(s.s, c.kind, path);
    auto rows = Rows(s.s.db(), std::string("select * from ") + c.table + " where レースキー='" + rec.put["レースキー"] + "'");
    ASSERT_EQ(rows.size(), 1u) << c.kind;
    test::ExpectRow(rows[0], rec.expected, {}, c.kind);
  }
}

TEST(Results, PopularityAndBodyWeightRules) {
  TestHome h;
  Session s;
  struct Case {
    const char* raw;
    const char* weight;
    db::Value popularity334, popularity346, weight346;
  };
  const Case cases[] = {
      {"99", "000", db::Value(), db::Value(), db::Value()},
      {"  ", "   ", std::string("  "), db::Value(), db::Value()},
      {"05", "482", std::string("05"), std::string("05"), std::string("482")},
      {" 9", "0 0", std::string(" 9"), std::string(" 9"), std::string("0 0")},
  };
  std::string seb, sec;
  int n = 0;
  for (const auto& c : cases) {
    std::string regNo = "1000000" + std::to_string(n++);
    seb += result(334, regNo, "20050312", "06051101", {{{180, 2}, c.raw}});
    sec += result(346, regNo, "20050312", "06051101", {{{180, 2}, c.raw}, {{332, 3}, c.weight}});
  }
  WriteFileBytes(h.work + "SEB050312.txt", seb);
  WriteFileBytes(h.work + "ZEC050312.txt", sec);
  s.s.regSEB(h.work + "SEB050312.txt");
  s.s.regZEC(h.work + "ZEC050312.txt");
  auto r334 = Rows(s.s.db(), "select 確定単勝人気順位 as p from T成績データ order by 競走成績キー");
  auto r346 = Rows(s.s.db(), "select 確定単勝人気順位 as p, 馬体重 as w from T前走データ order by 競走成績キー");
  ASSERT_EQ(r334.size(), 4u);
  ASSERT_EQ(r346.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(test::show(r334[i]["p"]), test::show(cases[i].popularity334)) << cases[i].raw;
    EXPECT_EQ(test::show(r346[i]["p"]), test::show(cases[i].popularity346)) << cases[i].raw;
    EXPECT_EQ(test::show(r346[i]["w"]), test::show(cases[i].weight346)) << cases[i].weight;
  }
}

TEST(Results, StatusTextsForTheDataList) {
  TestHome h;
  Session s;
  auto races = [](int length, int last, bool cornersInLast) {
    std::string all;
    for (int r = 1; r <= last; ++r) {
      char key[16];
      std::snprintf(key, sizeof key, "060511%02d", r);
      all += result(length, "200000" + test::zeroPad(r, 2), "20050312", key,
                    {{{308, 2}, r == last && !cornersInLast ? "  " : "05"}});
    }
    return all;
  };
  struct Case {
    const char* kind;
    std::string records;
    const char* status;
  };
  const Case cases[] = {
      {"SEB", races(334, 8, false), "速"},  // earlier records have corner positions
      {"SEB", races(334, 8, true), "完"},
      {"SEB", "", "完"},
      {"SEC", races(346, 8, false), "08"},
      {"SEC", races(346, 12, false), "速"},
      {"SEC", races(346, 10, false), "10"},
      {"SEC", races(346, 8, true), "完"},
      {"SEC", "", "完"},
  };
  for (const auto& c : cases) {
    s.s.setCatalogue("", "", "");  // each file on its own
    std::string path = h.work + c.kind + std::string("050312.txt");
    WriteFileBytes(path, c.records);
    read(s.s, c.kind, path);
    EXPECT_EQ(s.s.Status(), c.status) << c.kind << " " << c.records.size();
    EXPECT_EQ(s.s.DataID(), c.kind);
    EXPECT_EQ(s.s.g_Nengappi, "20050312");
  }
  // "完" left by another day's file does not outrank the race numbers of an SEC
  // file of quick results; a stage mark of another family is not carried either.
  WriteFileBytes(h.work + "SEB050312.txt", races(334, 4, true));
  s.s.regSEB(h.work + "SEB050312.txt");
  ASSERT_EQ(s.s.Status(), "完");
  WriteFileBytes(h.work + "SEC050319.txt", races(346, 6, false));
  s.s.regSEC(h.work + "SEC050319.txt");
  EXPECT_EQ(s.s.Status(), "06");
  s.s.setCatalogue("BAB", "20050319", "確");
  s.s.regSEC(h.work + "SEC050319.txt");
  EXPECT_EQ(s.s.Status(), "06");
}

TEST(Results, ALaterRecordOfTheSameRunReplacesTheRow) {
  TestHome h;
  Session s;
  WriteFileBytes(h.work + "SEC050312.txt", result(346, "30000001", "20050312", "06051101", {{{140, 2}, "03"}}) +
                                               result(346, "30000001", "20050312", "06051101", {{{140, 2}, "01"}}));
  s.s.regSEC(h.work + "SEC050312.txt");
  auto rows = Rows(s.s.db(), "select 着順 from T成績データ");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(db::toText(rows[0]["着順"]), "01");
}

TEST(Results, PastResultsAreRefreshedNeverAdded) {
  TestHome h;
  struct Case {
    const char* kind;  // previous-run kind refreshing D成績データ
    int length;
    const char* raceKey;
    bool refreshed;
  };
  const Case cases[] = {
      {"ZEB", 334, "06041101", true},
      {"ZEB", 334, "        ", false},  // no race key
      {"ZEB", 334, "44041101", true},   // the 334-byte refresh has no course test
      {"ZEC", 346, "06041101", true},
      {"ZEC", 346, "10041101", true},
      {"ZEC", 346, "11041101", false},  // racecourses above "10" are not past results
      {"ZEC", 346, "        ", false},  // a blank race key would blank the stored one
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string regNo = "4000000" + std::to_string(n++);
    // The stored past result, registered from SEB with its own data ID.
    {
      Session d("D");
      WriteFileBytes(h.work + "SEB050226.txt", result(334, regNo, "20050226", "06041101", {{{140, 2}, "09"}}));
      d.s.regSEB(h.work + "SEB050226.txt");
    }
    Session d("D");
    std::string path = h.work + c.kind + std::string("050312.txt");
    // The run itself and one the past table does not hold.
    WriteFileBytes(path, result(c.length, regNo, "20050226", c.raceKey, {{{140, 2}, "02"}}) +
                             result(c.length, "49999999", "20050226", "06041101", {{{140, 2}, "02"}}));
    read(d.s, std::string(c.kind) == "ZEB" ? "SEBfromZEB" : "SECfromZEC", path);
    auto rows = Rows(d.s.db(), "select データID, 着順, レースキー from D成績データ where 血統登録番号='" + regNo + "'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(db::toText(rows[0]["着順"]), c.refreshed ? "02" : "09") << c.kind << " [" << c.raceKey << "]";
    EXPECT_EQ(db::toText(rows[0]["データID"]), "SEB");
    EXPECT_TRUE(Rows(d.s.db(), "select * from D成績データ where 血統登録番号='49999999'").empty());
  }
}
