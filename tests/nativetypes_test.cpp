// Native-typed tables: conversion and size errors per column type, through
// recordsets and statements; index flags; the rebuild of an old-style database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>

#include "common/error.h"
#include "common/func.h"
#include "schema/rebuild.h"
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

// Every row of a table as text, in storage order, with the type of each value.
std::string dump(const std::string& path, const std::string& table) {
  sqlite3* c = nullptr;
  sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(c, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str(), -1, &st, nullptr);
  std::string out;
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* v = sqlite3_column_text(st, i);
      out += std::to_string(sqlite3_column_type(st, i)) + ":" + (v ? reinterpret_cast<const char*>(v) : "-") + "|";
    }
    out += "\n";
  }
  sqlite3_finalize(st);
  sqlite3_close(c);
  return out;
}

void makeTypedTable(db::Database& d) {
  db::TableDefSpec t;
  t.name = "型表";
  t.fields = {{"キー", db::FieldType::Text, 4},     {"文", db::FieldType::Text, 4},     {"メモ", db::FieldType::Memo, 0},
              {"長", db::FieldType::Long, 0},       {"整", db::FieldType::Integer, 0},  {"バ", db::FieldType::Byte, 0},
              {"単", db::FieldType::Single, 0},     {"倍", db::FieldType::Double, 0},   {"必", db::FieldType::Text, 2},
              {"任", db::FieldType::Text, 2}};
  db::IndexInfo pk{"PrimaryKey", {"キー"}, true, true, false, false};
  db::IndexInfo req{"必須", {"必"}, false, false, false, true};
  db::IndexInfo opt{"任意", {"任"}, false, true, true, false};
  t.indexes = {pk, req, opt};
  d.createTable(t);
}

}  // namespace

TEST(NativeTypes, ConversionAndSizeErrorsPerColumnType) {
  TestHome h;
  auto d = makeDb(h, "n.mdb");
  makeTypedTable(*d);
  EXPECT_TRUE(d->isNativeTable("型表"));
  // The engine's types and sizes come back although SQLite declares only TEXT, INTEGER, REAL.
  auto f = d->fields("型表");
  ASSERT_EQ(f.size(), 10u);
  EXPECT_EQ(f[1].type, db::FieldType::Text);
  EXPECT_EQ(f[1].size, 4);
  EXPECT_EQ(f[2].type, db::FieldType::Memo);
  EXPECT_EQ(f[3].type, db::FieldType::Long);
  EXPECT_EQ(f[4].type, db::FieldType::Integer);
  EXPECT_EQ(f[5].type, db::FieldType::Byte);
  EXPECT_EQ(f[6].type, db::FieldType::Single);
  EXPECT_EQ(f[7].type, db::FieldType::Double);

  struct Case {
    const char* column;
    db::Value value;   // set through a recordset
    const char* sql;   // the same value in an insert statement
    long error;
    const char* stored;
  };
  const Case cases[] = {
      {"文", std::string("abcd"), "'abcd'", 0, "abcd"},
      {"文", std::string("あいうえ"), "'あいうえ'", 0, "あいうえ"},  // the size counts characters
      {"文", std::string("abcde"), "'abcde'", err::FieldTooSmall, ""},
      {"メモ", std::string(1000, 'x'), "'" "xxxxxxxxxx" "'", 0, nullptr},
      {"長", std::string("12"), "'12'", 0, "12"},
      {"長", std::string(" 7 "), "' 7 '", 0, "7"},
      {"長", std::string("abc"), "'abc'", err::ConversionError, ""},
      {"長", std::string(""), "''", err::ConversionError, ""},
      {"整", std::string("-3"), "'-3'", 0, "-3"},
      {"バ", db::Value{int64_t{200}}, "200", 0, "200"},
      {"単", std::string("1.5"), "'1.5'", 0, "1.5"},
      {"倍", std::string("12.25"), "'12.25'", 0, "12.25"},
      {"倍", std::string("1,000"), "'1,000'", err::ConversionError, ""},
      {"倍", db::Value{}, "null", 0, "<null>"},
      // A number in a text field is stored as its text and sized as such.
      {"文", db::Value{int64_t{1234}}, "1234", 0, "1234"},
      {"文", db::Value{int64_t{12345}}, "12345", err::FieldTooSmall, ""},
      {"文", db::Value{12.5}, "12.5", 0, "12.5"},
      {"文", db::Value{123.5}, "123.5", err::FieldTooSmall, ""},
      {"文", std::string("ｱｲｳｴｵ"), "'ｱｲｳｴｵ'", err::FieldTooSmall, ""},
  };
  // Each value three ways: an insert statement, a recordset, and a recordset
  // inside a record-write scope, where SQLite leaves the checks to the recordset;
  // then an edit of an existing row setting the one field, and an upsert that
  // follows another of the same fields (a file's next record).
  const char* ways[] = {" (statement)", " (recordset)", " (recordset in a scope)", " (edit in a scope)",
                        " (second upsert in a scope)"};
  int n = 0;
  for (const auto& c : cases) {
    for (int way = 0; way < 5; ++way) {
      std::string key = std::to_string(n++);
      if (way == 3) d->execute("insert into 型表 (キー, 必) values ('" + key + "', 'x')");
      long got = errorOf([&] {
        if (way == 0) {
          d->execute("insert into 型表 (キー, 必, " + std::string(c.column) + ") values ('" + key + "', 'x', " + c.sql + ")");
          return;
        }
        auto rs = d->openTable("型表");
        std::optional<db::RecordWriteScope> scope;
        if (way >= 2) scope.emplace(*rs);
        if (way == 4) {
          rs->setIndex("PrimaryKey");
          const std::vector<int> cols{rs->columnIndex("キー"), rs->columnIndex("必"), rs->columnIndex(c.column)};
          std::vector<db::Value> first{key + "p", std::string("x"), db::Value{}};
          rs->upsert(cols, first);
          std::vector<db::Value> next{key, std::string("x"), c.value};
          rs->upsert(cols, next);
          return;
        }
        if (way == 3) {
          rs->setIndex("PrimaryKey");
          rs->seek({key});
          rs->edit();
        } else {
          rs->addNew();
          rs->set("キー", key);
          rs->set("必", std::string("x"));
        }
        rs->set(c.column, c.value);
        rs->update();
      });
      EXPECT_EQ(got, c.error) << c.column << " " << c.sql << ways[way];
      std::string stored = one(*d, "select " + std::string(c.column) + " from 型表 where キー = '" + key + "'");
      if (c.error) EXPECT_EQ(stored, way == 3 ? "<null>" : "<none>") << c.column << " " << c.sql << ways[way];
      else if (c.stored) EXPECT_EQ(stored, c.stored) << c.column << " " << c.sql << ways[way];
    }
  }
  // After a scope SQLite checks statements again.
  {
    auto rs = d->openTable("型表");
    db::RecordWriteScope scope(*rs);
  }
  EXPECT_EQ(errorOf([&] { d->execute("insert into 型表 (キー, 必, 文) values ('after', 'x', 'abcde')"); }), err::FieldTooSmall);
  // A whole-number field rounds a fraction written through a recordset.
  auto rs = d->openTable("型表");
  rs->addNew();
  rs->set("キー", std::string("r"));
  rs->set("必", std::string("x"));
  rs->set("長", 12.6);
  rs->update();
  EXPECT_EQ(one(*d, "select 長 from 型表 where キー = 'r'"), "13");
}

