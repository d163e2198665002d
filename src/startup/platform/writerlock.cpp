#include "startup/platform/writerlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "common/error.h"

namespace velmo::db {

namespace {

struct Held {
  int fd = -1;
  int count = 0;
};

std::mutex& mu() {
  static std::mutex m;
  return m;
}
std::map<std::string, Held>& held() {
  static std::map<std::string, Held> h;
  return h;
}
int& defaultWait() {
  static int w = 600;
  return w;
}

std::string folderKey(const std::string& folder) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(folder.empty() ? "." : folder, ec);
  std::string s = ec ? folder : p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string holderOf(int fd) {
  char buf[32] = {};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  std::string s = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

void WriterLock::setDefaultWaitSeconds(int seconds) { defaultWait() = seconds; }
int WriterLock::defaultWaitSeconds() { return defaultWait(); }

std::string WriterLock::lockFilePath(const std::string& folder) { return folderKey(folder) + "/velmo-writer.lock"; }

WriterLock::WriterLock(const std::string& folder) : WriterLock(folder, Options{defaultWait(), nullptr, nullptr}) {}

WriterLock::WriterLock(const std::string& folder, const Options& o) : key_(folderKey(folder)) {
  {
    std::lock_guard<std::mutex> g(mu());
    auto it = held().find(key_);
    if (it != held().end()) {
      ++it->second.count;
      return;
    }
  }
  const std::string path = key_ + "/velmo-writer.lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    throw VelmoError(err::FileInUse, "データベースフォルダの書き込みロックを作れません。[" + path + "]");
  const auto start = std::chrono::steady_clock::now();
  bool announced = false;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    std::string holder = holderOf(fd);
    std::string who = holder.empty() ? "別の Velmo" : "別の Velmo（プロセス " + holder + "）";
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    if (waited >= o.waitSeconds) {
      ::close(fd);
      throw VelmoError(err::FileInUse, who + "がデータベースフォルダ「" + key_ + "」に書き込み中です。" +
                                           std::to_string(o.waitSeconds) + "秒待ちましたが終わらないため中止します。[" +
                                           path + "]");
    }
    if (!announced) {
      announced = true;
      if (o.onWait)
        o.onWait(who + "がデータベースフォルダ「" + key_ + "」に書き込み中です。終わるまで待ちます（最長" +
                 std::to_string(o.waitSeconds) + "秒）。");
    }
    if (o.cancelled && o.cancelled()) {
      ::close(fd);
      throw VelmoError(err::Cancelled, "キャンセルされました。[" + key_ + "]");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // The holder's process number, for the message of a waiting writer.
  std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    ssize_t w = ::pwrite(fd, pid.data(), pid.size(), 0);
    (void)w;
  }
  std::lock_guard<std::mutex> g(mu());
  held()[key_] = Held{fd, 1};
}

namespace {
std::function<void(const std::string&)>& releaseHook() {
  static std::function<void(const std::string&)> h;
  return h;
}
thread_local bool inReleaseHook = false;
}  // namespace

void WriterLock::setReleaseHook(std::function<void(const std::string& folder)> hook) { releaseHook() = std::move(hook); }

WriterLock::~WriterLock() {
  // The last turn of the process: its hook still holds the lock (and may take it again).
  bool last = false;
  {
    std::lock_guard<std::mutex> g(mu());
    auto it = held().find(key_);
    last = it != held().end() && it->second.count == 1;
  }
  if (last && releaseHook() && !inReleaseHook) {
    inReleaseHook = true;
    try {
      releaseHook()(key_);
    } catch (...) {
    }
    inReleaseHook = false;
  }
  std::lock_guard<std::mutex> g(mu());
  auto it = held().find(key_);
  if (it == held().end()) return;
  if (--it->second.count > 0) return;
  ::flock(it->second.fd, LOCK_UN);
  ::close(it->second.fd);
  held().erase(it);
}

}  // namespace velmo::db
