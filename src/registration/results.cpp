// Result files: the day's per-runner results (SEB 334-byte and SEC 346-byte
// records, 成績データ) and the earlier runs of this week's runners (ZEB, ZEC,
// 前走データ), which afterwards refresh the past results that already exist.
#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo::reg {

namespace {

using text::isBlank;

// 確定単勝人気順位 (bytes 180-181): "99" means no popularity; the 346-byte
// record also stores a blank field as Null.
db::Value popularity334(const RecordView& rec, const std::string&) {
  std::string raw = rec.raw(180, 2);
  if (raw == "99") return std::monostate{};
  return raw;
}
db::Value popularity346(const RecordView& rec, const std::string&) {
  std::string raw = rec.raw(180, 2);
  if (raw == "99" || isBlank(raw)) return std::monostate{};
  return raw;
}
// 馬体重 (bytes 332-334): "000" or blank is an unknown weight.
db::Value bodyWeight(const RecordView& rec, const std::string&) {
  std::string raw = rec.raw(332, 3);
  if (raw == "000" || isBlank(raw)) return std::monostate{};
  return raw;
}
// 競走成績キー: the registration number (bytes 10-17) followed by the race date (18-25).
db::Value resultKey(const RecordView& rec, const std::string&) { return rec.raw(10, 8) + rec.raw(18, 8); }

const std::map<std::string, Composer>& resultComposers() {
  static const std::map<std::string, Composer> c{
      {"競走成績キー", resultKey},
      {"popularity 334", popularity334},
      {"popularity 346", popularity346},
      {"body weight", bodyWeight},
  };
  return c;
}

// The fillers of the result readers: the columns a record writes into the
// current row, in the order they are written. The result table gets "データID"
// first; the previous-run table has no such column (dataId nullptr).
std::vector<FieldRow> setSEBFields(const char* dataId) {
  std::vector<FieldRow> rows;
  if (dataId) rows.push_back({0, 0, "データID", {dataId}});
  std::vector<FieldRow> fields = {
      {10, 16, "競走成績キー", {"key"}},  // bytes 10-17 + 18-25
      {0, 8, "レースキー", {"text"}},
      {8, 2, "馬番", {"text"}},
      {10, 8, "血統登録番号", {"text"}},
      {18, 8, "年月日", {"text"}},
      {26, 36, "馬名", {"trim head 9"}},
      {62, 4, "距離", {"text"}},
      {66, 1, "芝ダ障害コード", {"text"}},
      {67, 1, "右左", {"text"}},
      {68, 1, "内外", {"text"}},
      {69, 2, "馬場状態", {"text"}},
      {71, 2, "種別", {"text"}},
      {73, 2, "条件", {"text"}},
      {75, 3, "記号A", {"char 1"}},
      {75, 3, "記号B", {"char 2"}},
      {75, 3, "記号C", {"char 3"}},
      {78, 1, "重量", {"text"}},
      {79, 1, "グレード", {"text"}},
      {80, 50, "レース名", {"trim head 25"}},
      {130, 2, "頭数", {"blank-null number"}},
      {132, 8, "レース名略称", {"trim head 4"}},
      {140, 2, "着順", {"text"}},
      {142, 1, "異常区分", {"text"}},
      {143, 4, "タイム", {"text"}},
      {147, 3, "斤量", {"text"}},
      {150, 12, "騎手名", {"trim head 6"}},
      {162, 12, "調教師名", {"trim head 6"}},
      {174, 6, "確定単勝オッズ", {"blank-null"}},
      {180, 2, "確定単勝人気順位", {"custom popularity 334"}},
      {182, 3, "ＩＤＭ", {"blank-null number"}},
      {185, 3, "素点", {"blank-null number"}},
      {188, 3, "馬場差", {"blank-null number"}},
      {191, 3, "ペース", {"blank-null number"}},
      {194, 3, "出遅", {"blank-null number"}},
      {197, 3, "位置取", {"blank-null number"}},
      {200, 3, "不利", {"blank-null number"}},
      {203, 3, "前不利", {"blank-null number"}},
      {206, 3, "中不利", {"blank-null number"}},
      {209, 3, "後不利", {"blank-null number"}},
      {212, 3, "レース", {"blank-null number"}},
      {215, 1, "コース取り", {"text"}},
      {216, 1, "上昇度コード", {"text"}},
      {217, 2, "クラスコード", {"text"}},
      {219, 1, "馬体コード", {"text"}},
      {220, 1, "気配コード", {"text"}},
      {221, 1, "レースペース", {"text"}},
      {222, 1, "馬ペース", {"text"}},
      {223, 5, "テン指数", {"blank-null"}},
      {228, 5, "上がり指数", {"blank-null"}},
      {233, 5, "ペース指数", {"blank-null"}},
      {238, 5, "レースＰ指数", {"blank-null"}},
      {243, 12, "1(2)着馬名", {"trim head 6"}},
      {255, 3, "1(2)着タイム差", {"text"}},
      {258, 3, "前３Ｆ", {"blank-null"}},
      {261, 3, "後３Ｆ", {"blank-null"}},
      {264, 24, "備考", {"trim head 12"}},
      {290, 6, "確定複勝オッズ", {"blank-null"}},
      {296, 6, "10時単勝オッズ", {"blank-null"}},
      {302, 6, "10時複勝オッズ", {"blank-null"}},
      {308, 2, "コーナー順位1", {"text"}},
      {310, 2, "コーナー順位2", {"text"}},
      {312, 2, "コーナー順位3", {"text"}},
      {314, 2, "コーナー順位4", {"text"}},
      {316, 3, "前３F先頭差", {"blank-null"}},
      {319, 3, "後３F先頭差", {"blank-null"}},
      {322, 5, "騎手コード", {"text"}},
      {327, 5, "調教師コード", {"text"}},
  };
  rows.insert(rows.end(), fields.begin(), fields.end());
  return rows;
}

// The 346-byte record: the 334-byte fields, a blank popularity also stored as
// Null, then five more fields.
std::vector<FieldRow> setSECFields(const char* dataId) {
  std::vector<FieldRow> rows = setSEBFields(dataId);
  for (auto& r : rows)
    if (std::string_view(r.column) == "確定単勝人気順位") r.rules = {"custom popularity 346"};
  std::vector<FieldRow> more = {
      {332, 3, "馬体重", {"custom body weight"}},
      {335, 3, "増減", {"blank-null"}},
      {338, 1, "天候コード", {"text"}},
      {339, 1, "コース", {"text"}},
      {340, 1, "レース脚質", {"text"}},
  };
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

// The status of a day's results from the last record read: "速" (quick results)
// while its corner positions (bytes 308-309) are blank, else "完".
std::string sebStatus(const RecordView* last) { return last && isBlank(last->raw(308, 2)) ? "速" : "完"; }
}  // namespace

const FamilyDef& ResultSEBFamily() {
  static const FamilyDef def{"成績データ", {"競走成績キー"}, {{"SEB", 334, sebStatus}}, setSEBFields("fixed SEB"), resultComposers()};
  return def;
}

const FamilyDef& ResultSECFamily() {
  // The status of SEC needs the whole file (regSEC).
  static const FamilyDef def{"成績データ", {"競走成績キー"}, {{"SEC", 346}}, setSECFields("fixed SEC"), resultComposers()};
  return def;
}

const FamilyDef& PreviousRunZEBFamily() {
  static const FamilyDef def{"前走データ", {"競走成績キー"}, {{"ZEB", 334, {}, false}}, setSEBFields(nullptr), resultComposers()};
  return def;
}

const FamilyDef& PreviousRunZECFamily() {
  static const FamilyDef def{"前走データ", {"競走成績キー"}, {{"ZEC", 346, {}, false}}, setSECFields(nullptr), resultComposers()};
  return def;
}

}  // namespace velmo::reg

