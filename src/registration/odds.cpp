// Base odds files. OZ (win, place, quinella) and OW (quinella place) are stored
// as one wide row per race and again as one row per horse or combination; OU
// (exacta) and OT (trio) only per combination. OV lines are kept as text files,
// one per race, under the database folder's kodds tree.
//
// Entry m (from 0) of a record starts at byte 10 + m × entry length; the
// combinations of horse numbers 1 to 18 follow a fixed order (see Combinations).
#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/families.h"
#include "registration/regkova.h"

namespace velmo {

namespace reg {

namespace {

using Combo = std::vector<int>;

// Unordered pairs i < k: 01-02, 01-03, ..., 01-18, 02-03, ..., 17-18 (153).
const std::vector<Combo>& unorderedPairs() {
  static const std::vector<Combo> v = [] {
    std::vector<Combo> r;
    for (int i = 1; i <= 17; ++i)
      for (int k = i + 1; k <= 18; ++k) r.push_back({i, k});
    return r;
  }();
  return v;
}

// Ordered pairs i ≠ k: 01-02, ..., 01-18, 02-01, 02-03, ... (306).
const std::vector<Combo>& orderedPairs() {
  static const std::vector<Combo> v = [] {
    std::vector<Combo> r;
    for (int i = 1; i <= 18; ++i)
      for (int k = 1; k <= 18; ++k)
        if (k != i) r.push_back({i, k});
    return r;
  }();
  return v;
}

// Triples i < k < l, innermost fastest (816).
const std::vector<Combo>& triples() {
  static const std::vector<Combo> v = [] {
    std::vector<Combo> r;
    for (int i = 1; i <= 16; ++i)
      for (int k = i + 1; k <= 17; ++k)
        for (int l = k + 1; l <= 18; ++l) r.push_back({i, k, l});
    return r;
  }();
  return v;
}

std::string two(int h) {
  // Written out by hand: this runs for every combination of every odds record.
  if (h >= 0 && h < 100) return {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10)};
  char b[16];
  std::snprintf(b, sizeof b, "%02d", h);
  return b;
}

std::string comboName(const Combo& c) {
  std::string s;
  for (int h : c) s += two(h);
  return s;
}

// Names the rows of the generated layouts point at.
const char* keep(std::string name) {
  static std::deque<std::string> names;
  names.push_back(std::move(name));
  return names.back().c_str();
}

std::vector<FieldRow> headRows() { return {{0, 8, "レースキー", {"text"}}, {8, 2, "頭数", {"text"}}}; }

void addCombos(std::vector<FieldRow>& rows, int from, int entryLength, const std::vector<Combo>& combos,
               const std::string& prefix, const char* rule) {
  for (size_t m = 0; m < combos.size(); ++m)
    rows.push_back({from + static_cast<int>(m) * entryLength, entryLength, keep(prefix + comboName(combos[m])), {rule}});
}

}  // namespace

const FamilyDef& OddsFamily() {
  static const FamilyDef def = [] {
    std::vector<FieldRow> rows = headRows();
    for (int h = 1; h <= 18; ++h) rows.push_back({10 + (h - 1) * 5, 5, keep("単勝" + two(h)), {"blank-null"}});
    for (int h = 1; h <= 18; ++h) rows.push_back({100 + (h - 1) * 5, 5, keep("複勝" + two(h)), {"blank-null"}});
    addCombos(rows, 190, 5, unorderedPairs(), "連勝", "blank-null");
    return FamilyDef{"基準オッズデータ", {"レースキー"}, {{"OZ", 957}}, rows, {}};
  }();
  return def;
}

const FamilyDef& WideOddsFamily() {
  static const FamilyDef def = [] {
    std::vector<FieldRow> rows = headRows();
    addCombos(rows, 10, 5, unorderedPairs(), "ワ", "blank-null");
    return FamilyDef{"基準ワイドデータ", {"レースキー"}, {{"OW", 780}}, rows, {}};
  }();
  return def;
}

// The exacta and trio records have no wide table: their layouts describe the
// record (entry names "馬単0102", "３連複010203" …) for the per-combination
// readers below and for the fixture generator. They are never upserted as they
// stand, so their table names name the record, not a table of the databases.
const FamilyDef& ExactaOddsFamily() {
  static const FamilyDef def = [] {
    std::vector<FieldRow> rows = headRows();
    addCombos(rows, 10, 6, orderedPairs(), "馬単", "text");
    return FamilyDef{"基準オッズ馬単レコード", {"レースキー"}, {{"OU", 1856, {}, false}}, rows, {}};
  }();
  return def;
}

const FamilyDef& TrioOddsFamily() {
  static const FamilyDef def = [] {
    std::vector<FieldRow> rows = headRows();
    addCombos(rows, 10, 6, triples(), "３連複", "text");
    return FamilyDef{"基準オッズ３連複レコード", {"レースキー"}, {{"OT", 4912, {}, false}}, rows, {}};
  }();
  return def;
}

// The lines of the OV text files are stored as files, not in a table; this
// layout of a line (race key, runners, the win odds of horses 1 to 18) serves
// the fixture generator.
const FamilyDef& OddsLineFamily() {
  static const FamilyDef def = [] {
    std::vector<FieldRow> rows = headRows();
    for (int h = 1; h <= 18; ++h) rows.push_back({10 + (h - 1) * 5, 5, keep("単勝" + two(h)), {"blank-null"}});
    return FamilyDef{"基準オッズデータ", {"レースキー"}, {{"OV", 102, {}, false}}, rows, {}};
  }();
  return def;
}

}  // namespace reg

