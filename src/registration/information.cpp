// Horse information file (JOA): the provider's supplementary indices of each
// runner, written into the horse entry table 競走馬データ.
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo {

namespace reg {

const FamilyDef& InformationFamily() {
  static const FamilyDef def{
      "競走馬データ",
      {"レースキー", "馬番"},
      {{"JOA", 116}},
      {
          {0, 8, "レースキー", {"text"}},
          {8, 2, "馬番", {"text"}},
          {64, 5, "CID調教素点", {"blank-null"}},
          {69, 5, "CID厩舎素点", {"blank-null"}},
          {74, 5, "CID素点", {"text"}},
          {79, 3, "CID", {"text"}},
          {82, 5, "LS指数", {"text"}},
          {87, 1, "LS評価", {"text"}},
          {88, 1, "EM", {"text"}},
          {89, 1, "厩舎ＢＢ印", {"text"}},
          {90, 5, "厩舎ＢＢ◎単勝回収率", {"blank-null"}},
          {95, 5, "厩舎ＢＢ◎連対率", {"blank-null"}},
          {100, 1, "騎手ＢＢ印", {"text"}},
          {101, 5, "騎手ＢＢ◎単勝回収率", {"blank-null"}},
          {106, 5, "騎手ＢＢ◎連対率", {"blank-null"}},
      },
      {}};
  return def;
}

}  // namespace reg

void RegKOVA::regJOA(const std::string& strFile) { readKind("JOA", strFile); }

}  // namespace velmo
