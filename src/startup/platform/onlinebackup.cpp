#include "startup/platform/onlinebackup.h"

#include <sqlite3.h>

#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/error.h"

namespace velmo::db {

namespace {

// One connection on one file, closed when it goes out of scope.
class Connection {
 public:
  Connection(const std::string& path, int flags) {
    int rc = sqlite3_open_v2(path.c_str(), &c_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = c_ ? sqlite3_errmsg(c_) : sqlite3_errstr(rc);
      sqlite3_close(c_);
      c_ = nullptr;
      throw VelmoError(err::CannotOpen, "データベース '" + path + "' を開けません。(" + msg + ")");
    }
  }
  ~Connection() { sqlite3_close_v2(c_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  sqlite3* get() const { return c_; }

 private:
  sqlite3* c_ = nullptr;
};

bool isSqliteFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[16] = {};
  in.read(head, 16);
  return in.gcount() == 16 && std::memcmp(head, "SQLite format 3", 16) == 0;
}

void checkSource(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw VelmoError(err::CannotFindFile, "ファイル '" + path + "' が見つかりません。");
  if (!isSqliteFile(path)) throw VelmoError(err::NotADatabase, "データベースの形式 '" + path + "' を認識できません。");
}

// A rollback journal left by a writer that died mid-commit ("hot") must be
// rolled back before the file can be read; a read-only connection cannot do it
// and fails with "attempt to write a readonly database". A connection that may
// write rolls it back on its first read. When even that fails, the error names
// the journal and the reason instead of the copy being written.
void recoverJournal(const std::string& path, double waitSeconds) {
  std::error_code ec;
  const std::string journal = path + "-journal";
  if (!std::filesystem::exists(journal, ec) || std::filesystem::file_size(journal, ec) == 0) return;
  sqlite3* c = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(c, static_cast<int>(waitSeconds * 1000));
    rc = sqlite3_exec(c, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  std::string msg = c ? sqlite3_errmsg(c) : sqlite3_errstr(rc);
  sqlite3_close_v2(c);
  if (rc == SQLITE_OK) return;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
    throw VelmoError(err::CannotLock, "データベース '" + path + "' はほかのプログラムで使用中です。(" + msg + ")");
  throw VelmoError(err::CannotOpen, "データベース '" + path + "' には異常終了したプログラムの書きかけのジャーナル '" + journal +
                                        "' が残っていて、それを戻せません。ファイルとフォルダに書き込めるか確かめてください。(" + msg + ")");
}

// Copies every page of `from` into `to`, waiting while either file is locked;
// `busyName` is the file named when the wait ends.
void runBackup(sqlite3* to, sqlite3* from, const std::string& source, const std::string& target, double waitSeconds,
               const std::string& busyName) {
  sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
  if (!b) throw VelmoError(err::EngineGeneric, "バックアップを開始できません: " + std::string(sqlite3_errmsg(to)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
  int rc;
  for (;;) {
    rc = sqlite3_backup_step(b, -1);
    if (rc == SQLITE_DONE || (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  sqlite3_backup_finish(b);
  if (rc == SQLITE_DONE) return;
  std::string msg = sqlite3_errstr(rc);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
    throw VelmoError(err::CannotLock, "データベース '" + busyName + "' はほかのプログラムで使用中です。(" + msg + ")");
  if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT)
    throw VelmoError(err::NotADatabase, "データベースの形式 '" + source + "' を認識できません。(" + msg + ")");
  throw VelmoError(err::CannotSave, "'" + target + "' に書き込めません。(" + msg + ")");
}

}  // namespace

void OnlineBackup::copy(const std::string& source, const std::string& target, double waitSeconds) {
  checkSource(source);
  recoverJournal(source, waitSeconds);
  std::error_code ec;
  std::filesystem::remove(target, ec);
  {
    Connection from(source, SQLITE_OPEN_READONLY);
    Connection to(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
      runBackup(to.get(), from.get(), source, target, waitSeconds, source);
    } catch (...) {
      std::filesystem::remove(target, ec);
      throw;
    }
  }
  // A copy of a file in WAL mode is in WAL mode too; a copy is one file.
  std::filesystem::remove(target + "-wal", ec);
  std::filesystem::remove(target + "-shm", ec);
  syncFile(target);
}

std::string OnlineBackup::integrityCheck(const std::string& path) {
  try {
    checkSource(path);
    Connection c(path, SQLITE_OPEN_READONLY);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(c.get(), "PRAGMA integrity_check", -1, &st, nullptr);
    std::string out;
    while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      if (!out.empty()) out += "\n";
      out += t ? t : "";
      rc = SQLITE_OK;
    }
    std::string msg = sqlite3_errmsg(c.get());
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return msg.empty() ? "integrity_check failed" : msg;
    return out.empty() ? "integrity_check gave no result" : out;
  } catch (const VelmoError& e) {
    return e.description();
  }
}

void OnlineBackup::restore(const std::string& source, const std::string& target, double waitSeconds) {
  checkSource(source);
  recoverJournal(target, waitSeconds);
  Connection from(source, SQLITE_OPEN_READONLY);
  Connection to(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // Readers of the target are what a restore waits for.
  runBackup(to.get(), from.get(), source, target, waitSeconds, target);
}

void OnlineBackup::recoverHotJournal(const std::string& path, double waitSeconds) { recoverJournal(path, waitSeconds); }

void OnlineBackup::syncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const std::string why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    throw VelmoError(err::CannotSave, "'" + path + "' をディスクに書き込めません。(" + why + ")");
  }
  ::close(fd);
}

void OnlineBackup::syncFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace velmo::db