namespace {

bool blank(const std::string& raw) { return text::isBlank(raw); }

// One per-combination table: key columns レースキー, 馬番1.. and one or two odds columns.
class ComboTable {
 public:
  ComboTable(db::Database& d, const std::string& table, int horses, const char* odds, const char* odds2 = nullptr)
      : rs_(d.openTable(table)), checked_(*rs_) {
    rs_->setIndex("PrimaryKey");
    raceKey_ = rs_->columnIndex("レースキー");
    for (int i = 1; i <= horses; ++i) horse_.push_back(rs_->columnIndex("馬番" + std::to_string(i)));
    odds_ = rs_->columnIndex(odds);
    if (odds2) odds2_ = rs_->columnIndex(odds2);
    columns_.push_back(raceKey_);
    columns_.insert(columns_.end(), horse_.begin(), horse_.end());
    columns_.push_back(odds_);
    if (odds2_ >= 0) columns_.push_back(odds2_);
  }

  // Adds the combination's row or replaces its odds, in one statement.
  void put(const std::string& raceKey, const std::vector<int>& combo, const std::string& odds,
           db::Value odds2 = std::monostate{}) {
    values_.clear();
    values_.push_back(raceKey);
    for (size_t i = 0; i < combo.size(); ++i) values_.push_back(reg::two(combo[i]));
    values_.push_back(odds);
    if (odds2_ >= 0) values_.push_back(std::move(odds2));
    rs_->upsert(columns_, values_);
  }

 private:
  std::unique_ptr<db::Recordset> rs_;
  int raceKey_ = -1, odds_ = -1, odds2_ = -1;
  std::vector<int> horse_;
  // The rows' only writes: the recordset checks each field itself.
  db::RecordWriteScope checked_;
  std::vector<int> columns_;
  std::vector<db::Value> values_;
};

// Walks the entries of every record of a file into a per-combination table; blank entries are skipped.
void walkCombos(RegKOVA& s, const std::string& kind, const std::string& strFile, const std::string& table,
                const std::vector<reg::Combo>& combos, int from, int entryLength, const char* oddsColumn) {
  const reg::Layout& L = reg::LayoutFor(kind);
  ComboTable t(s.db(), s.Mode() + table, static_cast<int>(combos.front().size()), oddsColumn);
  reg::ForEachRecord(strFile, L.recordLength, reg::RaceDateFromPath(strFile), [&](const reg::RecordView& rec) {
    std::string raceKey = rec.raw(0, 8);
    for (size_t m = 0; m < combos.size(); ++m) {
      std::string odds = rec.raw(from + static_cast<int>(m) * entryLength, entryLength);
      if (!blank(odds)) t.put(raceKey, combos[m], odds);
    }
  });
}

}  // namespace

void RegKOVA::regOZ(const std::string& strFile) {
  reg::UpsertFile(db(), strMode, reg::LayoutFor("OZ"), strFile, {});
  setCatalogue("OZ", reg::RaceDateFromPath(strFile), "");
}

