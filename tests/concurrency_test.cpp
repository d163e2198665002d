// Writers to one database folder take turns; other runs and other programs at
// the same time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "common/error.h"
#include "startup/platform/writerlock.h"
#include "tests/testenv.h"

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
