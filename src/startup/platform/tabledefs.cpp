// Table definitions of a database: fields, indexes, links and properties.
#include "startup/platform/database.h"

#include <sqlite3.h>

#include <algorithm>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/queryresult.h"
#include "startup/platform/recordset.h"
#include "startup/platform/stmt.h"

namespace velmo::db {

namespace {

const char* const kLinks = "MSysVelmoLinks";
const char* const kProps = "MSysVelmoProperties";

// Column definition with the checks that make SQLite reject what the original
// engine rejects: text longer than the field size, non-numeric text in numbers.
std::string columnDef(const FieldInfo& f) {
  const std::string q = text::quoteSqlIdent(f.name);
  std::string d = q + " " + declaredType(f);
  if (f.type == FieldType::Text) {
    int size = f.size > 0 ? f.size : 255;
    d += " CONSTRAINT " + text::quoteSqlIdent("velmo_size:" + f.name) + " CHECK (length(" + q + ") <= " + std::to_string(size) + ")";
  } else if (isNumericType(f.type)) {
    d += " CONSTRAINT " + text::quoteSqlIdent("velmo_num:" + f.name) + " CHECK (typeof(" + q + ") IN ('integer','real','null'))";
  }
  return d;
}

std::string indexSqlName(const std::string& table, const std::string& index) { return table + "." + index; }

}  // namespace

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
  if (resolveTable(table, &s).empty()) raise(err::NoSuchTable, table);
  const TableShape& sh = shape(table);
  std::vector<IndexInfo> r;
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT name, \"unique\" FROM pragma_index_list(" + text::quoteSqlText(sh.name) + ", " + text::quoteSqlText(sh.schema) + ") ORDER BY seq DESC";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return r;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string sqlName = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    IndexInfo ix;
    std::string prefix = sh.name + ".";
    ix.name = text::startsWith(sqlName, prefix) ? sqlName.substr(prefix.size()) : sqlName;
    ix.unique = sqlite3_column_int(st, 1) != 0;
    ix.primary = ix.unique && ix.name == "PrimaryKey";
    std::string q2 = "SELECT name FROM pragma_index_info(" + text::quoteSqlText(sqlName) + ", " + text::quoteSqlText(sh.schema) + ") ORDER BY seqno";
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
    raise(err::ObjectExists, def.name);
  if (def.fields.empty())
    raise(err::NoFields, def.name);
  std::string sql = "CREATE TABLE " + alias_ + "." + text::quoteSqlIdent(def.name) + " (";
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
    raise(err::EngineGeneric, msg, " [" + def.name + "]");
  }
  for (const auto& ix : def.indexes) {
    std::string cols;
    for (size_t i = 0; i < ix.fields.size(); ++i) cols += (i ? ", " : "") + text::quoteSqlIdent(ix.fields[i]);
    std::string isql = std::string("CREATE ") + (ix.primary || ix.unique ? "UNIQUE " : "") + "INDEX " + alias_ + "." +
                       text::quoteSqlIdent(indexSqlName(def.name, ix.name)) + " ON " + text::quoteSqlIdent(def.name) + " (" + cols + ")";
    rc = sqlite3_exec(c, isql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = sqlite3_errmsg(c);
      undo();
      raise(err::EngineGeneric, msg, " [" + def.name + "." + ix.name + "]");
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
    sql = "DELETE FROM " + alias_ + "." + text::quoteSqlIdent(kLinks) + " WHERE 名前 = " + text::quoteSqlText(name);
  } else {
    auto it = sc_->tablesFolded.find(text::foldName(name));
    if (it == sc_->tablesFolded.end()) raise(err::NoSuchField, name);
    sql = "DROP TABLE " + alias_ + "." + text::quoteSqlIdent(it->second);
  }
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
}

