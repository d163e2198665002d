// Race programme files (BA, BAA, BAB: one row per race in 番組データ) and the
// meeting file (KAA: one row per meeting day and course in 開催データ).
#include "common/func.h"
#include "registration/families.h"

namespace velmo::reg {

namespace {
StatusFn stageMarkAt(int offset) {
  return [offset](const RecordView* last) { return last ? StageMark(last->raw(offset, 1)) : std::string(); };
}
}  // namespace

const FamilyDef& ProgrammeFamily() {
  static const FamilyDef def{
      "番組データ",
      {"レースキー"},
      {{"BA", 100}, {"BAA", 116}, {"BAB", 168, stageMarkAt(124)}},
      {
          //  offset length column            BA               BAA              BAB
          {0, 8, "レースキー", {"text", "text", "text"}},
          {8, 8, "年月日", {"text", "text", "text"}},
          {16, 4, "発走時間", {"text", "text", "text"}},
          {20, 4, "距離", {"text", "text", "text"}},
          {24, 1, "芝ダ障害コード", {"text", "text", "text"}},
          {25, 1, "右左", {"text", "text", "text"}},
          {26, 1, "内外", {"text", "text", "text"}},
          {27, 2, "種別", {"text", "text", "text"}},
          {29, 2, "条件", {"text", "text", "text"}},
          {31, 3, "記号Ａ", {"char 1", "char 1", "char 1"}},
          {31, 3, "記号Ｂ", {"char 2", "char 2", "char 2"}},
          {31, 3, "記号Ｃ", {"char 3", "char 3", "char 3"}},
          {34, 1, "重量", {"text", "text", "text"}},
          {35, 1, "グレード", {"text", "text", "text"}},
          {36, 50, "レース名", {"head 25", "trim head 25", "trim head 25"}},
          {86, 8, "回数", {"head 4", "head 4", "head 4"}},
          {94, 2, "頭数", {"text", "text", "text"}},
          {96, 1, "コース", {"text", "text", "text"}},
          {97, 1, "開催区分", {"-", "text", "text"}},
          {98, 8, "レース名短縮", {"-", "head 4", "head 4"}},
          {106, 18, "レース名9文字", {"-", "-", "head 9"}},
          {124, 1, "データ区分", {"-", "-", "text"}},
          {125, 5, "1着賞金", {"-", "-", "text"}},
          {130, 5, "2着賞金", {"-", "-", "text"}},
          {135, 5, "3着賞金", {"-", "-", "text"}},
          {140, 5, "4着賞金", {"-", "-", "text"}},
          {145, 5, "5着賞金", {"-", "-", "text"}},
          {150, 5, "1着算入賞金", {"-", "-", "text"}},
          {155, 5, "2着算入賞金", {"-", "-", "text"}},
      },
      {}};
  return def;
}

const FamilyDef& MeetingFamily() {
  static const FamilyDef def{
      "開催データ",
      {"開催キー"},
      {{"KAA", 56, stageMarkAt(48)}},
      {
          {0, 0, "データID", {"fixed KAA"}},
          {0, 6, "開催キー", {"text"}},
          {6, 8, "年月日", {"text"}},
          {14, 1, "開催区分", {"text"}},
          {15, 2, "曜日", {"head 1"}},
          {17, 4, "競馬場名", {"head 2"}},
          {21, 1, "天候コード", {"text"}},
          {22, 2, "芝馬場状態コード", {"text"}},
          {24, 1, "芝馬場状態内", {"text"}},
          {25, 1, "芝馬場状態中", {"text"}},
          {26, 1, "芝馬場状態外", {"text"}},
          {27, 3, "芝馬場差", {"blank-null"}},
          {30, 2, "直線馬場差最内", {"blank-null"}},
          {32, 2, "直線馬場差内", {"blank-null"}},
          {34, 2, "直線馬場差中", {"blank-null"}},
          {36, 2, "直線馬場差外", {"blank-null"}},
          {38, 2, "直線馬場差大外", {"blank-null"}},
          {40, 2, "ダ馬場状態コード", {"text"}},
          {42, 1, "ダ馬場状態内", {"text"}},
          {43, 1, "ダ馬場状態中", {"text"}},
          {44, 1, "ダ馬場状態外", {"text"}},
          {45, 3, "ダ馬場差", {"blank-null"}},
          {48, 1, "データ区分", {"text"}},
          {14, 1, "開催区分", {"text"}},  // written a second time, same value
      },
      {}};
  return def;
}

}  // namespace velmo::reg
