#include "startup/platform/db.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/jetsql.h"

namespace fs = std::filesystem;

namespace velmo::db {

namespace {

const char* const kLinks = "MSysVelmoLinks";
const char* const kProps = "MSysVelmoProperties";

std::string qi(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '"') r += '"';
    r += c;
  }
  return r + "\"";
}

std::string qs(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') r += '\'';
    r += c;
  }
  return r + "'";
}

// Maps an SQLite failure onto the engine's error numbers.
[[noreturn]] void fail(sqlite3* db, int rc, const std::string& context = {}) {
  std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int ext = db ? sqlite3_extended_errcode(db) : rc;
  std::string where = context.empty() ? "" : " [" + context + "]";
  if (ext == SQLITE_CONSTRAINT_UNIQUE || ext == SQLITE_CONSTRAINT_PRIMARYKEY)
    throw VelmoError(err::DuplicateKey,
                     "インデックス、主キー、またはリレーションシップで値が重複しているため、変更できませんでした。" + where);
  if (ext == SQLITE_CONSTRAINT_CHECK) {
    size_t p = msg.find("velmo_size:");
    if (p != std::string::npos)
      throw VelmoError(err::FieldTooSmall, "フィールドのサイズが小さすぎます。[" + msg.substr(p + 11) + "]" + where);
    p = msg.find("velmo_num:");
    if (p != std::string::npos)
      throw VelmoError(err::ConversionError, "データ型の変換エラーです。[" + msg.substr(p + 10) + "]" + where);
  }
  if (msg.find("jet_type_mismatch") != std::string::npos)
    throw VelmoError(err::TypeMismatch, "抽出条件でデータ型が一致しません。" + where);
  if (msg.find("jet_invalid_argument") != std::string::npos)
    throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。" + where);
  int prim = rc & 0xFF;
  if (prim == SQLITE_BUSY || prim == SQLITE_LOCKED)
    throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、ロックできません。(" + msg + ")" + where);
  if (prim == SQLITE_NOTADB) throw VelmoError(err::NotADatabase, "データベースの形式を認識できません。(" + msg + ")" + where);
  if (prim == SQLITE_CANTOPEN || prim == SQLITE_CORRUPT)
    throw VelmoError(err::CannotOpen, "データベースを開けません。(" + msg + ")" + where);
  if (prim == SQLITE_READONLY) throw VelmoError(err::CannotSave, "データベースに書き込めません。(" + msg + ")" + where);
  if (msg.rfind("no such table", 0) == 0) throw VelmoError(err::NoSuchTable, msg + where);
  if (msg.rfind("no such column", 0) == 0) throw VelmoError(3061, msg + where);
  throw VelmoError(err::EngineGeneric, msg + where);
}

}  // namespace

void raiseSqliteError(sqlite3* db, int rc, const std::string& context) { fail(db, rc, context); }

namespace {

Value columnValue(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      return static_cast<int64_t>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
      return sqlite3_column_double(st, i);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      return std::string(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
    }
  }
}

void bindValue(sqlite3_stmt* st, int i, const Value& v) {
  if (auto* s = std::get_if<std::string>(&v))
    sqlite3_bind_text(st, i, s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
  else if (auto* d = std::get_if<double>(&v))
    sqlite3_bind_double(st, i, *d);
  else if (auto* n = std::get_if<int64_t>(&v))
    sqlite3_bind_int64(st, i, *n);
  else
    sqlite3_bind_null(st, i);
}

std::string canonical(const std::string& path) {
  std::error_code ec;
  auto p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

bool isNumericType(FieldType t) {
  return t == FieldType::Byte || t == FieldType::Integer || t == FieldType::Long || t == FieldType::Single ||
         t == FieldType::Double;
}

// Column definition with the checks that make SQLite reject what the original
// engine rejects: text longer than the field size, non-numeric text in numbers.
std::string columnDef(const FieldInfo& f) {
  std::string d = qi(f.name) + " " + declaredType(f);
  if (f.type == FieldType::Text) {
    int size = f.size > 0 ? f.size : 255;
    d += " CONSTRAINT " + qi("velmo_size:" + f.name) + " CHECK (length(" + qi(f.name) + ") <= " + std::to_string(size) + ")";
  } else if (isNumericType(f.type)) {
    d += " CONSTRAINT " + qi("velmo_num:" + f.name) + " CHECK (typeof(" + qi(f.name) + ") IN ('integer','real','null'))";
  }
  return d;
}

std::string indexSqlName(const std::string& table, const std::string& index) { return table + "." + index; }

}  // namespace

std::string toText(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* d = std::get_if<double>(&v)) return text::formatNumber(*d);
  if (auto* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
  return {};
}

std::optional<std::string> toOptText(const Value& v) {
  if (isNull(v)) return std::nullopt;
  return toText(v);
}

double toNumber(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* n = std::get_if<int64_t>(&v)) return static_cast<double>(*n);
  if (auto* s = std::get_if<std::string>(&v)) return std::strtod(s->c_str(), nullptr);
  return 0;
}

std::string declaredType(const FieldInfo& f) {
  switch (f.type) {
    case FieldType::Text:
      return "TEXT(" + std::to_string(f.size > 0 ? f.size : 255) + ")";
    case FieldType::Memo:
      return "LONGTEXT";
    case FieldType::Long:
      return "LONG_INT";
    case FieldType::Integer:
      return "SHORT_INT";
    case FieldType::Byte:
      return "BYTE_INT";
    case FieldType::Single:
      return "FLOAT";
    case FieldType::Double:
      return "DOUBLE";
    default:
      return "";
  }
}

