// The database engine layer: errors, transactions, table access, the Jet SQL
// translation, links, properties and compaction.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

db::DatabasePtr makeDb(const TestHome& h, const std::string& name) {
  std::string path = h.work + name;
  db::Workspace::get().createDatabase(path);
  return db::Workspace::get().openDatabase(path);
}

void makeRaceTable(db::Database& d, const std::string& name) {
  db::TableDefSpec t;
  t.name = name;
  t.fields = {{"レースキー", db::FieldType::Text, 8}, {"名前", db::FieldType::Text, 4}, {"頭数", db::FieldType::Double, 0},
              {"コーナー順位1", db::FieldType::Text, 2}};
  db::IndexInfo pk;
  pk.name = "PrimaryKey";
  pk.fields = {"レースキー"};
  pk.primary = true;
  t.indexes = {pk};
  d.createTable(t);
}

long errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const VelmoError& e) {
    return e.number();
  }
  return 0;
}

std::string one(db::Database& d, const std::string& sql) {
  auto q = d.openQuery(sql);
  if (q->eof()) return "<none>";
  return db::isNull(q->get(0)) ? "<null>" : db::toText(q->get(0));
}

}  // namespace

TEST(Engine, OpenReportsMissingFilesAndForeignFormats) {
  TestHome h;
  EXPECT_EQ(errorOf([&] { db::Workspace::get().openDatabase(h.work + "none.mdb"); }), err::CannotFindFile);
  WriteFileBytes(h.work + "text.mdb", "Standard Jet DB, not really");
  EXPECT_EQ(errorOf([&] { db::Workspace::get().openDatabase(h.work + "text.mdb"); }), err::NotADatabase);
  // DAO_Open logs other errors at "DAO_Open" and raises them with that source.
  db::DatabasePtr d;
  try {
    DAO_Open(d, h.work + "text.mdb");
    FAIL() << "no error";
  } catch (const VelmoError& e) {
    EXPECT_EQ(e.number(), err::NotADatabase);
    EXPECT_EQ(e.source(), "DAO_Open");
  }
  EXPECT_NE(h.logText().find("DAO_Open"), std::string::npos);
}

TEST(Engine, LockedDatabaseIsRetriedThenGivenUpWithoutLog) {
  TestHome h;
  std::string path = h.work + "locked.mdb";
  db::Workspace::get().createDatabase(path);
  sqlite3* other = nullptr;
  sqlite3_open(path.c_str(), &other);
  sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; CREATE TABLE x(a);", nullptr, nullptr, nullptr);
  db::DatabasePtr d;
  EXPECT_FALSE(DAO_Open(d, path));
  EXPECT_EQ(h.logText().find("DAO_Open"), std::string::npos);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(DAO_Open(d, path));
}

TEST(Engine, TransactionsSpanEveryOpenDatabase) {
  TestHome h;
  auto a = makeDb(h, "a.mdb");
  auto b = makeDb(h, "b.mdb");
  makeRaceTable(*a, "T番組");
  makeRaceTable(*b, "D番組");
  auto& ws = db::Workspace::get();
  ws.beginTrans();
  a->execute("insert into T番組 (レースキー) values ('06050101')");
  b->execute("insert into D番組 (レースキー) values ('06050101')");
  // A database closed while the transaction is pending stays part of it.
  b->close();
  ws.rollback();
  EXPECT_EQ(one(*a, "select count(*) from T番組"), "0");
  auto b2 = ws.openDatabase(h.work + "b.mdb");
  EXPECT_EQ(one(*b2, "select count(*) from D番組"), "0");
  // A database opened inside a transaction joins it.
  ws.beginTrans();
  a->execute("insert into T番組 (レースキー) values ('1')");
  auto c = makeDb(h, "c.mdb");
  makeRaceTable(*c, "X");
  c->execute("insert into X (レースキー) values ('2')");
  ws.commitTrans();
  EXPECT_EQ(one(*a, "select count(*) from T番組"), "1");
  EXPECT_EQ(one(*c, "select count(*) from X"), "1");
}

