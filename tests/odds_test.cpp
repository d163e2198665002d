// Base odds files: the wide rows of OZ and OW, the rows per horse or combination
// in the combination orders of the records, blank entries, and the OV text files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::readers::Session;
using velmo::test::TestHome;
using velmo::test::readers::Two;

namespace {

using Combos = std::vector<std::string>;  // "0102", "010203" …

Combos unordered() {
  Combos r;
  for (int i = 1; i <= 17; ++i)
    for (int k = i + 1; k <= 18; ++k) r.push_back(Two(i) + Two(k));
  return r;
}
Combos ordered() {
  Combos r;
  for (int i = 1; i <= 18; ++i)
    for (int k = 1; k <= 18; ++k)
      if (i != k) r.push_back(Two(i) + Two(k));
  return r;
}
Combos triples() {
  Combos r;
  for (int i = 1; i <= 16; ++i)
    for (int k = i + 1; k <= 17; ++k)
      for (int l = k + 1; l <= 18; ++l) r.push_back(Two(i) + Two(k) + Two(l));
  return r;
}

// The odds of entry m: its number, zero-padded over the entry length.
std::string odds(int m, int length) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*d", length, m + 1);
  return b;
}

// True when a combination uses a horse number above the runners.
bool beyond(const std::string& combo, int runners) {
  for (size_t p = 0; p < combo.size(); p += 2)
    if (std::stoi(combo.substr(p, 2)) > runners) return true;
  return false;
}

// A record: race key, runners, then one entry per position from byte 10; entries
// of horses above the runners stay blank. `horses` is the number of leading
// per-horse entries (OZ: 18 win, then 18 place).
std::string oddsRecord(int length, const std::string& raceKey, int runners, int entryLength,
                       const std::vector<Combos>& sections, int unusedFrom) {
  RecordBuilder b(length);
  b.put(0, 8, raceKey).put(8, 2, Two(runners));
  int m = 0;
  for (const auto& combos : sections)
    for (const auto& c : combos) {
      if (!beyond(c, runners)) b.put(10 + m * entryLength, entryLength, odds(m, entryLength));
      ++m;
    }
  if (unusedFrom < length - 2) b.putBytes(unusedFrom, std::string(static_cast<size_t>(length - 2 - unusedFrom), 'Z'));
  return b.bytes();
}

Combos horses() {
  Combos r;
  for (int h = 1; h <= 18; ++h) r.push_back(Two(h));
  return r;
}

std::string rowsOf(const Combos& combos, int first, int entryLength, int runners, const std::string& raceKey) {
  std::string out;
  for (size_t m = 0; m < combos.size(); ++m) {
    if (beyond(combos[m], runners)) continue;
    out += raceKey;
    for (size_t p = 0; p < combos[m].size(); p += 2) out += "|" + combos[m].substr(p, 2);
    out += "|" + odds(first + static_cast<int>(m), entryLength) + "\n";
  }
  return out;
}

}  // namespace

