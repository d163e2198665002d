// Linked tables made by the changeover and the registration: a link of the
// same name is replaced, a table of the member's own is never dropped.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/error.h"
#include "common/globals.h"
#include "maintenance/maintenance.h"
#include "registration/regkova.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

TEST(ConnectOutput, ReplacesALinkButRefusesATableOfTheMembersOwn) {
  struct Case {
    const char* what;
    bool memberTable;  // else a link left by an earlier run
  };
  for (const Case& c : {Case{"a link", false}, Case{"a table", true}}) {
    SCOPED_TRACE(c.what);
    TestHome h;
    const std::string connect = ";DATABASE=" + h.dbDir + "kova_data.mdb";
    if (c.memberTable) {
      h.sqlite("kova_this.mdb", "create table D番組データ (メモ TEXT); insert into D番組データ values ('自分の行');");
    } else {
      std::filesystem::copy_file(h.dbDir + "kova_data.mdb", h.work + "old.mdb");
      auto d = db::Workspace::get().openDatabase(h.dbDir + "kova_this.mdb");
      d->createLink("D番組データ", ";DATABASE=" + h.work + "old.mdb", "D番組データ");
      d->close();
      db::Workspace::get().reset();
    }
    auto d = db::Workspace::get().openDatabase(h.dbDir + "kova_this.mdb");
    long number = 0;
    std::string description;
    try {
      ConnectOutput(d, "D番組データ", connect, "D番組データ");
    } catch (const VelmoError& e) {
      number = e.number();
      description = e.description();
    }
    if (c.memberTable) {
      EXPECT_EQ(number, err::TableExists);
      EXPECT_NE(description.find("D番組データ"), std::string::npos) << description;
      EXPECT_FALSE(d->linkInfo("D番組データ"));
    } else {
      EXPECT_EQ(number, 0) << description;
      ASSERT_TRUE(d->linkInfo("D番組データ"));
      EXPECT_EQ(d->linkInfo("D番組データ")->connect, connect);
    }
    d->close();
    db::Workspace::get().reset();
    if (c.memberTable) {
      EXPECT_EQ(h.sqlite("kova_this.mdb", "select メモ from D番組データ;"), "自分の行\n");
      EXPECT_NE(h.logText().find("D番組データ"), std::string::npos);
    }
  }
}

TEST(ConnectOutput, TheChangeoverFailsAndKeepsTheMembersTableAndTheWeek) {
  TestHome h;
  h.sqlite("kova_this.mdb", "create table D番組データ (メモ TEXT); insert into D番組データ values ('自分の行');");
  h.sqlite("kova_this.mdb", "insert into T番組データ (レースキー, 年月日, レース名) values ('06050101', '20050312', '今週');");
  EXPECT_EQ(WeekChange(NullCommandUi()), Outcome::Failed) << h.logText();
  db::Workspace::get().reset();
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select メモ from D番組データ;"), "自分の行\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select レース名 from T番組データ;"), "今週\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D番組データ;"), "0\n");
  EXPECT_NE(h.logText().find("テーブル 'D番組データ' はリンクではない"), std::string::npos) << h.logText();
}