FieldInfo fieldFromDeclared(const std::string& name, const std::string& declared) {
  FieldInfo f;
  f.name = name;
  std::string d = text::toUpperAscii(declared);
  if (d.rfind("TEXT(", 0) == 0) {
    f.type = FieldType::Text;
    f.size = std::atoi(d.c_str() + 5);
  } else if (d == "LONGTEXT") {
    f.type = FieldType::Memo;
  } else if (d == "LONG_INT") {
    f.type = FieldType::Long;
  } else if (d == "SHORT_INT") {
    f.type = FieldType::Integer;
  } else if (d == "BYTE_INT") {
    f.type = FieldType::Byte;
  } else if (d == "FLOAT") {
    f.type = FieldType::Single;
  } else if (d == "DOUBLE") {
    f.type = FieldType::Double;
  } else if (d.find("INT") != std::string::npos) {
    f.type = FieldType::Long;
  } else if (d.find("CHAR") != std::string::npos || d.find("TEXT") != std::string::npos || d.find("CLOB") != std::string::npos) {
    f.type = FieldType::Text;
    f.size = 255;
  } else if (d.find("REAL") != std::string::npos || d.find("FLOA") != std::string::npos || d.find("DOUB") != std::string::npos) {
    f.type = FieldType::Double;
  } else {
    f.type = FieldType::Unknown;
  }
  return f;
}

Stmt::~Stmt() { sqlite3_finalize(s_); }

// ---- Workspace ------------------------------------------------------------------

Workspace& Workspace::get() {
  static Workspace ws;
  return ws;
}

Workspace::~Workspace() { reset(); }

sqlite3* Workspace::connection() {
  if (!conn_) {
    int rc = sqlite3_open_v2(":memory:", &conn_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) fail(conn_, rc, "workspace");
    sqlite3_limit(conn_, SQLITE_LIMIT_ATTACHED, 125);
    sqlite3_busy_timeout(conn_, 0);
    registerJetFunctions(conn_);
  }
  return conn_;
}

void Workspace::reset() {
  clearCache();
  if (conn_) {
    sqlite3_close_v2(conn_);
    conn_ = nullptr;
  }
  attached_.clear();
  textTables_.clear();
  depth_ = 0;
  ++schemaGen_;
}

sqlite3_stmt* Workspace::prepareCached(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second->get();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(connection(), sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) fail(conn_, rc);
  if (cache_.size() > 400) clearCache();
  cache_.emplace(sql, std::make_unique<Stmt>(st));
  return st;
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
    throw VelmoError(err::CannotFindFile, "ファイル '" + path + "' が見つかりません。");
  {
    std::ifstream in(path, std::ios::binary);
    char head[16] = {};
    in.read(head, 16);
    if (in.gcount() < 16 || std::memcmp(head, "SQLite format 3", 16) != 0)
      throw VelmoError(err::NotADatabase, "データベースの形式 '" + path + "' を認識できません。");
  }
  sqlite3* c = connection();
  std::string alias = "db" + std::to_string(nextAlias_++);
  sqlite3_stmt* st = nullptr;
  std::string sql = "ATTACH DATABASE ? AS " + alias;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, path);
  sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
  rc = sqlite3_step(st);
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) fail(c, rc, path);
  Attachment att;
  att.alias = alias;
  att.refs = 1;
  att.dev = statOk ? static_cast<uint64_t>(fst.st_dev) : 0;
  att.ino = statOk ? static_cast<uint64_t>(fst.st_ino) : 0;
  att.lastUse = ++useCounter_;
  att.cache = std::make_shared<SchemaCache>();
  attached_[key] = att;
  ++schemaGen_;
  probeAttached(key, path);
  return alias;
}