TEST(Odds, WinPlaceQuinellaWideRowAndRowsPerHorseAndPair) {
  TestHome h;
  Session t("T");
  const auto pairs = unordered();
  std::string full = oddsRecord(957, "06051101", 18, 5, {horses(), horses(), pairs}, 955);
  std::string ten = oddsRecord(957, "06051102", 10, 5, {horses(), horses(), pairs}, 955);
  // Horse 03 of the second race: win odds but no place odds; horse 04: place odds only.
  ten.replace(100 + 2 * 5, 5, "     ");
  ten.replace(10 + 3 * 5, 5, "     ");
  WriteFileBytes(h.work + "OZ050904.txt", full + ten);
  t.inTrans([&] {
    t.s.regOZ(h.work + "OZ050904.txt");
    t.s.regOZ2(h.work + "OZ050904.txt");
    t.s.regOZ2(h.work + "OZ050904.txt");  // twice: no duplicates
  });
  EXPECT_EQ(t.s.DataID(), "OZ");
  EXPECT_EQ(t.s.Status(), "");
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  // The wide row: 頭数, 単勝01..18, 複勝01..18, 連勝0102..1718 in record order.
  std::string cols = "頭数", expectFull = "18", expectTen = "10";
  int m = 0;
  for (const char* prefix : {"単勝", "複勝"})
    for (const auto& c : horses()) {
      cols += std::string(", ") + prefix + c;
      expectFull += "|" + odds(m, 5);
      expectTen += "|" + (beyond(c, 10) || (m == 18 + 2) || (m == 3) ? std::string("<null>") : odds(m, 5));
      ++m;
    }
  for (const auto& c : pairs) {
    cols += ", 連勝" + c;
    expectFull += "|" + odds(m, 5);
    expectTen += "|" + (beyond(c, 10) ? std::string("<null>") : odds(m, 5));
    ++m;
  }
  EXPECT_EQ(t.rows("select " + cols + " from T基準オッズデータ order by レースキー"), expectFull + "\n" + expectTen + "\n");
  // Rows per horse: the horses with win odds, each with its place odds.
  std::string perHorse;
  for (int hn = 1; hn <= 18; ++hn) perHorse += "06051101|" + Two(hn) + "|" + odds(hn - 1, 5) + "|" + odds(17 + hn, 5) + "\n";
  for (int hn = 1; hn <= 10; ++hn)
    if (hn != 4) perHorse += "06051102|" + Two(hn) + "|" + odds(hn - 1, 5) + "|" + (hn == 3 ? "<null>" : odds(17 + hn, 5)) + "\n";
  EXPECT_EQ(t.rows("select レースキー, 馬番1, 単勝基準, 複勝基準 from T基準オッズ単複 order by レースキー, 馬番1"), perHorse);
  EXPECT_EQ(t.rows("select レースキー, 馬番1, 馬番2, 馬連基準 from T基準オッズ馬連 order by レースキー, 馬連基準"),
            rowsOf(pairs, 36, 5, 18, "06051101") + rowsOf(pairs, 36, 5, 10, "06051102"));
  // A later file without the race's odds leaves the rows as they were.
  RecordBuilder empty(957);
  empty.put(0, 8, "06051102").put(8, 2, "10");
  WriteFileBytes(h.work + "OZ050904.txt", empty.bytes());
  t.s.regOZ2(h.work + "OZ050904.txt");
  EXPECT_EQ(t.rows("select count(*) from T基準オッズ馬連 where レースキー = '06051102'"), "45\n");
}

TEST(Odds, QuinellaPlaceExactaAndTrioFollowTheirCombinationOrders) {
  TestHome h;
  Session t("T");
  t.s.setCatalogue("HJC", "20050903", "12");
  struct Case {
    const char* kind;
    int length, entryLength, unusedFrom;
    Combos combos;
    const char* table;
    const char* select;
  } cases[] = {
      {"OW", 780, 5, 775, unordered(), "T基準オッズワイド", "レースキー, 馬番1, 馬番2, ワイド基準"},
      {"OU", 1856, 6, 1846, ordered(), "T基準オッズ馬単", "レースキー, 馬番1, 馬番2, 馬単基準"},
      {"OT", 4912, 6, 4906, triples(), "T基準オッズ３連複", "レースキー, 馬番1, 馬番2, 馬番3, ３連複基準"},
  };
  for (const auto& c : cases) {
    std::string file = h.work + c.kind + "050904.txt";
    WriteFileBytes(file, oddsRecord(c.length, "06051101", 18, c.entryLength, {c.combos}, c.unusedFrom) +
                             oddsRecord(c.length, "06051102", 7, c.entryLength, {c.combos}, c.unusedFrom));
    std::string kind = c.kind;
    t.inTrans([&] {
      if (kind == "OW") {
        t.s.regOW(file);
        t.s.regOW2(file);
      } else if (kind == "OU") {
        t.s.regOU2(file);
      } else {
        t.s.regOT2(file);
      }
    });
    EXPECT_EQ(t.rows(std::string("select ") + c.select + " from " + c.table + " order by レースキー, " +
                       std::string(c.select).substr(std::string(c.select).rfind(' ') + 1)),
              rowsOf(c.combos, 0, c.entryLength, 18, "06051101") + rowsOf(c.combos, 0, c.entryLength, 7, "06051102"))
        << c.kind;
  }
  // In the exacta record the entry for 02-01 follows the one for 01-18.
  EXPECT_EQ(t.rows("select 馬番1 & '-' & 馬番2 from T基準オッズ馬単 where レースキー = '06051101' and 馬単基準 in ('000017', '000018')"),
            "01-18\n02-01\n");
  // The wide row of the quinella place: ワ0102 .. ワ1718, Null beyond the runners.
  EXPECT_EQ(t.rows("select 頭数, ワ0102, ワ0718, ワ1718 from T基準ワイドデータ order by レースキー"),
            "18|00001|00098|00153\n07|00001|<null>|<null>\n");
  // OW sets the members; OU and OT leave them.
  EXPECT_EQ(t.s.DataID(), "OW");
  EXPECT_EQ(t.s.Status(), "");
}

