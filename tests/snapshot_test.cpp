// Moving and finding in snapshots and table recordsets, compaction of a file
// that is open elsewhere, and the transaction guard.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/error.h"
#include "common/func.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

db::DatabasePtr makeRunners(const TestHome& h, const std::string& name) {
  std::string path = h.work + name;
  db::Workspace::get().createDatabase(path);
  auto d = db::Workspace::get().openDatabase(path);
  db::TableDefSpec w{"W出走馬", {{"レースキー", db::FieldType::Text, 8}, {"馬番", db::FieldType::Text, 2},
                                {"血統登録番号", db::FieldType::Text, 8}}, {}};
  db::TableDefSpec r{"T競走馬データ", {{"レースキー", db::FieldType::Text, 8}, {"馬番", db::FieldType::Text, 2},
                                      {"性別コード", db::FieldType::Text, 1}}, {}};
  r.indexes.push_back({"PrimaryKey", {"レースキー", "馬番"}, true, true, false, false});
  d->createTable(w);
  d->createTable(r);
  for (int i = 1; i <= 4; ++i) {
    std::string h2 = "0" + std::to_string(i);
    d->execute("insert into W出走馬 values ('06050101', '" + h2 + "', '1000000" + std::to_string(i % 3) + "')");
    d->execute("insert into T競走馬データ values ('06050101', '" + h2 + "', null)");
  }
  return d;
}

long errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const VelmoError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace

TEST(Snapshot, FindsByCriteriaAndMovesBothWays) {
  TestHome h;
  auto d = makeRunners(h, "s.mdb");
  auto q = d->openQuery(
      "SELECT W出走馬.血統登録番号, T競走馬データ.馬番, 性別コード FROM W出走馬 INNER JOIN T競走馬データ ON "
      "(W出走馬.馬番 = T競走馬データ.馬番) AND (W出走馬.レースキー = T競走馬データ.レースキー) order by W出走馬.馬番;");
  ASSERT_EQ(q->recordCount(), 4);
  // Horses 01 and 04 share a registration number (10000001).
  EXPECT_TRUE(q->findFirst("W出走馬.血統登録番号='10000001'"));
  EXPECT_EQ(db::toText(q->get("馬番")), "01");
  EXPECT_TRUE(q->findNext("W出走馬.血統登録番号='10000001'"));
  EXPECT_EQ(db::toText(q->get("馬番")), "04");
  EXPECT_FALSE(q->findNext("W出走馬.血統登録番号='10000001'"));
  EXPECT_TRUE(q->noMatch());
  EXPECT_EQ(db::toText(q->get("馬番")), "04");  // the position stays
  EXPECT_TRUE(q->findPrevious("W出走馬.血統登録番号='10000001'"));
  EXPECT_EQ(db::toText(q->get("馬番")), "01");
  EXPECT_TRUE(q->findLast("T競走馬データ.馬番 < '03'"));
  EXPECT_EQ(db::toText(q->get("馬番")), "02");
  EXPECT_FALSE(q->findFirst("W出走馬.血統登録番号='99999999'"));
  // MoveLast and MovePrevious down to the beginning.
  std::string order;
  for (q->moveLast(); !q->bof(); q->movePrevious()) order += db::toText(q->get("馬番"));
  EXPECT_EQ(order, "04030201");
  EXPECT_EQ(errorOf([&] { q->get(0); }), err::NoCurrentRecord);

  // The rows found are changed through the join with one statement.
  EXPECT_EQ(d->execute("update T競走馬データ inner join W出走馬 on (W出走馬.馬番 = T競走馬データ.馬番) and "
                       "(W出走馬.レースキー = T競走馬データ.レースキー) set T競走馬データ.性別コード = '2' "
                       "where W出走馬.血統登録番号 = '10000001'"),
            2);

  auto rs = d->openTable("T競走馬データ");
  rs->setIndex("PrimaryKey");
  order.clear();
  for (rs->moveLast(); !rs->bof(); rs->movePrevious())
    order += db::toText(rs->get("馬番")) + db::toText(rs->get("性別コード")) + " ";
  EXPECT_EQ(order, "042 03 02 012 ");
}

TEST(Snapshot, CompactionIsRefusedWhileTheFileIsOpen) {
  TestHome h;
  auto d = makeRunners(h, "c.mdb");
  auto& ws = db::Workspace::get();
  EXPECT_EQ(errorOf([&] { ws.compactDatabase(h.work + "c.mdb", h.work + "c2.mdb"); }), err::DatabaseInUse);
  d->close();
  d.reset();
  // Another process holding the file open.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    auto other = ws.openDatabase(h.work + "c.mdb");
    char c = 'x';
    (void)!write(ready[1], &c, 1);
    sleep(3);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(errorOf([&] { ws.compactDatabase(h.work + "c.mdb", h.work + "c2.mdb"); }), err::DatabaseInUse);
  EXPECT_FALSE(FileExists(h.work + "c2.mdb"));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(errorOf([&] { ws.compactDatabase(h.work + "c.mdb", h.work + "c2.mdb"); }), 0);
  EXPECT_TRUE(FileExists(h.work + "c2.mdb"));
}

TEST(Snapshot, TransactionGuardRollsBackUnlessCommitted) {
  TestHome h;
  auto d = makeRunners(h, "t.mdb");
  auto& ws = db::Workspace::get();
  try {
    db::Transaction t;
    d->execute("delete from W出走馬");
    throw std::runtime_error("failure inside");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(ws.transDepth(), 0);
  EXPECT_EQ(d->openQuery("select count(*) from W出走馬")->get(0), db::Value{int64_t{4}});
  {
    db::Transaction outer;
    {
      db::Transaction inner;
      d->execute("delete from W出走馬 where 馬番 = '01'");
    }  // the inner level is undone, the outer one goes on
    d->execute("delete from W出走馬 where 馬番 = '02'");
    outer.commit();
  }
  EXPECT_EQ(d->openQuery("select count(*) from W出走馬")->get(0), db::Value{int64_t{3}});
}