// Reading the schema turns a locked or damaged file into an error at open.
void Workspace::probeAttached(const std::string& key, const std::string& path) {
  Attachment& att = attached_[key];
  sqlite3* c = connection();
  sqlite3_stmt* st = nullptr;
  std::string probe = "PRAGMA " + att.alias + ".schema_version";
  int rc = sqlite3_prepare_v2(c, probe.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(st);
  int ext = sqlite3_extended_errcode(c);
  std::string msg = sqlite3_errmsg(c);
  int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
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
    throw VelmoError(err::CannotLock, "データベース '" + path + "' はほかのプログラムで使用中です。(" + msg + ")");
  throw VelmoError(err::NotADatabase, "データベースの形式 '" + path + "' を認識できません。(" + msg + ")");
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
  if (rc != SQLITE_OK) fail(conn_, rc);
  ++depth_;
}

void Workspace::commitTrans() {
  if (depth_ == 0) throw VelmoError(3034, "トランザクションを開始せずにコミットまたはロールバックしようとしました。");
  if (sqlite3_get_autocommit(connection())) {
    // The engine already ended the transaction (a failure rolled it back).
    depth_ = 0;
    detachPending();
    throw VelmoError(err::EngineGeneric, "トランザクションはすでに取り消されています。");
  }
  std::string sql = depth_ == 1 ? "COMMIT" : "RELEASE velmo_sp" + std::to_string(depth_ - 1);
  int rc = sqlite3_exec(conn_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(conn_, rc);
  --depth_;
  detachPending();
}

void Workspace::rollback() {
  if (depth_ == 0) throw VelmoError(3034, "トランザクションを開始せずにコミットまたはロールバックしようとしました。");
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
  if (rc != SQLITE_OK) fail(conn_, rc);
  --depth_;
  detachPending();
}

DatabasePtr Workspace::openDatabase(const std::string& path) {
  std::string alias = attach(path);
  return std::make_shared<Database>(path, alias);
}

void Workspace::createDatabase(const std::string& path) {
  std::error_code ec;
  if (fs::exists(path, ec)) throw VelmoError(3204, "データベース '" + path + "' は既に存在します。");
  sqlite3* c = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(c);
    throw VelmoError(err::CannotOpen, "データベース '" + path + "' を作成できません。");
  }
  std::string sql = std::string("CREATE TABLE ") + qi(kProps) + "(名前 TEXT PRIMARY KEY, 値 TEXT)";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(c);
  if (rc != SQLITE_OK) throw VelmoError(err::CannotOpen, "データベース '" + path + "' を作成できません。");
}

void Workspace::compactDatabase(const std::string& source, const std::string& target) {
  std::error_code ec;
  if (fs::exists(target, ec)) throw VelmoError(3204, "データベース '" + target + "' は既に存在します。");
  if (depth_ > 0) throw VelmoError(err::EngineGeneric, "トランザクション中は最適化できません。");
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
  if (rc != SQLITE_DONE) throw VelmoError(err::EngineGeneric, "最適化できません: " + msg);
}

namespace {
// Parses one CSV line set (Shift_JIS text already decoded) into rows.
std::vector<std::vector<std::optional<std::string>>> parseCsv(const std::string& s) {
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::vector<std::optional<std::string>> row;
  std::string cur;
  bool quoted = false, inQuotes = false, any = false;
  auto endField = [&] {
    if (cur.empty() && !quoted) row.emplace_back(std::nullopt);
    else row.emplace_back(cur);
    cur.clear();
    quoted = false;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (inQuotes) {
      if (c == '"') {
        if (i + 1 < s.size() && s[i + 1] == '"') {
          cur += '"';
          ++i;
        } else {
          inQuotes = false;
        }
      } else {
        cur += c;
      }
      continue;
    }
    if (c == '"') {
      inQuotes = true;
      quoted = true;
      any = true;
    } else if (c == ',') {
      endField();
      any = true;
    } else if (c == '\r') {
    } else if (c == '\n') {
      if (any || !cur.empty()) {
        endField();
        rows.push_back(std::move(row));
      }
      row.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any || !cur.empty()) {
    endField();
    rows.push_back(std::move(row));
  }
  return rows;
}

bool looksInteger(const std::string& v) {
  if (v.empty()) return false;
  size_t i = (v[0] == '-' || v[0] == '+') ? 1 : 0;
  if (i >= v.size()) return false;
  for (; i < v.size(); ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return v.size() < 16;
}
}  // namespace

std::string Workspace::textTableFor(const std::string& folder, const std::string& file) {
  std::string name = file;
  // The text driver also accepts "name#txt" for "name.txt".
  if (name.find('.') == std::string::npos) {
    size_t h = name.rfind('#');
    if (h != std::string::npos) name[h] = '.';
  }
  std::string path = AddPathSep(folder) + name;
  struct stat stt {};
  if (stat(path.c_str(), &stt) != 0) throw VelmoError(3011, "オブジェクト '" + name + "' が見つかりませんでした。[" + path + "]");
  auto& tt = textTables_[path];
  if (!tt.name.empty() && tt.mtime == static_cast<int64_t>(stt.st_mtime) && tt.size == static_cast<int64_t>(stt.st_size))
    return "\"temp\"." + qi(tt.name);
  std::string content = text::decodeCp932(ReadFileBytes(path));
  auto rows = parseCsv(content);
  if (rows.empty()) throw VelmoError(3011, "テキストファイルに列名の行がありません。[" + path + "]");
  std::vector<std::string> header;
  for (auto& h : rows[0]) header.push_back(h.value_or(""));
  for (size_t i = 0; i < header.size(); ++i)
    if (header[i].empty()) header[i] = "F" + std::to_string(i + 1);
  // Like the text driver, a column whose every value is a whole number is numeric.
  std::vector<bool> numeric(header.size(), true);
  for (size_t r = 1; r < rows.size(); ++r)
    for (size_t c = 0; c < header.size(); ++c)
      if (c < rows[r].size() && rows[r][c] && !looksInteger(*rows[r][c])) numeric[c] = false;
  sqlite3* cn = connection();
  if (tt.name.empty()) tt.name = "velmo_text_" + std::to_string(nextText_++);
  std::string sql = "DROP TABLE IF EXISTS temp." + qi(tt.name);
  sqlite3_exec(cn, sql.c_str(), nullptr, nullptr, nullptr);
  sql = "CREATE TEMP TABLE " + qi(tt.name) + "(";
  for (size_t c = 0; c < header.size(); ++c) sql += (c ? "," : "") + qi(header[c]) + (numeric[c] ? " INTEGER" : " TEXT");
  sql += ")";
  int rc = sqlite3_exec(cn, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(cn, rc, path);
  sql = "INSERT INTO temp." + qi(tt.name) + " VALUES(";
  for (size_t c = 0; c < header.size(); ++c) sql += c ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* st = nullptr;
  rc = sqlite3_prepare_v2(cn, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) fail(cn, rc, path);
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c = 0; c < header.size(); ++c) {
      if (c < rows[r].size() && rows[r][c]) {
        if (numeric[c]) sqlite3_bind_int64(st, static_cast<int>(c + 1), std::stoll(*rows[r][c]));
        else sqlite3_bind_text(st, static_cast<int>(c + 1), rows[r][c]->c_str(), -1, SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(st, static_cast<int>(c + 1));
      }
    }
    rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) {
      sqlite3_finalize(st);
      fail(cn, rc, path);
    }
  }
  sqlite3_finalize(st);
  tt.mtime = static_cast<int64_t>(stt.st_mtime);
  tt.size = static_cast<int64_t>(stt.st_size);
  schemaChanged();
  return "\"temp\"." + qi(tt.name);
}

// ---- TableShape -------------------------------------------------------------------

int TableShape::find(const std::string& column) const {
  auto it = byFolded.find(text::foldName(column));
  return it == byFolded.end() ? -1 : it->second;
}

// ---- Database ---------------------------------------------------------------------

Database::Database(std::string path, std::string alias)
    : path_(std::move(path)), alias_(std::move(alias)), sc_(Workspace::get().schemaCacheOf(alias_)) {}

Database::~Database() { close(); }

void Database::close() {
  if (!open_) return;
  open_ = false;
  auto& ws = Workspace::get();
  for (const auto& p : linkedPaths_) ws.release(p);
  linkedPaths_.clear();
  ws.release(path_);
}

void Database::ensureOpen() const {
  if (!open_) throw VelmoError(3420, "オブジェクトが無効か、設定されていません。(データベースは閉じられています)");
}

namespace {
// The program's tables, without SQLite's and the layer's own.
const std::string kUserTables = "m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND m.name NOT LIKE 'MSysVelmo%'";
}  // namespace

void Database::loadNames() {
  auto& ws = Workspace::get();
  if (sc_->namesGen == ws.schemaGeneration()) return;
  sc_->tablesFolded.clear();
  sc_->links.clear();
  sc_->columnsFolded.clear();
  sc_->shapes.clear();
  sc_->indexes.clear();
  sc_->columnsGen = 0;  // the column names are read when a statement first needs them
  sqlite3* c = ws.connection();
  std::string sql = "SELECT m.name FROM " + alias_ + ".sqlite_master m WHERE m.type = 'table' AND " + kUserTables;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, path_);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sc_->tablesFolded.emplace(text::foldName(t), t);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) fail(c, rc, path_);
  sql = "SELECT 名前, 接続, ソース FROM " + alias_ + "." + qi(kLinks);
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto txt = [&](int i) {
        const unsigned char* v = sqlite3_column_text(st, i);
        return std::string(v ? reinterpret_cast<const char*>(v) : "");
      };
      std::string n = txt(0);
      sc_->links[n] = LinkInfo{txt(1), txt(2)};
      sc_->tablesFolded.emplace(text::foldName(n), n);
    }
    sqlite3_finalize(st);
  }
  sc_->namesGen = ws.schemaGeneration();
}

