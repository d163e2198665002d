// Race programme and meeting files, the record reader and the data list entry.
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/layout.h"
#include "registration/regkova.h"
#include "startup/platform/db.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::TestHome;
namespace readers = velmo::test::readers;

namespace {

// A BAB record written field by field at the offsets of the programme layout,
// every field a distinct value.
std::string babRecord(const std::string& key, const std::string& stage = "3") {
  RecordBuilder b(168);
  b.put(0, 8, key).put(8, 8, "20050312").put(16, 4, "1525").put(20, 4, "1800");
  b.put(24, 1, "1").put(25, 1, "2").put(26, 1, "3").put(27, 2, "11").put(29, 2, "05");
  b.put(31, 3, "XYZ").put(34, 1, "4").put(35, 1, "A");
  b.put(36, 50, "弥生賞").put(86, 8, "第４２回").put(94, 2, "16").put(96, 1, "B");
  b.put(97, 1, "C").put(98, 8, "弥生短縮").put(106, 18, "弥生賞九文字の名前");
  b.put(124, 1, stage).put(125, 5, "05400").put(130, 5, "02200").put(135, 5, "01400");
  b.put(140, 5, "00810").put(145, 5, "00540").put(150, 5, "05401").put(155, 5, "02201");
  b.putBytes(160, "QQQQQQ");  // unused bytes
  return b.bytes();
}

using readers::Session;
const auto query = readers::RowsText;

}  // namespace

TEST(Programme, BabWritesEveryColumnOfItsLayout) {
  TestHome h;
  WriteFileBytes(h.work + "BAB050312.txt", babRecord("06051101"));
  Session t("T");
  t.s.regBAB(h.work + "BAB050312.txt");
  EXPECT_EQ(query(t.s.db(),
                  "select レースキー,年月日,発走時間,距離,芝ダ障害コード,右左,内外,種別,条件,記号Ａ,記号Ｂ,記号Ｃ,重量,グレード,"
                  "レース名,回数,頭数,コース,開催区分,レース名短縮,レース名9文字,データ区分,1着賞金,2着賞金,3着賞金,4着賞金,"
                  "5着賞金,1着算入賞金,2着算入賞金 from T番組データ"),
            "06051101|20050312|1525|1800|1|2|3|11|05|X|Y|Z|4|A|弥生賞|第４２回|16|B|C|弥生短縮|弥生賞九文字の名前|3|05400|"
            "02200|01400|00810|00540|05401|02201\n");
  EXPECT_EQ(t.s.DataID(), "BAB");
  EXPECT_EQ(t.s.g_Nengappi, "20050312");
  EXPECT_EQ(t.s.Status(), "前");
}

TEST(Programme, RaceNameRulesDifferByGeneration) {
  TestHome h;
  const std::string name25 = "アイウエオカキクケコサシスセソタチツテトナニヌネノ";
  const std::string half = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij";
  RecordBuilder ba1(100), ba2(100), baa(116);
  ba1.put(0, 8, "06051101").put(36, 50, name25);
  ba2.put(0, 8, "06051102").put(36, 50, half);
  baa.put(0, 8, "06051103").put(36, 50, "弥生賞").put(97, 1, "2").put(98, 8, "弥生");
  WriteFileBytes(h.work + "BA050312.txt", ba1.bytes() + ba2.bytes());
  WriteFileBytes(h.work + "BAA050312.txt", baa.bytes());
  Session t("T");
  t.s.regBA(h.work + "BA050312.txt");
  t.s.regBAA(h.work + "BAA050312.txt");
  EXPECT_EQ(query(t.s.db(), "select レース名, 開催区分 from T番組データ order by レースキー"),
            name25 + "|<null>\n" + half.substr(0, 25) + "|<null>\n弥生賞|2\n");
  EXPECT_EQ(t.s.Status(), "");
}

