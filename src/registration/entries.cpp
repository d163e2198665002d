// Horse entry files (KYC, KYD, KYE, KYF, KYG: one row per race and horse number
// in 競走馬データ). Each generation keeps the layout of the one before and appends
// fields; from KYF on a few index and odds columns are stored as Null when blank.
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo::reg {

const FamilyDef& EntryFamily() {
  static const FamilyDef def{
      "競走馬データ",
      {"レースキー", "馬番"},
      {{"KYC", 348}, {"KYD", 404}, {"KYE", 468}, {"KYF", 480}, {"KYG", 545}},
      {
          //  offset length column                  KYC            KYD            KYE            KYF            KYG
          {0, 0, "データID", {"fixed KYC", "fixed KYD", "fixed KYE", "fixed KYF", "fixed KYG"}},
          {0, 8, "レースキー", {"text", "text", "text", "text", "text"}},
          {8, 2, "馬番", {"text", "text", "text", "text", "text"}},
          {10, 8, "血統登録番号", {"text", "text", "text", "text", "text"}},
          {10, 0, "競走成績キー", {"key", "key", "key", "key", "key"}},  // bytes 10-17 + the file's race date
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
      },
      {
          // The result key: the horse's registration number followed by the race
          // date of the file (the entry records carry no date of their own).
          {"競走成績キー", [](const RecordView& rec, const std::string&) -> db::Value { return rec.raw(10, 8) + rec.raceDate(); }},
      }};
  return def;
}

}  // namespace velmo::reg

namespace velmo {

void RegKOVA::regKYC(const std::string& strFile) { readKind("KYC", strFile); }
void RegKOVA::regKYD(const std::string& strFile) { readKind("KYD", strFile); }
void RegKOVA::regKYE(const std::string& strFile) { readKind("KYE", strFile); }
void RegKOVA::regKYF(const std::string& strFile) { readKind("KYF", strFile); }
void RegKOVA::regKYG(const std::string& strFile) { readKind("KYG", strFile); }

}  // namespace velmo
