#include "startup/pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/text.h"

namespace velmo {

namespace {
int& channel() {
  static int fd = -1;
  return fd;
}
}  // namespace

void OpenParentPipe() { channel() = STDIN_FILENO; }

std::string ReadParentPipe() {
  int fd = channel();
  if (fd < 0) return {};
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return {};
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return {};
  int waiting = 0;
  if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) return {};
  std::string bytes(static_cast<size_t>(waiting), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  if (bytes.empty()) return {};
  // The text is converted from a buffer one byte longer than the data, whose
  // last byte is zero.
  return text::decodeCp932(bytes) + std::string(1, '\0');
}

void CloseParentPipe() {
  int fd = channel();
  if (fd < 0) return;
  channel() = -1;
  close(fd);
  // Keep descriptor 0 taken, so that no file opened later lands on it.
  int nul = open("/dev/null", O_RDONLY);
  if (nul > 0) {
    dup2(nul, fd);
    close(nul);
  }
}

}  // namespace velmo