TEST(Programme, LaterKindsKeepColumnsTheEarlierKindLacks) {
  TestHome h;
  WriteFileBytes(h.work + "BAB050312.txt", babRecord("06051101"));
  RecordBuilder ba(100);
  ba.put(0, 8, "06051101").put(36, 50, "別の名前");
  WriteFileBytes(h.work + "BA050312.txt", ba.bytes());
  Session t("D");
  t.s.regBAB(h.work + "BAB050312.txt");
  t.s.regBAB(h.work + "BAB050312.txt");  // twice: same rows
  t.s.regBA(h.work + "BA050312.txt");
  EXPECT_EQ(query(t.s.db(), "select レース名, 1着賞金, データ区分 from D番組データ"), "別の名前" + std::string(21, ' ') + "|05400|3\n");
}

TEST(Programme, MeetingBlankNullAndStageMark) {
  TestHome h;
  RecordBuilder k1(56), k2(56);
  k1.put(0, 6, "060511").put(6, 8, "20050312").put(14, 1, "1").put(15, 2, "土").put(17, 4, "中山");
  k1.put(27, 3, "   ").put(30, 2, "-1").put(45, 3, "0").put(48, 1, "1");
  k2.put(0, 6, "070511").put(14, 1, "2").put(48, 1, "9");
  WriteFileBytes(h.work + "KAA050312.txt", k1.bytes() + k2.bytes());
  Session t("T");
  t.s.regKAA(h.work + "KAA050312.txt");
  EXPECT_EQ(query(t.s.db(), "select データID, 開催キー, 曜日, 競馬場名, 開催区分, 芝馬場差, 直線馬場差最内, ダ馬場差 from T開催データ order by 開催キー"),
            "KAA|060511|土|中山|1|<null>|-1|0  \nKAA|070511| |  |2|<null>|<null>|<null>\n");
  EXPECT_EQ(t.s.Status(), "");  // last record's データ区分 "9"
  WriteFileBytes(h.work + "KAA050313.txt", k1.bytes());
  t.s.regKAA(h.work + "KAA050313.txt");
  EXPECT_EQ(t.s.Status(), "登");
}

TEST(RecordReader, RaceDateLengthRulesAndBadBytes) {
  TestHome h;
  for (auto [name, date] : std::vector<std::pair<std::string, std::string>>{
           {"/x/KYC991231.txt", "19991231"}, {"/x/KYC050312.txt", "20050312"}, {"/x/KYC791231.txt", "20791231"},
           {"/x/BA050312.txt", "20050312"}})
    EXPECT_EQ(reg::RaceDateFromPath(name), date) << name;
  Session t("T");
  std::string rec = babRecord("06051101");
  struct Case {
    const char* what;
    std::string bytes;
    long error;  // 0: registers
    const char* rows;
  } cases[] = {
      {"empty file", "", 0, "0"},
      {"trailing fragment under half a record", rec + std::string(10, 'x'), 0, "1"},
      {"last record without CR LF", rec + babRecord("06051102").substr(0, 166), 0, "2"},
      {"truncated last record", rec + rec.substr(0, 120), err::BadRecordLength, "0"},
      {"record of another length", rec.substr(0, 100) + rec.substr(0, 68), err::BadRecordLength, "0"},
      {"bytes that are not Shift_JIS", rec.substr(0, 36) + "\x81\x20" + rec.substr(38), err::BadShiftJis, "0"},
  };
  for (const auto& c : cases) {
    t.s.db().execute("delete from T番組データ");
    WriteFileBytes(h.work + "BAB050312.txt", c.bytes);
    long got = 0;
    try {
      db::Transaction file;
      t.s.regBAB(h.work + "BAB050312.txt");
      file.commit();
    } catch (const VelmoError& e) {
      got = e.number();
    }
    EXPECT_EQ(got, c.error) << c.what;
    EXPECT_EQ(query(t.s.db(), "select count(*) from T番組データ"), std::string(c.rows) + "\n") << c.what;
  }
  // An empty file still sets the catalogue members, with the empty mark.
  WriteFileBytes(h.work + "BAB050313.txt", "");
  t.s.regBAB(h.work + "BAB050313.txt");
  EXPECT_EQ(t.s.g_Nengappi, "20050313");
  EXPECT_EQ(t.s.Status(), "");
}

