// Registered-horse file (KTA: the horses nominated for the day's races, one row
// per race and horse name in 登録馬データ) and the horse-extension file (KKA:
// per-starter performance summaries in 競走馬拡張データ), with the key update
// that gives the extension rows the registration number of their entry row.
#include "common/func.h"
#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"
#include "startup/platform/daofunc.h"

namespace velmo::reg {

namespace {
db::Value fileRaceDate(const RecordView& rec, const std::string&) { return rec.raceDate(); }
}  // namespace

const FamilyDef& RegisteredHorseFamily() {
  static const FamilyDef def{
      "登録馬データ",
      {"レースキー", "馬名キー"},
      {{"KTA", 388, [](const RecordView* last) { return last ? StageMark(last->raw(376, 1)) : std::string(); }}},
      {
          // Columns are assigned in this order, which is not the order of the offsets.
          {0, 0, "データID", {"fixed KTA"}},
          {0, 0, "年月日", {"custom race date"}},
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
      },
      {{"race date", fileRaceDate}}};
  return def;
}

const FamilyDef& HorseExtensionFamily() {
  static const FamilyDef def{
      "競走馬拡張データ",
      {"レースキー", "馬番"},
      {{"KKA", 324, {}, false}},
      {
          {0, 0, "データID", {"fixed KKA"}},
          {0, 8, "レースキー", {"text"}},
          {0, 0, "年月日", {"custom race date"}},
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
      },
      {{"race date", fileRaceDate}}};
  return def;
}

}  // namespace velmo::reg

namespace velmo {

void RegKOVA::regKTA(const std::string& strFile) {
  // The file replaces the day's registered horses completely.
  std::string date = reg::RaceDateFromPath(strFile);
  db().execute("delete from " + strMode + "登録馬データ where 年月日=" + text::quoteSqlText(date) + ";");
  readKind("KTA", strFile);
}

void RegKOVA::regKKA(const std::string& strFile) { readKind("KKA", strFile); }

void RegKOVA::upKK_Key() {
  // Always the this-week tables: the driver runs it after a pack archive in mode "T".
  DAO_Exec(m_DB,
           "UPDATE T競走馬拡張データ INNER JOIN T競走馬データ ON T競走馬拡張データ.レースキー = T競走馬データ.レースキー "
           "AND T競走馬拡張データ.馬番 = T競走馬データ.馬番 SET T競走馬拡張データ.血統登録番号 = "
           "[T競走馬データ].[血統登録番号]"
           " WHERE T競走馬拡張データ.血統登録番号 is null;");
}

}  // namespace velmo
