// Payout files (HJA: win, place, bracket quinella, quinella, quinella place;
// HJB: plus exacta and trio; HJC: plus trifecta), one row per race in 払戻情報データ.
// A record is the race key followed by groups of repeated entries; every part of
// an entry is written blank-null to its base column name followed by the entry number.
#include <deque>

#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo {

namespace reg {

namespace {

struct PayoutGroup {
  int offset;
  int entries;
  int entryLength;
  const char* firstBase;
  int firstLength;
  const char* secondBase;
  int secondLength;
  int fromKind;  // 0: HJA and later, 1: HJB and later, 2: HJC only
};

const PayoutGroup kGroups[] = {
    {8, 3, 9, "単勝馬番", 2, "単勝払戻", 7, 0},          // win
    {35, 5, 9, "複勝馬番", 2, "複勝払戻", 7, 0},         // place
    {80, 3, 9, "枠連組合せ", 2, "枠連払戻", 7, 0},       // bracket quinella
    {107, 3, 12, "馬連組合せ", 4, "馬連払戻", 8, 0},     // quinella
    {143, 7, 12, "ワイド組合せ", 4, "ワイド払戻", 8, 0}, // quinella place
    {227, 6, 12, "馬単組合せ", 4, "馬単払戻", 8, 1},     // exacta
    {299, 3, 14, "３連複組合せ", 6, "３連複払戻", 8, 1}, // trio
    {341, 6, 15, "３連単組合せ", 6, "３連単払戻", 9, 2}, // trifecta
};

const char* const kBlankNull[] = {"blank-null", "blank-null", "blank-null"};
const char* const kFromHJB[] = {"-", "blank-null", "blank-null"};
const char* const kHJCOnly[] = {"-", "-", "blank-null"};

std::vector<const char*> rulesFrom(int fromKind) {
  const char* const* r = fromKind == 0 ? kBlankNull : fromKind == 1 ? kFromHJB : kHJCOnly;
  return {r[0], r[1], r[2]};
}

std::vector<FieldRow> payoutRows() {
  static std::deque<std::string> names;  // the rows point at these names
  std::vector<FieldRow> rows = {
      {0, 8, "レースキー", {"text"}},
      {0, 0, "データID", {"fixed HJA", "fixed HJB", "fixed HJC"}},
  };
  for (const auto& g : kGroups) {
    for (int n = 1; n <= g.entries; ++n) {
      int at = g.offset + (n - 1) * g.entryLength;
      names.push_back(g.firstBase + std::to_string(n));
      rows.push_back({at, g.firstLength, names.back().c_str(), rulesFrom(g.fromKind)});
      names.push_back(g.secondBase + std::to_string(n));
      rows.push_back({at + g.firstLength, g.secondLength, names.back().c_str(), rulesFrom(g.fromKind)});
    }
  }
  return rows;
}

}  // namespace

const FamilyDef& PayoutFamily() {
  static const FamilyDef def{"払戻情報データ", {"レースキー"}, {{"HJA", 240}, {"HJB", 354}, {"HJC", 444}}, payoutRows(), {}};
  return def;
}

}  // namespace reg

namespace {

void registerPayouts(RegKOVA& s, const std::string& kind, const std::string& strFile) {
  const reg::Layout& L = reg::LayoutFor(kind);
  // HJB and HJC keep the highest race number of the day, starting from what the
  // previous payout file of the same day left; HJA clears the status.
  std::string highest = s.CarriedStatus(kind, reg::RaceDateFromPath(strFile));
  reg::UpsertOptions opt;
  if (kind != "HJA") {
    opt.filter = [&highest](db::Recordset&, bool, const reg::RecordView& rec) {
      std::string rn = text::midChars(rec.raw(0, 8), 7, 2);
      if (highest < rn) highest = rn;
      return true;
    };
  }
  reg::UpsertFile(s.db(), s.Mode(), L, strFile, opt);
  s.setCatalogue(kind, reg::RaceDateFromPath(strFile), kind == "HJA" ? std::string() : highest);
}

}  // namespace

void RegKOVA::regHJA(const std::string& strFile) { registerPayouts(*this, "HJA", strFile); }
void RegKOVA::regHJB(const std::string& strFile) { registerPayouts(*this, "HJB", strFile); }
void RegKOVA::regHJC(const std::string& strFile) { registerPayouts(*this, "HJC", strFile); }

}  // namespace velmo
