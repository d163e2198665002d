// Record layouts of the JRA-VAN files, read by the same layout engine as the
// provider's files (layout set "V"). Each file kind is one table of fields; the
// runner entries repeated inside a race record are kinds of their own
// ("JracSei1.dat#runner"), read over the entry's bytes. Fields named after a
// column of "払戻情報データ" (rule "blank-null") are copied to that column as
// they stand; the others are read by name by the conversions of RegVAN.
#include <deque>
#include <string>
#include <vector>

#include "registration/families.h"

namespace velmo::reg {

namespace {

// Adds count slots of payout fields: column + n for each part, slot n at
// base + stride * (n - 1).
void payoutSlots(std::vector<FieldRow>& rows, int base, int count, int stride,
                 std::vector<std::pair<const char*, int>> parts) {
  static std::deque<std::string> names;  // column names live as long as the layouts
  for (int n = 1; n <= count; ++n) {
    int off = base + stride * (n - 1);
    for (const auto& [column, length] : parts) {
      names.push_back(std::string(column) + std::to_string(n));
      rows.push_back({off, length, names.back().c_str(), {"blank-null"}});
      off += length;
    }
  }
}

FamilyDef sei1() {
  FamilyDef d{"", {}, {{"JracSei1.dat", 3048}}, {
      {0, 16, "race_key", {"text"}},
      {17, 60, "race_name", {"text"}},
      {77, 6, "short_name", {"text"}},
      {86, 1, "grade", {"text"}},
      {87, 2, "race_kind", {"text"}},
      {89, 3, "symbol", {"text"}},
      {92, 1, "weight_rule", {"text"}},
      {105, 3, "condition", {"text"}},
      {132, 4, "distance", {"text"}},
      {136, 2, "track", {"text"}},
      {324, 2, "runners", {"text"}},
      {331, 1, "going", {"text"}},
  }, {}};
  // Single-race payouts; the popularity after each payout is not read.
  payoutSlots(d.rows, 333, 3, 11, {{"単勝馬番", 2}, {"単勝払戻", 7}});
  payoutSlots(d.rows, 366, 5, 11, {{"複勝馬番", 2}, {"複勝払戻", 7}});
  payoutSlots(d.rows, 421, 3, 11, {{"枠連組合せ", 2}, {"枠連払戻", 7}});
  payoutSlots(d.rows, 454, 3, 15, {{"馬連組合せ", 4}, {"馬連払戻", 8}});
  payoutSlots(d.rows, 499, 7, 15, {{"ワイド組合せ", 4}, {"ワイド払戻", 8}});
  return d;
}

// One of the 18 runner entries of a result record (129 bytes from 724 + 129 * i);
// its first 63 bytes are laid out as the race card's entry.
FamilyDef sei1Runner() {
  return {"", {}, {{"JracSei1.dat#runner", 129}}, {
      {0, 2, "horse_no", {"text"}},
      {3, 10, "reg_no", {"text"}},
      {13, 18, "horse_name", {"text"}},
      {32, 3, "carried_weight", {"text"}},
      {36, 5, "jockey_code", {"text"}},
      {41, 8, "jockey_name", {"text"}},
      {50, 5, "trainer_code", {"text"}},
      {55, 8, "trainer_name", {"text"}},
      {63, 1, "abnormality", {"text"}},
      {64, 3, "body_weight", {"text"}},
      {67, 3, "body_change", {"text"}},
      {70, 2, "corner1", {"text"}},
      {72, 2, "corner2", {"text"}},
      {74, 2, "corner3", {"text"}},
      {76, 2, "corner4", {"text"}},
      {81, 3, "last3f", {"text"}},
      {84, 4, "time", {"text"}},
      {93, 2, "position", {"text"}},
      {95, 2, "popularity", {"text"}},
      {97, 4, "win_odds", {"text"}},
  }, {}};
}

FamilyDef seih() {
  FamilyDef d{"", {}, {{"JracSeih.dat", 159}}, {{0, 16, "race_key", {"text"}}}, {}};
  payoutSlots(d.rows, 16, 6, 15, {{"馬単組合せ", 4}, {"馬単払戻", 8}});
  payoutSlots(d.rows, 106, 3, 17, {{"３連複組合せ", 6}, {"３連複払戻", 8}});
  return d;
}

FamilyDef den1() {
  return {"", {}, {{"JracDen1.dat", 1463}}, {
      {0, 16, "race_key", {"text"}},
      {17, 60, "race_name", {"text"}},
      {83, 3, "edition", {"text"}},
      {86, 1, "grade", {"text"}},
      {87, 2, "race_kind", {"text"}},
      {89, 3, "symbol", {"text"}},
      {92, 1, "weight_rule", {"text"}},
      {105, 3, "condition", {"text"}},
      {132, 4, "distance", {"text"}},
      {136, 2, "track", {"text"}},
      {319, 4, "post_time", {"text"}},
      {324, 2, "runners", {"text"}},
  }, {}};
}

// One of the 18 runner entries of a race card record (63 bytes from 327 + 63 * j).
FamilyDef den1Runner() {
  return {"", {}, {{"JracDen1.dat#runner", 63}}, {
      {0, 2, "horse_no", {"text"}},
      {2, 1, "bracket", {"text"}},
      {3, 10, "reg_no", {"text"}},
      {13, 18, "horse_name", {"text"}},
      {32, 3, "carried_weight", {"text"}},
      {35, 1, "blinker", {"text"}},
      {36, 5, "jockey_code", {"text"}},
      {41, 8, "jockey_name", {"text"}},
      {49, 1, "apprentice", {"text"}},
      {50, 5, "trainer_code", {"text"}},
      {55, 8, "trainer_name", {"text"}},
  }, {}};
}

FamilyDef umaj() {
  return {"", {}, {{"JracUmaj.dat", 2881}}, {
      {0, 10, "reg_no", {"text"}},
      {28, 36, "horse_name", {"text"}},
      {64, 8, "birth_date", {"text"}},
      {73, 1, "sex", {"text"}},
      {74, 2, "coat", {"text"}},
      {76, 2, "horse_symbol", {"text"}},
      {78, 36, "sire", {"text"}},       // pedigree entries of 57 bytes: name (36) and 21 more
      {135, 36, "dam", {"text"}},
      {192, 36, "dam_sire", {"text"}},
      {444, 40, "breeder", {"text"}},
      {490, 40, "owner", {"text"}},
      {588, 7, "prize1", {"text"}},
      {595, 7, "prize2", {"text"}},
      {602, 7, "earnings_flat", {"text"}},
      {609, 7, "earnings_jump", {"text"}},
  }, {}};
}

// The jockey and trainer files are recognised and passed over by the
// conversion; their layouts only let the generator write them.
FamilyDef kisi() { return {"", {}, {{"JracKisi.dat", 200}}, {{0, 5, "code", {"text"}}, {5, 34, "name", {"text"}}}, {}}; }
FamilyDef chok() { return {"", {}, {{"JracChok.dat", 200}}, {{0, 5, "code", {"text"}}, {5, 34, "name", {"text"}}}, {}}; }

}  // namespace

std::vector<const FamilyDef*> VanFamilies() {
  static const FamilyDef defs[] = {sei1(), sei1Runner(), seih(), den1(), den1Runner(), umaj(), kisi(), chok()};
  std::vector<const FamilyDef*> out;
  for (const auto& d : defs) out.push_back(&d);
  return out;
}

}  // namespace velmo::reg
