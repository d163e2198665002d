// Pre-race information files (TY: indices only; TYA: the full set; TYB: TYA plus
// three marks), one row per race and horse in 直前情報データ, and the key updates
// that link pre-race and training rows to the horse entry table.
#include "common/text.h"
#include "registration/entrylinks.h"
#include "registration/families.h"
#include "registration/regkova.h"
#include "startup/platform/daofunc.h"

namespace velmo {

namespace reg {

const FamilyDef& PreRaceFamily() {
  static const FamilyDef def{
      "直前情報データ",
      {"レースキー", "馬番"},
      {{"TY", 80}, {"TYA", 128}, {"TYB", 128}},
      {
          //  offset length column                TY            TYA           TYB
          {0, 0, "データID", {"fixed TY", "fixed TYA", "fixed TYB"}},
          {0, 8, "レースキー", {"text"}},
          {8, 2, "馬番", {"text"}},
          {25, 5, "直前オッズ指数", {"text"}},
          {30, 5, "直前パドック指数", {"text"}},
          {40, 5, "直前総合指数", {"text"}},
          {45, 1, "直前馬具変更情報", {"text"}},
          {46, 1, "脚元情報", {"-", "text", "text"}},
          {47, 1, "取消フラグ", {"-", "text", "text"}},
          {48, 5, "騎手コード2", {"-", "text", "text"}},
          {53, 12, "騎手名2", {"-", "head 6", "head 6"}},
          {65, 3, "負担重量2", {"-", "text", "text"}},
          {68, 1, "見習区分2", {"-", "text", "text"}},
          {69, 2, "馬場状態", {"-", "text", "text"}},
          {71, 1, "天候", {"-", "text", "text"}},
          {72, 6, "単勝オッズ", {"-", "blank-null", "blank-null"}},
          {78, 6, "複勝オッズ", {"-", "blank-null", "blank-null"}},
          {84, 4, "オッズ取得時間", {"-", "text", "text"}},
          {88, 3, "馬体重", {"-", "blank-null", "blank-null"}},
          {91, 3, "増減", {"-", "blank-null", "blank-null"}},
          {94, 1, "直前オッズ印", {"-", "-", "text"}},
          {95, 1, "直前パドック印", {"-", "-", "text"}},
          {96, 1, "直前総合印", {"-", "-", "text"}},
      },
      {}};
  return def;
}

}  // namespace reg

namespace {

// Race number of a race key: its characters 7 and 8.
std::string raceNumber(const std::string& raceKey) { return text::midChars(raceKey, 7, 2); }

// True when the row of horse "01" of the race has a result key. A race without
// a row for horse "01" (the horse was scratched from the file) is not linked:
// the file still registers and the data list shows " err".
bool chkTYKey(RegKOVA& s, const std::string& raceKey) {
  std::string sql = std::string(s.Mode() == "D" ? "SELECT 競走成績キー FROM D直前情報データ "
                                                : "SELECT 競走成績キー FROM T直前情報データ ") +
                    "WHERE レースキー = " + text::quoteSqlText(raceKey) + " AND 馬番 = '01';";
  auto q = s.db().openQuery(sql);
  if (q->eof()) return false;
  auto v = db::toOptText(q->get("競走成績キー"));
  return v && !v->empty();
}

// The fields a pre-race row takes from its entry.
const std::vector<std::string> kLinkColumns{"血統登録番号", "競走成績キー", "馬名"};

void registerPreRace(RegKOVA& s, const std::string& kind, const std::string& strFile) {
  const reg::Layout& L = reg::LayoutFor(kind);
  // TYB keeps the highest race number of the day, starting from what the previous
  // pre-race file of the same day left.
  std::string highest = s.CarriedStatus(kind, reg::RaceDateFromPath(strFile));
  reg::UpsertOptions opt;
  if (kind == "TYB") {
    opt.filter = [&highest](db::Recordset&, bool, const reg::RecordView& rec) {
      std::string rn = raceNumber(rec.raw(0, 8));
      if (highest < rn) highest = rn;
      return true;
    };
  }
  // A row added is linked as upTYKey would link it, so that the update has only
  // the rows of runners without an entry left to look at. A stored row keeps
  // its link, as the update leaves a linked row alone.
  reg::EntryLinks entries(s.db(), s.Mode(), kLinkColumns);
  const size_t race = L.fieldIndex("レースキー"), horse = L.fieldIndex("馬番"), first = L.fields.size();
  opt.extraColumns = kLinkColumns;
  opt.extraAddOnly = true;
  opt.complete = [&](const reg::RecordView&, std::vector<db::Value>& values) {
    const db::Value* e = entries.find(values[race], values[horse]);
    for (size_t i = 0; i < kLinkColumns.size(); ++i) values[first + i] = e ? e[i] : db::Value{};
  };
  std::string last;
  reg::UpsertFile(s.db(), s.Mode(), L, strFile, opt, &last);
  s.upTYKey();
  std::string lastKey;
  if (!last.empty()) lastKey = reg::RecordView(last, std::string(), 0).raw(0, 8);
  bool linked = !last.empty() && chkTYKey(s, lastKey);
  std::string status;
  if (!linked) status = " err";
  else if (kind == "TYB") status = highest;
  else status = raceNumber(lastKey);
  s.setCatalogue(kind, reg::RaceDateFromPath(strFile), status);
}

}  // namespace

void RegKOVA::regTY(const std::string& strFile) { registerPreRace(*this, "TY", strFile); }
void RegKOVA::regTYA(const std::string& strFile) { registerPreRace(*this, "TYA", strFile); }
void RegKOVA::regTYB(const std::string& strFile) { registerPreRace(*this, "TYB", strFile); }

void RegKOVA::upTYKey() {
  db();  // raises when the session is not connected
  std::string sql;
  if (strMode == "D")
    sql = std::string(
              "UPDATE D直前情報データ INNER JOIN D競走馬データ ON (D直前情報データ.馬番 = D競走馬データ.馬番) AND "
              "(D直前情報データ.レースキー = D競走馬データ.レースキー) SET D直前情報データ.血統登録番号 = "
              "[D競走馬データ].[血統登録番号], D直前情報データ.競走成績キー = [D競走馬データ].[競走成績キー], "
              "D直前情報データ.馬名 = [D競走馬データ].[馬名]") +
          " WHERE D直前情報データ.競走成績キー is null;";
  else
    sql = std::string(
              "UPDATE T直前情報データ INNER JOIN T競走馬データ ON (T直前情報データ.馬番 = T競走馬データ.馬番) AND "
              "(T直前情報データ.レースキー = T競走馬データ.レースキー) SET T直前情報データ.血統登録番号 = "
              "[T競走馬データ].[血統登録番号], T直前情報データ.競走成績キー = [T競走馬データ].[競走成績キー], "
              "T直前情報データ.馬名 = [T競走馬データ].[馬名]") +
          "WHERE T直前情報データ.競走成績キー is null;";
  DAO_Exec(m_DB, sql);
}

void RegKOVA::upCYKey() {
  db();
  std::string sql;
  if (strMode == "D")
    sql = std::string(
              "UPDATE D調教分析データ INNER JOIN D競走馬データ ON (D調教分析データ.馬番 = D競走馬データ.馬番) AND "
              "(D調教分析データ.レースキー = D競走馬データ.レースキー) SET D調教分析データ.競走成績キー = "
              "[D競走馬データ].[競走成績キー]") +
          " WHERE D調教分析データ.競走成績キー is null;";
  else
    sql = std::string(
              "UPDATE T調教分析データ INNER JOIN T競走馬データ ON (T調教分析データ.馬番 = T競走馬データ.馬番) AND "
              "(T調教分析データ.レースキー = T競走馬データ.レースキー) SET T調教分析データ.競走成績キー = "
              "[T競走馬データ].[競走成績キー]") +
          "WHERE T調教分析データ.競走成績キー is null;";
  DAO_Exec(m_DB, sql);
}

}  // namespace velmo
