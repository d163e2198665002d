// Registered-horse file KTA (the day's delete, then the upsert on the trimmed
// name key), horse-extension file KKA and the key update that gives extension
// rows the registration number of their entry row.
#include <gtest/gtest.h>

#include "common/error.h"
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

// KTA, 388 bytes, in the order the columns are assigned.
const std::vector<FieldSpec> kKtaFields = {
    {0, 0, "データID", {"fixed KTA"}},
    {0, 0, "年月日", {"date"}},
    {0, 8, "レースキー", {"text"}},
    {8, 40, "馬名キー", {"trim head 20"}},
    {48, 8, "血統登録番号", {"text"}},
    {56, 36, "馬名", {"trim head 9"}},
    {128, 5, "ＩＤＭ", {"blank-null"}},
    {137, 1, "脚質", {"text"}},
    {138, 1, "距離適性", {"text"}},
    {139, 1, "距離適性2", {"text"}},
    {92, 1, "性別コード", {"text"}},
    {93, 2, "馬記号コード", {"text"}},
    {133, 1, "上昇度", {"text"}},
    {134, 3, "ローテーション", {"blank-null number"}},
    {143, 2, "蹄コード", {"text"}},
    {142, 1, "重適性コード", {"text"}},
    {145, 2, "クラスコード", {"text"}},
    {147, 2, "毛色コード", {"text"}},
    {95, 1, "ブリンカー", {"text"}},
    {96, 12, "騎手名", {"trim head 6"}},
    {108, 3, "負担重量", {"text"}},
    {111, 1, "見習い区分", {"text"}},
    {112, 12, "調教師名", {"trim head 6"}},
    {124, 4, "調教師所属", {"trim head 2"}},
    {149, 16, "前走１競走成績キー", {"text"}},
    {165, 16, "前走２競走成績キー", {"text"}},
    {181, 16, "前走３競走成績キー", {"text"}},
    {197, 16, "前走４競走成績キー", {"text"}},
    {213, 16, "前走５競走成績キー", {"text"}},
    {229, 8, "前走１レースキー", {"text"}},
    {237, 8, "前走２レースキー", {"text"}},
    {245, 8, "前走３レースキー", {"text"}},
    {253, 8, "前走４レースキー", {"text"}},
    {261, 8, "前走５レースキー", {"text"}},
    {140, 1, "芝適性コード", {"text"}},
    {141, 1, "ダ適性コード", {"text"}},
    {269, 5, "騎手コード", {"text"}},
    {274, 5, "調教師コード", {"text"}},
    {279, 6, "獲得賞金", {"blank-null"}},
    {285, 5, "収得賞金", {"blank-null"}},
    {290, 1, "条件クラス", {"text"}},
    {291, 8, "走法", {"text"}},
    {299, 24, "体型", {"text"}},
    {323, 3, "体型総合1", {"text"}},
    {326, 3, "体型総合2", {"text"}},
    {329, 3, "体型総合3", {"text"}},
    {332, 3, "馬特記1", {"text"}},
    {335, 3, "馬特記2", {"text"}},
    {338, 3, "馬特記3", {"text"}},
    {341, 5, "テン指数", {"blank-null"}},
    {346, 5, "ペース指数", {"blank-null"}},
    {351, 5, "上がり指数", {"blank-null"}},
    {356, 5, "位置指数", {"blank-null"}},
    {361, 4, "馬スタート指数", {"blank-null"}},
    {365, 4, "馬出遅率", {"blank-null"}},
    {369, 2, "参考前走", {"text"}},
    {371, 5, "参考前走騎手コード", {"text"}},
    {376, 1, "データ区分", {"text"}},
    {377, 3, "出走順位", {"blank-null"}},
};

// KKA, 324 bytes.
const std::vector<FieldSpec> kKkaFields = {
    {0, 0, "データID", {"fixed KKA"}},
    {0, 8, "レースキー", {"text"}},
    {0, 0, "年月日", {"date"}},
    {8, 2, "馬番", {"text"}},
    {10, 12, "JRA成績", {"text"}},
    {22, 12, "交流成績", {"text"}},
    {34, 12, "他成績", {"text"}},
    {46, 12, "芝ダ障害別成績", {"text"}},
    {58, 12, "芝ダ障害別距離成績", {"text"}},
    {70, 12, "トラック距離成績", {"text"}},
    {82, 12, "ローテ成績", {"text"}},
    {94, 12, "回り成績", {"text"}},
    {106, 12, "騎手成績", {"text"}},
    {118, 12, "良成績", {"text"}},
    {130, 12, "稍成績", {"text"}},
    {142, 12, "重成績", {"text"}},
    {154, 12, "Sペース成績", {"text"}},
    {166, 12, "Mペース成績", {"text"}},
    {178, 12, "Hペース成績", {"text"}},
    {190, 12, "季節成績", {"text"}},
    {202, 12, "枠成績", {"text"}},
    {214, 12, "騎手距離成績", {"text"}},
    {226, 12, "騎手トラック距離成績", {"text"}},
    {238, 12, "騎手調教師別成績", {"text"}},
    {250, 12, "騎手馬主別成績", {"text"}},
    {262, 12, "騎手ブリンカ成績", {"text"}},
    {274, 12, "調教師馬主別成績", {"text"}},
    {286, 3, "父馬産駒芝連対率", {"text"}},
    {289, 3, "父馬産駒ダ連対率", {"text"}},
    {292, 4, "父馬産駒連対平均距離", {"text"}},
    {296, 3, "母父馬産駒芝連対率", {"text"}},
    {299, 3, "母父馬産駒ダ連対率", {"text"}},
    {302, 4, "母父馬産駒連対平均距離", {"text"}},
};

