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
#include "startup/platform/transaction.h"

namespace velmo::db {

namespace {

const char* const kLinks = "MSysVelmoLinks";
const char* const kProps = "MSysVelmoProperties";

std::string sizeCheck(const FieldInfo& f) {
  const std::string q = text::quoteSqlIdent(f.name);
  int size = f.size > 0 ? f.size : 255;
  return " CONSTRAINT " + text::quoteSqlIdent("velmo_size:" + f.name) + " CHECK (length(" + q + ") <= " + std::to_string(size) + ")";
}

std::string nativeType(FieldType t) {
  switch (t) {
    case FieldType::Long:
    case FieldType::Integer:
    case FieldType::Byte:
      return "INTEGER";
    case FieldType::Single:
    case FieldType::Double:
      return "REAL";
    default:
      return "TEXT";
  }
}

// Column of a native-typed (STRICT) table: SQLite itself converts numeric text
// and refuses anything else in a number column; text keeps its size check.
std::string nativeColumnDef(const FieldInfo& f) {
  std::string d = text::quoteSqlIdent(f.name) + " " + nativeType(f.type);
  if (f.type == FieldType::Text) d += sizeCheck(f);
  return d;
}

// The engine's field types and sizes of a native table (STRICT declares only
// TEXT, INTEGER and REAL).
void recordFieldTypes(sqlite3* c, const std::string& schema, const std::string& table, const std::vector<FieldInfo>& fields) {
  const std::string t = schema + "." + text::quoteSqlIdent(kFieldTypes);
  exec(c, "CREATE TABLE IF NOT EXISTS " + t + " (表 TEXT NOT NULL, フィールド TEXT NOT NULL, 型 INTEGER, サイズ INTEGER, PRIMARY KEY (表, フィールド))");
  Stmt st(c, "INSERT OR REPLACE INTO " + t + " VALUES (?, ?, ?, ?)", table);
  for (const auto& f : fields) {
    st.bind(1, std::string_view(table));
    st.bind(2, std::string_view(f.name));
    st.bind(3, Value{static_cast<int64_t>(f.type)});
    st.bind(4, Value{static_cast<int64_t>(f.type == FieldType::Text ? (f.size > 0 ? f.size : 255) : 0)});
    st.run(table);
    st.reset();
  }
}

// Column definition of an old-style table (before native types): checks make
// SQLite reject text longer than the field size and non-numeric text in numbers.
std::string columnDef(const FieldInfo& f) {
  const std::string q = text::quoteSqlIdent(f.name);
  std::string d = q + " " + declaredType(f);
  if (f.type == FieldType::Text)
    d += sizeCheck(f);
  else if (isNumericType(f.type))
    d += " CONSTRAINT " + text::quoteSqlIdent("velmo_num:" + f.name) + " CHECK (typeof(" + q + ") IN ('integer','real','null'))";
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
  const std::string schema = sh.schema, real = sh.name;
  std::vector<IndexInfo> r;
  sqlite3* c = Workspace::get().connection();
  std::vector<std::string> notNull;
  {
    Stmt st(c, "SELECT name FROM pragma_table_info(?, ?) WHERE \"notnull\"", table);
    st.bind(1, std::string_view(real));
    st.bind(2, std::string_view(schema));
    while (st.next(table)) notNull.push_back(st.text(0));
  }
  Stmt st(c, "SELECT name, \"unique\", partial FROM pragma_index_list(?, ?) ORDER BY seq DESC", table);
  st.bind(1, std::string_view(real));
  st.bind(2, std::string_view(schema));
  while (st.next(table)) {
    std::string sqlName = st.text(0);
    IndexInfo ix;
    std::string prefix = real + ".";
    ix.name = text::startsWith(sqlName, prefix) ? sqlName.substr(prefix.size()) : sqlName;
    ix.unique = st.int64(1) != 0;
    ix.primary = ix.unique && ix.name == "PrimaryKey";
    ix.ignoreNulls = st.int64(2) != 0;
    Stmt s2(c, "SELECT name FROM pragma_index_info(?, ?) ORDER BY seqno", table);
    s2.bind(1, std::string_view(sqlName));
    s2.bind(2, std::string_view(schema));
    while (s2.next(table)) ix.fields.push_back(s2.text(0));
    ix.required = !ix.fields.empty();
    for (const auto& f : ix.fields)
      if (std::find(notNull.begin(), notNull.end(), f) == notNull.end()) ix.required = false;
    r.push_back(std::move(ix));
  }
  return r;
}

namespace {

// CREATE INDEX for an index definition. An index that ignores Nulls leaves out
// the rows whose key fields are all Null.
std::string indexSql(const std::string& schema, const std::string& table, const IndexInfo& ix) {
  std::string cols, notAllNull;
  for (size_t i = 0; i < ix.fields.size(); ++i) {
    cols += (i ? ", " : "") + text::quoteSqlIdent(ix.fields[i]);
    notAllNull += (i ? " OR " : "") + text::quoteSqlIdent(ix.fields[i]) + " IS NOT NULL";
  }
  std::string sql = std::string("CREATE ") + (ix.primary || ix.unique ? "UNIQUE " : "") + "INDEX " + schema + "." +
                    text::quoteSqlIdent(indexSqlName(table, ix.name)) + " ON " + text::quoteSqlIdent(table) + " (" + cols + ")";
  if (ix.ignoreNulls && !ix.primary) sql += " WHERE " + notAllNull;
  return sql;
}

// Fields of a primary key or of a required index refuse Null.
bool keyField(const std::vector<IndexInfo>& indexes, const std::string& field) {
  for (const auto& ix : indexes)
    if (ix.primary || ix.required)
      for (const auto& f : ix.fields)
        if (text::foldName(f) == text::foldName(field)) return true;
  return false;
}

std::string createTableSql(const std::string& schema, const std::string& name, const std::vector<FieldInfo>& fields,
                           const std::vector<IndexInfo>& indexes) {
  std::string sql = "CREATE TABLE " + schema + "." + text::quoteSqlIdent(name) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    sql += (i ? ", " : "") + nativeColumnDef(fields[i]);
    if (keyField(indexes, fields[i].name)) sql += " NOT NULL";
  }
  return sql + ") STRICT";
}

}  // namespace

void Database::createTable(const TableDefSpec& def) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.count(text::foldName(def.name))) raise(err::ObjectExists, def.name);
  if (def.fields.empty()) raise(err::NoFields, def.name);
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  // The table, its indexes and its field types as one step: a failure leaves no table.
  exec(c, "SAVEPOINT velmo_create");
  try {
    exec(c, createTableSql(alias_, def.name, def.fields, def.indexes), def.name);
    for (const auto& ix : def.indexes) exec(c, indexSql(alias_, def.name, ix), def.name + "." + ix.name);
    recordFieldTypes(c, alias_, def.name, def.fields);
  } catch (...) {
    sqlite3_exec(c, "ROLLBACK TO velmo_create; RELEASE velmo_create", nullptr, nullptr, nullptr);
    ws.schemaChanged();
    throw;
  }
  exec(c, "RELEASE velmo_create");
  ws.schemaChanged();
}

