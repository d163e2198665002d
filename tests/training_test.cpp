// Training analysis file: the columns of CYA, the comment rule and the result
// key that every registration clears and the key update fills again.
#include <gtest/gtest.h>

#include "common/func.h"
#include "registration/driver.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::readers::Session;
using velmo::test::TestHome;

namespace {

std::string training(const std::string& raceKey, const std::string& horse, const std::string& comment) {
  RecordBuilder b(88);
  b.put(0, 8, raceKey).put(8, 2, horse).put(10, 2, "T1").put(12, 1, "C").put(13, 2, "坂").put(15, 2, "w1");
  b.put(17, 2, "ダ").put(19, 2, "芝").put(21, 2, "プ").put(23, 2, "障").put(25, 1, "D").put(26, 1, "E");
  b.put(27, 3, " 55").put(30, 3, "62 ").put(33, 1, "F").put(34, 1, "G").put(35, 40, comment);
  b.put(75, 8, "20050901").put(83, 1, "H").putBytes(84, "ZZ");
  return b.bytes();
}

}  // namespace

TEST(Training, WritesItsColumnsAndTheCommentHead) {
  TestHome h;
  Session t("T");
  WriteFileBytes(h.work + "CYA050904.txt",
                 training("06051101", "01", "坂路で好時計　仕上がり良好") +
                     training("06051101", "02", "併せ馬で先着し気配上々、状態は万全に近い仕上がり") +
                     training("06051101", "03", "軽め"));
  t.s.regCYA(h.work + "CYA050904.txt");
  // A full-width character in a two-byte text field keeps its padding blank.
  EXPECT_EQ(t.rows("select レースキー, 競走成績キー, 馬番, 調教タイプ, 調教コース種別, 坂, w, ダ, 芝, プ, 障, 調教距離, 調教重点, "
                     "追切指数, 仕上指数, 調教量評価, 仕上指数変化, コメント年月日, 調教評価, データID from T調教分析データ where 馬番 = '01'"),
            "06051101|<null>|01|T1|C|坂 |w1|ダ |芝 |プ |障 |D|E| 55|62 |F|G|20050901|H|CYA\n");
  // Up to and including the first full-width blank; at most 20 characters; padding kept otherwise.
  EXPECT_EQ(t.rows("select 調教コメント from T調教分析データ order by 馬番"),
            "坂路で好時計　\n併せ馬で先着し気配上々、状態は万全に近い\n軽め" + std::string(18, ' ') + "\n");
  EXPECT_EQ(t.s.DataID(), "CYA");
  EXPECT_EQ(t.s.Status(), "");
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  RecordBuilder blank(88);
  blank.put(0, 8, "06051102").put(8, 2, "01");
  WriteFileBytes(h.work + "CYA050904.txt", blank.bytes());
  t.s.regCYA(h.work + "CYA050904.txt");
  EXPECT_EQ(t.rows("select 追切指数, 仕上指数, 調教距離 from T調教分析データ where レースキー = '06051102'"), "<null>|<null>| \n");
}

TEST(Training, ResultKeyIsClearedAndFilledAgain) {
  TestHome h;
  std::string cya = training("06051101", "01", "軽め") + training("06051101", "02", "軽め");
  fixture::WriteLzh(h.work + "CYA050904.lzh", {{"CYA050904.txt", cya}});
  // Before the entries: no result key.
  EXPECT_FALSE(regMainKOVA(h.work + "CYA050904.lzh", "T"));
  Session t("T");
  EXPECT_EQ(t.rows("select count(*), count(競走成績キー) from T調教分析データ"), "2|0\n");
  EXPECT_EQ(t.rows("select 調教分析データ from Tデータ一覧テーブル"), "CYA\n");
  t.s.db().execute(
      "insert into T競走馬データ (レースキー, 馬番, 競走成績キー) values ('06051101', '01', '2001010120050904'), "
      "('06051101', '02', '2001010220050904')");
  t.s.upCYKey();
  EXPECT_EQ(t.rows("select 馬番, 競走成績キー from T調教分析データ order by 馬番"),
            "01|2001010120050904\n02|2001010220050904\n");
  // A changed entry key comes through because every registration clears the key first.
  t.s.db().execute("update T競走馬データ set 競走成績キー = '2001010120050905' where 馬番 = '01'");
  t.s.clsDB();
  EXPECT_FALSE(regMainKOVA(h.work + "CYA050904.lzh", "T"));
  Session again("T");
  EXPECT_EQ(again.rows("select 馬番, 競走成績キー from T調教分析データ order by 馬番"),
            "01|2001010120050905\n02|2001010220050904\n");
  // Mode D links from the past entries only.
  Session d("D");
  d.s.db().execute("insert into D競走馬データ (レースキー, 馬番, 競走成績キー) values ('06051101', '02', '2001010220040101')");
  WriteFileBytes(h.work + "CYA050904.txt", cya);
  d.s.regCYA(h.work + "CYA050904.txt");
  EXPECT_EQ(d.rows("select 馬番, 競走成績キー from D調教分析データ order by 馬番"), "01|<null>\n02|2001010220040101\n");
  EXPECT_EQ(again.rows("select count(競走成績キー) from T調教分析データ"), "2\n");
}
