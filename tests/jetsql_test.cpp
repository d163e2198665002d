// Jet statements on a small generated database: one row per statement with the
// rows it gives (or the records an action touched) or the engine error it raises.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/db.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/userstatement.h"
#include "startup/platform/writerlock.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

db::FieldInfo text(const char* n, int size) { return {n, db::FieldType::Text, size}; }
db::FieldInfo num(const char* n) { return {n, db::FieldType::Double, 0}; }

void table(db::Database& d, const char* name, std::vector<db::FieldInfo> fields, bool keyed = true) {
  db::TableDefSpec t;
  t.name = name;
  t.fields = std::move(fields);
  if (keyed) {
    db::IndexInfo pk;
    pk.name = "PrimaryKey";
    pk.fields = {t.fields[0].name};
    pk.primary = pk.unique = true;
    t.indexes = {pk};
  }
  d.createTable(t);
}

// Races of two days, payouts of one race, and two tables whose columns differ
// only in the width of their letters.
db::DatabasePtr makeRaces(const std::string& path) {
  auto& ws = db::Workspace::get();
  ws.createDatabase(path);
  auto d = ws.openDatabase(path);
  table(*d, "T番組", {text("レースキー", 8), text("名前", 10), num("頭数"), text("コーナー順位1", 2), text("年月日", 8)});
  table(*d, "T払戻", {text("レースキー", 8), text("名前", 10), num("頭数")});
  table(*d, "W狭", {text("AB", 4)}, false);
  table(*d, "W幅", {text("ＡＢ", 4)}, false);
  d->execute("insert into T番組 values ('06050101', 'ab', 12, '  ', '20050312')");
  d->execute("insert into T番組 values ('06050112', null, 16, '3 ', '20050313')");
  d->execute("insert into T番組 values ('06050203', 'AB', 6, '1 ', '20050319')");
  d->execute("insert into T番組 values ('06050204', 'ｃｄ', 8, null, '20050320')");
  d->execute("insert into T払戻 (レースキー, 名前) values ('06050112', 'zz')");
  d->execute("insert into W狭 values ('half')");
  d->execute("insert into W幅 values ('full')");
  return d;
}