TEST(NativeTypes, IndexFlagsAreStoredAndHonoured) {
  TestHome h;
  auto d = makeDb(h, "i.mdb");
  makeTypedTable(*d);
  for (const auto& ix : d->indexes("型表")) {
    if (ix.name == "PrimaryKey") EXPECT_TRUE(ix.primary && ix.required && !ix.ignoreNulls);
    if (ix.name == "必須") EXPECT_TRUE(ix.required && !ix.unique && !ix.ignoreNulls);
    if (ix.name == "任意") EXPECT_TRUE(ix.ignoreNulls && ix.unique && !ix.required);
  }
  // A primary key refuses Null, and so does a required index.
  EXPECT_EQ(errorOf([&] { d->execute("insert into 型表 (必) values ('x')"); }), err::NullInRequired);
  EXPECT_EQ(errorOf([&] {
              auto rs = d->openTable("型表");
              rs->addNew();
              rs->set("キー", std::string("a"));
              rs->update();
            }),
            err::NullInRequired);
  // A unique index that ignores Nulls takes any number of rows without a value, but no duplicate value.
  d->execute("insert into 型表 (キー, 必) values ('a', 'x')");
  d->execute("insert into 型表 (キー, 必) values ('b', 'x')");
  d->execute("insert into 型表 (キー, 必, 任) values ('c', 'x', 'z')");
  EXPECT_EQ(errorOf([&] { d->execute("insert into 型表 (キー, 必, 任) values ('d', 'x', 'z')"); }), err::DuplicateKey);
}

