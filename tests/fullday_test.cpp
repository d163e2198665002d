// A generated full race day through the command-line registration: the pack
// archive of the day before, then one archive of every other kind that has a
// reader, and the data list row that results.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "common/func.h"
#include "common/text.h"
#include "registration/driver.h"
#include "registration/layout.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

// The kinds of the pack archive: the newest generation of the data published the day before.
const char* const kPackKinds[] = {"BAB", "KAA", "KYG", "KKA", "KTA", "UKC", "ZEC", "ZKB", "JOA", "CYA"};

bool hasReader(const std::string& kind) {
  const DispatchRow* row = DispatchFor(fx::FileName(kind, "20050312"));
  return row && row->action && reg::FindLayout(kind);
}

}  // namespace

TEST(FullDay, RegistersThroughTheCommandLineAndFillsEveryDataListCell) {
  TestHome h;
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  }
  fx::RaceDay day;
  day.runners = 18;
  std::vector<std::string> pack, singles;
  for (const char* k : kPackKinds)
    if (hasReader(k)) pack.push_back(k);
  for (const auto& row : DispatchTable())
    for (const auto& kind : row.prefixes) {
      bool inPack = false;
      for (const auto& p : pack) inPack = inPack || p == kind;
      if (!inPack && hasReader(kind)) singles.push_back(kind);
    }
  std::string list = " '" + fx::WritePackArchive(h.work, pack, day) + "'";
  for (const auto& a : fx::WriteDayArchives(h.work, singles, day)) list += " '" + a + "'";
  std::string cmd = test::BuildHome() + "velmo-cli register" + list + " >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 0) << h.logText();

  // Every family's cell of the day; the pre-race, payout, training and
  // information cells as these readers leave them.
  std::string row = h.sqlite("kova_this.mdb",
                             "select KOVAデータ, 情報データ, 番組データ, 払戻情報データ, 調教分析データ, 直前情報データ, 成績データ, "
                             "成績拡張データ from Tデータ一覧テーブル where 年月日 = '20050312';");
  std::vector<std::string> cells = text::split(row.substr(0, row.find('\n')), '|');
  ASSERT_EQ(cells.size(), 8u) << row;
  const char* prefixes[] = {"K", "JOA", "BA", "HJC12", "CYA", "TYB12", "SE", "SK"};
  for (size_t i = 0; i < 8; ++i) EXPECT_TRUE(text::startsWith(cells[i], prefixes[i])) << i << ": " << row;
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from Tデータ一覧テーブル;"), "1\n");

  // The odds of 36 races of 18 runners, and the keys of the pre-race and training rows.
  EXPECT_EQ(h.sqlite("kova_this.mdb",
                     "select (select count(*) from T基準オッズ単複), (select count(*) from T基準オッズ馬連), "
                     "(select count(*) from T基準オッズワイド), (select count(*) from T基準オッズ馬単), "
                     "(select count(*) from T基準オッズ３連複), (select count(*) from T基準オッズデータ);"),
            "648|5508|5508|11016|29376|36\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) = count(競走成績キー) from T直前情報データ;"), "1\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) > 0, count(*) = count(競走成績キー) from T調教分析データ;"), "1|1\n");
  EXPECT_TRUE(FileExists(h.dbDir + "kodds/2005/20050312/OV06051101.dat"));
}