std::string Database::resolveTable(const std::string& name, TableShape* shapeOut) {
  ensureOpen();
  loadNames();
  auto it = sc_->tablesFolded.find(text::foldName(name));
  if (it == sc_->tablesFolded.end()) return {};
  const std::string real = it->second;
  auto& ws = Workspace::get();
  auto lkIt = sc_->links.find(real);
  std::string schema = alias_, table = real;
  if (lkIt != sc_->links.end()) {
    // Copied: attaching a target reloads the name tables.
    const LinkInfo link = lkIt->second;
    const std::string& cs = link.connect;
    std::string upper = text::toUpperAscii(cs);
    size_t p = upper.find("DATABASE=");
    std::string target = p == std::string::npos ? "" : cs.substr(p + 9);
    size_t semi = target.find(';');
    if (semi != std::string::npos) target = target.substr(0, semi);
    if (upper.rfind("TEXT;", 0) == 0) {
      std::string q = ws.textTableFor(target, link.source);
      loadNames();
      if (shapeOut) {
        schema = "temp";
        size_t dot = q.find("\".\"");
        table = q.substr(dot + 3, q.size() - dot - 4);
        *shapeOut = shape(table);  // filled below via the temp schema
      }
      return q;
    }
    std::string a = ws.aliasOf(target);
    if (a.empty()) {
      a = ws.attach(target);
      linkedPaths_.push_back(target);
      loadNames();
    }
    schema = a;
    table = link.source;
  }
  if (shapeOut) {
    shapeOut->schema = schema;
    shapeOut->name = table;
  }
  return "\"" + schema + "\"." + qi(table);
}

// The column names of every table, for resolving the names in statements.
void Database::loadColumns() {
  loadNames();
  if (sc_->columnsGen == sc_->namesGen) return;
  sc_->columnsFolded.clear();
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT p.name FROM " + alias_ + ".sqlite_master m JOIN pragma_table_info(m.name, '" + alias_ +
                    "') p WHERE m.type = 'table' AND " + kUserTables;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, path_);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string cn = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sc_->columnsFolded.emplace(text::foldName(cn), cn);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) fail(c, rc, path_);
  sc_->columnsGen = sc_->namesGen;
}