using Session = velmo::test::readers::Session;

std::string kta(const std::string& raceKey, const std::string& name, const std::string& regNo, const std::string& idm = "  50 ",
                const std::string& stage = "2") {
  RecordBuilder b(388);
  b.put(0, 8, raceKey).put(8, 40, name).put(48, 8, regNo).put(56, 36, name).put(128, 5, idm).put(376, 1, stage);
  return b.bytes();
}

}  // namespace

TEST(Horses, KtaWritesExactlyItsColumns) {
  TestHome h;
  Session s;
  auto rec = BuildDistinct(388, kKtaFields, 0, "20050312");
  WriteFileBytes(h.work + "KTA050312.txt", rec.bytes);
  s.s.regKTA(h.work + "KTA050312.txt");
  auto rows = Rows(s.s.db(), "select * from T登録馬データ");
  ASSERT_EQ(rows.size(), 1u);
  test::ExpectRow(rows[0], rec.expected, {}, "KTA");
  EXPECT_EQ(s.s.DataID(), "KTA");
  EXPECT_EQ(s.s.g_Nengappi, "20050312");
  EXPECT_EQ(s.s.Status(), "");  // byte 376 held no stage code
}

TEST(Horses, KtaReplacesTheDayAndKeysOnTheTrimmedName) {
  TestHome h;
  Session s;
  // Another day's registrations stay.
  WriteFileBytes(h.work + "KTA050305.txt", kta("06050801", "サクラローレル", "11111111"));
  s.s.regKTA(h.work + "KTA050305.txt");
  WriteFileBytes(h.work + "KTA050312.txt", kta("06051101", "サクラローレル", "22222222") + kta("06051101", "ナリタブライアン", "33333333"));
  s.s.regKTA(h.work + "KTA050312.txt");
  // The second run of the day lacks ナリタブライアン and names サクラローレル twice,
  // once with surrounding blanks: one row, the later record's values.
  WriteFileBytes(h.work + "KTA050312.txt", kta("06051101", "サクラローレル", "44444444", "  60 ") +
                                               kta("06051101", "  サクラローレル", "55555555", "  70 ", "3"));
  s.s.regKTA(h.work + "KTA050312.txt");
  auto rows = Rows(s.s.db(), "select 年月日, 馬名キー, 血統登録番号, ＩＤＭ from T登録馬データ order by 年月日");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(db::toText(rows[0]["年月日"]), "20050305");
  EXPECT_EQ(db::toText(rows[0]["血統登録番号"]), "11111111");
  EXPECT_EQ(db::toText(rows[1]["馬名キー"]), "サクラローレル");
  EXPECT_EQ(db::toText(rows[1]["血統登録番号"]), "55555555");
  EXPECT_EQ(db::toText(rows[1]["ＩＤＭ"]), "  70 ");
  EXPECT_EQ(s.s.Status(), "前");
  // The date comes from the file name: a name made to read as a condition is
  // refused as a name without a date, and deletes nothing.
  WriteFileBytes(h.work + "KTA0'or'1.txt", kta("06051102", "ダイワスカーレット", "66666666"));
  EXPECT_THROW(s.s.regKTA(h.work + "KTA0'or'1.txt"), velmo::VelmoError);
  EXPECT_EQ(Rows(s.s.db(), "select * from T登録馬データ").size(), 2u);
}

TEST(Horses, KkaWritesExactlyItsColumnsAndLeavesTheCatalogue) {
  TestHome h;
  Session s;
  s.s.setCatalogue("KYG", "20050305", "");
  auto rec = BuildDistinct(324, kKkaFields, 0, "20050312");
  WriteFileBytes(h.work + "KKA050312.txt", rec.bytes);
  s.s.regKKA(h.work + "KKA050312.txt");
  auto rows = Rows(s.s.db(), "select * from T競走馬拡張データ");
  ASSERT_EQ(rows.size(), 1u);
  test::ExpectRow(rows[0], rec.expected, {}, "KKA");  // 血統登録番号 stays Null
  EXPECT_EQ(s.s.DataID(), "KYG");
  EXPECT_EQ(s.s.g_Nengappi, "20050305");
}

TEST(Horses, KeyUpdateFillsOnlyMissingRegistrationNumbers) {
  TestHome h;
  Session s;
  auto ext = [](const std::string& race, const std::string& horse) {
    RecordBuilder b(324);
    b.put(0, 8, race).put(8, 2, horse);
    return b.bytes();
  };
  WriteFileBytes(h.work + "KKA050312.txt", ext("06051101", "01") + ext("06051101", "02") + ext("06051101", "03"));
  s.s.regKKA(h.work + "KKA050312.txt");
  s.s.db().execute("update T競走馬拡張データ set 血統登録番号='77777777' where 馬番='02'");
  auto entry = [](const std::string& horse, const std::string& regNo) {
    RecordBuilder b(545);
    b.put(0, 8, "06051101").put(8, 2, horse).put(10, 8, regNo);
    return b.bytes();
  };
  WriteFileBytes(h.work + "KYG050312.txt", entry("01", "10000001") + entry("02", "10000002"));
  s.s.regKYG(h.work + "KYG050312.txt");
  s.s.upKK_Key();
  auto rows = Rows(s.s.db(), "select 馬番, 血統登録番号 from T競走馬拡張データ order by 馬番");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(test::show(rows[0]["血統登録番号"]), test::show(std::string("10000001")));
  EXPECT_EQ(test::show(rows[1]["血統登録番号"]), test::show(std::string("77777777")));  // already set
  EXPECT_TRUE(db::isNull(rows[2]["血統登録番号"]));                                    // no entry row
}
