// Horse basic files UKA, UKB, UKC (never overwritten with older data) and the
// deletion list MZA.
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

// The horse basic record (rule columns UKA, UKB, UKC).
const std::vector<FieldSpec> kHorseFields = {
    {0, 8, "血統登録番号", {"text", "text", "text"}},
    {8, 36, "馬名", {"trim head 18", "trim head 18", "trim head 18"}},
    {44, 1, "性別コード", {"text", "text", "text"}},
    {45, 2, "毛色コード", {"text", "text", "text"}},
    {47, 2, "馬記号コード", {"text", "text", "text"}},
    {49, 36, "父馬名", {"trim head 18", "trim head 18", "trim head 18"}},
    {85, 36, "母馬名", {"trim head 18", "trim head 18", "trim head 18"}},
    {121, 36, "母父馬名", {"trim head 18", "trim head 18", "trim head 18"}},
    {157, 8, "生年月日", {"text", "text", "text"}},
    {165, 4, "父馬生年", {"-", "text", "text"}},
    {169, 4, "母馬生年", {"-", "text", "text"}},
    {173, 4, "母父馬生年", {"-", "text", "text"}},
    {177, 40, "馬主名", {"-", "trim head 20", "trim head 20"}},
    {217, 2, "馬主会コード", {"-", "text", "text"}},
    {219, 40, "生産者名", {"-", "trim head 20", "trim head 20"}},
    {259, 8, "産地名", {"-", "trim head 4", "trim head 4"}},
    {267, 1, "抹消フラグ", {"-", "text", "text"}},
    {268, 8, "データ年月日", {"-", "text", "text"}},
    {276, 4, "父系統コード", {"-", "-", "text"}},
    {280, 4, "母父系統コード", {"-", "-", "text"}},
    {8, 0, "馬名キー", {"-", "key", "key"}},
};

const char* const kKinds[] = {"UKA", "UKB", "UKC"};
const int kLengths[] = {170, 284, 292};

using Session = velmo::test::readers::Session;

void read(RegKOVA& s, size_t kind, const std::string& path) {
  if (kind == 0) s.regUKA(path);
  else if (kind == 1) s.regUKB(path);
  else s.regUKC(path);
}

std::string horse(size_t kind, const std::string& regNo, const std::string& name, const std::string& dataDate,
                  const std::string& owner = "金子真人") {
  RecordBuilder b(kLengths[kind]);
  b.put(0, 8, regNo).put(8, 36, name).put(157, 8, "20020415");
  if (kind > 0) b.put(177, 40, owner).put(268, 8, dataDate);
  return b.bytes();
}

std::map<std::string, db::Value> row(RegKOVA& s, const std::string& regNo) {
  auto rows = Rows(s.db(), "select * from T馬基本データ where 血統登録番号='" + regNo + "'");
  return rows.empty() ? std::map<std::string, db::Value>{} : rows[0];
}

}  // namespace

TEST(HorseBasic, EachKindWritesExactlyItsColumns) {
  TestHome h;
  Session s;
  s.s.setCatalogue("SEC", "20050305", "完");
  for (size_t k = 0; k < 3; ++k) {
    auto rec = BuildDistinct(kLengths[k], kHorseFields, k, "20050312", static_cast<int>(k));
    if (k == 2) rec.expected["データID"] = std::string("UKC");
    if (k > 0) rec.expected["馬名キー"] = rec.put["馬名"] + rec.put["生年月日"].substr(0, 4);
    std::string path = h.work + kKinds[k] + std::string("050312.txt");
    WriteFileBytes(path, rec.bytes);
    read(s.s, k, path);
    auto r = row(s.s, rec.put["血統登録番号"]);
    ASSERT_FALSE(r.empty()) << kKinds[k];
    test::ExpectRow(r, rec.expected, {}, kKinds[k]);
  }
  EXPECT_EQ(s.s.DataID(), "SEC");  // the data list members stay
  EXPECT_EQ(s.s.Status(), "完");
}