bool Database::isNativeTable(const std::string& table) {
  TableShape s;
  if (resolveTable(table, &s).empty()) raise(err::NoSuchTable, table);
  Stmt st(Workspace::get().connection(), "SELECT strict FROM pragma_table_list WHERE name = ? AND schema = ?", table);
  st.bind(1, std::string_view(s.name));
  st.bind(2, std::string_view(s.schema));
  return st.next(table) && st.int64(0) != 0;
}

void Database::rebuildNative(const std::string& table) {
  ensureOpen();
  loadNames();
  auto it = sc_->tablesFolded.find(text::foldName(table));
  if (it == sc_->tablesFolded.end() || sc_->links.count(it->second)) raise(err::NoSuchTable, table);
  if (isNativeTable(table)) return;
  const std::string real = it->second;
  const std::vector<FieldInfo> fields = shape(real).fields;
  const std::vector<IndexInfo> idx = indexes(real);
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  // The indexes as they were written (names, uniqueness, conditions).
  std::vector<std::string> indexSqls;
  {
    Stmt st(c, "SELECT sql FROM " + alias_ + ".sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL", real);
    st.bind(1, std::string_view(real));
    while (st.next(real)) indexSqls.push_back(st.text(0));
  }
  const std::string tmpName = "velmo_rebuild";
  std::string cols;
  for (size_t i = 0; i < fields.size(); ++i) cols += (i ? ", " : "") + text::quoteSqlIdent(fields[i].name);
  Transaction tr(ws);
  exec(c, "DROP TABLE IF EXISTS " + alias_ + "." + tmpName, real);
  exec(c, createTableSql(alias_, tmpName, fields, idx), real);
  exec(c, "INSERT INTO " + alias_ + "." + tmpName + " (" + cols + ") SELECT " + cols + " FROM " + alias_ + "." +
              text::quoteSqlIdent(real) + " ORDER BY rowid", real);
  exec(c, "DROP TABLE " + alias_ + "." + text::quoteSqlIdent(real), real);
  exec(c, "ALTER TABLE " + alias_ + "." + tmpName + " RENAME TO " + text::quoteSqlIdent(real), real);
  for (const auto& sql : indexSqls) {
    // "CREATE INDEX name ON table …" is run in this database's schema.
    std::string q = sql;
    size_t on = q.find("INDEX ");
    if (on == std::string::npos) continue;
    q.insert(on + 6, alias_ + ".");
    exec(c, q, real);
  }
  recordFieldTypes(c, alias_, real, fields);
  tr.commit();
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
  const std::string schema = sh.schema, real = sh.name;
  const bool native = isNativeTable(table);
  std::string sql = "ALTER TABLE \"" + schema + "\"." + text::quoteSqlIdent(real) + " ADD COLUMN " +
                    (native ? nativeColumnDef(f) : columnDef(f));
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  ws.schemaChanged();
  if (rc != SQLITE_OK) raiseSqlite(c, rc, table + "." + f.name);
  if (native) recordFieldTypes(c, "\"" + schema + "\"", real, {f});
}

void Database::appendIndex(const std::string& table, const IndexInfo& ix) {
  const TableShape& sh = shape(table);
  for (const auto& e : indexes(table))
    if (e.name == ix.name) raise(err::ObjectExists, ix.name);
  if (ix.fields.empty()) raise(err::NoFields, ix.name);
  std::string sql = indexSql("\"" + sh.schema + "\"", sh.name, ix);
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