std::string Database::resolveColumn(const std::string& name) {
  loadColumns();
  std::string f = text::foldName(name);
  auto it = sc_->columnsFolded.find(f);
  if (it != sc_->columnsFolded.end()) return it->second;
  // Columns of text tables and linked tables. Resolving a link can reload the
  // name tables, so the loop runs over a copy of the link names.
  std::vector<std::string> linkNames;
  for (const auto& entry : sc_->links) linkNames.push_back(entry.first);
  for (const auto& ln : linkNames) {
    try {
      TableShape s;
      if (resolveTable(ln, &s).empty()) continue;
      const TableShape& sh = shape(ln);
      int i = sh.find(name);
      if (i >= 0) return sh.fields[static_cast<size_t>(i)].name;
    } catch (const VelmoError&) {
    }
  }
  return {};
}

const TableShape& Database::shape(const std::string& table) {
  loadNames();
  auto it = sc_->shapes.find(text::foldName(table));
  if (it != sc_->shapes.end()) return *it->second;
  auto sh = std::make_unique<TableShape>();
  std::string q;
  std::string schema, real;
  {
    auto tf = sc_->tablesFolded.find(text::foldName(table));
    if (tf == sc_->tablesFolded.end()) {
      // A temp text table asked for by its own name.
      schema = "temp";
      real = table;
    } else {
      TableShape tmp;
      q = resolveTable(table, &tmp);
      if (text::startsWith(q, "\"temp\".")) {
        schema = "temp";
        size_t dot = q.find("\".\"");
        real = q.substr(dot + 3, q.size() - dot - 4);
      } else {
        schema = tmp.schema;
        real = tmp.name;
      }
    }
  }
  sh->schema = schema;
  sh->name = real;
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT name, type FROM pragma_table_info(" + qs(real) + ", " + qs(schema) + ")";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, table);
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const unsigned char* ty = sqlite3_column_text(st, 1);
    sh->fields.push_back(fieldFromDeclared(n, ty ? reinterpret_cast<const char*>(ty) : ""));
    sh->byFolded.emplace(text::foldName(n), static_cast<int>(sh->fields.size() - 1));
  }
  sqlite3_finalize(st);
  if (sh->fields.empty()) throw VelmoError(err::NoSuchTable, "入力テーブル '" + table + "' が見つかりませんでした。");
  auto& ref = *sh;
  sc_->shapes[text::foldName(table)] = std::move(sh);
  return ref;
}

long Database::execute(const std::string& sql) {
  ensureOpen();
  auto st = translateJet(sql, *this);
  return runJetStatement(*this, *st);
}

std::unique_ptr<QueryResult> Database::openQuery(const std::string& sql) {
  ensureOpen();
  std::string t;
  // A bare table name opens the whole table.
  std::string trimmed = text::trimBlanks(sql);
  if (!trimmed.empty() && trimmed.find(' ') == std::string::npos && !resolveTable(trimmed).empty()) {
    t = "SELECT * FROM " + resolveTable(trimmed);
  } else {
    auto st = translateJet(sql, *this);
    if (st->kind != JetStatement::Kind::Select)
      throw VelmoError(err::InvalidOperation, "操作が無効です。(選択クエリ以外からレコードセットは開けません)");
    t = st->sql;
  }
  sqlite3* c = Workspace::get().connection();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, t.c_str(), static_cast<int>(t.size()), &st, nullptr);
  if (rc != SQLITE_OK) fail(c, rc);
  auto r = std::make_unique<QueryResult>();
  int n = sqlite3_column_count(st);
  for (int i = 0; i < n; ++i) r->columns.emplace_back(sqlite3_column_name(st, i));
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) row.push_back(columnValue(st, i));
    r->rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    int code = rc;
    sqlite3_finalize(st);
    fail(c, code);
  }
  sqlite3_finalize(st);
  return r;
}

std::unique_ptr<Recordset> Database::openTable(const std::string& name) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.find(text::foldName(name)) == sc_->tablesFolded.end())
    throw VelmoError(err::NoSuchTable, "入力テーブル '" + name + "' が見つかりませんでした。");
  return std::make_unique<Recordset>(shared_from_this(), shape(name));
}

std::vector<std::string> Database::tableNames() {
  ensureOpen();
  loadNames();
  std::vector<std::string> r;
  for (const auto& [f, n] : sc_->tablesFolded) r.push_back(n);
  std::sort(r.begin(), r.end());
  return r;
}

bool Database::hasTable(const std::string& name) {
  for (const auto& n : tableNames())
    if (n == name) return true;
  return false;
}

std::optional<LinkInfo> Database::linkInfo(const std::string& name) {
  loadNames();
  auto it = sc_->links.find(name);
  if (it == sc_->links.end()) return std::nullopt;
  return it->second;
}

std::vector<FieldInfo> Database::fields(const std::string& table) { return shape(table).fields; }

std::vector<IndexInfo> Database::indexes(const std::string& table) {
  loadNames();
  auto cached = sc_->indexes.find(text::foldName(table));
  if (cached != sc_->indexes.end()) return cached->second;
  std::vector<IndexInfo> r = readIndexes(table);
  sc_->indexes[text::foldName(table)] = r;
  return r;
}

