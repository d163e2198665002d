// Result-extension files (SKA 288-byte and SKB 304-byte records: remarks,
// equipment, leg condition and comments per runner, 成績拡張データ), their
// previous-run counterparts (ZKA, ZKB, 前走拡張データ), which afterwards refresh
// the past extension rows that already exist, and the per-race result file
// (SRA: sectional times and corner positions, 成績レースデータ).
#include "common/func.h"
#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo::reg {

namespace {

db::Value resultKey(const RecordView& rec, const std::string&) { return rec.raw(10, 8) + rec.raw(18, 8); }

// The 304-byte record cuts each comment at its first full-width blank (keeping
// the blank) before the first 20 characters are stored.
Composer commentHead(int offset) {
  return [offset](const RecordView& rec, const std::string&) -> db::Value {
    return text::headChars(NameHead(rec.raw(offset, 40)), 20);
  };
}

const std::map<std::string, Composer>& extComposers() {
  static const std::map<std::string, Composer> c{
      {"競走成績キー", resultKey},
      {"name head paddock", commentHead(113)},
      {"name head legs", commentHead(153)},
      {"name head equipment", commentHead(193)},
      {"name head race", commentHead(233)},
  };
  return c;
}

// The fillers of the extension readers: the columns of a record in the order
// they are written. The result-extension table gets "データID" first; the
// previous-run table has no such column (dataId nullptr).
std::vector<FieldRow> setSKAFields(const char* dataId) {
  std::vector<FieldRow> rows;
  if (dataId) rows.push_back({0, 0, "データID", {dataId}});
  std::vector<FieldRow> fields = {
      {10, 16, "競走成績キー", {"key"}},  // bytes 10-17 + 18-25
      {0, 8, "レースキー", {"text"}},
      {8, 2, "馬番", {"text"}},
      // Repeated fields: entry n starts at the field's offset + 3 × (n - 1).
      {26, 3, "特記1", {"text"}},
      {29, 3, "特記2", {"text"}},
      {32, 3, "特記3", {"text"}},
      {35, 3, "特記4", {"text"}},
      {38, 3, "特記5", {"text"}},
      {41, 3, "特記6", {"text"}},
      {44, 3, "馬具1", {"text"}},
      {47, 3, "馬具2", {"text"}},
      {50, 3, "馬具3", {"text"}},
      {53, 3, "馬具4", {"text"}},
      {56, 3, "馬具5", {"text"}},
      {59, 3, "馬具6", {"text"}},
      {62, 3, "馬具7", {"text"}},
      {65, 3, "馬具8", {"text"}},
      {68, 3, "脚元総合1", {"text"}},
      {71, 3, "脚元総合2", {"text"}},
      {74, 3, "脚元総合3", {"text"}},
      {77, 3, "脚元左前1", {"text"}},
      {80, 3, "脚元左前2", {"text"}},
      {83, 3, "脚元左前3", {"text"}},
      {86, 3, "脚元右前1", {"text"}},
      {89, 3, "脚元右前2", {"text"}},
      {92, 3, "脚元右前3", {"text"}},
      {95, 3, "脚元左後1", {"text"}},
      {98, 3, "脚元左後2", {"text"}},
      {101, 3, "脚元左後3", {"text"}},
      {104, 3, "脚元右後1", {"text"}},
      {107, 3, "脚元右後2", {"text"}},
      {110, 3, "脚元右後3", {"text"}},
      {113, 40, "パドックコメント", {"head 20"}},
      {153, 40, "脚元コメント", {"head 20"}},
      {193, 40, "馬具コメント", {"head 20"}},
      {233, 40, "レースコメント", {"head 20"}},
  };
  rows.insert(rows.end(), fields.begin(), fields.end());
  return rows;
}

// The 304-byte record: the 288-byte fields with the comments cut by NameHead,
// then six equipment and hoof fields.
std::vector<FieldRow> setSKBFields(const char* dataId) {
  std::vector<FieldRow> rows = setSKAFields(dataId);
  for (auto& r : rows) {
    std::string_view c = r.column;
    if (c == "パドックコメント") r.rules = {"custom name head paddock"};
    else if (c == "脚元コメント") r.rules = {"custom name head legs"};
    else if (c == "馬具コメント") r.rules = {"custom name head equipment"};
    else if (c == "レースコメント") r.rules = {"custom name head race"};
  }
  std::vector<FieldRow> more = {
      {273, 3, "ハミ", {"text"}},
      {276, 3, "バンテージ", {"text"}},
      {279, 3, "蹄鉄", {"text"}},
      {282, 3, "蹄状態", {"text"}},
      {285, 3, "ソエ", {"text"}},
      {288, 3, "骨瘤", {"text"}},
  };
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

}  // namespace

const FamilyDef& ResultExtSKAFamily() {
  static const FamilyDef def{"成績拡張データ", {"競走成績キー"}, {{"SKA", 288}}, setSKAFields("fixed SKA"), extComposers()};
  return def;
}

const FamilyDef& ResultExtSKBFamily() {
  static const FamilyDef def{"成績拡張データ", {"競走成績キー"}, {{"SKB", 304}}, setSKBFields("fixed SKB"), extComposers()};
  return def;
}

const FamilyDef& PreviousRunExtZKAFamily() {
  static const FamilyDef def{"前走拡張データ", {"競走成績キー"}, {{"ZKA", 288, {}, false}}, setSKAFields(nullptr), extComposers()};
  return def;
}

const FamilyDef& PreviousRunExtZKBFamily() {
  static const FamilyDef def{"前走拡張データ", {"競走成績キー"}, {{"ZKB", 304, {}, false}}, setSKBFields(nullptr), extComposers()};
  return def;
}

const FamilyDef& RaceResultFamily() {
  static const FamilyDef def{
      "成績レースデータ",
      {"レースキー"},
      {{"SRA", 408, {}, false}},
      {
          {0, 8, "レースキー", {"text"}},
          {0, 0, "データID", {"fixed SRA"}},
          {0, 0, "年月日", {"custom race date"}},  // the same for every row of the file
          {8, 54, "ハロンタイム", {"text"}},
          {62, 64, "コーナー位置1", {"text"}},
          {126, 64, "コーナー位置2", {"text"}},
          {190, 64, "コーナー位置3", {"text"}},
          {254, 64, "コーナー位置4", {"text"}},
      },
      {{"race date", [](const RecordView& rec, const std::string&) -> db::Value { return rec.raceDate(); }}}};
  return def;
}

}  // namespace velmo::reg