TEST(HorseBasic, NeverOverwrittenWithOlderData) {
  TestHome h;
  Session s;
  struct Case {
    size_t kind;
    const char* stored;  // data date of the stored row ("" for a row UKA wrote)
    const char* incoming;
    bool written;
  };
  const Case cases[] = {
      {1, "20050310", "20050309", false}, {1, "20050310", "20050310", true}, {1, "20050310", "20050311", true},
      {2, "20050310", "20050309", false}, {2, "20050310", "20050310", true}, {2, "", "19990101", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string regNo = "8000000" + std::to_string(n++);
    std::string path = h.work + kKinds[c.kind] + std::string("050312.txt");
    if (*c.stored) WriteFileBytes(path, horse(c.kind, regNo, "ディープインパクト", c.stored, "金子真人"));
    else WriteFileBytes(h.work + "UKA050312.txt", horse(0, regNo, "ディープインパクト", ""));
    read(s.s, *c.stored ? c.kind : 0, *c.stored ? path : h.work + "UKA050312.txt");
    auto before = row(s.s, regNo);
    WriteFileBytes(path, horse(c.kind, regNo, "ブラックタイド", c.incoming, "サンデーレーシング"));
    read(s.s, c.kind, path);
    auto after = row(s.s, regNo);
    if (c.written) {
      EXPECT_EQ(db::toText(after["馬名"]), "ブラックタイド") << c.stored << " " << c.incoming;
      EXPECT_EQ(db::toText(after["データ年月日"]), c.incoming);
      EXPECT_EQ(db::toText(after["馬名キー"]), "ブラックタイド2002");
    } else {
      for (const auto& [col, v] : before) EXPECT_EQ(test::show(after[col]), test::show(v)) << col;
    }
  }
}

TEST(HorseBasic, UkaOverwritesItsNineColumnsWhateverTheDataDate) {
  TestHome h;
  Session s;
  // An 18-character name fills its 36 bytes and is kept whole.
  const std::string name18 = "アイウエオカキクケコサシスセソタチツ";
  WriteFileBytes(h.work + "UKB050312.txt", horse(1, "90000001", name18, "20991231", "金子真人"));
  s.s.regUKB(h.work + "UKB050312.txt");
  EXPECT_EQ(db::toText(row(s.s, "90000001")["馬名キー"]), name18 + "2002");
  WriteFileBytes(h.work + "UKA050312.txt", horse(0, "90000001", "ディープインパクト", ""));
  s.s.regUKA(h.work + "UKA050312.txt");
  auto r = row(s.s, "90000001");
  EXPECT_EQ(db::toText(r["馬名"]), "ディープインパクト");
  EXPECT_EQ(db::toText(r["馬主名"]), "金子真人");
  EXPECT_EQ(db::toText(r["データ年月日"]), "20991231");
  EXPECT_EQ(db::toText(r["馬名キー"]), name18 + "2002");  // UKA does not write the name key
}

TEST(HorseBasic, DeletionListMarksOnlyHorsesTheTableHolds) {
  TestHome h;
  Session s;
  WriteFileBytes(h.work + "UKC050312.txt", horse(2, "91000001", "ディープインパクト", "20050310"));
  s.s.regUKC(h.work + "UKC050312.txt");
  auto before = row(s.s, "91000001");
  RecordBuilder a(16), b(16);
  a.put(0, 8, "91000001").putBytes(8, "XXXXXX");
  b.put(0, 8, "91999999");
  WriteFileBytes(h.work + "MZA050312.txt", a.bytes() + b.bytes());
  s.s.regMZA(h.work + "MZA050312.txt");
  auto after = row(s.s, "91000001");
  for (const auto& [col, v] : before)
    EXPECT_EQ(test::show(after[col]), col == "抹消フラグ" ? test::show(std::string("1")) : test::show(v)) << col;
  EXPECT_TRUE(row(s.s, "91999999").empty());
}
