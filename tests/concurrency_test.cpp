// Writers to one database folder take turns; other runs and other programs at
// the same time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "startup/platform/db.h"
#include "startup/platform/writerlock.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;

namespace {

// A child process that holds the folder's writer lock for holdMs and then ends.
pid_t holdInChild(const std::string& folder, int holdMs) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    {
      db::WriterLock lock(folder, {0, nullptr, nullptr});
      char c = 1;
      if (write(ready[1], &c, 1) != 1) _exit(3);
      usleep(holdMs * 1000);
    }
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  if (read(ready[0], &c, 1) != 1) pid = -1;
  close(ready[0]);
  return pid;
}

}  // namespace

TEST(WriterLock, SecondWriterWaitsWithAMessageThenTakesItsTurnOrGivesUp) {
  TestHome home;
  // Held by another process: the second writer says so and gets the lock once it is free.
  pid_t child = holdInChild(home.dbDir, 1200);
  ASSERT_GT(child, 0);
  std::string waitMessage;
  auto t0 = std::chrono::steady_clock::now();
  {
    db::WriterLock lock(home.dbDir, {10, [&](const std::string& m) { waitMessage = m; }, nullptr});
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(waited, 800);
    EXPECT_NE(waitMessage.find("書き込み中です"), std::string::npos) << waitMessage;
    EXPECT_NE(waitMessage.find("プロセス " + std::to_string(child)), std::string::npos) << waitMessage;
    // Taking it again in the same process nests.
    db::WriterLock again(home.dbDir);
  }
  int status = 0;
  waitpid(child, &status, 0);

  // After the wait limit: an error naming the folder and the lock file.
  child = holdInChild(home.dbDir, 3000);
  ASSERT_GT(child, 0);
  try {
    db::WriterLock lock(home.dbDir, {1, nullptr, nullptr});
    ADD_FAILURE() << "taken while held";
  } catch (const VelmoError& e) {
    EXPECT_EQ(e.number(), err::FileInUse);
    EXPECT_NE(e.description().find(db::WriterLock::lockFilePath(home.dbDir)), std::string::npos) << e.description();
  }
  // A cancel ends the wait.
  try {
    db::WriterLock lock(home.dbDir, {30, nullptr, []() { return true; }});
    ADD_FAILURE() << "taken while held";
  } catch (const VelmoError& e) {
    EXPECT_EQ(e.number(), err::Cancelled);
  }
  kill(child, SIGKILL);  // a holder that dies frees the lock
  waitpid(child, &status, 0);
  db::WriterLock lock(home.dbDir, {1, nullptr, nullptr});
}

namespace {

long count(const TestHome& h, const std::string& sql) { return std::stol(h.sqlite("kova_this.mdb", sql)); }

// Another program's read transaction on kova_this.mdb, held until released.
class Reader {
 public:
  explicit Reader(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db_, "begin; select count(*) from sqlite_master;", nullptr, nullptr, nullptr);
  }
  void release() {
    if (!db_) return;
    sqlite3_exec(db_, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    db_ = nullptr;
  }
  ~Reader() { release(); }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace

TEST(Readers, RegistrationWaitsForAReaderAndNamesTheLockWhenItLastsTooLong) {
  TestHome h;
  G().gSilent = "1";
  fixture::RaceDay day;
  const std::string archive = fixture::WriteDayArchives(h.work, {"BAB"}, day).at(0);
  // The writer waits as long as an open does (20 s; a tenth of it here).
  SetWaitScale(0.1);
  db::Workspace::get().reset();
  {
    Reader reader(h.dbDir + "kova_this.mdb");
    std::thread later([&]() {
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      reader.release();
    });
    EXPECT_FALSE(regMainKOVA(archive, "T"));
    later.join();
  }
  EXPECT_EQ(count(h, "select count(*) from T番組データ;"), 36);

  // A reader that stays longer: the run fails with the lock error naming the file.
  SetWaitScale(0.01);
  db::Workspace::get().reset();
  h.sqlite("kova_this.mdb", "delete from T番組データ;");
  {
    Reader reader(h.dbDir + "kova_this.mdb");
    EXPECT_TRUE(regMainKOVA(archive, "T"));
  }
  EXPECT_EQ(count(h, "select count(*) from T番組データ;"), 0);
  std::string log = h.logText();
  EXPECT_NE(log.find("\t3050\t"), std::string::npos) << log;
  EXPECT_NE(log.find("kova_this.mdb"), std::string::npos) << log;
  EXPECT_EQ(log.find("データベース未接続"), std::string::npos) << log;
}

TEST(Readers, TwoRunsStartedTogetherBothRegisterAndNeitherTakesTheOthersFiles) {
  TestHome h;
  {
    std::ofstream ini(h.config + "kova.ini");
    ini << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\n";
  }
  fixture::RaceDay a, b;
  b.date = "20050319";
  MakeDirAll(h.work + "a/");
  MakeDirAll(h.work + "b/");
  const std::string archA = fixture::WriteDayArchives(h.work + "a/", {"BAB"}, a).at(0);
  const std::string archB = fixture::WriteDayArchives(h.work + "b/", {"BAB"}, b).at(0);
  const std::string cli = test::BuildHome() + "velmo-cli register ";
  std::string cmd = "(" + cli + "'" + archA + "' >/dev/null 2>&1; echo $? >'" + h.work + "rcA') & (" + cli + "'" + archB +
                    "' >/dev/null 2>&1; echo $? >'" + h.work + "rcB') & wait";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(h.work + "rcA"), "0\n");
  EXPECT_EQ(ReadFileBytes(h.work + "rcB"), "0\n");
  EXPECT_EQ(count(h, "select count(*) from T番組データ;"), 36);  // the fixture's race keys are the same on both days
  std::string log = h.logText();
  for (const auto& arch : {archA, archB})
    EXPECT_NE(log.find("データ読込完了[" + arch + "]"), std::string::npos) << arch << "\n" << log;
  // Both processes removed their run folders when they ended.
  EXPECT_TRUE(std::filesystem::is_empty(G().gTmpDir)) << G().gTmpDir;
}
