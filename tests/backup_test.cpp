// Copies taken before a command deletes or rewrites data: names, rotation,
// a failed copy stopping the command, and restoring a copy (core and velmo-cli).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/func.h"
#include "common/globals.h"
#include "maintenance/backup.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "tools/fixture/fixture.h"
#include "startup/platform/onlinebackup.h"
#include "startup/platform/writerlock.h"
#include "startup/settings.h"
#include "tests/testenv.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

int runCli(const std::string& args, const std::string& out = "/dev/null") {
  std::string cmd = test::BuildHome() + "velmo-cli " + args + " >'" + out + "' 2>&1 </dev/null";
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIni("main", "DBDir", h.dbDir);
    h.sqlite("kova_this.mdb", "create table probe(x integer); insert into probe values (1),(2),(3);");
  }
  std::string count(const std::string& db = "kova_this.mdb") { return h.sqlite(db, "select count(*) from probe;"); }
  std::vector<std::string> names(const std::string& database) {
    std::vector<std::string> n;
    for (const auto& e : ListBackups())
      if (e.database == database) n.push_back(e.name);
    return n;
  }
  TestHome h;
};

}  // namespace

TEST(BackupName, FormsAndReadsNames) {
  EXPECT_EQ(BackupName("/d/kova_this.mdb", "changeover", "20050313-210455"), "kova_this_changeover_20050313-210455.mdb");
  EXPECT_EQ(BackupName("/d/kova_data.mdb", "sql screen_1", "20050313-210455"), "kova_data_sql-screen-1_20050313-210455.mdb");
  struct {
    const char* name;
    bool ok;
    const char* database;
    const char* command;
    int seq;
  } cases[] = {
      {"kova_this_changeover_20050313-210455.mdb", true, "kova_this.mdb", "changeover", 1},
      {"kova_data_delete_20050313-210455-12.mdb", true, "kova_data.mdb", "delete", 12},
      {"kova_20050313-210455.mdb", false, "", "", 0},               // no command
      {"kova_this_compact_2005031-210455.mdb", false, "", "", 0},   // short date
      {"kova_this_compact_20050313-210455.txt", false, "", "", 0},
      {"kova_this.mdb", false, "", "", 0},
  };
  for (const auto& c : cases) {
    BackupEntry e;
    ASSERT_EQ(ParseBackupName(c.name, e), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(e.database, c.database);
    EXPECT_EQ(e.command, c.command);
    EXPECT_EQ(e.sequence, c.seq);
  }
}

TEST(BackupName, StatementsThatMayWrite) {
  for (const char* sql : {"delete * from T番組データ", "  UPDATE T番組データ set レース名 = 'select'", "insert into x select * from y",
                          "select * into 新表 from T番組データ", "drop table x", "(select 1); delete from x"})
    EXPECT_TRUE(StatementMayWrite(sql)) << sql;
  for (const char* sql : {"select * from T番組データ", "SELECT [into] FROM x WHERE a = 'into'", "  select count(*) from x;"})
    EXPECT_FALSE(StatementMayWrite(sql)) << sql;
}

TEST_F(BackupTest, CopiesEachDatabaseAndKeepsTheNewestGenerations) {
  SetIni("main", "BackupGenerations", "2");
  const std::vector<std::string> dbs = {h.dbDir + "kova_this.mdb", h.dbDir + "kova_data.mdb", h.dbDir + "missing.mdb"};
  for (const char* cmd : {"delete", "compact", "changeover"}) ASSERT_TRUE(BackupBefore(cmd, dbs, NullCommandUi()));
  auto kept = names("kova_this.mdb");
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_NE(kept[0].find("_changeover_"), std::string::npos);  // newest first
  EXPECT_NE(kept[1].find("_compact_"), std::string::npos);
  EXPECT_EQ(names("kova_data.mdb").size(), 2u);
  EXPECT_TRUE(names("missing.mdb").empty());
  EXPECT_EQ(db::OnlineBackup::integrityCheck(BackupDir() + kept[0]), "ok");
  std::string out = h.sqlite("kova_this.mdb", "attach '" + BackupDir() + kept[0] + "' as b; select count(*) from b.probe;");
  EXPECT_EQ(out, "3\n");
  EXPECT_TRUE(ListFiles(BackupDir() + "*.part").empty());
  EXPECT_TRUE(h.messages.empty());

  // Fewer generations drop the surplus at the next copy; 0 switches backups off.
  SetIni("main", "BackupGenerations", "1");
  ASSERT_TRUE(BackupBefore("master", {dbs[0]}, NullCommandUi()));
  EXPECT_EQ(names("kova_this.mdb").size(), 1u);
  SetIni("main", "BackupGenerations", "0");
  ASSERT_TRUE(BackupBefore("master", {dbs[0]}, NullCommandUi()));
  EXPECT_EQ(names("kova_this.mdb").size(), 1u);
}

TEST_F(BackupTest, AFailedCopyStopsTheCommandWithAMessage) {
  // The backup folder cannot be created: a file stands where it would be.
  std::ofstream(h.root + "blocker") << "x";
  SetIni("main", "BackupDir", h.root + "blocker/sub");
  EXPECT_FALSE(BackupBefore("delete", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].text.find("処理を中止します"), std::string::npos);
  EXPECT_NE(h.messages[0].text.find("kova_this.mdb"), std::string::npos);
  EXPECT_NE(h.logText().find("バックアップフォルダ"), std::string::npos);

  // A database another program holds locked: no copy, the command stops.
  SetIni("main", "BackupDir", "");
  h.messages.clear();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((h.dbDir + "kova_this.mdb").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(BackupBefore("delete", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].text.find("使用中"), std::string::npos) << h.messages[0].text;
  EXPECT_TRUE(names("kova_this.mdb").empty());

  // A file that is not a database is copied as it stands (the command may be
  // the one that replaces it); restoring such a copy is refused.
  std::ofstream(h.dbDir + "bad.mdb") << "not a database at all, not at all";
  EXPECT_TRUE(BackupBefore("upgrade", {h.dbDir + "bad.mdb"}, NullCommandUi()));
  auto copies = names("bad.mdb");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(readAll(BackupDir() + copies[0]), "not a database at all, not at all");
  std::string error;
  EXPECT_FALSE(RestoreBackup(copies[0], NullCommandUi(), error));
  EXPECT_NE(error.find("壊れています"), std::string::npos) << error;
}

TEST_F(BackupTest, RestoreChecksTheCopyAndBacksUpTheCurrentFile) {
  ASSERT_TRUE(BackupBefore("delete", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
  const std::string name = names("kova_this.mdb").at(0);
  h.sqlite("kova_this.mdb", "delete from probe where x > 1;");
  ASSERT_EQ(count(), "1\n");

  std::string error;
  h.answers = {vbCancel};
  EXPECT_FALSE(RestoreBackup(name, NullCommandUi(), error));
  EXPECT_EQ(count(), "1\n");

  // Another writer holds the database folder: the restore waits, then gives up.
  {
    int fd = ::open(db::WriterLock::lockFilePath(h.dbDir).c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const int wait = db::WriterLock::defaultWaitSeconds();
    db::WriterLock::setDefaultWaitSeconds(1);
    EXPECT_FALSE(RestoreBackup(name, NullCommandUi(), error));
    db::WriterLock::setDefaultWaitSeconds(wait);
    ::close(fd);
    EXPECT_NE(error.find("書き込み中"), std::string::npos) << error;
    EXPECT_EQ(count(), "1\n");
  }

  ASSERT_TRUE(RestoreBackup(name, NullCommandUi(), error)) << error;
  EXPECT_EQ(count(), "3\n");
  auto all = names("kova_this.mdb");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_NE(all[0].find("_restore_"), std::string::npos);

  // A damaged copy is refused and the database stays as it is.
  std::string bytes = readAll(BackupDir() + name);
  for (size_t i = 4096; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(0xA5);
  WriteFileBytes(BackupDir() + name, bytes);
  h.sqlite("kova_this.mdb", "delete from probe;");
  EXPECT_FALSE(RestoreBackup(name, NullCommandUi(), error));
  EXPECT_NE(error.find("壊れています"), std::string::npos) << error;
  EXPECT_EQ(count(), "0\n");

  for (const char* bad : {"../kova_this.mdb", "kova_this.mdb", "kova_this_delete_20000101-000000.mdb"})
    EXPECT_FALSE(RestoreBackup(bad, NullCommandUi(), error)) << bad;
}

TEST_F(BackupTest, CommandLineListsAndRestores) {
  ASSERT_TRUE(BackupBefore("compact", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
  const std::string name = names("kova_this.mdb").at(0);
  h.sqlite("kova_this.mdb", "delete from probe;");

  const std::string out = h.work + "out.txt";
  ASSERT_EQ(runCli("backup list", out), 0);
  EXPECT_NE(readAll(out).find(name + "\tkova_this.mdb\tcompact\t"), std::string::npos) << readAll(out);

  // Without --yes and without a terminal to ask, nothing is restored.
  EXPECT_EQ(runCli("backup restore " + name, out), 1);
  EXPECT_EQ(count(), "0\n");
  EXPECT_EQ(runCli("backup restore " + name + " --yes", out), 0) << readAll(out);
  EXPECT_EQ(count(), "3\n");
  EXPECT_EQ(runCli("backup restore", out), 2);
  EXPECT_EQ(runCli("backup restore nothing.mdb --yes", out), 1);
}

TEST_F(BackupTest, AChangeoverThatFailsHalfWayIsUndoneByItsBackup) {
  fixture::RaceDay day;
  day.courses = {"06"};
  day.races = 3;
  day.runners = 4;
  MakeDirAll(h.work + "day/");
  for (const auto& a : fixture::WriteDayArchives(h.work + "day/", {"BAB", "KYG"}, day)) ASSERT_EQ(regMain(a, "T", "J"), 0);
  db::Workspace::get().reset();
  // The past database lacks the programme table: that family's move fails
  // after the runners have moved.
  h.sqlite("kova_data.mdb", "drop table D番組データ;");
  auto dump = [&] {
    return h.sqlite("kova_this.mdb", "select * from T競走馬データ order by 2, 3; select * from T番組データ order by 2;") +
           h.sqlite("kova_data.mdb", "select count(*) from D競走馬データ; select group_concat(name) from sqlite_master;");
  };
  const std::string before = dump();
  ASSERT_NE(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ;"), "0\n");

  EXPECT_EQ(WeekChange(NullCommandUi()), Outcome::Failed);
  db::Workspace::get().reset();
  ASSERT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T競走馬データ;"), "0\n");  // moved half-way
  ASSERT_NE(dump(), before);

  std::string error;
  for (const char* database : {"kova_this.mdb", "kova_data.mdb"}) {
    std::string copy;
    for (const auto& e : ListBackups())
      if (e.database == database && e.command == "changeover") copy = e.name;
    ASSERT_FALSE(copy.empty()) << database;
    ASSERT_TRUE(RestoreBackup(copy, NullCommandUi(), error)) << error;
  }
  EXPECT_EQ(dump(), before);
}
