// Horse entry files KYC … KYG: the columns each generation writes, the rules that
// change from KYF on, and rows shared by several generations.
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

const char* const kKinds[] = {"KYC", "KYD", "KYE", "KYF", "KYG"};
const int kLengths[] = {348, 404, 468, 480, 545};

// The entry record as the provider describes it (rule columns KYC, KYD, KYE, KYF, KYG).
const std::vector<FieldSpec> kEntryFields = {
    {0, 8, "レースキー", {"text", "text", "text", "text", "text"}},
    {8, 2, "馬番", {"text", "text", "text", "text", "text"}},
    {10, 8, "血統登録番号", {"text", "text", "text", "text", "text"}},
    {10, 8, "競走成績キー", {"key", "key", "key", "key", "key"}},
    {18, 36, "馬名", {"trim head 9", "trim head 9", "trim head 9", "trim head 9", "trim head 9"}},
    {54, 5, "ＩＤＭ", {"text", "text", "text", "blank-null", "blank-null"}},
    {59, 5, "騎手指数", {"text", "text", "text", "blank-null", "blank-null"}},
    {64, 5, "情報指数", {"text", "text", "text", "blank-null", "blank-null"}},
    {84, 5, "総合指数", {"blank-null", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {89, 1, "脚質", {"text", "text", "text", "text", "text"}},
    {90, 1, "距離適性", {"text", "text", "text", "text", "text"}},
    {91, 1, "上昇度", {"text", "text", "text", "text", "text"}},
    {92, 3, "ローテーション", {"blank-null number", "blank-null number", "blank-null number", "blank-null number", "blank-null number"}},
    {95, 5, "基準オッズ", {"text", "text", "text", "blank-null", "blank-null"}},
    {100, 2, "基準人気順位", {"text", "text", "text", "blank-null", "blank-null"}},
    {102, 5, "基準複勝オッズ", {"text", "text", "text", "blank-null", "blank-null"}},
    {107, 2, "基準複勝人気順位", {"text", "text", "text", "blank-null", "blank-null"}},
    {109, 3, "特定情報◎", {"number", "number", "number", "number", "number"}},
    {112, 3, "特定情報○", {"number", "number", "number", "number", "number"}},
    {115, 3, "特定情報▲", {"number", "number", "number", "number", "number"}},
    {118, 3, "特定情報△", {"number", "number", "number", "number", "number"}},
    {121, 3, "特定情報×", {"number", "number", "number", "number", "number"}},
    {124, 3, "総合情報◎", {"number", "number", "number", "number", "number"}},
    {127, 3, "総合情報○", {"number", "number", "number", "number", "number"}},
    {130, 3, "総合情報▲", {"number", "number", "number", "number", "number"}},
    {133, 3, "総合情報△", {"number", "number", "number", "number", "number"}},
    {136, 3, "総合情報×", {"number", "number", "number", "number", "number"}},
    {139, 5, "人気指数", {"text", "text", "text", "blank-null", "blank-null"}},
    {144, 5, "調教指数", {"blank-null", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {149, 5, "厩舎指数", {"blank-null", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {154, 1, "調教矢印コード", {"text", "text", "text", "text", "text"}},
    {155, 1, "厩舎評価コード", {"text", "text", "text", "text", "text"}},
    {156, 4, "騎手期待連対率", {"text", "text", "text", "blank-null", "blank-null"}},
    {160, 3, "激走指数", {"text", "text", "text", "blank-null", "blank-null"}},
    {163, 2, "蹄コード", {"text", "text", "text", "text", "text"}},
    {165, 1, "重適性コード", {"text", "text", "text", "text", "text"}},
    {166, 2, "クラスコード", {"text", "text", "text", "text", "text"}},
    {170, 1, "ブリンカー", {"text", "text", "text", "text", "text"}},
    {171, 12, "騎手名", {"trim head 6", "trim head 6", "trim head 6", "trim head 6", "trim head 6"}},
    {183, 3, "負担重量", {"text", "text", "text", "text", "text"}},
    {186, 1, "見習い区分", {"text", "text", "text", "text", "text"}},
    {187, 12, "調教師名", {"trim head 6", "trim head 6", "trim head 6", "trim head 6", "trim head 6"}},
    {199, 4, "調教師所属", {"trim head 2", "trim head 2", "trim head 2", "trim head 2", "trim head 2"}},
    {203, 16, "前走１競走成績キー", {"text", "text", "text", "text", "text"}},
    {219, 16, "前走２競走成績キー", {"text", "text", "text", "text", "text"}},
    {235, 16, "前走３競走成績キー", {"text", "text", "text", "text", "text"}},
    {251, 16, "前走４競走成績キー", {"text", "text", "text", "text", "text"}},
    {267, 16, "前走５競走成績キー", {"text", "text", "text", "text", "text"}},
    {283, 8, "前走１レースキー", {"text", "text", "text", "text", "text"}},
    {291, 8, "前走２レースキー", {"text", "text", "text", "text", "text"}},
    {299, 8, "前走３レースキー", {"text", "text", "text", "text", "text"}},
    {307, 8, "前走４レースキー", {"text", "text", "text", "text", "text"}},
    {315, 8, "前走５レースキー", {"text", "text", "text", "text", "text"}},
    {323, 1, "枠番", {"text", "text", "text", "text", "text"}},
    {326, 1, "総合印", {"text", "text", "text", "text", "text"}},
    {327, 1, "ＩＤＭ印", {"text", "text", "text", "text", "text"}},
    {328, 1, "情報印", {"text", "text", "text", "text", "text"}},
    {329, 1, "騎手印", {"text", "text", "text", "text", "text"}},
    {330, 1, "厩舎印", {"text", "text", "text", "text", "text"}},
    {331, 1, "調教印", {"text", "text", "text", "text", "text"}},
    {332, 1, "激走印", {"text", "text", "text", "text", "text"}},
    {333, 1, "芝適性コード", {"text", "text", "text", "text", "text"}},
    {334, 1, "ダ適性コード", {"text", "text", "text", "text", "text"}},
    {335, 5, "騎手コード", {"text", "text", "text", "text", "text"}},
    {340, 5, "調教師コード", {"text", "text", "text", "text", "text"}},
    {346, 6, "獲得賞金", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {352, 5, "収得賞金", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {357, 1, "条件クラス", {"-", "text", "text", "text", "text"}},
    {358, 5, "テン指数", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {363, 5, "ペース指数", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {368, 5, "上がり指数", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {373, 5, "位置指数", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {378, 1, "ペース予想", {"-", "text", "text", "text", "text"}},
    {379, 2, "道中順位", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {381, 2, "道中差", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {383, 1, "道中内外", {"-", "text", "text", "text", "text"}},
    {384, 2, "後3F順位", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {386, 2, "後3F差", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {388, 1, "後3F内外", {"-", "text", "text", "text", "text"}},
    {389, 2, "ゴール順位", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {391, 2, "ゴール差", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {393, 1, "ゴール内外", {"-", "text", "text", "text", "text"}},
    {394, 1, "展開記号", {"-", "text", "text", "text", "text"}},
    {395, 1, "距離適性2", {"-", "text", "text", "text", "text"}},
    {396, 3, "枠確馬体重", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {399, 3, "枠確増減", {"-", "blank-null", "blank-null", "blank-null", "blank-null"}},
    {402, 1, "取消フラグ", {"-", "-", "text", "text", "text"}},
    {403, 1, "性別コード", {"-", "-", "text", "text", "text"}},
    {404, 40, "馬主名", {"-", "-", "trim head 20", "trim head 20", "trim head 20"}},
    {444, 2, "馬主会コード", {"-", "-", "text", "text", "text"}},
    {446, 2, "馬記号コード", {"-", "-", "text", "text", "text"}},
    {448, 2, "激走順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {450, 2, "LS指数順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {452, 2, "テン指数順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {454, 2, "ペース指数順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {456, 2, "上がり指数順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {458, 2, "位置指数順位", {"-", "-", "blank-null", "blank-null", "blank-null"}},
    {460, 4, "騎手期待単勝率", {"-", "-", "-", "blank-null", "blank-null"}},
    {464, 4, "騎手期待３着内率", {"-", "-", "-", "blank-null", "blank-null"}},
    {468, 1, "輸送区分", {"-", "-", "-", "text", "text"}},
    {469, 8, "走法", {"-", "-", "-", "-", "text"}},
    {477, 24, "体型", {"-", "-", "-", "-", "text"}},
    {501, 3, "体型総合1", {"-", "-", "-", "-", "text"}},
    {504, 3, "体型総合2", {"-", "-", "-", "-", "text"}},
    {507, 3, "体型総合3", {"-", "-", "-", "-", "text"}},
    {510, 3, "馬特記1", {"-", "-", "-", "-", "text"}},
    {513, 3, "馬特記2", {"-", "-", "-", "-", "text"}},
    {516, 3, "馬特記3", {"-", "-", "-", "-", "text"}},
    {519, 4, "馬スタート指数", {"-", "-", "-", "-", "blank-null"}},
    {523, 4, "馬出遅率", {"-", "-", "-", "-", "blank-null"}},
    {527, 2, "参考前走", {"-", "-", "-", "-", "text"}},
    {529, 5, "参考前走騎手コード", {"-", "-", "-", "-", "text"}},
    {534, 3, "万券指数", {"-", "-", "-", "-", "blank-null"}},
    {537, 1, "万券印", {"-", "-", "-", "-", "text"}},
};

using Session = velmo::test::readers::Session;

void call(RegKOVA& s, size_t kind, const std::string& path) {
  switch (kind) {
    case 0: return s.regKYC(path);
    case 1: return s.regKYD(path);
    case 2: return s.regKYE(path);
    case 3: return s.regKYF(path);
    default: return s.regKYG(path);
  }
}

// A record with its key and the given fields; everything else blank.
std::string entry(size_t kind, const std::string& raceKey, const std::string& horse,
                  const std::vector<std::pair<std::pair<int, int>, std::string>>& fields = {}) {
  RecordBuilder b(kLengths[kind]);
  b.put(0, 8, raceKey).put(8, 2, horse).put(10, 8, "98765432");
  for (const auto& [range, v] : fields) b.put(range.first, range.second, v);
  return b.bytes();
}

}  // namespace

TEST(Entries, EveryGenerationWritesExactlyItsColumns) {
  TestHome h;
  Session s;
  for (size_t k = 0; k < 5; ++k) {
    auto rec = BuildDistinct(kLengths[k], kEntryFields, k, "20050312", static_cast<int>(k));
    rec.expected["データID"] = std::string(kKinds[k]);
    rec.expected["競走成績キー"] = rec.put["血統登録番号"] + "20050312";
    std::string path = h.work + kKinds[k] + std::string("050312.txt");
    WriteFileBytes(path, rec.bytes);
    call(s.s, k, path);
    auto rows = Rows(s.s.db(), "select * from T競走馬データ where レースキー='" + rec.put["レースキー"] + "'");
    ASSERT_EQ(rows.size(), 1u) << kKinds[k];
    test::ExpectRow(rows[0], rec.expected, {}, kKinds[k]);
    EXPECT_EQ(s.s.DataID(), kKinds[k]);
    EXPECT_EQ(s.s.g_Nengappi, "20050312");
    EXPECT_EQ(s.s.Status(), "");
  }
}

TEST(Entries, NamesRotationAndTheBlankNullColumnsOfLaterKinds) {
  TestHome h;
  Session s;
  const std::string nine = "アイウエオカキクケ", twelve = "アイウエオカキクケコサシ";
  for (size_t k = 0; k < 5; ++k) {
    std::string path = h.work + kKinds[k] + std::string("050312.txt");
    WriteFileBytes(path, entry(k, "06051101", "01", {{{18, 36}, nine}, {{92, 3}, "   "}, {{54, 5}, "     "}}) +
                             entry(k, "06051101", "02", {{{18, 36}, twelve}, {{92, 3}, "  5"}, {{54, 5}, " 0   "}}));
    call(s.s, k, path);
    auto rows = Rows(s.s.db(), "select 馬名, ローテーション, ＩＤＭ from T競走馬データ order by 馬番");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(test::show(rows[0]["馬名"]), test::show(nine)) << kKinds[k];
    EXPECT_EQ(test::show(rows[1]["馬名"]), test::show(std::string("アイウエオカキクケ"))) << kKinds[k];
    EXPECT_TRUE(db::isNull(rows[0]["ローテーション"])) << kKinds[k];
    EXPECT_EQ(test::show(rows[1]["ローテーション"]), test::show(5.0)) << kKinds[k];
    // Five blanks in ＩＤＭ stay blanks up to KYE and become Null from KYF on.
    db::Value blanks = k < 3 ? db::Value(std::string("     ")) : db::Value();
    EXPECT_EQ(test::show(rows[0]["ＩＤＭ"]), test::show(blanks)) << kKinds[k];
    EXPECT_EQ(test::show(rows[1]["ＩＤＭ"]), test::show(std::string(" 0   "))) << kKinds[k];
  }
}

TEST(Entries, EarlierAndLaterGenerationsShareOneRow) {
  TestHome h;
  Session s;
  auto kyg = entry(4, "06051101", "03", {{{469, 8}, "SOHO1234"}, {{357, 1}, "A"}, {{335, 5}, "01234"}});
  auto kyc = entry(0, "06051101", "03", {{{335, 5}, "05678"}});
  WriteFileBytes(h.work + "KYG050312.txt", kyg);
  WriteFileBytes(h.work + "KYC050312.txt", kyc);
  // KYG then KYC: the KYG-only columns stay, the common ones are KYC's.
  s.s.regKYG(h.work + "KYG050312.txt");
  s.s.regKYC(h.work + "KYC050312.txt");
  auto rows = Rows(s.s.db(), "select データID, 走法, 条件クラス, 騎手コード from T競走馬データ");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(db::toText(rows[0]["データID"]), "KYC");
  EXPECT_EQ(db::toText(rows[0]["走法"]), "SOHO1234");
  EXPECT_EQ(db::toText(rows[0]["条件クラス"]), "A");
  EXPECT_EQ(db::toText(rows[0]["騎手コード"]), "05678");
  // KYC then KYG: one row, the KYG-only columns filled.
  s.s.regKYG(h.work + "KYG050312.txt");
  rows = Rows(s.s.db(), "select データID, 走法, 騎手コード from T競走馬データ");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(db::toText(rows[0]["データID"]), "KYG");
  EXPECT_EQ(db::toText(rows[0]["騎手コード"]), "01234");
}
