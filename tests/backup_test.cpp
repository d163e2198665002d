// Copies taken before a command deletes or rewrites data: names, rotation,
// a failed copy stopping the command, and restoring a copy (core and velmo-cli).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

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

long long fileSize(const std::string& path) {
  std::error_code ec;
  auto n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<long long>(n);
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
  TestHome h;
  SetIni("main", "DBDir", h.dbDir);
  EXPECT_EQ(BackupName(h.dbDir + "kova_this.mdb", "changeover", "20050313-210455", 7),
            "kova_this_changeover_20050313-210455-7.mdb");
  EXPECT_EQ(BackupName(h.dbDir + "kova_data.mdb", "sql screen_1", "20050313-210455", 12),
            "kova_data_sql-screen-1_20050313-210455-12.mdb");
  // A database of another folder carries a tag of its full path.
  const std::string other = BackupDatabaseName(h.work + "kova_this.mdb");
  EXPECT_EQ(other.size(), std::string("kova_this@12345678.mdb").size()) << other;
  EXPECT_EQ(other.rfind("kova_this@", 0), 0u) << other;
  EXPECT_NE(other, BackupDatabaseName(h.root + "kova_this.mdb"));
  struct {
    const char* name;
    bool ok;
    const char* database;
    const char* command;
    int seq;
  } cases[] = {
      {"kova_this_changeover_20050313-210455.mdb", true, "kova_this.mdb", "changeover", 1},
      {"kova_data_delete_20050313-210455-12.mdb", true, "kova_data.mdb", "delete", 12},
      {"kova_this@0a1b2c3d_sql_20050313-210455-123456.mdb", true, "kova_this@0a1b2c3d.mdb", "sql", 123456},
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
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(BackupBefore("master", dbs, NullCommandUi()));
  auto kept = names("kova_this.mdb");
  ASSERT_EQ(kept.size(), 2u);
  BackupEntry newest, older;
  ASSERT_TRUE(ParseBackupName(kept[0], newest));
  ASSERT_TRUE(ParseBackupName(kept[1], older));
  EXPECT_GT(newest.sequence, older.sequence);  // newest first, each name of its own
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

namespace {

// Every row of every table of a database file, each value with its type and
// bytes, the rows of each table sorted: two dumps are equal when the files hold
// the same rows byte for byte. The registration record is not part of the data
// a copy brings back (it keeps its rows as the commands left them).
std::map<std::string, std::vector<std::string>> dumpRows(const std::string& path) {
  std::map<std::string, std::vector<std::string>> out;
  sqlite3* c = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << path;
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(c, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' AND name <> 'MSysVelmoLedger'",
                     -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) tables.push_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  for (const auto& t : tables) {
    auto& rows = out[t];
    sqlite3_prepare_v2(c, ("SELECT * FROM \"" + t + "\"").c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const int type = sqlite3_column_type(st, i);
        line += std::to_string(type) + ":";
        if (type == SQLITE_FLOAT) {
          char b[40];
          std::snprintf(b, sizeof b, "%.17g", sqlite3_column_double(st, i));
          line += b;
        } else if (type != SQLITE_NULL) {
          const void* p = type == SQLITE_BLOB ? sqlite3_column_blob(st, i) : sqlite3_column_text(st, i);
          line += std::string(static_cast<const char*>(p), sqlite3_column_bytes(st, i));
        }
        line += "|";
      }
      rows.push_back(line);
    }
    sqlite3_finalize(st);
    std::sort(rows.begin(), rows.end());
  }
  sqlite3_close(c);
  return out;
}

using Dump = std::map<std::string, std::map<std::string, std::vector<std::string>>>;
Dump dumpBoth(const std::string& dbDir) {
  db::Workspace::get().reset();
  return {{"kova_this.mdb", dumpRows(dbDir + "kova_this.mdb")}, {"kova_data.mdb", dumpRows(dbDir + "kova_data.mdb")}};
}

// A race day of programmes and runners (20050312) registered into this week's database.
void registerWeek(TestHome& h) {
  fixture::RaceDay day;
  day.courses = {"06"};
  day.races = 3;
  day.runners = 4;
  MakeDirAll(h.work + "day/");
  for (const auto& a : fixture::WriteDayArchives(h.work + "day/", {"BAB", "KYG", "SEC"}, day)) ASSERT_EQ(regMain(a, "T", "J"), 0);
  day.date = "20050313";
  MakeDirAll(h.work + "day2/");
  for (const auto& a : fixture::WriteDayArchives(h.work + "day2/", {"BAB", "KYG", "SEC"}, day)) ASSERT_EQ(regMain(a, "T", "J"), 0);
  db::Workspace::get().reset();
}

// The newest copy of each database that `command` took.
std::map<std::string, BackupEntry> copiesOf(const std::string& command) {
  std::map<std::string, BackupEntry> out;
  for (const auto& e : ListBackups())
    if (e.command == command && !out.count(e.database)) out[e.database] = e;
  return out;
}

size_t rowCount(const Dump& d) {
  size_t n = 0;
  for (const auto& [db, tables] : d)
    for (const auto& [t, rows] : tables) n += rows.size();
  return n;
}

}  // namespace

// Each kind of copy brings back every row as it was before its command, and the
// copy a restore of rows takes first undoes that restore.
TEST(BackupKinds, RestoringEachKindOfCopyBringsBackEveryRow) {
  struct Case {
    const char* what;
    bool pastFirst;        // a changeover fills the past database first
    const char* command;   // the command's copies
    std::map<std::string, std::string> kinds;  // database -> kind of its copy
    std::function<bool(TestHome&)> run;
  } cases[] = {
      {"changeover", false, "changeover", {{"kova_this.mdb", "full"}, {"kova_data.mdb", "rows"}},
       [](TestHome&) { return WeekChange(NullCommandUi()) == Outcome::Done; }},
      {"delete this week", false, "delete", {{"kova_this.mdb", "rows"}},
       [](TestHome&) { return DataDeleteThis(NullCommandUi(), "20050312", "20050312"); }},
      {"delete past", true, "delete", {{"kova_data.mdb", "rows"}},
       [](TestHome&) { return DataDelete(NullCommandUi(), "20050313", "20050313"); }},
      {"compact", false, "compact", {{"kova_this.mdb", "original"}},
       [](TestHome& h) { return DBcompact(NullCommandUi(), h.dbDir + "kova_this.mdb") == Outcome::Done; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestHome h;
    SetIni("main", "DBDir", h.dbDir);
    registerWeek(h);
    if (c.pastFirst) {
      // Rows of the same keys already in the past database stay as they were.
      ASSERT_EQ(WeekChange(NullCommandUi()), Outcome::Done) << h.logText();
      registerWeek(h);
      h.sqlite("kova_this.mdb", "update T番組データ set 距離 = '9999';");
      ASSERT_EQ(WeekChange(NullCommandUi()), Outcome::Done) << h.logText();
    }
    const Dump before = dumpBoth(h.dbDir);
    ASSERT_GT(rowCount(before), 50u);
    ASSERT_TRUE(c.run(h)) << h.logText();
    const Dump after = dumpBoth(h.dbDir);
    if (std::string(c.command) != "compact") {
      ASSERT_NE(after, before);
    }

    auto copies = copiesOf(c.command);
    ASSERT_EQ(copies.size(), c.kinds.size());
    for (const auto& [database, kind] : c.kinds) {
      ASSERT_TRUE(copies.count(database)) << database;
      EXPECT_EQ(copies[database].kind, kind) << database;
      // A copy of rows costs the rows, not the file.
      if (kind == "rows") {
        EXPECT_LT(copies[database].bytes, fileSize(h.dbDir + database) / 2) << database;
      }
    }
    std::string error;
    for (const auto& [database, e] : copies) ASSERT_TRUE(RestoreBackup(e.name, NullCommandUi(), error)) << error;
    EXPECT_EQ(dumpBoth(h.dbDir), before);

    // The restore's own copies put the command's result back.
    for (const auto& [database, e] : copiesOf("restore")) {
      EXPECT_EQ(e.kind, copies[database].kind == "rows" ? "rows" : "full") << database;
      ASSERT_TRUE(RestoreBackup(e.name, NullCommandUi(), error)) << error;
    }
    EXPECT_EQ(dumpBoth(h.dbDir), after);
  }
}

// A command killed (SIGKILL) after its copy, while its first commit waits for a
// reader, is undone by restoring its copies: every row is as it was before.
TEST(BackupKinds, ACommandKilledAfterItsCopyIsUndoneByTheCopy) {
  struct Case {
    std::vector<std::string> args;
    const char* held;  // the database a reader holds, so that the commit waits
    const char* command;
    size_t copies;
  } cases[] = {
      {{"delete", "--db", "this", "--from", "20050312", "--to", "20050313", "--yes"}, "kova_this.mdb", "delete", 1},
      {{"changeover", "--yes"}, "kova_this.mdb", "changeover", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    TestHome h;
    SetIni("main", "DBDir", h.dbDir);
    registerWeek(h);
    const Dump before = dumpBoth(h.dbDir);
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open((h.dbDir + c.held).c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string out = h.work + "child.txt";
    pid_t pid = fork();
    if (pid == 0) {
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<std::string> words = {"velmo-cli"};
      words.insert(words.end(), c.args.begin(), c.args.end());
      std::vector<char*> argv;
      for (auto& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      execv((test::BuildHome() + "velmo-cli").c_str(), argv.data());
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait (polling the files, nothing slowed) until the copies are there; the
    // command's first commit then waits for the reader.
    bool ready = false;
    for (int i = 0; i < 2400 && !ready; ++i) {
      ready = copiesOf(c.command).size() == c.copies;
      if (!ready) usleep(20 * 1000);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    sqlite3_exec(reader, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    ASSERT_TRUE(ready) << readAll(out);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::string error;
    for (const auto& [database, e] : copiesOf(c.command)) ASSERT_TRUE(RestoreBackup(e.name, NullCommandUi(), error)) << error;
    EXPECT_EQ(dumpBoth(h.dbDir), before);
  }
}

// A command that waited for another writer copies what that writer left: the
// copy is taken under the writer lock.
TEST(BackupFaults, TheCopyIsTakenAfterTheWriterTheCommandWaitedFor) {
  TestHome h;
  SetIni("main", "DBDir", h.dbDir);
  registerWeek(h);
  int fd = ::open(db::WriterLock::lockFilePath(h.dbDir).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const std::string out = h.work + "child.txt";
  pid_t pid = fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(o, 2);
    ::close(fd);
    execl((test::BuildHome() + "velmo-cli").c_str(), "velmo-cli", "delete", "--db", "this", "--from", "20050312", "--to",
          "20050312", "--yes", nullptr);
    _exit(127);
  }
  bool waiting = false;
  for (int i = 0; i < 1200 && !waiting; ++i) {
    waiting = readAll(out).find("書き込み中") != std::string::npos;
    if (!waiting) usleep(50 * 1000);
  }
  // The writer it waits for registers one more race of the day.
  h.sqlite("kova_this.mdb", "insert into T番組データ (レースキー, 年月日) values ('06050399', '20050312');");
  const Dump registered = dumpBoth(h.dbDir);
  ::close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(waiting) << readAll(out);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readAll(out);
  ASSERT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ where 年月日 = '20050312';"), "0\n");
  std::string error;
  ASSERT_TRUE(RestoreBackup(copiesOf("delete").at("kova_this.mdb").name, NullCommandUi(), error)) << error;
  EXPECT_EQ(dumpBoth(h.dbDir), registered);
}

// A rollback journal left by a writer that died mid-commit is rolled back before
// the copy; before, every copy failed with "attempt to write a readonly database".
TEST_F(BackupTest, AHotJournalIsRolledBackBeforeTheCopy) {
  auto leaveHotJournal = [&] {
    db::Workspace::get().reset();
    pid_t pid = fork();
    if (pid == 0) {
      sqlite3* c = nullptr;
      sqlite3_open((h.dbDir + "kova_this.mdb").c_str(), &c);
      sqlite3_exec(c,
                   "PRAGMA cache_size = 2; BEGIN; WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 20000) "
                   "INSERT INTO probe SELECT i FROM r;",
                   nullptr, nullptr, nullptr);
      _exit(0);  // dies in the middle of its transaction
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(FileExists(h.dbDir + "kova_this.mdb-journal"));
    ASSERT_GT(fileSize(h.dbDir + "kova_this.mdb-journal"), 0);
  };
  leaveHotJournal();
  ASSERT_TRUE(BackupBefore("master", {h.dbDir + "kova_this.mdb"}, NullCommandUi())) << h.logText();
  const std::string name = names("kova_this.mdb").at(0);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "attach '" + BackupDir() + name + "' as b; select count(*) from b.probe;"), "3\n");
  // A restore retried over a file with a hot journal works too.
  leaveHotJournal();
  std::string error;
  ASSERT_TRUE(RestoreBackup(name, NullCommandUi(), error)) << error;
  EXPECT_EQ(count(), "3\n");
}

TEST_F(BackupTest, RotationKeepsTheCopiesThatMatter) {
  SetIni("main", "BackupGenerations", "1");
  const std::string real = h.dbDir + "kova_this.mdb";
  // A statement that fails or changes nothing needs no copy; the try leaves no trace.
  EXPECT_FALSE(StatementMayWrite("delete from nosuch", real));
  EXPECT_FALSE(StatementMayWrite("delete from probe where x > 100", real));
  EXPECT_FALSE(StatementMayWrite("update probe set x = 7 where x = 0", real));
  EXPECT_TRUE(StatementMayWrite("delete from probe where x = 1", real));
  EXPECT_TRUE(StatementMayWrite("drop table probe", real));
  db::Workspace::get().reset();
  EXPECT_EQ(count(), "3\n");

  // Each command's newest copy stays, whatever the number kept.
  ASSERT_TRUE(BackupBefore("changeover", {real}, NullCommandUi()));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(BackupBefore("sql", {real}, NullCommandUi()));
  auto kept = ListBackups();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].command, "sql");
  EXPECT_EQ(kept[1].command, "changeover");

  // A copy stamped in the future (the clock set back since) is older than the
  // one taken now: the sequence orders them.
  std::filesystem::copy_file(kept[0].path, BackupDir() + "kova_this_sql_29991231-235959.mdb");
  ASSERT_TRUE(BackupBefore("sql", {real}, NullCommandUi()));
  kept = ListBackups();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].command, "sql");
  EXPECT_NE(kept[0].time, "29991231-235959");
  EXPECT_FALSE(FileExists(BackupDir() + "kova_this_sql_29991231-235959.mdb"));

  // A database of the same name in another folder has copies of its own, which
  // are never rotated with nor restored over the database folder's file.
  const std::string other = h.work + "kova_this.mdb";
  std::filesystem::copy_file(real, other);
  h.sqlite("kova_this.mdb", "delete from probe;");
  ASSERT_TRUE(BackupBefore("sql", {other}, NullCommandUi()));
  kept = ListBackups();
  ASSERT_EQ(kept.size(), 3u);
  std::string otherCopy;
  for (const auto& e : kept)
    if (e.database != "kova_this.mdb") otherCopy = e.name;
  ASSERT_EQ(otherCopy.rfind("kova_this@", 0), 0u) << otherCopy;
  std::string error;
  EXPECT_FALSE(RestoreBackup(otherCopy, NullCommandUi(), error));
  EXPECT_NE(error.find("--db"), std::string::npos) << error;
  EXPECT_FALSE(RestoreBackup(otherCopy, NullCommandUi(), error, real));
  EXPECT_EQ(count(), "0\n");
  ASSERT_TRUE(RestoreBackup(otherCopy, NullCommandUi(), error, other)) << error;
}

TEST_F(BackupTest, CopiesInOneSecondHaveNamesOfTheirOwnAndLeftoversGo) {
  // Parts of a process that is gone and a work copy of a killed compaction are
  // removed; the part of a live process stays.
  MakeDirAll(BackupDir());
  const std::string dead = BackupDir() + "kova_this.mdb.999999999-1.part";
  const std::string live = BackupDir() + "kova_this.mdb." + std::to_string(getppid()) + "-1.part";
  std::ofstream(dead) << "x";
  std::ofstream(live) << "x";
  std::ofstream(h.dbDir + "_wk.mdb");
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(BackupBefore("delete", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
    for (const auto& n : names("kova_this.mdb")) seen.insert(n);
  }
  EXPECT_GE(seen.size(), 4u);
  EXPECT_EQ(names("kova_this.mdb").size(), 3u);
  EXPECT_FALSE(FileExists(dead));
  EXPECT_TRUE(FileExists(live));
  EXPECT_FALSE(FileExists(h.dbDir + "_wk.mdb"));
}

// Compaction keeps the mode, owner and group of the file it replaces; copies get
// the mode of their database. A relative backup folder lies in the database folder.
TEST_F(BackupTest, ModesOwnersAndTheBackupFolder) {
  const std::string path = h.dbDir + "kova_this.mdb";
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
  }
  SetIni("main", "BackupDir", "saved");
  EXPECT_EQ(BackupDir(), h.dbDir + "saved/");
  ASSERT_EQ(DBcompact(NullCommandUi(), path), Outcome::Done) << h.logText();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  ASSERT_TRUE(BackupBefore("master", {path}, NullCommandUi()));
  for (const auto& e : ListBackups()) {
    ASSERT_EQ(::stat(e.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << e.name;
    EXPECT_EQ(e.path.rfind(h.dbDir + "saved/", 0), 0u);
  }
  EXPECT_EQ(count(), "3\n");
}

// A restore waiting for a reader of the database names the database.
TEST_F(BackupTest, ARestoreWaitingForAReaderNamesTheDatabase) {
  ASSERT_TRUE(BackupBefore("master", {h.dbDir + "kova_this.mdb"}, NullCommandUi()));
  const std::string name = names("kova_this.mdb").at(0);
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open((h.dbDir + "kova_this.mdb").c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM probe;", nullptr, nullptr, nullptr), SQLITE_OK);
  std::string error;
  EXPECT_FALSE(RestoreBackup(name, NullCommandUi(), error));
  sqlite3_exec(reader, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_NE(error.find("'" + h.dbDir + "kova_this.mdb'"), std::string::npos) << error;
  EXPECT_EQ(error.find(name), std::string::npos) << error;
}
