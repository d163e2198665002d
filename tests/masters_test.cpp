// Jockey and trainer masters (KZA/KSA, CZA/CSA) and the code conversion lists.
#include <gtest/gtest.h>

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

struct Field {
  int offset, length;
  std::string column, put, stored;  // stored "<null>" for Null
};

// The fields of a master record from the record table: the person's item
// ("騎手" or "調教師") and, for jockeys, the two fields that trainers lack.
std::vector<Field> masterFields(const std::string& item, bool jockey, int variant) {
  std::string v = std::to_string(variant);
  std::vector<Field> f = {
      {0, 5, item + "コード", "0100" + v, "0100" + v},
      {5, 1, "登録抹消フラグ", "A", "A"},
      {6, 8, "登録抹消年月日", "20040101", "20040101"},
      {14, 12, item + "名", " 武豊", "武豊"},
      {26, 30, item + "カナ", "タケユタカ", "タケユタカ"},
      {56, 6, item + "名略称", "武豊", "武豊 "},
      {62, 1, "所属コード", "B", "B"},
      {63, 4, "所属地域名", "栗東", "栗東"},
      {67, 8, "生年月日", "19690315", "19690315"},
      {75, 4, "初免許年", "1987", "1987"},
  };
  int at = 79;
  if (jockey) {
    f.push_back({79, 1, "見習い区分", "C", "C"});
    f.push_back({80, 5, "所属厩舎", "02001", "02001"});
    at = 85;
  }
  f.push_back({at, 40, item + "コメント", "好調", "好調" + std::string(18, ' ')});
  f.push_back({at + 40, 8, "コメント入力年月日", "20050901", "20050901"});
  int n = 100;
  auto single = [&](int off, const char* col) {
    std::string s = std::to_string(++n);
    f.push_back({off, 3, col, s, s});
  };
  auto counts = [&](int off, int width, const std::string& prefix) {
    const char* suffix[] = {"1着数", "2着数", "3着数", "着外数"};
    for (int i = 0; i < 4; ++i) {
      std::string s = std::to_string(++n);
      s = std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
      f.push_back({off + i * width, width, prefix + suffix[i], s, s});
    }
  };
  int s = at + 48;
  single(s, "本年リーディング");
  counts(s + 3, 3, "本年平地");
  counts(s + 15, 3, "本年障害");
  single(s + 27, "本年特別勝数");
  single(s + 30, "本年重賞勝数");
  single(s + 33, "昨年リーディング");
  counts(s + 36, 3, "昨年平地");
  counts(s + 48, 3, "昨年障害");
  single(s + 60, "昨年特別勝数");
  single(s + 63, "昨年重賞勝数");
  counts(s + 66, 5, "通算平地");
  counts(s + 86, 5, "通算障害");
  f.push_back({s + 106, 8, "データ年月日", "20050903", "20050903"});
  return f;
}

std::string record(const std::vector<Field>& fields, bool blankCareer = false) {
  RecordBuilder b(272);
  for (const auto& f : fields)
    if (!(blankCareer && f.column.rfind("通算", 0) == 0)) b.put(f.offset, f.length, f.put);
  return b.bytes();
}

std::string select(const std::vector<Field>& fields, const std::string& table) {
  std::string cols;
  for (const auto& f : fields) cols += (cols.empty() ? "" : ", ") + f.column;
  return "select " + cols + " from " + table + " order by 1";
}

std::string stored(const std::vector<Field>& fields, bool blankCareer = false) {
  std::string out;
  for (const auto& f : fields) {
    if (!out.empty()) out += "|";
    out += blankCareer && f.column.rfind("通算", 0) == 0 ? "<null>" : f.stored;
  }
  return out + "\n";
}

}  // namespace

TEST(Masters, JockeyAndTrainerRecordsWriteTheirColumns) {
  TestHome h;
  Session t("T");
  t.s.setCatalogue("HJC", "20050903", "12");
  for (bool jockey : {true, false}) {
    std::string item = jockey ? "騎手" : "調教師";
    auto one = masterFields(item, jockey, 1), two = masterFields(item, jockey, 2);
    std::string file = h.work + (jockey ? "KZA050904.txt" : "CZA050904.txt");
    WriteFileBytes(file, record(one) + record(two, true));
    if (jockey) t.s.regKZA(file);
    else t.s.regCZA(file);
    EXPECT_EQ(t.rows(select(one, "T" + item + "マスタ")), stored(one) + stored(two, true)) << item;
  }
  // The masters leave the data list members alone.
  EXPECT_EQ(t.s.DataID(), "HJC");
  EXPECT_EQ(t.s.Status(), "12");
  EXPECT_EQ(t.s.g_Nengappi, "20050903");
}

TEST(Masters, KsaAndCsaFilesRegisterThroughTheDriverInThisWeekMode) {
  TestHome h;
  auto jockey = masterFields("騎手", true, 3), trainer = masterFields("調教師", false, 4);
  fixture::WriteLzh(h.work + "KSA050904.lzh", {{"KSA050904.txt", record(jockey)}, {"CSA050904.txt", record(trainer)}});
  EXPECT_FALSE(regMainKOVA(h.work + "KSA050904.lzh", "T"));
  Session t("T");
  EXPECT_EQ(t.rows("select 騎手コード from T騎手マスタ"), "01003\n");
  EXPECT_EQ(t.rows("select 調教師コード from T調教師マスタ"), "01004\n");
  EXPECT_EQ(t.rows("select count(*) from Tデータ一覧テーブル"), "0\n");
}

TEST(Masters, ConversionListsMapCodesAndTakeTheMasterNames) {
  TestHome h;
  {
    Session t("T");
    auto jockey = masterFields("騎手", true, 1);
    WriteFileBytes(h.work + "KZA050904.txt", record(jockey));
    t.s.regKZA(h.work + "KZA050904.txt");
  }
  auto conv = [](const std::string& kova, const std::string& jravan) {
    RecordBuilder b(12);
    b.put(0, 5, kova).put(5, 5, jravan);
    return b.bytes();
  };
  // The JRA-VAN code 05002 comes twice: the later record replaces the earlier.
  WriteFileBytes(h.work + "datachgKZ.txt", conv("01001", "05001") + conv("09999", "05002") + conv("01001", "05002") +
                                               conv("09998", "05003"));
  WriteFileBytes(h.work + "datachgCZ.txt", conv("02001", "07001"));
  RegKOVA s;
  s.conDB(G().gDBDir + "kova_this.mdb");  // no mode: the system tables keep their names
  s.db().execute("insert into S騎手コード変換 (Kova, Jravan) values ('00000', '00000')");
  s.regChgCD(h.work + "datachgKZ.txt", "S騎手コード変換", "騎手");
  s.regChgCD(h.work + "datachgCZ.txt", "S調教師コード変換", "調教師");
  EXPECT_EQ(test::readers::RowsText(s.db(), "select Jravan, Kova, 騎手名 from S騎手コード変換 order by Jravan"),
            "05001|01001|武豊\n05002|01001|武豊\n05003|09998|<null>\n");
  EXPECT_EQ(test::readers::RowsText(s.db(), "select Jravan, Kova, 調教師名 from S調教師コード変換"), "07001|02001|<null>\n");
  // An empty list empties the table.
  WriteFileBytes(h.work + "datachgKZ.txt", "");
  s.regChgCD(h.work + "datachgKZ.txt", "S騎手コード変換", "騎手");
  EXPECT_EQ(test::readers::RowsText(s.db(), "select count(*) from S騎手コード変換"), "0\n");
}
