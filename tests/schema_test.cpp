// Table definitions from text: TableAlter and TableDelete.
#include <gtest/gtest.h>

#include "common/func.h"
#include "common/text.h"
#include "registration/layout.h"
#include "schema/tablealter.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

const char* kHeader = "ParentID,Name,id,Object Type,Extra1,Extra2,Extra3\r\n";

void writeDef(const TestHome& h, const std::string& name, const std::string& rows) {
  WriteFileBytes(h.program + name, text::encodeCp932(std::string(kHeader) + rows));
}

const std::string kDef =
    "0,T試験,1,ﾃｰﾌﾞﾙ,,,\r\n"
    "1,キー,2,ﾌｨｰﾙﾄﾞ,,ﾃｷｽﾄ型,8\r\n"
    "1,名前,3,ﾌｨｰﾙﾄﾞ,,ﾃｷｽﾄ型,-\r\n"
    "1,頭数,4,ﾌｨｰﾙﾄﾞ,,数値型 (倍精度浮動小数点),-\r\n"
    "1,メモ,5,ﾌｨｰﾙﾄﾞ,,ﾒﾓ型,-\r\n"
    "1,PrimaryKey,6,ｲﾝﾃﾞｯｸｽ,,,\r\n"
    "6,名前:,7,ﾌﾟﾛﾊﾟﾃｨ,PrimaryKey,,\r\n"
    "6,主ｷｰ:,8,ﾌﾟﾛﾊﾟﾃｨ,True,,\r\n"
    "6,キー,9,ｲﾝﾃﾞｯｸｽ ﾌｨｰﾙﾄﾞ,,,\r\n";

}  // namespace

TEST(Schema, TableAlterCreatesWhatIsMissingAndNothingElse) {
  TestHome h;
  std::string path = h.work + "s.mdb";
  db::Workspace::get().createDatabase(path);
  writeDef(h, "teigi_x.txt", kDef);
  ASSERT_TRUE(TableAlter("teigi_x.txt", path));
  auto d = db::Workspace::get().openDatabase(path);
  auto f = d->fields("T試験");
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].size, 8);
  EXPECT_EQ(f[1].size, 255);  // "-": the engine's default size
  EXPECT_EQ(f[2].type, db::FieldType::Double);
  EXPECT_EQ(f[3].type, db::FieldType::Memo);
  auto ix = d->indexes("T試験");
  ASSERT_EQ(ix.size(), 1u);
  EXPECT_TRUE(ix[0].primary);
  EXPECT_EQ(ix[0].fields, std::vector<std::string>{"キー"});
  EXPECT_FALSE(d->hasTable("テーブル定義"));
  d->execute("insert into T試験 (キー, 頭数) values ('a', 3)");
  // Twice: nothing changes. An existing field of another type stays as it is.
  writeDef(h, "teigi_y.txt",
           "0,T試験,1,ﾃｰﾌﾞﾙ,,,\r\n1,キー,2,ﾌｨｰﾙﾄﾞ,,数値型 (長整数),-\r\n1,追加,3,ﾌｨｰﾙﾄﾞ,,ﾃｷｽﾄ型,2\r\n"
           "1,PrimaryKey,6,ｲﾝﾃﾞｯｸｽ,,,\r\n6,追加,9,ｲﾝﾃﾞｯｸｽ ﾌｨｰﾙﾄﾞ,,,\r\n1,第二,10,ｲﾝﾃﾞｯｸｽ,,,\r\n10,追加,11,ｲﾝﾃﾞｯｸｽ ﾌｨｰﾙﾄﾞ,,,\r\n");
  ASSERT_TRUE(TableAlter("teigi_x.txt", path));
  ASSERT_TRUE(TableAlter("teigi_y.txt", path));
  f = d->fields("T試験");
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].type, db::FieldType::Text);
  EXPECT_EQ(f[4].name, "追加");
  ix = d->indexes("T試験");
  ASSERT_EQ(ix.size(), 2u);
  for (const auto& i : ix)
    if (i.name == "PrimaryKey") EXPECT_EQ(i.fields, std::vector<std::string>{"キー"});  // unchanged
  EXPECT_EQ(h.sqlite("../work/s.mdb", "select count(*) from T試験;"), "1\n");
  // A header-only file creates nothing and succeeds.
  writeDef(h, "teigi_empty.txt", "");
  EXPECT_TRUE(TableAlter("teigi_empty.txt", path));
}

