// The data catalogue: loading a catalogue file into Sデータ管理, and the two
// catalogue files the program ships.
#include <gtest/gtest.h>

#include <set>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/driver.h"
#include "startup/settings.h"
#include "tests/readers_util.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;
using velmo::test::readers::RowsText;

namespace {

struct Catalogue {
  RegKOVA s;
  Catalogue() { s.conDB(G().gDBDir + "kova_this.mdb"); }  // no mode: the table keeps its name
  std::string rows(const std::string& sql) { return RowsText(s.db(), sql); }
};

}  // namespace

// Blanks around an unquoted value go; a quoted value keeps those inside its quotes.
TEST(DataCatalogue, LoadsQuotedValuesAndKeepsTheLaterOfARepeatedId) {
  TestHome h;
  std::string file = h.work + "sdata.txt";
  WriteFileBytes(file, text::encodeCp932(
                           "出走馬,KYC,KOVA,出走馬データ,前日 18:00,\"指数、騎手, 調教師\",http://www.kova.example/member/kyc/,x,y,kyclist.txt,10,通常,TD-\r\n"
                           "\"払戻\",HJC,単品,払戻, 当日 ,  \" 単勝,複勝 \" ,http://www.kova.example/member/hjc/,,,,,旧,TD-\r\n"
                           "出走馬,KYC,KOVA,出走馬データ（新）,前日 19:00,新しい説明,http://www.kova.example/member/kyc2/,,,kyc2.txt,5,単品,T--\r\n"));
  Catalogue c;
  c.s.regDATA_KANRI(file);
  EXPECT_EQ(c.rows("select 分類, データID, KOVAパック, データ名, 提供時間, 説明, サーバアドレス, リストファイル, 表示順, セット, TDM "
                   "from Sデータ管理 order by データID"),
            "払戻|HJC|単品|払戻|当日| 単勝,複勝 |http://www.kova.example/member/hjc/||<null>|旧|TD-\n"
            "出走馬|KYC|KOVA|出走馬データ（新）|前日 19:00|新しい説明|http://www.kova.example/member/kyc2/|kyc2.txt|5|単品|T--\n");
  // A file whose last group is short: the error reaches the caller and the
  // rows of the complete groups stay (the earlier catalogue is gone).
  WriteFileBytes(file, text::encodeCp932("成績,SEB,単品,成績,当日,説明,http://www.kova.example/member/seb/,,,,1,通常,TD-\r\n成績,SEC,単品\r\n"));
  EXPECT_THROW(c.s.regDATA_KANRI(file), VelmoError);
  EXPECT_EQ(c.rows("select データID from Sデータ管理"), "SEB\n");
}

TEST(DataCatalogue, ShippedFilesListEveryDataIdOnTheDefaultHost) {
  TestHome h;
  std::set<std::string> ids;
  for (const auto& row : DispatchTable())
    for (const auto& p : row.prefixes) ids.insert(p);
  for (const char* id : {"TYRT", "TYAR", "TYBR", "KOVA", "KZ_", "CZ_", "MZ_"}) ids.insert(id);
  // The build loads sdata_t72.txt into the initial kova_this.mdb.
  {
    Catalogue fresh;
    EXPECT_EQ(fresh.rows("select count(*) >= " + std::to_string(ids.size()) + " from Sデータ管理"), "1\n");
    EXPECT_EQ(fresh.rows("select サーバアドレス, リストファイル from Sデータ管理 where データID = 'KYC'"),
              "http://www.kova.example/member/kyc/|kyclist.txt\n");
  }
  for (const char* name : {"sdata_t60.txt", "sdata_t72.txt"}) {
    Catalogue c;
    c.s.regDATA_KANRI(ProgramDir() + name);
    auto q = c.s.db().openQuery("select データID, データ名, 提供時間, 説明, サーバアドレス, リストファイル, 表示順, セット, TDM from Sデータ管理");
    std::set<std::string> seen;
    std::set<double> orders;
    for (q->moveFirst(); !q->eof(); q->moveNext()) {
      std::string id = db::toText(q->get("データID"));
      seen.insert(id);
      for (const char* col : {"データ名", "提供時間", "説明"}) EXPECT_FALSE(db::toText(q->get(col)).empty()) << id << " " << col;
      std::string address = db::toText(q->get("サーバアドレス"));
      EXPECT_TRUE(text::startsWith(address, kDefaultKovaHost) && text::endsWith(address, "/") &&
                  address.size() > std::string(kDefaultKovaHost).size())
          << id << ": " << address;
      std::string set = db::toText(q->get("セット")), tdm = db::toText(q->get("TDM"));
      EXPECT_TRUE(set == "通常" || set == "単品" || set == "旧") << id << ": " << set;
      EXPECT_EQ(text::charCount(tdm), 3u) << id;
      EXPECT_TRUE(tdm[0] == 'T' || tdm[1] == 'D') << id << " is offered for no database: " << tdm;
      EXPECT_TRUE(orders.insert(db::toNumber(q->get("表示順"))).second) << id << ": display order used twice";
      // The real-time pre-race data has no list file; the masters must have one.
      std::string list = db::toText(q->get("リストファイル"));
      if (id == "TYRT" || id == "TYAR" || id == "TYBR") EXPECT_EQ(list, "") << id;
      if (id == "KZ_" || id == "CZ_" || id == "MZ_" || id == "KOVA") EXPECT_NE(list, "") << id;
    }
    if (std::string(name) == "sdata_t72.txt")
      for (const auto& id : ids) EXPECT_TRUE(seen.count(id)) << id << " missing from " << name;
  }
}