// Rows as "a,b;c,d" (Null is "~"); an action gives "#n", an error "!n".
std::string run(db::Database& d, const std::string& sql, bool execute) {
  try {
    if (execute) return "#" + std::to_string(d.execute(sql));
    auto r = db::runUserStatement(d, sql);
    if (!r.isSelect) return "#" + std::to_string(r.affected);
    std::string out;
    for (const auto& row : r.rows) {
      if (!out.empty()) out += ";";
      for (size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + (db::isNull(row[i]) ? "~" : db::toText(row[i]));
    }
    return out;
  } catch (const VelmoError& e) {
    return "!" + std::to_string(e.number());
  }
}

struct Case {
  const char* sql;
  const char* expected;
  bool execute = false;  // through Execute (DAO_Exec) instead of a recordset
};

const Case kCases[] = {
    // names: the tables and aliases of the statement, case and width folded
    {"select count(*) from Ｔ番組", "4"},
    {"select [コーナー順位１] from T番組 where レースキー = '06050112'", "3 "},
    {"select ab from W狭", "half"},
    {"select ａｂ from W幅", "full"},
    {"select \"名前\" from T番組 where レースキー = '06050101'", "名前"},  // double quotes hold text
    {"select 名 from T番組", "!3061"},
    {"select 名前 from T番組 where T払戻.名前 = 'x'", "!3061"},
    {"select * from T無い", "!3078"},
    {"select foo(1) from T番組", "!3085"},
    {"select 名前 from T番組, T払戻", "!3079"},
    {"select a.レースキー from T番組 as a inner join T払戻 b on a.レースキー = b.レースキー", "06050112"},
    {"select T番組.* from T番組 where レースキー = '06050112'", "06050112,~,16,3 ,20050313"},
    // comparisons ignore letter case and width
    {"select レースキー from T番組 where 名前 = 'AB' order by レースキー", "06050101;06050203"},
    {"select count(*) from T番組 where 名前 = 'CD'", "1"},
    {"select count(*) from T番組 where 名前 in ('ab', 'x')", "2"},
    {"select count(*) from (select distinct 名前 from T番組 where 名前 is not null)", "2"},
    {"select count(*) from (select 名前 from T番組 group by 名前)", "3"},
    // like
    {"select count(*) from T番組 where 名前 like 'A*'", "2"},
    {"select count(*) from T番組 where レースキー like '060501[0-1]#'", "2"},
    {"select count(*) from T番組 where レースキー like '*[!12]'", "2"},
    {"select count(*) from T番組 where レースキー like '0605?1?3'", "0"},
    {"select count(*) from T番組 where not 名前 like 'a*'", "1"},
    // between, in either order
    {"select count(*) from T番組 where 頭数 between 14 and 6", "3"},
    {"select count(*) from T番組 where 年月日 between '20050319' and '20050312'", "3"},
    // operators
    {"select 1 + 2 & 3", "33"},
    {"select 'a' + 'b'", "ab"},
    {"select 頭数 & '頭' from T番組 where レースキー = '06050203'", "6頭"},
    {"select 名前 & 'x' from T番組 where レースキー = '06050112'", "x"},
    {"select count(*) from T番組 where 名前 & '' = 'ab'", "2"},
    {"select 7 / 2, 7 \\ 2, 7 mod 3, 2 ^ 3", "3.5,3,1,8"},
    // top binds to its own select
    {"select top 2 レースキー from T番組 order by 頭数", "06050203;06050204"},
    {"select count(*) from T番組 where レースキー in (select top 1 レースキー from T番組 order by 頭数 desc)", "1"},
    // top n keeps every record tied with the n-th on the order-by terms
    {"select count(*) from (select top 1 レースキー from T番組 order by left(レースキー, 6) desc)", "2"},
    {"select count(*) from (select top 3 レースキー from T番組 order by left(レースキー, 6))", "4"},
    {"select count(*) from (select top 2 レースキー from T番組 order by left(レースキー, 6))", "2"},
    {"select top 2 レースキー, 頭数 from T番組 order by left(レースキー, 6) desc, 頭数", "06050203,6;06050204,8"},
    {"select レースキー from T番組 where 頭数 = 6 union select レースキー from T払戻 order by レースキー", "06050112;06050203"},
    {"select count(*) from T番組 left join T払戻 on T番組.レースキー = T払戻.レースキー where T払戻.レースキー is null", "3"},
    {"select count(*) from T番組 where exists (select * from T払戻 where T払戻.レースキー = T番組.レースキー)", "1"},
    {"select distinctrow 名前 from T番組 where レースキー = '06050101'", "ab"},
    // functions
    {"select format('20050312', 'yyyy/mm/dd'), format(20050312, '0000/00/00')", "2005/03/12,2005/03/12"},
    {"select format(1234567, '#,##0'), format(3.14159, '0.0'), format(5, '00')", "1,234,567,3.1,05"},
    {"select format(dateserial(2005, 14, 1), 'yyyymmdd')", "20060201"},
    {"select strconv('ｱｲｳｶﾞabc', 4), strconv('ガギ　ＡＢ', 8)", "アイウガａｂｃ,ｶﾞｷﾞ AB"},
    {"select strconv('あいう', 16), strconv('アイウ', 32), strconv('aB', 1), strconv('aB', 2)", "アイウ,あいう,AB,ab"},
    {"select left$('abcdef', 2) & mid$('abcdef', 3, 2) & right('abcdef', 1)", "abcdf"},
    {"select instr('abcABC', 'C'), instr(4, 'abcabc', 'b'), replace('a-b-c', '-', ''), len(trim('  ab  '))", "3,5,abc,2"},
    {"select dateadd('d', 1, '2005/02/28'), dateadd('m', 1, '2005/01/31'), datediff('d', '2005/03/01', '2005/03/12')",
     "2005/03/01,2005/02/28,11"},
    {"select year('2005/03/12'), month('2005/03/12'), day(#2005/03/12#), weekday('2005/03/12'), cdate('2005-3-12')",
     "2005,3,12,7,2005/03/12"},
    {"select cstr(2.5 * 2), clng(2.5), cint(3.5), cdbl('1.5'), int(-2.5), fix(-2.5), abs(-3), round(2.5), round(1.25, 1)",
     "5,2,4,1.5,-3,-2,3,2,1.2"},
    {"select iif(頭数 > 10, 'big', 'small'), nz(名前, '-'), isnull(名前) from T番組 where レースキー = '06050112'", "big,-,-1"},
    {"select val('12abc') + 1, val('x')", "13,0"},
    {"select min(頭数), max(頭数), sum(頭数), avg(頭数), count(名前), round(stdev(頭数), 3) from T番組", "6,16,42,10.5,3,4.435"},
    {"select first(レースキー), last(レースキー) from T払戻", "06050112,06050112"},
    {"select len(format(now(), 'yyyy/mm/dd hh:nn:ss')), len(date())", "19,10"},
    {"select cint('x')", "!3464"},
    {"transform sum(頭数) select left(レースキー, 6) as 開催 from T番組 group by left(レースキー, 6) order by left(レースキー, 6) "
     "pivot mid(レースキー, 7, 2) in ('01', '03')",
     "060501,12,~;060502,~,6"},
    // the transform's aggregate may be named
    {"transform count(*) as n select left(レースキー, 6) as 開催 from T番組 group by left(レースキー, 6) pivot left(レースキー, 4)",
     "060501,2;060502,2"},
    // one statement per call, and Execute's records affected
    {"select count(*) from T番組 where 名前 = 'ab' ;", "2"},
    {"select 1; select 2", "!3142"},
    {"delete from T払戻; delete from T番組", "!3142", true},
    {"select * from T番組", "!3065", true},
    {"update T番組 set 名前 = 'x' where 頭数 > 10", "#2", true},
    {"delete * from T番組 where 名前 is null", "#1", true},
    {"insert into T払戻 (レースキー, 名前) select レースキー, 名前 from T番組 where 頭数 < 10", "#2", true},
    {"insert into T払戻 (レースキー, 頭数) values ('1', 2)", "#1", true},
    {"insert into T払戻 (レースキー, 無い) values ('1', 2)", "!3127", true},
    {"update T番組 inner join T払戻 on T番組.レースキー = T払戻.レースキー set T番組.名前 = T払戻.名前 where T番組.頭数 > 1",
     "#1", true},
    {"delete T番組.* from T番組 inner join T払戻 on T番組.レースキー = T払戻.レースキー", "#1", true},
    {"select * into T新 from T番組 where 頭数 > 10", "#2", true},
    {"select * into T払戻 from T番組", "!3010", true},
    {"create table T表 (a text(4) not null primary key, b long)", "#0", true},
    {"create index 名前順 on T番組 (名前) with ignore null", "#0", true},
    {"alter table T番組 add column 備考 text(20)", "#0", true},
    {"drop table T払戻", "#0", true},
    // syntax
    {"select from T番組", "!3075"},
    {"delete from T番組 where", "!3075", true},
    {"upd T番組 set 名前 = 1", "!3129", true},
};

}  // namespace

