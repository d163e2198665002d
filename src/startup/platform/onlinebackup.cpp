#include "startup/platform/onlinebackup.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

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

// Copies every page of `from` into `to`, waiting while either file is locked.
void runBackup(sqlite3* to, sqlite3* from, const std::string& source, const std::string& target, double waitSeconds) {
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
    throw VelmoError(err::CannotLock, "データベース '" + source + "' はほかのプログラムで使用中です。(" + msg + ")");
  if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT)
    throw VelmoError(err::NotADatabase, "データベースの形式 '" + source + "' を認識できません。(" + msg + ")");
  throw VelmoError(err::CannotSave, "'" + target + "' に書き込めません。(" + msg + ")");
}

}  // namespace

void OnlineBackup::copy(const std::string& source, const std::string& target, double waitSeconds) {
  checkSource(source);
  std::error_code ec;
  std::filesystem::remove(target, ec);
  {
    Connection from(source, SQLITE_OPEN_READONLY);
    Connection to(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
      runBackup(to.get(), from.get(), source, target, waitSeconds);
    } catch (...) {
      std::filesystem::remove(target, ec);
      throw;
    }
  }
  // A copy of a file in WAL mode is in WAL mode too; a copy is one file.
  std::filesystem::remove(target + "-wal", ec);
  std::filesystem::remove(target + "-shm", ec);
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
  Connection from(source, SQLITE_OPEN_READONLY);
  Connection to(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  runBackup(to.get(), from.get(), source, target, waitSeconds);
}

}  // namespace velmo::db