std::vector<IndexInfo> Database::readIndexes(const std::string& table) {
  TableShape s;
  if (resolveTable(table, &s).empty()) throw VelmoError(err::NoSuchTable, "入力テーブル '" + table + "' が見つかりませんでした。");
  const TableShape& sh = shape(table);
  std::vector<IndexInfo> r;
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT name, \"unique\" FROM pragma_index_list(" + qs(sh.name) + ", " + qs(sh.schema) + ") ORDER BY seq DESC";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return r;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string sqlName = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    IndexInfo ix;
    std::string prefix = sh.name + ".";
    ix.name = text::startsWith(sqlName, prefix) ? sqlName.substr(prefix.size()) : sqlName;
    ix.unique = sqlite3_column_int(st, 1) != 0;
    ix.primary = ix.unique && ix.name == "PrimaryKey";
    std::string q2 = "SELECT name FROM pragma_index_info(" + qs(sqlName) + ", " + qs(sh.schema) + ") ORDER BY seqno";
    sqlite3_stmt* s2 = nullptr;
    if (sqlite3_prepare_v2(c, q2.c_str(), -1, &s2, nullptr) == SQLITE_OK) {
      while (sqlite3_step(s2) == SQLITE_ROW) {
        const unsigned char* v = sqlite3_column_text(s2, 0);
        ix.fields.emplace_back(v ? reinterpret_cast<const char*>(v) : "");
      }
      sqlite3_finalize(s2);
    }
    r.push_back(std::move(ix));
  }
  sqlite3_finalize(st);
  return r;
}

void Database::createTable(const TableDefSpec& def) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.count(text::foldName(def.name)))
    throw VelmoError(err::ObjectExists, "オブジェクト '" + def.name + "' は既に存在します。");
  if (def.fields.empty())
    throw VelmoError(3264, "フィールドがありません。テーブル '" + def.name + "' を追加できません。");
  std::string sql = "CREATE TABLE " + alias_ + "." + qi(def.name) + " (";
  for (size_t i = 0; i < def.fields.size(); ++i) sql += (i ? ", " : "") + columnDef(def.fields[i]);
  sql += ")";
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  // Create the table and its indexes as one step: a failure leaves no table.
  bool own = ws.transDepth() == 0;
  sqlite3_exec(c, "SAVEPOINT velmo_create", nullptr, nullptr, nullptr);
  auto undo = [&] {
    sqlite3_exec(c, "ROLLBACK TO velmo_create; RELEASE velmo_create", nullptr, nullptr, nullptr);
    ws.schemaChanged();
  };
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(c);
    undo();
    throw VelmoError(err::EngineGeneric, msg + " [" + def.name + "]");
  }
  for (const auto& ix : def.indexes) {
    std::string cols;
    for (size_t i = 0; i < ix.fields.size(); ++i) cols += (i ? ", " : "") + qi(ix.fields[i]);
    std::string isql = std::string("CREATE ") + (ix.primary || ix.unique ? "UNIQUE " : "") + "INDEX " + alias_ + "." +
                       qi(indexSqlName(def.name, ix.name)) + " ON " + qi(def.name) + " (" + cols + ")";
    rc = sqlite3_exec(c, isql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = sqlite3_errmsg(c);
      undo();
      throw VelmoError(err::EngineGeneric, msg + " [" + def.name + "." + ix.name + "]");
    }
  }
  sqlite3_exec(c, "RELEASE velmo_create", nullptr, nullptr, nullptr);
  (void)own;
  ws.schemaChanged();
}

void Database::deleteTable(const std::string& name) {
  ensureOpen();
  loadNames();
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  auto lk = sc_->links.find(name);
  std::string sql;
  if (lk != sc_->links.end()) {
    sql = "DELETE FROM " + alias_ + "." + qi(kLinks) + " WHERE 名前 = " + qs(name);
  } else {
    auto it = sc_->tablesFolded.find(text::foldName(name));
    if (it == sc_->tablesFolded.end()) throw VelmoError(err::NoSuchField, "項目 '" + name + "' はこのコレクションにありません。");
    sql = "DROP TABLE " + alias_ + "." + qi(it->second);
  }
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) fail(c, rc, name);
}

void Database::appendField(const std::string& table, const FieldInfo& f) {
  const TableShape& sh = shape(table);
  std::string sql = "ALTER TABLE \"" + sh.schema + "\"." + qi(sh.name) + " ADD COLUMN " + columnDef(f);
  auto& ws = Workspace::get();
  int rc = sqlite3_exec(ws.connection(), sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) fail(ws.connection(), rc, table + "." + f.name);
}

void Database::appendIndex(const std::string& table, const IndexInfo& ix) {
  const TableShape& sh = shape(table);
  for (const auto& e : indexes(table))
    if (e.name == ix.name) throw VelmoError(err::ObjectExists, "インデックス '" + ix.name + "' は既に存在します。");
  std::string cols;
  for (size_t i = 0; i < ix.fields.size(); ++i) cols += (i ? ", " : "") + qi(ix.fields[i]);
  if (ix.fields.empty()) throw VelmoError(3264, "インデックス '" + ix.name + "' にフィールドがありません。");
  std::string sql = std::string("CREATE ") + (ix.primary || ix.unique ? "UNIQUE " : "") + "INDEX \"" + sh.schema + "\"." +
                    qi(indexSqlName(sh.name, ix.name)) + " ON " + qi(sh.name) + " (" + cols + ")";
  auto& ws = Workspace::get();
  int rc = sqlite3_exec(ws.connection(), sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) fail(ws.connection(), rc, table + "." + ix.name);
}

