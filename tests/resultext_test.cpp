// Result-extension files SKA (288 bytes) and SKB (304 bytes), the previous-run
// extensions ZKA and ZKB with the refresh of the past rows, and the race-result
// file SRA.
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

// The 288-byte extension record (repeated fields written out entry by entry).
const std::vector<FieldSpec> k288 = {
    {10, 16, "競走成績キー", {"key"}},
    {0, 8, "レースキー", {"text"}},
    {8, 2, "馬番", {"text"}},
    {26, 3, "特記1", {"text"}},
    {29, 3, "特記2", {"text"}},
    {32, 3, "特記3", {"text"}},
    {35, 3, "特記4", {"text"}},
    {38, 3, "特記5", {"text"}},
    {41, 3, "特記6", {"text"}},
    {44, 3, "馬具1", {"text"}},
    {47, 3, "馬具2", {"text"}},
    {50, 3, "馬具3", {"text"}},
    {53, 3, "馬具4", {"text"}},
    {56, 3, "馬具5", {"text"}},
    {59, 3, "馬具6", {"text"}},
    {62, 3, "馬具7", {"text"}},
    {65, 3, "馬具8", {"text"}},
    {68, 3, "脚元総合1", {"text"}},
    {71, 3, "脚元総合2", {"text"}},
    {74, 3, "脚元総合3", {"text"}},
    {77, 3, "脚元左前1", {"text"}},
    {80, 3, "脚元左前2", {"text"}},
    {83, 3, "脚元左前3", {"text"}},
    {86, 3, "脚元右前1", {"text"}},
    {89, 3, "脚元右前2", {"text"}},
    {92, 3, "脚元右前3", {"text"}},
    {95, 3, "脚元左後1", {"text"}},
    {98, 3, "脚元左後2", {"text"}},
    {101, 3, "脚元左後3", {"text"}},
    {104, 3, "脚元右後1", {"text"}},
    {107, 3, "脚元右後2", {"text"}},
    {110, 3, "脚元右後3", {"text"}},
    {113, 40, "パドックコメント", {"head 20"}},
    {153, 40, "脚元コメント", {"head 20"}},
    {193, 40, "馬具コメント", {"head 20"}},
    {233, 40, "レースコメント", {"head 20"}},
};
// The fields the 304-byte record adds.
const std::vector<FieldSpec> k304More = {
    {273, 3, "ハミ", {"text"}},
    {276, 3, "バンテージ", {"text"}},
    {279, 3, "蹄鉄", {"text"}},
    {282, 3, "蹄状態", {"text"}},
    {285, 3, "ソエ", {"text"}},
    {288, 3, "骨瘤", {"text"}},
};
// The 408-byte race-result record.
const std::vector<FieldSpec> kRace = {
    {0, 8, "レースキー", {"text"}},
    {0, 0, "年月日", {"date"}},
    {8, 54, "ハロンタイム", {"text"}},
    {62, 64, "コーナー位置1", {"text"}},
    {126, 64, "コーナー位置2", {"text"}},
    {190, 64, "コーナー位置3", {"text"}},
    {254, 64, "コーナー位置4", {"text"}},
};

std::vector<FieldSpec> bothRecords() {
  std::vector<FieldSpec> all;
  for (const auto& f : k288) all.push_back({f.offset, f.length, f.column, {f.rules[0], f.rules[0]}});
  for (const auto& f : k304More) all.push_back({f.offset, f.length, f.column, {"-", f.rules[0]}});
  return all;
}

using Session = velmo::test::readers::Session;

void read(RegKOVA& s, const std::string& kind, const std::string& path) {
  if (kind == "SKA") s.regSKA(path);
  else if (kind == "SKB") s.regSKB(path);
  else if (kind == "ZKA") s.regZKA(path);
  else if (kind == "ZKB") s.regZKB(path);
  else if (kind == "SKAfromZKA") s.regSKAfromZKA(path);
  else s.regSKBfromZKB(path);
}

std::string extension(int length, const std::string& key, const std::string& raceKey,
                      const std::vector<std::pair<std::pair<int, int>, std::string>>& fields = {}) {
  RecordBuilder b(length);
  b.put(0, 8, raceKey).put(8, 2, "05").put(10, 16, key);
  for (const auto& [range, v] : fields) b.put(range.first, range.second, v);
  return b.bytes();
}

}  // namespace

TEST(ResultExt, EachKindWritesExactlyItsColumns) {
  TestHome h;
  Session s;
  struct Case {
    const char* kind;
    int length;
    size_t rules;
    const char* table;
  };
  const Case cases[] = {{"SKA", 288, 0, "T成績拡張データ"}, {"SKB", 304, 1, "T成績拡張データ"},
                        {"ZKA", 288, 0, "T前走拡張データ"}, {"ZKB", 304, 1, "T前走拡張データ"}};
  int variant = 0;
  for (const auto& c : cases) {
    auto rec = BuildDistinct(c.length, bothRecords(), c.rules, "20050312", variant);
    // Bytes 10-25 feed only the key.
    std::string key = "5000000" + std::to_string(variant++) + "20050226";
    rec.bytes.replace(10, 16, key);
    rec.expected["競走成績キー"] = key;
    if (std::string(c.table) == "T成績拡張データ") rec.expected["データID"] = std::string(c.kind);
    std::string path = h.work + c.kind + std::string("050312.txt");
    WriteFileBytes(path, rec.bytes);
    s.s.setCatalogue("X", "20050101", "Y");
    read(s.s, c.kind, path);
    auto rows = Rows(s.s.db(), std::string("select * from ") + c.table + " where 競走成績キー='" + key + "'");
    ASSERT_EQ(rows.size(), 1u) << c.kind;
    test::ExpectRow(rows[0], rec.expected, {}, c.kind);
    bool lists = c.kind[0] == 'S';
    EXPECT_EQ(s.s.DataID(), lists ? c.kind : "X");
    EXPECT_EQ(s.s.Status(), lists ? "" : "Y");
    EXPECT_EQ(s.s.g_Nengappi, lists ? "20050312" : "20050101");
  }
}

