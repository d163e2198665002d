// The parent channel read on descriptor 0: each poll gives what waits at that
// moment, and anything that is not a pipe gives nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "startup/pipe.h"

using namespace velmo;

namespace {

// Puts a descriptor on standard input for the test and restores the real one.
class StdinSwap {
 public:
  explicit StdinSwap(int fd) : saved_(dup(0)) {
    dup2(fd, 0);
    close(fd);
  }
  ~StdinSwap() {
    CloseParentPipe();
    dup2(saved_, 0);
    close(saved_);
  }

 private:
  int saved_;
};

void put(int fd, const std::string& s) { ASSERT_EQ(write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
bool hasEnd(const std::string& t) { return t.find("END") != std::string::npos; }

}  // namespace

TEST(ParentPipe, EachPollReadsWhatWaits) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  StdinSwap swap(p[0]);
  OpenParentPipe();
  EXPECT_EQ(ReadParentPipe(), "");  // nothing written yet, and the read does not block
  put(p[1], "EN");
  std::string first = ReadParentPipe();
  EXPECT_EQ(first, std::string("EN") + '\0');
  put(p[1], "D");
  std::string second = ReadParentPipe();
  EXPECT_FALSE(hasEnd(first) || hasEnd(second));  // END in two pieces is no cancel
  put(p[1], "end");
  EXPECT_FALSE(hasEnd(ReadParentPipe()));
  put(p[1], "xxENDyy");
  EXPECT_TRUE(hasEnd(ReadParentPipe()));
  put(p[1], "\x83\x65\x83\x58\x83\x67");  // Shift_JIS テスト
  EXPECT_EQ(ReadParentPipe(), std::string("テスト") + '\0');
  // The parent has gone: nothing waits.
  close(p[1]);
  EXPECT_EQ(ReadParentPipe(), "");
  // After closing, the channel is forgotten.
  CloseParentPipe();
  EXPECT_EQ(ReadParentPipe(), "");
}

TEST(ParentPipe, StandardInputThatIsNotAPipeGivesNothing) {
  char path[] = "/tmp/velmo-pipe-XXXXXX";
  int f = mkstemp(path);
  ASSERT_GE(f, 0);
  put(f, "END");
  lseek(f, 0, SEEK_SET);
  unlink(path);
  StdinSwap swap(f);
  OpenParentPipe();
  EXPECT_EQ(ReadParentPipe(), "");
}