void RegKOVA::regOZ2(const std::string& strFile) {
  const reg::Layout& L = reg::LayoutFor("OZ");
  ComboTable winPlace(db(), strMode + "基準オッズ単複", 1, "単勝基準", "複勝基準");
  ComboTable quinella(db(), strMode + "基準オッズ馬連", 2, "馬連基準");
  const auto& pairs = reg::unorderedPairs();
  reg::ForEachRecord(strFile, L.recordLength, reg::RaceDateFromPath(strFile), [&](const reg::RecordView& rec) {
    std::string raceKey = rec.raw(0, 8);
    // Horses with win odds, each with the place odds of the same horse.
    for (int h = 1; h <= 18; ++h) {
      std::string win = rec.raw(10 + (h - 1) * 5, 5);
      if (blank(win)) continue;
      std::string place = rec.raw(100 + (h - 1) * 5, 5);
      winPlace.put(raceKey, {h}, win, blank(place) ? db::Value{} : db::Value{place});
    }
    for (size_t m = 0; m < pairs.size(); ++m) {
      std::string odds = rec.raw(190 + static_cast<int>(m) * 5, 5);
      if (!blank(odds)) quinella.put(raceKey, pairs[m], odds);
    }
  });
  setCatalogue("OZ", reg::RaceDateFromPath(strFile), "");
}

void RegKOVA::regOW(const std::string& strFile) {
  reg::UpsertFile(db(), strMode, reg::LayoutFor("OW"), strFile, {});
  setCatalogue("OW", reg::RaceDateFromPath(strFile), "");
}

void RegKOVA::regOW2(const std::string& strFile) {
  walkCombos(*this, "OW", strFile, "基準オッズワイド", reg::unorderedPairs(), 10, 5, "ワイド基準");
  setCatalogue("OW", reg::RaceDateFromPath(strFile), "");
}

void RegKOVA::regOU2(const std::string& strFile) {
  walkCombos(*this, "OU", strFile, "基準オッズ馬単", reg::orderedPairs(), 10, 6, "馬単基準");
}

void RegKOVA::regOT2(const std::string& strFile) {
  walkCombos(*this, "OT", strFile, "基準オッズ３連複", reg::triples(), 10, 6, "３連複基準");
}

namespace {
// Calls fn(line, number) for each line of the file, read in 4 MB blocks so that
// memory holds one block and one line whatever the file's size. Lines end at
// CR LF, CR or LF; an empty line still counts.
template <typename Fn>
void forEachLine(const std::string& path, Fn fn) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
  // A block of 4 MB, or the whole file when it is smaller (a fresh block costs
  // a page fault per page).
  in.seekg(0, std::ios::end);
  const auto size = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
  in.seekg(0, std::ios::beg);
  std::string block(std::clamp<size_t>(size, 1, 4u << 20), '\0'), line;
  long number = 0;
  bool afterCr = false, open = false;  // open: a line has begun and not ended
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (in.bad()) throw VelmoError(err::FileNotFound, "ファイルを読めません。[" + path + "]");
    for (size_t i = 0; i < got;) {
      if (afterCr && block[i] == '\n') ++i;  // the LF of a CR LF split by the block's end
      afterCr = false;
      size_t e = i;
      while (e < got && block[e] != '\r' && block[e] != '\n') ++e;
      line.append(block, i, e - i);
      open = open || e > i;
      if (e == got) break;
      afterCr = block[e] == '\r';
      fn(line, ++number);
      line.clear();
      open = false;
      i = e + 1;
    }
  }
  if (open) fn(line, ++number);
}
}  // namespace

// Each line of an OV file is one race and begins with its race key; the line is
// kept as the file kodds/yyyy/yyyymmdd/OV + race key + ".dat" of the database folder.
void RegKOVA::regOV(const std::string& strFile) {
  std::string yymmdd = text::headChars(text::tailChars(strFile, 10), 6);
  bool digits = yymmdd.size() == 6;
  for (char c : yymmdd) digits = digits && c >= '0' && c <= '9';
  if (!digits)
    throw VelmoError(err::InvalidArgument, "ファイル名に日付(yymmdd)がありません。[" + FileNamePart(strFile) + "]");
  std::string date = ToYear4Date(yymmdd);
  std::string folder = G().gDBDir + "kodds/" + date.substr(0, 4) + "/" + date + "/";
  // Every key is checked before any file is written, because the key becomes
  // part of a file name; the file is read twice, a block at a time.
  forEachLine(strFile, [&](const std::string& line, long number) {
    if (line.empty()) return;
    std::string key = line.substr(0, 8);
    bool ok = key.size() == 8;
    for (char c : key) ok = ok && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    if (!ok)
      throw VelmoError(err::BadRecordLength, "行" + std::to_string(number) + "がレースキーで始まっていません。[" +
                                                 FileNamePart(strFile) + "]");
  });
  g_Nengappi = date;
  MakeDirAll(folder);
  forEachLine(strFile, [&](const std::string& line, long) {
    if (!line.empty()) WriteFileBytes(folder + "OV" + line.substr(0, 8) + ".dat", line + "\r\n");
  });
}

}  // namespace velmo