void Database::createLink(const std::string& name, const std::string& connect, const std::string& source) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.count(text::foldName(name))) throw VelmoError(err::ObjectExists, "オブジェクト '" + name + "' は既に存在します。");
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  std::string sql = "CREATE TABLE IF NOT EXISTS " + alias_ + "." + qi(kLinks) + " (名前 TEXT PRIMARY KEY, 接続 TEXT, ソース TEXT)";
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, name);
  // The source must be reachable now, as the original engine checks on append.
  std::string upper = text::toUpperAscii(connect);
  size_t p = upper.find("DATABASE=");
  if (p == std::string::npos) throw VelmoError(3170, "インストール可能な ISAM が見つかりませんでした。[" + connect + "]");
  std::string target = connect.substr(p + 9);
  if (upper.rfind("TEXT;", 0) != 0 && !FileExists(target))
    throw VelmoError(err::CannotFindFile, "ファイル '" + target + "' が見つかりません。");
  sql = "INSERT INTO " + alias_ + "." + qi(kLinks) + " VALUES (" + qs(name) + ", " + qs(connect) + ", " + qs(source) + ")";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) fail(c, rc, name);
}

std::string Database::getProperty(const std::string& name) {
  ensureOpen();
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT 値 FROM " + alias_ + "." + qi(kProps) + " WHERE 名前 = ?";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw VelmoError(err::PropertyNotFound, "プロパティ '" + name + "' が見つかりません。");
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) != SQLITE_ROW) {
    sqlite3_finalize(st);
    throw VelmoError(err::PropertyNotFound, "プロパティ '" + name + "' が見つかりません。");
  }
  const unsigned char* v = sqlite3_column_text(st, 0);
  std::string r = v ? reinterpret_cast<const char*>(v) : "";
  sqlite3_finalize(st);
  return r;
}

void Database::setProperty(const std::string& name, const std::string& value) {
  getProperty(name);  // 3270 when missing
  sqlite3* c = Workspace::get().connection();
  std::string sql = "UPDATE " + alias_ + "." + qi(kProps) + " SET 値 = " + qs(value) + " WHERE 名前 = " + qs(name);
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, name);
}

void Database::createProperty(const std::string& name, const std::string& value) {
  ensureOpen();
  sqlite3* c = Workspace::get().connection();
  std::string sql = "CREATE TABLE IF NOT EXISTS " + alias_ + "." + qi(kProps) + " (名前 TEXT PRIMARY KEY, 値 TEXT)";
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, name);
  sql = "INSERT OR REPLACE INTO " + alias_ + "." + qi(kProps) + " VALUES (" + qs(name) + ", " + qs(value) + ")";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(c, rc, name);
}

// ---- Recordset --------------------------------------------------------------------

Recordset::Recordset(DatabasePtr db, const TableShape& shape) : db_(std::move(db)), shape_(shape) {
  qualified_ = "\"" + shape_.schema + "\"." + qi(shape_.name);
  row_.assign(shape_.fields.size(), std::monostate{});
  std::string cols, marks, sets;
  for (size_t i = 0; i < shape_.fields.size(); ++i) {
    cols += (i ? "," : "") + qi(shape_.fields[i].name);
    marks += i ? ",?" : "?";
    sets += (i ? "," : "") + qi(shape_.fields[i].name) + "=?";
  }
  insertSql_ = "INSERT INTO " + qualified_ + " (" + cols + ") VALUES (" + marks + ")";
  updateSql_ = "UPDATE " + qualified_ + " SET " + sets + " WHERE rowid = ?";
}

Recordset::~Recordset() = default;

void Recordset::setIndex(const std::string& name) {
  indexCols_.clear();
  for (const auto& ix : db_->indexes(shape_.name == "" ? "" : shape_.name)) {
    if (ix.name == name) {
      indexCols_ = ix.fields;
      break;
    }
  }
  if (indexCols_.empty()) {
    // The recordset may be on a linked table: look the index up through the target.
    throw VelmoError(3800, "'" + name + "' はこのテーブルのインデックスではありません。[" + shape_.name + "]");
  }
  stmts_[0] = nullptr;
  seekSql_ = "SELECT rowid, * FROM " + qualified_ + " WHERE ";
  for (size_t i = 0; i < indexCols_.size(); ++i) seekSql_ += (i ? " AND " : "") + qi(indexCols_[i]) + " = ?";
  rowids_.clear();
  pos_ = 0;
}

void Recordset::loadRow(int64_t rowid) {
  sqlite3_stmt* st = Workspace::get().prepareCached("SELECT rowid, * FROM " + qualified_ + " WHERE rowid = ?");
  sqlite3_bind_int64(st, 1, rowid);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    rowid_ = sqlite3_column_int64(st, 0);
    for (size_t i = 0; i < row_.size(); ++i) row_[i] = columnValue(st, static_cast<int>(i + 1));
    current_ = true;
  } else {
    current_ = false;
  }
  sqlite3_reset(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(Workspace::get().connection(), rc, shape_.name);
}

sqlite3_stmt* Recordset::cached(int slot, const std::string& sql) {
  auto& ws = Workspace::get();
  if (stmtGen_ != ws.statementGeneration()) {
    for (auto& p : stmts_) p = nullptr;
    stmtGen_ = ws.statementGeneration();
  }
  if (!stmts_[slot]) {
    uint64_t before = ws.statementGeneration();
    sqlite3_stmt* st = ws.prepareCached(sql);
    if (ws.statementGeneration() != before)
      for (auto& p : stmts_) p = nullptr;  // the cache was emptied meanwhile
    stmts_[slot] = st;
    stmtGen_ = ws.statementGeneration();
  }
  return stmts_[slot];
}