TEST(RecordReader, RulesOnRawValues) {
  reg::Rule r;
  auto apply = [](const char* rule, const std::string& raw) {
    db::Value v = reg::applyRule(reg::parseRule(rule), raw);
    return db::isNull(v) ? std::string("<null>") : db::toText(v);
  };
  struct Case {
    const char* rule;
    std::string raw;
    const char* expected;
  } cases[] = {
      {"text", "ab  ", "ab  "},
      {"head 2", "馬名    ", "馬名"},
      {"trim head 3", " ab  ", "ab"},
      {"trim", "  a b  ", "a b"},
      {"blank-null", "   ", "<null>"},
      {"blank-null", "0  ", "0  "},
      {"number", " 1 2.5x", "12.5"},
      {"number", "-3", "-3"},
      {"number", "abc", "0"},
      {"blank-null number", "   ", "<null>"},
      {"blank-null number", "  5", "5"},
      {"char 2", "XYZ", "Y"},
      {"fixed KAA", "ignored", "KAA"},
  };
  for (const auto& c : cases) EXPECT_EQ(apply(c.rule, c.raw), c.expected) << c.rule << " on '" << c.raw << "'";
  EXPECT_THROW(reg::parseRule("heads 2"), VelmoError);
  // A full-width field: head n/2 keeps the text, text keeps n/2 padding blanks.
  RecordBuilder b(10);
  b.put(0, 8, "馬名");
  reg::RecordView rv(b.bytes(), "20050312", 1);
  EXPECT_EQ(rv.raw(0, 8), "馬名      ");
  EXPECT_EQ(apply("head 4", rv.raw(0, 8)), "馬名  ");
}

TEST(DataList, EachFamilyWritesItsCell) {
  TestHome h;
  Session t("T");
  auto entry = [&](const std::string& id, const std::string& status, const std::string& date = "20050312") {
    t.s.setCatalogue(id, date, status);
    t.s.regItiran();
  };
  entry("KYC", "");
  entry("HJC", "12");
  entry("SEB", "完");
  entry("SEC", "08");
  entry("SKB", "x");  // the status is not shown for result extensions
  entry("CYA", "");
  entry("BAB", "前");
  entry("JOA", "");
  entry("OZ", "");  // no family: only the date
  entry("OZ", "", "20050313");
  EXPECT_EQ(query(t.s.db(), "select * from Tデータ一覧テーブル order by 年月日"),
            "20050312|KYC|JOA|BAB|HJC12|CYA|<null>|SEC08|SKB\n20050313|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>\n");
  // The pre-race cell is replaced only by a greater text.
  for (auto [id, status, expected] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"TYA", "12", "TYA12"}, {"TYA", " err", "TYA12"}, {"TYA", "08", "TYA12"}, {"TYB", "01", "TYB01"}}) {
    entry(id, status);
    EXPECT_EQ(query(t.s.db(), "select 直前情報データ from Tデータ一覧テーブル where 年月日 = '20050312'"), expected + "\n");
  }
  entry("TYA", " err", "20050314");  // an empty cell counts as "00"
  EXPECT_EQ(query(t.s.db(), "select 直前情報データ from Tデータ一覧テーブル where 年月日 = '20050314'"), "TYA err\n");
}

TEST(Session, ConnectBeforeModeFailsAndLinksThePastResults) {
  TestHome h;
  RegKOVA s;
  EXPECT_THROW(s.conDB(G().gDBDir), VelmoError);  // opens the folder itself
  EXPECT_NE(h.logText().find("DAO_Open"), std::string::npos);
  RegKOVA t;
  t.Mode("T");
  t.conDB(G().gDBDir);
  t.lnkDSei(G().gDBDir);
  t.lnkDSei(G().gDBDir);  // an existing link is replaced
  EXPECT_EQ(query(t.db(), "select count(*) from D成績データ"), "0\n");
  t.lnkDSeiDel();
  EXPECT_FALSE(t.db().hasTable("D成績データ"));
}