TEST(Engine, TableAccessSeeksAddsAndEdits) {
  TestHome h;
  auto d = makeDb(h, "t.mdb");
  makeRaceTable(*d, "T番組");
  auto rs = d->openTable("Ｔ番組");  // width of letters does not matter
  rs->setIndex("PrimaryKey");
  rs->seek({std::string("06050101")});
  EXPECT_TRUE(rs->noMatch());
  EXPECT_EQ(errorOf([&] { rs->edit(); }), err::NoCurrentRecord);
  rs->addNew();
  rs->set("レースキー", std::string("06050101"));
  rs->set("名前", std::string("中山"));
  rs->set("頭数", std::string(" 16"));  // numeric text is converted
  rs->update();
  rs->seek({std::string("06050101")});
  ASSERT_FALSE(rs->noMatch());
  EXPECT_DOUBLE_EQ(db::toNumber(rs->get("頭数")), 16.0);
  rs->edit();
  rs->set("名前", std::monostate{});
  rs->update();
  EXPECT_EQ(one(*d, "select count(*) from T番組 where 名前 is null"), "1");
  // The engine's rejections.
  struct Case {
    const char* column;
    db::Value value;
    long error;
  } cases[] = {
      {"名前", std::string("五文字です"), err::FieldTooSmall},
      {"頭数", std::string("十六"), err::ConversionError},
      {"頭数", std::string(""), err::ConversionError},
  };
  for (const auto& c : cases) {
    rs->seek({std::string("06050101")});
    rs->edit();
    rs->set(c.column, c.value);
    EXPECT_EQ(errorOf([&] { rs->update(); }), c.error) << c.column;
  }
  EXPECT_EQ(errorOf([&] { rs->columnIndex("ない"); }), err::NoSuchField);
  rs->addNew();
  rs->set("レースキー", std::string("06050101"));
  EXPECT_EQ(errorOf([&] { rs->update(); }), err::DuplicateKey);
  // The same rules hold for statements.
  EXPECT_EQ(errorOf([&] { d->execute("update T番組 set 名前 = '長すぎる名前'"); }), err::FieldTooSmall);
}

TEST(Engine, JetStatementsAreTranslated) {
  TestHome h;
  auto d = makeDb(h, "q.mdb");
  makeRaceTable(*d, "T番組");
  makeRaceTable(*d, "T払戻");
  d->execute("insert into T番組 values ('06050101', 'ab', 12, '  ')");
  d->execute("insert into T番組 values ('06050112', null, 16, '3 ')");
  d->execute("insert into T払戻 (レースキー, 名前) values ('06050112', 'zz')");
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select mid(レースキー,7,2) from T番組 order by レースキー desc", "12"},
      {"select left([レースキー],2) & '-' & 名前 from T番組 where 頭数 = 16", "06-"},  // Null counts as empty
      {"select iif(頭数 > 12, 'big', 'small') from T番組 where レースキー = '06050101'", "small"},
      {"select first([コーナー順位１]) from T番組", "  "},  // full-width digit names the column
      {"select count(*) from Ｔ番組 where レースキー like '0605*1?'", "1"},
      {"select max(mid(レースキー,7,2)) as 最大 from T番組 group by left(レースキー,6)", "12"},
      {"select count(*) from T番組 where レースキー in (select レースキー from T払戻)", "1"},
      {"select count(*) from T番組 where 頭数 between 10 and 14", "1"},
      {"SELECT distinct T番組.レースキー FROM T番組 INNER JOIN T払戻 ON T番組.レースキー = T払戻.レースキー", "06050112"},
      {"select top 1 レースキー from T番組 order by 頭数 desc", "06050112"},
  };
  for (const auto& c : cases) EXPECT_EQ(one(*d, c.sql), c.expected) << c.sql;
  d->execute("update T番組 inner join T払戻 on T番組.レースキー = T払戻.レースキー set T番組.名前 = T払戻.名前 where T番組.頭数 > 1;");
  EXPECT_EQ(one(*d, "select 名前 from T番組 where レースキー = '06050112'"), "zz");
  d->execute("delete * from T払戻");
  d->execute("insert into T払戻 (レースキー, 名前) select レースキー, 'c' from T番組");
  EXPECT_EQ(one(*d, "select count(*) from T払戻"), "2");
  EXPECT_EQ(one(*d, "select \"jet\" & 名前 from T払戻 where レースキー = '06050101'"), "jetc");
}