TEST(NativeTypes, OldStyleDatabaseIsRebuiltWithItsRowsUnchanged) {
  TestHome h;
  std::string path = h.work + "old.mdb";
  db::Workspace::get().createDatabase(path);
  {
    // A table as earlier builds made it: engine type names and checks.
    sqlite3* c = nullptr;
    sqlite3_open(path.c_str(), &c);
    const char* sql =
        "CREATE TABLE \"T成績\" ("
        "\"キー\" TEXT(8) CONSTRAINT \"velmo_size:キー\" CHECK (length(\"キー\") <= 8), "
        "\"名\" TEXT(4) CONSTRAINT \"velmo_size:名\" CHECK (length(\"名\") <= 4), "
        "\"着\" LONG_INT CONSTRAINT \"velmo_num:着\" CHECK (typeof(\"着\") IN ('integer','real','null')), "
        "\"倍\" DOUBLE CONSTRAINT \"velmo_num:倍\" CHECK (typeof(\"倍\") IN ('integer','real','null')), "
        "\"メモ\" LONGTEXT);"
        "CREATE UNIQUE INDEX \"T成績.PrimaryKey\" ON \"T成績\" (\"キー\");"
        "CREATE INDEX \"T成績.名\" ON \"T成績\" (\"名\", \"着\");"
        "INSERT INTO \"T成績\" VALUES ('06050101', 'ダイ', 1, 2.5, 'メモ');"
        "INSERT INTO \"T成績\" VALUES ('06050102', NULL, NULL, NULL, NULL);"
        "INSERT INTO \"T成績\" VALUES ('06050103', '', 18, 123.4, '');"
        "DELETE FROM \"T成績\" WHERE キー = '06050102';"
        "INSERT INTO \"T成績\" VALUES ('06050104', 'ｱｲｳｴ', -1, 0.1, 'x');";
    ASSERT_EQ(sqlite3_exec(c, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(c);
    sqlite3_close(c);
  }
  const std::string before = dump(path, "T成績");
  {
    auto d = db::Workspace::get().openDatabase(path);
    EXPECT_FALSE(d->isNativeTable("T成績"));
    auto fieldsBefore = d->fields("T成績");
    auto indexesBefore = d->indexes("T成績");
    EXPECT_TRUE(RebuildTablesNative(d));
    EXPECT_TRUE(d->isNativeTable("T成績"));
    auto fieldsAfter = d->fields("T成績");
    ASSERT_EQ(fieldsAfter.size(), fieldsBefore.size());
    for (size_t i = 0; i < fieldsAfter.size(); ++i) {
      EXPECT_EQ(fieldsAfter[i].name, fieldsBefore[i].name);
      EXPECT_EQ(fieldsAfter[i].type, fieldsBefore[i].type) << fieldsAfter[i].name;
      EXPECT_EQ(fieldsAfter[i].size, fieldsBefore[i].size) << fieldsAfter[i].name;
    }
    auto indexesAfter = d->indexes("T成績");
    ASSERT_EQ(indexesAfter.size(), indexesBefore.size());
    for (size_t i = 0; i < indexesAfter.size(); ++i) {
      EXPECT_EQ(indexesAfter[i].name, indexesBefore[i].name);
      EXPECT_EQ(indexesAfter[i].fields, indexesBefore[i].fields);
      EXPECT_EQ(indexesAfter[i].unique, indexesBefore[i].unique);
    }
    // The rules hold as before.
    EXPECT_EQ(errorOf([&] { d->execute("insert into T成績 (キー, 名) values ('x', 'abcde')"); }), err::FieldTooSmall);
    EXPECT_EQ(errorOf([&] { d->execute("insert into T成績 (キー, 着) values ('x', 'abc')"); }), err::ConversionError);
    EXPECT_EQ(errorOf([&] { d->execute("insert into T成績 (キー) values ('06050101')"); }), err::DuplicateKey);
    // A second run has nothing to do.
    EXPECT_TRUE(RebuildTablesNative(d));
  }
  db::Workspace::get().reset();
  EXPECT_EQ(dump(path, "T成績"), before);
}

TEST(NativeTypes, AnEditWritesTheFieldsSetAndAChangedKeyMovesTheRow) {
  TestHome h;
  auto d = makeDb(h, "e.mdb");
  makeTypedTable(*d);
  d->execute("insert into 型表 (キー, 文, 長, 必) values ('a', 'x', 1, 'p')");
  auto rs = d->openTable("型表");
  rs->setIndex("PrimaryKey");
  // A field read after a seek is the stored one; the edit writes only 長.
  rs->seek({std::string("a")});
  ASSERT_FALSE(rs->noMatch());
  EXPECT_EQ(db::toText(rs->get("文")), "x");
  d->execute("update 型表 set 文 = 'y' where キー = 'a'");  // another writer between seek and edit
  rs->edit();
  rs->set("キー", std::string("a"));
  rs->set("長", std::string("5"));
  rs->update();
  EXPECT_EQ(one(*d, "select 文 & '/' & 長 from 型表 where キー = 'a'"), "y/5");
  // A key set to another value is written: the row is found by the new key.
  rs->seek({std::string("a")});
  rs->edit();
  rs->set("キー", std::string("b"));
  rs->update();
  rs->seek({std::string("a")});
  EXPECT_TRUE(rs->noMatch());
  rs->seek({std::string("b")});
  ASSERT_FALSE(rs->noMatch());
  EXPECT_EQ(db::toText(rs->get("長")), "5");
  EXPECT_EQ(db::toText(rs->get("必")), "p");
  // Moved and moved back without a new seek: both writes happen.
  rs->edit();
  rs->set("キー", std::string("c"));
  rs->update();
  rs->edit();
  rs->set("キー", std::string("b"));
  rs->update();
  EXPECT_EQ(one(*d, "select count(*) from 型表 where キー = 'b'"), "1");
}

TEST(NativeTypes, AnUpsertOnAnIndexThatIsNotUniqueStillKeepsTheNewerRow) {
  TestHome h;
  auto d = makeDb(h, "u.mdb");
  makeTypedTable(*d);
  d->execute("insert into 型表 (キー, 文, 必) values ('a', 'm', 'p')");
  auto rs = d->openTable("型表");
  rs->setIndex("必須");  // not unique: the upsert seeks, then adds or edits
  const std::vector<int> cols{rs->columnIndex("必"), rs->columnIndex("キー"), rs->columnIndex("文")};
  const int newer = rs->columnIndex("文");
  struct Step {
    const char* text;
    const char* stored;
  } steps[] = {{"b", "m"}, {"z", "z"}, {"m", "z"}};  // older is never written over newer
  for (const auto& s : steps) {
    std::vector<db::Value> v{std::string("p"), std::string("a"), std::string(s.text)};
    rs->upsert(cols, v, newer);
    EXPECT_EQ(one(*d, "select 文 from 型表 where キー = 'a'"), s.stored) << s.text;
  }
  EXPECT_EQ(one(*d, "select count(*) from 型表"), "1");
}

// Fields marked add-only go into a row the upsert adds, never into a stored one,
// on the one-statement path (unique index) and on the step-by-step one.
TEST(NativeTypes, AddOnlyFieldsGoIntoAddedRowsOnly) {
  for (const char* index : {"PrimaryKey", "必須"}) {
    TestHome h;
    auto d = makeDb(h, "a.mdb");
    makeTypedTable(*d);
    auto rs = d->openTable("型表");
    rs->setIndex(index);
    const std::vector<int> cols{rs->columnIndex("キー"), rs->columnIndex("必"), rs->columnIndex("任"), rs->columnIndex("文")};
    rs->setAddOnly({rs->columnIndex("文")});
    for (const char* pass : {"r1", "r2"}) {
      std::vector<db::Value> v{std::string("a"), std::string("p"), std::string(pass), std::string(pass) + "x"};
      rs->upsert(cols, v);
    }
    EXPECT_EQ(one(*d, "select count(*) from 型表"), "1") << index;
    EXPECT_EQ(one(*d, "select 任 & '/' & 文 from 型表"), "r2/r1x") << index;
  }
}

TEST(NativeTypes, ReadMatchingReadsTheRowsOfTheLeadingKeyFields) {
  TestHome h;
  auto d = makeDb(h, "m.mdb");
  db::TableDefSpec t;
  t.name = "組";
  t.fields = {{"レース", db::FieldType::Text, 8}, {"馬", db::FieldType::Text, 2}, {"名", db::FieldType::Text, 4}};
  t.indexes = {db::IndexInfo{"PrimaryKey", {"レース", "馬"}, true, true, false, false}};
  d->createTable(t);
  d->execute("insert into 組 values ('r1', '02', 'b'), ('r1', '01', 'a'), ('r2', '01', 'c')");
  auto rs = d->openTable("組");
  rs->setIndex("PrimaryKey");
  const std::vector<int> cols{rs->columnIndex("馬"), rs->columnIndex("名")};
  std::vector<std::vector<db::Value>> rows;
  auto text = [&rows] {
    std::string s;
    for (const auto& r : rows) s += db::toText(r[0]) + "=" + db::toText(r[1]) + ";";
    return s;
  };
  struct Case {
    std::vector<db::Value> keys;
    const char* rows;
  } cases[] = {
      {{std::string("r1")}, "01=a;02=b;"},  // in the index's order
      {{std::string("r2")}, "01=c;"},
      {{std::string("r3")}, ""},
      {{std::string("r1"), std::string("02")}, "02=b;"},
  };
  for (const auto& c : cases) {
    rs->readMatching(c.keys, cols, rows);
    EXPECT_EQ(text(), c.rows) << db::toText(c.keys[0]) << " " << c.keys.size();
  }
  EXPECT_EQ(errorOf([&] { rs->readMatching({}, cols, rows); }), err::InvalidArgument);
}