void Recordset::seek(const std::vector<Value>& keys) {
  if (seekSql_.empty()) throw VelmoError(3019, "インデックスが設定されていないため、操作が無効です。");
  if (mode_ != Mode::None) mode_ = Mode::None;
  sqlite3_stmt* st = cached(0, seekSql_);
  sqlite3_reset(st);
  // Text is bound without a copy: every bound value must outlive the step, so no
  // temporaries here (a missing key value binds the one static Null).
  static const Value kNull{};
  for (size_t i = 0; i < indexCols_.size(); ++i) bindValue(st, static_cast<int>(i + 1), i < keys.size() ? keys[i] : kNull);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    rowid_ = sqlite3_column_int64(st, 0);
    for (size_t i = 0; i < row_.size(); ++i) row_[i] = columnValue(st, static_cast<int>(i + 1));
    noMatch_ = false;
    current_ = true;
  } else {
    noMatch_ = true;
    current_ = false;
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(Workspace::get().connection(), rc, shape_.name);
}

void Recordset::addNew() {
  std::fill(row_.begin(), row_.end(), Value{});
  mode_ = Mode::Add;
}

void Recordset::edit() {
  if (!current_) throw VelmoError(err::NoCurrentRecord, "カレント レコードがありません。");
  mode_ = Mode::Edit;
}

int Recordset::columnIndex(const std::string& column) const {
  int i = shape_.find(column);
  if (i < 0) throw VelmoError(err::NoSuchField, "項目 '" + column + "' はこのコレクションにありません。[" + shape_.name + "]");
  return i;
}

void Recordset::set(int column, Value v) {
  if (mode_ == Mode::None) throw VelmoError(3020, "Edit メソッドまたは AddNew メソッドを使わずに Update を実行しました。");
  row_[static_cast<size_t>(column)] = std::move(v);
}

Value Recordset::get(int column) const {
  if (!current_ && mode_ == Mode::None) throw VelmoError(err::NoCurrentRecord, "カレント レコードがありません。");
  return row_[static_cast<size_t>(column)];
}

void Recordset::update() {
  auto& ws = Workspace::get();
  sqlite3_stmt* st;
  if (mode_ == Mode::Add) {
    st = cached(1, insertSql_);
  } else if (mode_ == Mode::Edit) {
    st = cached(2, updateSql_);
    sqlite3_bind_int64(st, static_cast<int>(row_.size() + 1), rowid_);
  } else {
    throw VelmoError(3020, "Edit メソッドまたは AddNew メソッドを使わずに Update を実行しました。");
  }
  for (size_t i = 0; i < row_.size(); ++i) bindValue(st, static_cast<int>(i + 1), row_[i]);
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) {
    int code = rc;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    mode_ = Mode::None;
    fail(ws.connection(), code, shape_.name);
  }
  if (mode_ == Mode::Add) rowid_ = sqlite3_last_insert_rowid(ws.connection());
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  // Values of numeric columns come back converted, as the engine stores them.
  for (size_t i = 0; i < row_.size(); ++i) {
    auto t = shape_.fields[i].type;
    if (isNumericType(t)) {
      if (auto* s = std::get_if<std::string>(&row_[i])) row_[i] = std::strtod(s->c_str(), nullptr);
    }
  }
  current_ = true;
  mode_ = Mode::None;
}

void Recordset::moveFirst() {
  rowids_.clear();
  std::string order;
  for (size_t i = 0; i < indexCols_.size(); ++i) order += (i ? "," : "") + qi(indexCols_[i]);
  std::string sql = "SELECT rowid FROM " + qualified_ + (order.empty() ? "" : " ORDER BY " + order);
  sqlite3_stmt* st = Workspace::get().prepareCached(sql);
  while (sqlite3_step(st) == SQLITE_ROW) rowids_.push_back(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  pos_ = 0;
  if (!rowids_.empty()) loadRow(rowids_[0]);
  else current_ = false;
}

void Recordset::moveNext() {
  if (pos_ < rowids_.size()) ++pos_;
  if (pos_ < rowids_.size()) loadRow(rowids_[pos_]);
  else current_ = false;
}

long Recordset::recordCount() {
  sqlite3_stmt* st = Workspace::get().prepareCached("SELECT count(*) FROM " + qualified_);
  long n = 0;
  if (sqlite3_step(st) == SQLITE_ROW) n = static_cast<long>(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  return n;
}

void Recordset::deleteRow() {
  if (!current_) throw VelmoError(err::NoCurrentRecord, "カレント レコードがありません。");
  sqlite3_stmt* st = Workspace::get().prepareCached("DELETE FROM " + qualified_ + " WHERE rowid = ?");
  sqlite3_bind_int64(st, 1, rowid_);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) fail(Workspace::get().connection(), rc, shape_.name);
  current_ = false;
}

// ---- QueryResult ------------------------------------------------------------------

int QueryResult::columnIndex(const std::string& name) const {
  std::string f = text::foldName(name);
  for (size_t i = 0; i < columns.size(); ++i)
    if (text::foldName(columns[i]) == f) return static_cast<int>(i);
  throw VelmoError(err::NoSuchField, "項目 '" + name + "' はこのコレクションにありません。");
}

Value QueryResult::get(int column) const {
  if (pos_ >= rows.size()) throw VelmoError(err::NoCurrentRecord, "カレント レコードがありません。");
  return rows[pos_][static_cast<size_t>(column)];
}

}  // namespace velmo::db