TEST(Odds, LinesOfAnOvFileBecomeOneFilePerRace) {
  TestHome h;
  Session t("T");
  t.s.setCatalogue("HJC", "20050903", "12");
  std::string lines = "06051101 first line of race 1\r\n06051102 race 2\r\n06051101 later line of race 1\r\n";
  WriteFileBytes(h.work + "OV050904.txt", lines);
  t.s.regOV(h.work + "OV050904.txt");
  std::string folder = G().gDBDir + "kodds/2005/20050904/";
  EXPECT_EQ(ReadFileBytes(folder + "OV06051101.dat"), "06051101 later line of race 1\r\n");
  EXPECT_EQ(ReadFileBytes(folder + "OV06051102.dat"), "06051102 race 2\r\n");
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.is_regular_file();
  EXPECT_EQ(n, 2u);
  // Only the date changes; nothing goes into the database.
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  EXPECT_EQ(t.s.DataID(), "HJC");
  EXPECT_EQ(t.s.Status(), "12");
  EXPECT_EQ(t.rows("select count(*) from T基準オッズデータ"), "0\n");
  // A line that does not begin with a race key would name a file outside the
  // folder: the file is refused and nothing is written.
  WriteFileBytes(h.work + "OV050905.txt", "06051101 ok\r\n../../x1 bad\r\n");
  try {
    t.s.regOV(h.work + "OV050905.txt");
    ADD_FAILURE() << "a line without a race key was accepted";
  } catch (const VelmoError& e) {
    EXPECT_NE(e.description().find("行2"), std::string::npos) << e.description();
  }
  EXPECT_FALSE(FileExists(G().gDBDir + "kodds/2005/20050905/OV06051101.dat"));
  EXPECT_EQ(t.s.g_Nengappi, "20050904");
  // So is a file whose name carries no date before ".txt".
  WriteFileBytes(h.work + "OV0509.txt", "06051101 ok\r\n");
  EXPECT_THROW(t.s.regOV(h.work + "OV0509.txt"), VelmoError);
  // The file is read in blocks of 4 MB: a CR LF split by a block's end ends one
  // line, and a line across the end arrives whole.
  const size_t block = 4u << 20;
  std::string big = "06051101" + std::string(block - 1 - 8, 'x') + "\r\n";  // CR last in the block
  big += "06051102" + std::string(block - 20, 'y') + "\r\n";
  big += "06051103" + std::string(40, 'z') + "\n";  // across the second block's end
  big += "06051104 last";                             // no line end
  WriteFileBytes(h.work + "OV050906.txt", big);
  t.s.regOV(h.work + "OV050906.txt");
  folder = G().gDBDir + "kodds/2005/20050906/";
  EXPECT_EQ(ReadFileBytes(folder + "OV06051101.dat").size(), block - 1 + 2);
  EXPECT_EQ(ReadFileBytes(folder + "OV06051102.dat").size(), block - 20 + 8 + 2);
  EXPECT_EQ(ReadFileBytes(folder + "OV06051103.dat"), "06051103" + std::string(40, 'z') + "\r\n");
  EXPECT_EQ(ReadFileBytes(folder + "OV06051104.dat"), "06051104 last\r\n");
  n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.is_regular_file();
  EXPECT_EQ(n, 4u);
  // The line count seen by the error message is kept across blocks.
  WriteFileBytes(h.work + "OV050907.txt", big.substr(0, block + 1) + "bad\r\n");
  try {
    t.s.regOV(h.work + "OV050907.txt");
    ADD_FAILURE() << "a line without a race key was accepted";
  } catch (const VelmoError& e) {
    EXPECT_NE(e.description().find("行2"), std::string::npos) << e.description();
  }
}
