// Training analysis file (CYA): one row per runner in 調教分析データ; every write
// takes the result key from the entry table afresh (Null without an entry), and
// upCYKey links the rows still without one.
#include "common/func.h"
#include "common/text.h"
#include "registration/entrylinks.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo {

namespace reg {

const FamilyDef& TrainingFamily() {
  static const FamilyDef def{
      "調教分析データ",
      {"レースキー", "馬番"},
      {{"CYA", 88}},
      {
          {0, 8, "レースキー", {"text"}},
          {0, 0, "競走成績キー", {"custom null"}},
          {8, 2, "馬番", {"text"}},
          {10, 2, "調教タイプ", {"text"}},
          {12, 1, "調教コース種別", {"text"}},
          {13, 2, "坂", {"text"}},
          {15, 2, "w", {"text"}},
          {17, 2, "ダ", {"text"}},
          {19, 2, "芝", {"text"}},
          {21, 2, "プ", {"text"}},
          {23, 2, "障", {"text"}},
          {25, 1, "調教距離", {"text"}},
          {26, 1, "調教重点", {"text"}},
          {27, 3, "追切指数", {"blank-null"}},
          {30, 3, "仕上指数", {"blank-null"}},
          {33, 1, "調教量評価", {"text"}},
          {34, 1, "仕上指数変化", {"text"}},
          {35, 40, "調教コメント", {"custom comment"}},
          {75, 8, "コメント年月日", {"text"}},
          {83, 1, "調教評価", {"text"}},
          {0, 0, "データID", {"fixed CYA"}},
      },
      {
          {"null", [](const RecordView&, const std::string&) -> db::Value { return std::monostate{}; }},
          // The comment up to and including its first full-width blank, at most 20 characters.
          {"comment",
           [](const RecordView& rec, const std::string&) -> db::Value {
             return text::headChars(NameHead(rec.raw(35, 40)), 20);
           }},
      }};
  return def;
}

}  // namespace reg

void RegKOVA::regCYA(const std::string& strFile) {
  const reg::Layout& L = reg::LayoutFor("CYA");
  // The key is written with the row as upCYKey would fill it in, so that the
  // update has only the rows of runners without an entry left to look at.
  reg::EntryLinks entries(db(), strMode, {"競走成績キー"});
  const size_t race = L.fieldIndex("レースキー"), horse = L.fieldIndex("馬番"), key = L.fieldIndex("競走成績キー");
  reg::UpsertOptions opt;
  opt.complete = [&](const reg::RecordView&, std::vector<db::Value>& values) {
    const db::Value* e = entries.find(values[race], values[horse]);
    values[key] = e ? e[0] : db::Value{};
  };
  reg::UpsertFile(db(), strMode, L, strFile, opt);
  upCYKey();
  setCatalogue("CYA", reg::RaceDateFromPath(strFile), "");
}

}  // namespace velmo
