#include "startup/platform/workspace.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/database.h"
#include "startup/platform/errortable.h"
#include "startup/platform/mirrorlog.h"
#include "startup/platform/jetsql.h"

namespace fs = std::filesystem;

namespace velmo::db {

namespace {

const char* const kProps = "MSysVelmoProperties";

// An open descriptor of the file holding a flock() of the given kind, or empty.
std::shared_ptr<int> lockFile(const std::string& path, int operation) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  if (::flock(fd, operation | LOCK_NB) != 0) {
    ::close(fd);
    return {};
  }
  return std::shared_ptr<int>(new int(fd), [](int* p) {
    ::close(*p);
    delete p;
  });
}

std::string canonical(const std::string& path) {
  std::error_code ec;
  auto p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

}  // namespace

Workspace& Workspace::get() {
  static Workspace ws;
  return ws;
}

Workspace::~Workspace() { reset(); }

sqlite3* Workspace::connection() {
  if (!conn_) {
    // No memory statistics: they take a global lock on every allocation. (Only
    // possible before SQLite's first use in the process; later it is refused.)
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    int rc = sqlite3_open_v2(":memory:", &conn_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) raiseSqlite(conn_, rc, "workspace");
    sqlite3_limit(conn_, SQLITE_LIMIT_ATTACHED, 125);
    // A writer waits for other programs' read transactions as long as an open
    // waits for a lock (20 tries a second apart), then fails with the lock error.
    sqlite3_busy_timeout(conn_, static_cast<int>(20000 * WaitScale()));
    registerJetFunctions(conn_);
    MirrorLog::install(conn_);
  }
  return conn_;
}

void Workspace::reset() {
  clearCache();
  // Notes of autocommitted statements not yet written.
  if (conn_ && depth_ == 0 && MirrorLog::pending()) {
    try {
      exec(conn_, "BEGIN");
      MirrorLog::flush(conn_);
      exec(conn_, "COMMIT");
    } catch (const std::exception&) {
      sqlite3_exec(conn_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  if (conn_) {
    sqlite3_close_v2(conn_);
    conn_ = nullptr;
  }
  attached_.clear();
  textLinks_.clear();
  depth_ = 0;
  recordWrites_ = 0;
  ++schemaGen_;
}

sqlite3_stmt* Workspace::prepareCached(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second->get();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(connection(), sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(conn_, rc);
  if (cache_.size() > 400) clearCache();
  cache_.emplace(sql, std::make_unique<Stmt>(st));
  return st;
}

// The pragma is compiled into each statement: changing it makes SQLite prepare
// every statement again at its next run, so the state holds for all of them.
void Workspace::enterRecordWrites() {
  if (recordWrites_ == 0) exec(connection(), "PRAGMA ignore_check_constraints = ON");
  ++recordWrites_;
}

void Workspace::leaveRecordWrites() {
  if (recordWrites_ > 0 && --recordWrites_ == 0 && conn_)
    sqlite3_exec(conn_, "PRAGMA ignore_check_constraints = OFF", nullptr, nullptr, nullptr);
}

void Workspace::schemaChanged() {
  ++schemaGen_;
  clearCache();
}

void Workspace::clearCache() {
  cache_.clear();
  ++stmtGen_;
}

std::string Workspace::aliasOf(const std::string& path) const {
  auto it = attached_.find(canonical(path));
  return it == attached_.end() ? std::string() : it->second.alias;
}

std::shared_ptr<SchemaCache> Workspace::schemaCacheOf(const std::string& alias) const {
  for (const auto& [path, a] : attached_)
    if (a.alias == alias) return a.cache;
  return std::make_shared<SchemaCache>();
}

void Workspace::detach(std::map<std::string, Attachment>::iterator it) {
  clearCache();  // statements hold the schema; let it go
  std::string sql = "DETACH DATABASE " + it->second.alias;
  if (sqlite3_exec(conn_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
    attached_.erase(it);
    ++schemaGen_;
  }
}

void Workspace::closeFile(const std::string& path) {
  auto it = attached_.find(canonical(path));
  if (it != attached_.end() && it->second.refs <= 0 && depth_ == 0) detach(it);
}

std::string Workspace::attach(const std::string& path) {
  std::string key = canonical(path);
  auto it = attached_.find(key);
  struct stat fst {};
  bool statOk = stat(path.c_str(), &fst) == 0;
  if (it != attached_.end()) {
    // A file replaced or removed since it was attached is attached anew.
    bool same = statOk && it->second.dev == static_cast<uint64_t>(fst.st_dev) && it->second.ino == static_cast<uint64_t>(fst.st_ino);
    if (same || it->second.refs > 0 || depth_ > 0) {
      ++it->second.refs;
      it->second.lastUse = ++useCounter_;
      probeAttached(key, path);
      return it->second.alias;
    }
    detach(it);
  }
  std::error_code ec;
  if (!fs::is_regular_file(path, ec))
    raise(err::CannotFindFile, path);
  {
    std::ifstream in(path, std::ios::binary);
    char head[16] = {};
    in.read(head, 16);
    if (in.gcount() < 16 || std::memcmp(head, "SQLite format 3", 16) != 0)
      raise(err::NotADatabase, path);
  }
  sqlite3* c = connection();
  std::string alias = "db" + std::to_string(nextAlias_++);
  {
    Stmt st(c, "ATTACH DATABASE ? AS " + alias, path);
    st.bind(1, std::string_view(key));
    st.run(path);
  }
  // A page cache of 32 MB per file: with SQLite's default of 2 MB, every row
  // update of a file larger than that spills and reloads pages, and a year of
  // registered races makes each update many times slower.
  sqlite3_exec(c, ("PRAGMA " + alias + ".cache_size=-32768").c_str(), nullptr, nullptr, nullptr);
  // The journal stays SQLite's default rollback journal with synchronous=FULL:
  // a commit spanning several attached files must stay atomic (WAL cannot give
  // that) and a power cut must neither corrupt a file nor lose a commit.
  // Measured on a race day of 80 files, journal_mode TRUNCATE or PERSIST saves
  // nothing over DELETE; synchronous=NORMAL saves about a tenth but may corrupt
  // a rollback-journal database on a power cut, and OFF halves the time but
  // gives up every guarantee. Most of a small file's commit is the disk's sync.
  Attachment att;
  att.alias = alias;
  att.refs = 1;
  att.dev = statOk ? static_cast<uint64_t>(fst.st_dev) : 0;
  att.ino = statOk ? static_cast<uint64_t>(fst.st_ino) : 0;
  att.lastUse = ++useCounter_;
  att.cache = std::make_shared<SchemaCache>();
  att.openMark = lockFile(key, LOCK_SH);
  attached_[key] = att;
  ++schemaGen_;
  probeAttached(key, path);
  return alias;
}

// Reading the schema turns a locked or damaged file into an error at open.
void Workspace::probeAttached(const std::string& key, const std::string& path) {
  Attachment& att = attached_[key];
  sqlite3* c = connection();
  std::string probe = "PRAGMA " + att.alias + ".schema_version";
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(c, probe.c_str(), -1, &raw, nullptr);
  Stmt st(raw);
  if (rc == SQLITE_OK) rc = sqlite3_step(raw);
  int ext = sqlite3_extended_errcode(c);
  std::string msg = sqlite3_errmsg(c);
  int64_t version = rc == SQLITE_ROW ? st.int64(0) : -1;
  if (rc == SQLITE_ROW) {
    // Another program changed the schema since the last open: read the names again.
    if (att.schemaVersion != version) {
      if (att.schemaVersion >= 0) schemaChanged();
      att.schemaVersion = version;
    }
    return;
  }
  if (--att.refs <= 0 && depth_ == 0) detach(attached_.find(key));
  int prim = ext & 0xFF;
  if (prim == SQLITE_BUSY || prim == SQLITE_LOCKED)
    raise(err::CannotLock, path, " (" + msg + ")");
  raise(err::NotADatabase, path, " (" + msg + ")");
}

void Workspace::release(const std::string& path) {
  auto it = attached_.find(canonical(path));
  if (it == attached_.end()) return;
  if (--it->second.refs <= 0) detachPending();
}

void Workspace::detachPending() {
  if (depth_ > 0 || !conn_) return;
  // Files no handle uses stay attached for the next open (their schema is read
  // once); only the least recently used beyond a few are let go.
  const size_t keepIdle = 6;
  for (;;) {
    size_t idle = 0;
    auto oldest = attached_.end();
    for (auto it = attached_.begin(); it != attached_.end(); ++it) {
      if (it->second.refs > 0) continue;
      ++idle;
      if (oldest == attached_.end() || it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    if (idle <= keepIdle || oldest == attached_.end()) return;
    size_t before = attached_.size();
    detach(oldest);
    if (attached_.size() == before) return;
  }
}

void Workspace::beginTrans() {
  std::string sql = depth_ == 0 ? "BEGIN" : "SAVEPOINT velmo_sp" + std::to_string(depth_);
  int rc = sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(conn_, rc);
  ++depth_;
}

void Workspace::commitTrans() {
  if (depth_ == 0) raise(err::NoTransaction);
  if (sqlite3_get_autocommit(connection())) {
    // The engine already ended the transaction (a failure rolled it back).
    depth_ = 0;
    detachPending();
    raise(err::EngineGeneric, "トランザクションはすでに取り消されています。");
  }
  // The notes of the changed rows for the server copy commit with the rows.
  if (depth_ == 1) MirrorLog::flush(conn_);
  std::string sql = depth_ == 1 ? "COMMIT" : "RELEASE velmo_sp" + std::to_string(depth_ - 1);
  int rc = sqlite3_exec(conn_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(conn_, rc);
  --depth_;
  detachPending();
}

void Workspace::rollback() {
  if (depth_ == 0) raise(err::NoTransaction);
  if (sqlite3_get_autocommit(connection())) {
    depth_ = 0;
    detachPending();
    return;
  }
  // A rollback undoes schema work too: drop every cached shape and statement.
  schemaChanged();
  std::string sql = depth_ == 1 ? "ROLLBACK"
                                : "ROLLBACK TO velmo_sp" + std::to_string(depth_ - 1) + "; RELEASE velmo_sp" +
                                      std::to_string(depth_ - 1);
  int rc = sqlite3_exec(conn_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(conn_, rc);
  --depth_;
  detachPending();
}

void Workspace::rollbackTo(int depth) noexcept {
  while (depth_ > depth) {
    try {
      rollback();
    } catch (const std::exception&) {
      break;
    }
  }
}

DatabasePtr Workspace::openDatabase(const std::string& path) {
  std::string alias = attach(path);
  return std::make_shared<Database>(path, alias);
}

void Workspace::createDatabase(const std::string& path) {
  std::error_code ec;
  if (fs::exists(path, ec)) raise(err::DatabaseExists, path);
  sqlite3* c = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(c);
    raise(err::CannotOpen, path, " (作成できません)");
  }
  std::string sql = std::string("CREATE TABLE ") + text::quoteSqlIdent(kProps) + "(名前 TEXT PRIMARY KEY, 値 TEXT)";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(c);
  if (rc != SQLITE_OK) raise(err::CannotOpen, path, " (作成できません)");
}

void Workspace::compactDatabase(const std::string& source, const std::string& target) {
  std::error_code ec;
  if (fs::exists(target, ec)) raise(err::DatabaseExists, target);
  if (depth_ > 0) raise(err::EngineGeneric, "トランザクション中は最適化できません。");
  // The file must be closed everywhere: open in this program or another process
  // (their attachments hold a shared lock on it), it is refused.
  auto it = attached_.find(canonical(source));
  if (it != attached_.end()) {
    if (it->second.refs > 0) raise(err::DatabaseInUse, source);
    detach(it);
  }
  std::shared_ptr<int> exclusive;
  if (FileExists(source)) {
    exclusive = lockFile(source, LOCK_EX);
    if (!exclusive) raise(err::DatabaseInUse, source);
  }
  std::string alias = attach(source);
  std::string sql = "VACUUM " + alias + " INTO ?";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(connection(), sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, target.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
  }
  std::string msg = sqlite3_errmsg(conn_);
  sqlite3_finalize(st);
  release(source);
  closeFile(source);
  if (rc != SQLITE_DONE) raise(err::EngineGeneric, "最適化できません: " + msg);
}

std::string Workspace::textTableFor(const std::string& folder, const std::string& file) {
  bool reloaded = false;
  std::string q = textLinks_.tableFor(connection(), folder, file, reloaded);
  if (reloaded) schemaChanged();
  return q;
}

}  // namespace velmo::db
