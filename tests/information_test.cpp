// Horse information file (JOA): fourteen columns of the entry table.
#include <gtest/gtest.h>

#include "common/func.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::readers::Session;
using velmo::test::TestHome;

namespace {

std::string information(const std::string& raceKey, const std::string& horse, bool blanks = false) {
  RecordBuilder b(116);
  b.put(0, 8, raceKey).put(8, 2, horse).putBytes(10, std::string(54, 'U'));
  if (!blanks) b.put(64, 5, " 12.5").put(69, 5, "A34.5");
  b.put(74, 5, blanks ? "" : "B56.7").put(79, 3, " 78").put(82, 5, "C90.1").put(87, 1, "D").put(88, 1, "E");
  b.put(89, 1, "G").put(90, 5, "112.5").put(95, 5, " 33.3").put(100, 1, "F").put(101, 5, " 98.7").put(106, 5, " 21.0");
  b.putBytes(111, "VVV");
  return b.bytes();
}

const char* kColumns =
    "select レースキー, 馬番, CID調教素点, CID厩舎素点, CID素点, CID, LS指数, LS評価, EM, 厩舎ＢＢ印, 厩舎ＢＢ◎単勝回収率, "
    "厩舎ＢＢ◎連対率, 騎手ＢＢ印, 騎手ＢＢ◎単勝回収率, 騎手ＢＢ◎連対率, データID, 馬名, ＩＤＭ from T競走馬データ order by 馬番";

}  // namespace

TEST(Information, ChangesOnlyItsColumnsOfTheEntryRow) {
  TestHome h;
  Session t("T");
  t.s.db().execute("insert into T競走馬データ (データID, レースキー, 馬番, 馬名, ＩＤＭ, CID, LS指数) values "
                   "('KYG', '06051101', '01', 'サクラローレル', '55.0', 'old', 'old')");
  WriteFileBytes(h.work + "JOA050904.txt", information("06051101", "01") + information("06051101", "02", true));
  t.s.regJOA(h.work + "JOA050904.txt");
  EXPECT_EQ(t.rows(kColumns),
            "06051101|01| 12.5|A34.5|B56.7| 78|C90.1|D|E|G|112.5| 33.3|F| 98.7| 21.0|KYG|サクラローレル|55.0\n"
            // A runner missing from the entries gets a row of these columns only; blanks: Null or text as the rule says.
            "06051101|02|<null>|<null>|     | 78|C90.1|D|E|G|112.5| 33.3|F| 98.7| 21.0|<null>|<null>|<null>\n");
  EXPECT_EQ(t.s.DataID(), "JOA");
  EXPECT_EQ(t.s.Status(), "");
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  t.s.regItiran();
  EXPECT_EQ(t.rows("select 情報データ from Tデータ一覧テーブル"), "JOA\n");
}