TEST(ResultExt, CommentsOfThe304ByteRecordEndAtTheirFirstFullWidthBlank) {
  TestHome h;
  Session s;
  const std::string padded = "良好" + [] {
    std::string r;
    for (int i = 0; i < 18; ++i) r += "\u3000";
    return r;
  }();
  const std::string inner = "落ち着き\u3000好気配";
  const std::string plain = "イレ込み";
  auto rec = [&](int length, const std::string& key) {
    return extension(length, key, "06041101", {{{113, 40}, padded}, {{153, 40}, inner}, {{193, 40}, plain}});
  };
  WriteFileBytes(h.work + "ZKA050312.txt", rec(288, "6000000120050226"));
  WriteFileBytes(h.work + "ZKB050312.txt", rec(304, "6000000220050226"));
  s.s.regZKA(h.work + "ZKA050312.txt");
  s.s.regZKB(h.work + "ZKB050312.txt");
  auto rows = Rows(s.s.db(), "select パドックコメント as a, 脚元コメント as b, 馬具コメント as c from T前走拡張データ order by 競走成績キー");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(db::toText(rows[0]["a"]), padded);  // 20 characters
  EXPECT_EQ(db::toText(rows[0]["b"]), inner + std::string(12, ' '));
  EXPECT_EQ(db::toText(rows[1]["a"]), "良好\u3000");
  EXPECT_EQ(db::toText(rows[1]["b"]), "落ち着き\u3000");
  EXPECT_EQ(db::toText(rows[1]["c"]), plain + std::string(16, ' '));  // no full-width blank: head 20
}

TEST(ResultExt, PastExtensionsAreRefreshedNeverAddedAndGetTheKindsDataId) {
  TestHome h;
  {
    Session d("D");
    WriteFileBytes(h.work + "SKB050226.txt", extension(304, "7000000120050226", "06041101", {{{26, 3}, "OLD"}, {{273, 3}, "HAM"}}) +
                                                 extension(304, "7000000220050226", "06041101", {{{26, 3}, "OLD"}}));
    d.s.regSKB(h.work + "SKB050226.txt");
  }
  Session d("D");
  WriteFileBytes(h.work + "ZKA050312.txt", extension(288, "7000000120050226", "06041101", {{{26, 3}, "NEW"}}) +
                                               extension(288, "7000000220050226", "        ", {{{26, 3}, "NEW"}}) +
                                               extension(288, "7999999920050226", "06041101", {{{26, 3}, "NEW"}}));
  d.s.regSKAfromZKA(h.work + "ZKA050312.txt");
  auto rows = Rows(d.s.db(), "select データID, 特記1, ハミ from D成績拡張データ order by 競走成績キー");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(db::toText(rows[0]["データID"]), "SKA");
  EXPECT_EQ(db::toText(rows[0]["特記1"]), "NEW");
  EXPECT_EQ(db::toText(rows[0]["ハミ"]), "HAM");  // the SKB-only columns keep their values
  EXPECT_EQ(db::toText(rows[1]["データID"]), "SKB");  // blank race key: left alone
  EXPECT_EQ(db::toText(rows[1]["特記1"]), "OLD");
  WriteFileBytes(h.work + "ZKB050312.txt", extension(304, "7000000120050226", "06041101", {{{273, 3}, "NEW"}}));
  d.s.regSKBfromZKB(h.work + "ZKB050312.txt");
  rows = Rows(d.s.db(), "select データID, ハミ from D成績拡張データ where 競走成績キー='7000000120050226'");
  EXPECT_EQ(db::toText(rows[0]["データID"]), "SKB");
  EXPECT_EQ(db::toText(rows[0]["ハミ"]), "NEW");
}

TEST(ResultExt, RaceResultsTakeTheFileDateAndLeaveTheCatalogue) {
  TestHome h;
  Session s;
  s.s.setCatalogue("SKB", "20050305", "");
  auto first = BuildDistinct(408, kRace, 0, "20050312", 0);
  auto second = BuildDistinct(408, kRace, 0, "20050312", 1);
  WriteFileBytes(h.work + "SRA050312.txt", first.bytes + second.bytes);
  s.s.regSRA(h.work + "SRA050312.txt");
  for (auto* rec : {&first, &second}) {
    rec->expected["データID"] = std::string("SRA");
    auto rows = Rows(s.s.db(), "select * from T成績レースデータ where レースキー='" + rec->put["レースキー"] + "'");
    ASSERT_EQ(rows.size(), 1u);
    test::ExpectRow(rows[0], rec->expected, {}, "SRA");
  }
  EXPECT_EQ(s.s.DataID(), "SKB");
  EXPECT_EQ(s.s.g_Nengappi, "20050305");
}