namespace velmo {

namespace {
// The previous-run layout writing into the result table: the refresh of the
// past results writes the same columns and leaves "データID" as stored.
const reg::Layout& refreshLayout(const std::string& kind) {
  static const reg::Layout zeb = [] {
    reg::Layout L = reg::LayoutFor("ZEB");
    L.table = "成績データ";
    return L;
  }();
  static const reg::Layout zec = [] {
    reg::Layout L = reg::LayoutFor("ZEC");
    L.table = "成績データ";
    return L;
  }();
  return kind == "ZEB" ? zeb : zec;
}

std::string raceKeyOf(const reg::RecordView& rec) { return rec.raw(0, 8); }
using text::isBlank;
}  // namespace

void RegKOVA::regSEB(const std::string& strFile) { readKind("SEB", strFile); }

void RegKOVA::regSEC(const std::string& strFile) {
  const reg::Layout& L = reg::LayoutFor("SEC");
  // The highest race number (characters 7-8 of the race key) of the day, starting
  // from what the previous result file of the same day left.
  std::string highest = CarriedStatus("SEC", reg::RaceDateFromPath(strFile));
  reg::UpsertOptions options;
  options.filter = [&highest](db::Recordset&, bool, const reg::RecordView& rec) {
    std::string race = text::midChars(raceKeyOf(rec), 7, 2);
    if (highest < race) highest = race;
    return true;
  };
  std::string last;
  reg::UpsertFile(db(), strMode, L, strFile, options, &last);
  std::string date = reg::RaceDateFromPath(strFile);
  std::string status = highest;
  if (last.empty() || !isBlank(reg::RecordView(last, date, 0).raw(308, 2))) status = "完";
  if (status == "12") status = "速";
  setCatalogue("SEC", date, status);
}

void RegKOVA::regZEB(const std::string& strFile) { readKind("ZEB", strFile); }
void RegKOVA::regZEC(const std::string& strFile) { readKind("ZEC", strFile); }

void RegKOVA::regSEBfromZEB(const std::string& strFile) {
  reg::UpsertOptions options;
  options.addMissing = false;
  options.decodedBefore = true;  // by the previous-run pass before it
  // A run without a race key is not a past result.
  options.filter = [](db::Recordset&, bool, const reg::RecordView& rec) { return !isBlank(raceKeyOf(rec)); };
  reg::UpsertFile(db(), strMode, refreshLayout("ZEB"), strFile, options);
}

void RegKOVA::regSECfromZEC(const std::string& strFile) {
  reg::UpsertOptions options;
  options.addMissing = false;
  options.decodedBefore = true;  // by the previous-run pass before it
  // Runs on racecourses above "10" are not in the past results; neither is a run
  // without a race key, which would otherwise blank the stored race key.
  options.filter = [](db::Recordset&, bool, const reg::RecordView& rec) {
    std::string key = raceKeyOf(rec);
    return !isBlank(key) && !(text::headChars(key, 2) > "10");
  };
  reg::UpsertFile(db(), strMode, refreshLayout("ZEC"), strFile, options);
}

}  // namespace velmo