namespace velmo {

namespace {
// The refresh of the past extension rows: update only, and never from a run
// without a race key.
reg::UpsertOptions refreshOptions() {
  reg::UpsertOptions o;
  o.addMissing = false;
  o.decodedBefore = true;  // by the previous-run pass before it
  o.filter = [](db::Recordset&, bool, const reg::RecordView& rec) {
    std::string key = rec.raw(0, 8);
    return key.find_first_not_of(' ') != std::string::npos;
  };
  return o;
}
}  // namespace

void RegKOVA::regSKA(const std::string& strFile) { readKind("SKA", strFile); }
void RegKOVA::regSKB(const std::string& strFile) { readKind("SKB", strFile); }
void RegKOVA::regZKA(const std::string& strFile) { readKind("ZKA", strFile); }
void RegKOVA::regZKB(const std::string& strFile) { readKind("ZKB", strFile); }

// The refresh writes the extension layout itself, "データID" included: a row
// registered from SKB and refreshed from a ZKA file becomes "SKA".
void RegKOVA::regSKAfromZKA(const std::string& strFile) {
  reg::UpsertFile(db(), strMode, reg::LayoutFor("SKA"), strFile, refreshOptions());
}
void RegKOVA::regSKBfromZKB(const std::string& strFile) {
  reg::UpsertFile(db(), strMode, reg::LayoutFor("SKB"), strFile, refreshOptions());
}

void RegKOVA::regSRA(const std::string& strFile) { readKind("SRA", strFile); }

}  // namespace velmo