TEST(Engine, LinkedTablesReadAndWriteThroughTheHoldingDatabase) {
  TestHome h;
  auto past = makeDb(h, "past.mdb");
  makeRaceTable(*past, "D成績");
  past->close();
  auto week = makeDb(h, "week.mdb");
  week->createLink("D成績", ";DATABASE=" + h.work + "past.mdb", "D成績");
  EXPECT_EQ(errorOf([&] { week->createLink("D成績", ";DATABASE=" + h.work + "past.mdb", "D成績"); }), err::ObjectExists);
  auto rs = week->openTable("D成績");
  rs->setIndex("PrimaryKey");
  rs->addNew();
  rs->set("レースキー", std::string("1"));
  rs->update();
  week->execute("insert into D成績 (レースキー) values ('2')");
  EXPECT_EQ(one(*week, "select count(*) from D成績"), "2");
  week->close();
  auto p2 = db::Workspace::get().openDatabase(h.work + "past.mdb");
  EXPECT_EQ(one(*p2, "select count(*) from D成績"), "2");
  // A comma-separated Shift_JIS file read as a table.
  WriteFileBytes(h.work + "list.txt", text::encodeCp932("id,Name,Extra3\r\n1,馬名,18\r\n2,\"a,b\",-\r\n"));
  auto w2 = db::Workspace::get().openDatabase(h.work + "week.mdb");
  std::string folder = h.work.substr(0, h.work.size() - 1);
  w2->createLink("一覧", "Text;DATABASE=" + folder, "list.txt");
  EXPECT_EQ(one(*w2, "select Name from 一覧 where [id]=2"), "a,b");
  EXPECT_EQ(one(*w2, "select Extra3 from 一覧 where id = 1"), "18");
  w2->deleteTable("一覧");
  EXPECT_FALSE(w2->hasTable("一覧"));
}

TEST(Engine, SubjectPropertyAndCompaction) {
  TestHome h;
  auto d = makeDb(h, "p.mdb");
  EXPECT_EQ(errorOf([&] { d->getProperty("Subject"); }), err::PropertyNotFound);
  EXPECT_EQ(errorOf([&] { d->setProperty("Subject", "Ver7.2"); }), err::PropertyNotFound);
  d->createProperty("Subject", "なし");
  d->setProperty("Subject", "Ver7.2");
  EXPECT_EQ(d->getProperty("Subject"), "Ver7.2");
  makeRaceTable(*d, "T番組");
  for (int i = 0; i < 300; ++i) d->execute("insert into T番組 (レースキー) values ('" + std::to_string(i) + "')");
  d->execute("delete from T番組 where レースキー <> '5'");
  d->close();
  db::Workspace::get().compactDatabase(h.work + "p.mdb", h.work + "p2.mdb");
  EXPECT_EQ(errorOf([&] { db::Workspace::get().compactDatabase(h.work + "p.mdb", h.work + "p2.mdb"); }), 3204);
  auto c = db::Workspace::get().openDatabase(h.work + "p2.mdb");
  EXPECT_EQ(one(*c, "select count(*) from T番組"), "1");
  EXPECT_EQ(c->getProperty("Subject"), "Ver7.2");
  EXPECT_LE(std::filesystem::file_size(h.work + "p2.mdb"), std::filesystem::file_size(h.work + "p.mdb"));
}

TEST(Engine, WrappersRetryAndCopyRows) {
  TestHome h;
  auto d = makeDb(h, "w.mdb");
  makeRaceTable(*d, "T番組");
  makeRaceTable(*d, "T写");
  EXPECT_TRUE(DAO_Exec(d, "insert into T番組 (レースキー, 名前) values ('1', 'a')"));
  EXPECT_FALSE(DAO_Exec(d, "insert into ないテーブル values (1)"));
  EXPECT_NE(h.logText().find("DAO_Exec"), std::string::npos);
  d->execute("insert into T番組 (レースキー, 名前) values ('2', 'b')");
  d->execute("insert into T写 (レースキー, 名前) values ('1', 'old')");
  // A duplicate key skips its row; fields the destination lacks are skipped.
  EXPECT_TRUE(DAO_Ins(d, "select レースキー, 名前, 'x' as 余分 from T番組", "T写"));
  EXPECT_EQ(one(*d, "select count(*) from T写"), "2");
  EXPECT_EQ(one(*d, "select 名前 from T写 where レースキー = '1'"), "old");
  EXPECT_EQ(db::Workspace::get().transDepth(), 0);
}

TEST(Engine, ReopeningSeesAReplacedFileAndOtherProgramsSchemaChanges) {
  TestHome h;
  auto a = makeDb(h, "r.mdb");
  makeRaceTable(*a, "T一");
  a->close();  // stays attached, idle
  // Another program adds a table.
  sqlite3* other = nullptr;
  sqlite3_open((h.work + "r.mdb").c_str(), &other);
  sqlite3_exec(other, "CREATE TABLE \"T二\" (a TEXT)", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  auto b = db::Workspace::get().openDatabase(h.work + "r.mdb");
  EXPECT_TRUE(b->hasTable("T二"));
  b->close();
  // The file is replaced by another database.
  db::Workspace::get().createDatabase(h.work + "new.mdb");
  std::filesystem::rename(h.work + "new.mdb", h.work + "r.mdb");
  auto c = db::Workspace::get().openDatabase(h.work + "r.mdb");
  EXPECT_FALSE(c->hasTable("T一"));
}
