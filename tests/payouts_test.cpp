// Payout files: the groups of repeated entries of HJA, HJB and HJC, blank
// entries as Null, the columns a kind does not carry, and the status.
#include <gtest/gtest.h>

#include "common/func.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::fixture::RecordBuilder;
using velmo::test::readers::Session;
using velmo::test::TestHome;

namespace {

struct Group {
  int offset, entries, entryLength;
  const char* first;
  int firstLength;
  const char* second;
  int secondLength;
  int kinds;  // 3: HJA, HJB, HJC; 2: HJB, HJC; 1: HJC
};

// The payout record's groups as the record table gives them.
const Group kGroups[] = {
    {8, 3, 9, "単勝馬番", 2, "単勝払戻", 7, 3},         {35, 5, 9, "複勝馬番", 2, "複勝払戻", 7, 3},
    {80, 3, 9, "枠連組合せ", 2, "枠連払戻", 7, 3},      {107, 3, 12, "馬連組合せ", 4, "馬連払戻", 8, 3},
    {143, 7, 12, "ワイド組合せ", 4, "ワイド払戻", 8, 3}, {227, 6, 12, "馬単組合せ", 4, "馬単払戻", 8, 2},
    {299, 3, 14, "３連複組合せ", 6, "３連複払戻", 8, 2}, {341, 6, 15, "３連単組合せ", 6, "３連単払戻", 9, 1},
};

// A distinct value of a part: a number made of the tag, the group, the part and
// the entry number, written in base 36 over the part's length.
std::string part(size_t group, int part, int n, int length, char tag) {
  static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  int id = (((tag % 5) * 8 + static_cast<int>(group)) * 2 + part) * 8 + n;
  std::string s(static_cast<size_t>(length), '0');
  for (int i = length - 1; i >= 0 && id > 0; --i, id /= 36) s[static_cast<size_t>(i)] = digits[id % 36];
  return s;
}

// A payout record of a kind (record length 240, 354 or 444) with every entry of
// its groups filled; `filled` limits the entries per group (blank beyond).
std::string payout(int length, const std::string& raceKey, char tag, int filled = 99) {
  int kinds = length == 240 ? 3 : length == 354 ? 2 : 1;
  RecordBuilder b(length);
  b.put(0, 8, raceKey);
  for (size_t g = 0; g < std::size(kGroups); ++g) {
    const Group& gr = kGroups[g];
    if (gr.kinds < kinds) continue;
    for (int n = 1; n <= gr.entries && n <= filled; ++n) {
      int at = gr.offset + (n - 1) * gr.entryLength;
      b.put(at, gr.firstLength, part(g, 0, n, gr.firstLength, tag));
      b.put(at + gr.firstLength, gr.secondLength, part(g, 1, n, gr.secondLength, tag));
    }
  }
  // The bytes before the line end that no kind stores.
  b.putBytes(length - 13, std::string(11, 'Z'));
  return b.bytes();
}

std::string allColumns() {
  std::string cols = "データID";
  for (const auto& g : kGroups)
    for (int n = 1; n <= g.entries; ++n) cols += std::string(", ") + g.first + std::to_string(n) + ", " + g.second + std::to_string(n);
  return cols;
}

// The expected row: the groups a kind carries from its tag, the others from `otherTag` (or Null).
std::string expected(const std::string& id, int kinds, char tag, char otherTag, int filled = 99) {
  std::string out = id;
  for (size_t g = 0; g < std::size(kGroups); ++g) {
    const Group& gr = kGroups[g];
    char t = gr.kinds >= kinds ? tag : otherTag;
    for (int n = 1; n <= gr.entries; ++n) {
      bool has = t != 0 && (gr.kinds < kinds || n <= filled);
      out += "|" + (has ? part(g, 0, n, gr.firstLength, t) : "<null>");
      out += "|" + (has ? part(g, 1, n, gr.secondLength, t) : "<null>");
    }
  }
  return out + "\n";
}

}  // namespace

TEST(Payouts, GroupsGoToNumberedColumnsAndBlankEntriesAreNull) {
  TestHome h;
  Session t("T");
  std::string select = "select " + allColumns() + " from T払戻情報データ where レースキー = ";
  WriteFileBytes(h.work + "HJC050904.txt", payout(444, "06051101", 'x') + payout(444, "06051102", 'y', 2));
  t.s.regHJC(h.work + "HJC050904.txt");
  EXPECT_EQ(t.rows(select + "'06051101'"), expected("HJC", 1, 'x', 0));
  EXPECT_EQ(t.rows(select + "'06051102'"), expected("HJC", 1, 'y', 0, 2));  // two entries per group, the rest Null
  // HJA over the same race: the exacta, trio and trifecta columns stay.
  WriteFileBytes(h.work + "HJA050904.txt", payout(240, "06051101", 'q'));
  t.s.regHJA(h.work + "HJA050904.txt");
  EXPECT_EQ(t.rows(select + "'06051101'"), expected("HJA", 3, 'q', 'x'));
  // HJB over it: the trifecta stays.
  WriteFileBytes(h.work + "HJB050904.txt", payout(354, "06051101", 'r'));
  t.s.regHJB(h.work + "HJB050904.txt");
  EXPECT_EQ(t.rows(select + "'06051101'"), expected("HJB", 2, 'r', 'x'));
  t.s.regHJB(h.work + "HJB050904.txt");
  EXPECT_EQ(t.rows("select count(*) from T払戻情報データ"), "2\n");
}

TEST(Payouts, StatusIsTheHighestRaceNumber) {
  TestHome h;
  Session t("D");
  std::string races;
  for (int r : {5, 12, 1, 9}) races += payout(354, "060511" + test::readers::Two(r), 'a');
  WriteFileBytes(h.work + "HJB050904.txt", races);
  WriteFileBytes(h.work + "HJA050904.txt", payout(240, "06051101", 'a'));
  // The count starts from what the previous payout file of the same day left;
  // a result mark or another day's number is not carried over.
  struct Case {
    const char* kind;
    const char* prevId;
    const char* prevDate;
    const char* before;
    const char* status;
  } cases[] = {{"HJB", "SEB", "20050904", "", "12"},      {"HJB", "SEB", "20050904", "完", "12"},
               {"HJB", "BAB", "20050904", "確", "12"},    {"HJB", "HJC", "20050903", "完", "12"},
               {"HJB", "HJC", "20050904", "08", "12"},    {"HJB", "HJC", "20050904", "99", "99"},
               {"HJA", "HJB", "20050904", "12", ""}};
  for (const auto& c : cases) {
    t.s.setCatalogue(c.prevId, c.prevDate, c.before);
    if (std::string(c.kind) == "HJA") t.s.regHJA(h.work + "HJA050904.txt");
    else t.s.regHJB(h.work + "HJB050904.txt");
    EXPECT_EQ(t.s.Status(), c.status) << c.kind << " after " << c.prevId << c.before << " of " << c.prevDate;
    EXPECT_EQ(t.s.DataID(), c.kind);
    EXPECT_EQ(t.s.g_Nengappi, "20050904");
  }
  t.s.regItiran();
  EXPECT_EQ(t.rows("select 払戻情報データ from Dデータ一覧テーブル"), "HJA\n");
  t.s.regHJB(h.work + "HJB050904.txt");
  t.s.regItiran();
  EXPECT_EQ(t.rows("select 払戻情報データ from Dデータ一覧テーブル"), "HJB12\n");
}