TEST(JetSql, StatementsGiveJetResults) {
  TestHome h;
  auto d = makeRaces(h.work + "races.mdb");
  auto& ws = db::Workspace::get();
  for (const auto& c : kCases) {
    // Each case runs on the same rows: its changes are rolled back.
    ws.beginTrans();
    std::string got = run(*d, c.sql, c.execute);
    ws.rollback();
    EXPECT_EQ(got, c.expected) << c.sql;
  }
}

// Deep nesting is refused with the engine's "too complex" error instead of
// running out of stack; a long flat chain of and / or is no nesting.
TEST(JetSql, DeepExpressionsAreRefusedAndFlatChainsRun) {
  TestHome h;
  auto d = makeRaces(h.work + "races.mdb");
  auto repeat = [](const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
  };
  auto chain = [&](const std::string& op, int n) { return "1 = 1" + repeat(" " + op + " 1 = 1", n - 1); };
  const std::string tooComplex = "!" + std::to_string(err::QueryTooComplex);
  const std::pair<std::string, std::string> cases[] = {
      {"select " + repeat("(", 5000) + "1" + repeat(")", 5000), tooComplex},
      {"select " + repeat("len(", 5000) + "'a'" + repeat(")", 5000), tooComplex},
      {"select " + repeat("-", 20000) + "1", tooComplex},
      {"select " + repeat("not ", 20000) + "0", tooComplex},
      {"select * from " + repeat("(", 5000) + "T番組" + repeat(")", 5000), tooComplex},
      {"select 1 from T番組 where 1 in " + repeat("(select 1 from T番組 where 1 in ", 3000) + "(1)" + repeat(")", 3000), tooComplex},
      // a chain SQLite cannot take as deep as it is long: refused, not a crash
      {"select 1" + repeat(" - 1", 12000), tooComplex},
      // and / or chains of any length
      {"select count(*) from T番組 where " + chain("and", 12000), "4"},
      {"select count(*) from T番組 where (" + chain("or", 12000) + ") and 頭数 > 10", "2"},
      {"select len('a'" + repeat(" & 'a'", 12000) + ")", "12001"},
      // nesting within the limit still works
      {"select " + repeat("(", 40) + "2" + repeat(")", 40) + " * " + repeat("-", 40) + "3", "6"},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(run(*d, sql, false), expected) << sql.substr(0, 60);
  EXPECT_EQ(run(*d, "update T番組 set 名前 = 'x' where " + chain("and", 12000), true), "#4");
}

TEST(JetSql, ChangesLandInTheDatabaseTheStatementRanOn) {
  TestHome h;
  auto a = makeRaces(h.work + "a.mdb");
  auto& ws = db::Workspace::get();
  ws.createDatabase(h.work + "b.mdb");
  auto b = ws.openDatabase(h.work + "b.mdb");
  b->execute("create table T表 (a text(4), b double)");
  b->execute("insert into T表 values (3 * 2.0, 1.5)");
  b->execute("select * into T写 from T表");
  EXPECT_TRUE(b->hasTable("T表"));
  EXPECT_TRUE(b->hasTable("T写"));
  EXPECT_FALSE(a->hasTable("T表"));
  EXPECT_EQ(run(*a, "select * from T表", false), "!3078");
  // A number written into a text column reads as Jet writes it.
  EXPECT_EQ(run(*b, "select a, b from T写", false), "6,1.5");
  EXPECT_EQ(run(*b, "insert into T表 (a, b) select b * 4, b from T表", true), "#1");
  EXPECT_EQ(run(*b, "select a from T表 where b = 1.5 order by a", false), "6;6");
  // Text longer than the column is refused as on any other path.
  EXPECT_EQ(run(*b, "insert into T表 (a) values ('12345')", true), "!3163");
}

TEST(JetSql, RepeatedStatementsAreTranslatedOnce) {
  TestHome h;
  auto d = makeRaces(h.work + "races.mdb");
  auto first = db::translateJet("select 名前 from T番組 where レースキー = '06050101'", *d);
  auto again = db::translateJet("select 名前 from T番組 where レースキー = '06050101'", *d);
  EXPECT_EQ(first.get(), again.get());
  EXPECT_EQ(db::translateJetCriteria("名前 = 'AB' and 頭数 > 3", {"名前", "頭数"}),
            "((\"名前\" = 'AB' COLLATE JETNOCASE) AND (\"頭数\" > 3))");
  EXPECT_THROW(db::translateJetCriteria("無い = 1", {"名前"}), VelmoError);
}

namespace {

struct CliResult {
  int code;
  std::string out, err;
};

CliResult cli(const std::string& args) {
  std::string dir = std::filesystem::temp_directory_path().string() + "/velmo_cli_sql_" + std::to_string(::getpid());
  std::string cmd = velmo::test::BuildHome() + "velmo-cli sql " + args + " >" + dir + ".out 2>" + dir + ".err";
  int rc = std::system(cmd.c_str());
  auto slurp = [](const std::string& p) {
    std::string s;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
      std::fclose(f);
    }
    std::remove(p.c_str());
    return s;
  };
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(dir + ".out"), slurp(dir + ".err")};
}

