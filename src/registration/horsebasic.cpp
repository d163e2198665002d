// Horse basic files (UKA 170, UKB 284, UKC 292 bytes: one row per horse in
// 馬基本データ) and the deletion list (MZA or MSA, 16 bytes), which marks horses
// the table holds as deleted. UKB and UKC carry a data date and never overwrite
// a row with older data.
#include "common/func.h"
#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo::reg {

const FamilyDef& HorseBasicFamily() {
  static const FamilyDef def{
      "馬基本データ",
      {"血統登録番号"},
      {{"UKA", 170, {}, false}, {"UKB", 284, {}, false}, {"UKC", 292, {}, false}},
      {
          //  offset length column      UKA             UKB             UKC
          {0, 0, "データID", {"-", "-", "fixed UKC"}},
          {0, 8, "血統登録番号", {"text", "text", "text"}},
          {8, 36, "馬名", {"trim head 18", "trim head 18", "trim head 18"}},
          {44, 1, "性別コード", {"text", "text", "text"}},
          {45, 2, "毛色コード", {"text", "text", "text"}},
          {47, 2, "馬記号コード", {"text", "text", "text"}},
          {49, 36, "父馬名", {"trim head 18", "trim head 18", "trim head 18"}},
          {85, 36, "母馬名", {"trim head 18", "trim head 18", "trim head 18"}},
          {121, 36, "母父馬名", {"trim head 18", "trim head 18", "trim head 18"}},
          {157, 8, "生年月日", {"text", "text", "text"}},
          {165, 4, "父馬生年", {"-", "text", "text"}},
          {169, 4, "母馬生年", {"-", "text", "text"}},
          {173, 4, "母父馬生年", {"-", "text", "text"}},
          {177, 40, "馬主名", {"-", "trim head 20", "trim head 20"}},
          {217, 2, "馬主会コード", {"-", "text", "text"}},
          {219, 40, "生産者名", {"-", "trim head 20", "trim head 20"}},
          {259, 8, "産地名", {"-", "trim head 4", "trim head 4"}},
          {267, 1, "抹消フラグ", {"-", "text", "text"}},
          {268, 8, "データ年月日", {"-", "text", "text"}},
          {276, 4, "父系統コード", {"-", "-", "text"}},
          {280, 4, "母父系統コード", {"-", "-", "text"}},
          {8, 0, "馬名キー", {"-", "key", "key"}},  // the name (8-43) and the birth year (157-160)
      },
      {
          {"馬名キー",
           [](const RecordView& rec, const std::string&) -> db::Value {
             return text::trimBlanks(text::headChars(rec.raw(8, 36), 18)) + text::headChars(rec.raw(157, 8), 4);
           }},
      }};
  return def;
}

const FamilyDef& HorseDeletionFamily() {
  static const FamilyDef def{"馬基本データ",
                             {"血統登録番号"},
                             {{"MZA", 16, {}, false}},
                             {
                                 {0, 8, "血統登録番号", {"text"}},
                                 {0, 0, "抹消フラグ", {"fixed 1"}},
                             },
                             {}};
  return def;
}

}  // namespace velmo::reg

namespace velmo {

namespace {
// UKB and UKC: a row is written only when its stored data date (bytes 268-275 of
// the record that wrote it) is not newer than the record's; new rows always.
reg::UpsertOptions neverOlder() {
  reg::UpsertOptions o;
  o.keepNewerBy = "データ年月日";
  return o;
}
}  // namespace

void RegKOVA::regUKA(const std::string& strFile) { readKind("UKA", strFile); }
void RegKOVA::regUKB(const std::string& strFile) { readKind("UKB", strFile, neverOlder()); }
void RegKOVA::regUKC(const std::string& strFile) { readKind("UKC", strFile, neverOlder()); }

void RegKOVA::regMZA(const std::string& strFile) {
  // Horses the table does not hold are not added.
  reg::UpsertOptions o;
  o.addMissing = false;
  readKind("MZA", strFile, o);
}

}  // namespace velmo