void Database::appendField(const std::string& table, const FieldInfo& f) {
  const TableShape& sh = shape(table);
  std::string sql = "ALTER TABLE \"" + sh.schema + "\"." + text::quoteSqlIdent(sh.name) + " ADD COLUMN " + columnDef(f);
  auto& ws = Workspace::get();
  int rc = sqlite3_exec(ws.connection(), sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) raiseSqlite(ws.connection(), rc, table + "." + f.name);
}

void Database::appendIndex(const std::string& table, const IndexInfo& ix) {
  const TableShape& sh = shape(table);
  for (const auto& e : indexes(table))
    if (e.name == ix.name) raise(err::ObjectExists, ix.name);
  std::string cols;
  for (size_t i = 0; i < ix.fields.size(); ++i) cols += (i ? ", " : "") + text::quoteSqlIdent(ix.fields[i]);
  if (ix.fields.empty()) raise(err::NoFields, ix.name);
  std::string sql = std::string("CREATE ") + (ix.primary || ix.unique ? "UNIQUE " : "") + "INDEX \"" + sh.schema + "\"." +
                    text::quoteSqlIdent(indexSqlName(sh.name, ix.name)) + " ON " + text::quoteSqlIdent(sh.name) + " (" + cols + ")";
  auto& ws = Workspace::get();
  int rc = sqlite3_exec(ws.connection(), sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) raiseSqlite(ws.connection(), rc, table + "." + ix.name);
}

void Database::createLink(const std::string& name, const std::string& connect, const std::string& source) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.count(text::foldName(name))) raise(err::ObjectExists, name);
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  std::string sql = "CREATE TABLE IF NOT EXISTS " + alias_ + "." + text::quoteSqlIdent(kLinks) + " (名前 TEXT PRIMARY KEY, 接続 TEXT, ソース TEXT)";
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
  // The source must be reachable now, as the original engine checks on append.
  std::string upper = text::toUpperAscii(connect);
  size_t p = upper.find("DATABASE=");
  if (p == std::string::npos) raise(err::NoIsam, connect);
  std::string target = connect.substr(p + 9);
  if (upper.rfind("TEXT;", 0) != 0 && !FileExists(target))
    raise(err::CannotFindFile, target);
  sql = "INSERT INTO " + alias_ + "." + text::quoteSqlIdent(kLinks) + " VALUES (" + text::quoteSqlText(name) + ", " + text::quoteSqlText(connect) + ", " + text::quoteSqlText(source) + ")";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
}

std::string Database::getProperty(const std::string& name) {
  ensureOpen();
  sqlite3* c = Workspace::get().connection();
  std::string sql = "SELECT 値 FROM " + alias_ + "." + text::quoteSqlIdent(kProps) + " WHERE 名前 = ?";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    raise(err::PropertyNotFound, name);
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) != SQLITE_ROW) {
    sqlite3_finalize(st);
    raise(err::PropertyNotFound, name);
  }
  const unsigned char* v = sqlite3_column_text(st, 0);
  std::string r = v ? reinterpret_cast<const char*>(v) : "";
  sqlite3_finalize(st);
  return r;
}

void Database::setProperty(const std::string& name, const std::string& value) {
  getProperty(name);  // 3270 when missing
  sqlite3* c = Workspace::get().connection();
  std::string sql = "UPDATE " + alias_ + "." + text::quoteSqlIdent(kProps) + " SET 値 = " + text::quoteSqlText(value) + " WHERE 名前 = " + text::quoteSqlText(name);
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
}

void Database::createProperty(const std::string& name, const std::string& value) {
  ensureOpen();
  sqlite3* c = Workspace::get().connection();
  std::string sql = "CREATE TABLE IF NOT EXISTS " + alias_ + "." + text::quoteSqlIdent(kProps) + " (名前 TEXT PRIMARY KEY, 値 TEXT)";
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
  sql = "INSERT OR REPLACE INTO " + alias_ + "." + text::quoteSqlIdent(kProps) + " VALUES (" + text::quoteSqlText(name) + ", " + text::quoteSqlText(value) + ")";
  rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, name);
}

}  // namespace velmo::db