// The races as this week's database of the home, and its settings.
void raceHome(const TestHome& h, const std::string& moreSettings = "") {
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n" << moreSettings;
  }
  auto d = makeRaces(h.dbDir + "kova_this.mdb.new");
  d->close();
  db::Workspace::get().reset();
  std::filesystem::rename(h.dbDir + "kova_this.mdb.new", h.dbDir + "kova_this.mdb");
}

size_t sqlCopies(const TestHome& h) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(h.dbDir + "backup", ec))
    n += e.path().filename().string().rfind("kova_this_sql_", 0) == 0;
  return n;
}

}  // namespace

// A statement that may write takes the database folder's writer lock (so it
// cannot land in a file that a compaction or a changeover is replacing); a
// select, a transform too, takes none and no copy.
TEST(JetSql, CommandLineWritesTakeTheWriterLockAndSelectsDoNot) {
  TestHome h;
  raceHome(h, "WriterWaitSeconds=0\r\n");
  int fd = ::open(db::WriterLock::lockFilePath(h.dbDir).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  auto r = cli("\"update T番組 set 名前 = 'z'\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("書き込み中"), std::string::npos) << r.err;
  r = cli("\"select count(*) from T番組 where 名前 = 'z'\"");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Expr1000\n0\n");
  r = cli("\"transform count(*) as n select left(レースキー, 6) as 開催 from T番組 group by left(レースキー, 6) "
          "pivot left(レースキー, 4)\"");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "開催\t0605\n060501\t2\n060502\t2\n");
  EXPECT_EQ(sqlCopies(h), 0u);
  ::close(fd);
  // Free again: the change runs, after its copy, whose progress line ends.
  r = cli("\"update T番組 set 名前 = 'z'\"");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "4\n");
  EXPECT_NE(r.err.find("kova_this.mdbをバックアップ中です\n"), std::string::npos) << r.err;
  EXPECT_EQ(sqlCopies(h), 1u);
}

TEST(JetSql, CommandLinePrintsRowsCountsAndErrors) {
  TestHome h;
  raceHome(h);
  auto r = cli("\"select レースキー, 頭数 from T番組 where 頭数 > 10 order by レースキー\"");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "レースキー\t頭数\n06050101\t12\n06050112\t16\n");
  r = cli("--db this \"update T番組 set 名前 = 'z' where 頭数 < 10\"");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  // A statement that changes data is preceded by a copy of the database; a select is not.
  auto copies = [&] { return sqlCopies(h); };
  EXPECT_EQ(copies(), 1u);
  r = cli("\"select count(*) from T番組 where 名前 = 'Z'\"");  // committed, compared without case
  EXPECT_EQ(r.out, "Expr1000\n2\n");
  EXPECT_EQ(copies(), 1u);
  r = cli("\"select 無い from T番組\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("3061"), std::string::npos) << r.err;
  r = cli("--db " + h.work + "none.mdb \"select 1\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(cli("").code, 2);
  EXPECT_EQ(cli("--db \"select 1\"").code, 2);
  EXPECT_EQ(cli("--db abc \"select 1\"").code, 2);
}