TEST(Schema, FailuresAreLoggedAndRemoveTheLink) {
  TestHome h;
  std::string path = h.work + "f.mdb";
  db::Workspace::get().createDatabase(path);
  {
    // A leftover link of an interrupted run is replaced.
    auto d = db::Workspace::get().openDatabase(path);
    d->createLink("テーブル定義", "Text;DATABASE=" + h.work, "old.txt");
  }
  // A primary key over duplicate data fails; a field differing only in letter case is refused by the engine.
  writeDef(h, "teigi_dup.txt", kDef + "0,T二,20,ﾃｰﾌﾞﾙ,,,\r\n20,abc,21,ﾌｨｰﾙﾄﾞ,,ﾃｷｽﾄ型,2\r\n20,ABC,22,ﾌｨｰﾙﾄﾞ,,ﾃｷｽﾄ型,2\r\n");
  EXPECT_FALSE(TableAlter("teigi_dup.txt", path));
  EXPECT_FALSE(TableAlter("teigi_missing.txt", path));
  auto d = db::Workspace::get().openDatabase(path);
  EXPECT_TRUE(d->hasTable("T試験"));   // appended before the failure
  EXPECT_FALSE(d->hasTable("T二"));    // never appended
  EXPECT_FALSE(d->hasTable("テーブル定義"));
  EXPECT_NE(h.logText().find("TableAlter"), std::string::npos);
  EXPECT_TRUE(TableDelete("T試験", path));
  EXPECT_TRUE(TableDelete("T試験", path));  // already gone
  EXPECT_FALSE(d->hasTable("T試験"));
  EXPECT_FALSE(TableDelete("T試験", h.work + "none.mdb"));
}

TEST(Schema, ShippedDefinitionsHoldEveryColumnTheLayoutsWrite) {
  TestHome h;
  for (const auto& [file, prefix] : {std::pair<std::string, std::string>{"kova_this.mdb", "T"}, {"kova_data.mdb", "D"}}) {
    auto d = db::Workspace::get().openDatabase(h.dbDir + file);
    EXPECT_EQ(d->getProperty("Subject"), "Ver7.2");
    for (const reg::Layout* L : reg::AllLayouts()) {
      std::string table = prefix + L->table;
      if (!d->hasTable(table)) continue;  // some families exist in one database only
      const db::TableShape& sh = d->shape(table);
      for (const auto& f : L->fields) {
        int i = sh.find(f.column);
        ASSERT_GE(i, 0) << table << "." << f.column;
        const auto& fi = sh.fields[static_cast<size_t>(i)];
        bool numberRule = f.rule.kind == reg::RuleKind::Number || f.rule.kind == reg::RuleKind::BlankNullNumber;
        if (numberRule) {
          EXPECT_NE(fi.type, db::FieldType::Text) << table << "." << f.column;
        } else if (fi.type == db::FieldType::Text && f.rule.kind != reg::RuleKind::Custom && f.rule.kind != reg::RuleKind::Key) {
          // (a kind's own rule or a composed key sizes its value itself)
          int need = f.rule.kind == reg::RuleKind::Head || f.rule.kind == reg::RuleKind::TrimHead ? f.rule.k
                     : f.rule.kind == reg::RuleKind::Char ? 1
                     : f.rule.kind == reg::RuleKind::Fixed ? static_cast<int>(text::charCount(f.rule.literal))
                                                           : f.length;
          EXPECT_GE(fi.size, need) << table << "." << f.column;
        }
      }
      bool hasPk = false;
      for (const auto& ix : d->indexes(table))
        if (ix.name == "PrimaryKey") {
          hasPk = true;
          std::vector<std::string> want(L->seekKey.begin(), L->seekKey.end());
          EXPECT_EQ(ix.fields, want) << table;
        }
      EXPECT_TRUE(hasPk) << table;
    }
  }
}
