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
}  // namespace

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
  if (!open_) raise(err::InvalidObject, {}, "(データベースは閉じられています)");
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
  sc_->shapes.clear();
  sc_->indexes.clear();
  sqlite3* c = ws.connection();
  std::string sql = "SELECT m.name FROM " + alias_ + ".sqlite_master m WHERE m.type = 'table' AND " + kUserTables;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, path_);
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sc_->tablesFolded.emplace(text::foldName(t), t);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) raiseSqlite(c, rc, path_);
  sql = "SELECT 名前, 接続, ソース FROM " + alias_ + "." + text::quoteSqlIdent(kLinks);
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
  return "\"" + schema + "\"." + text::quoteSqlIdent(table);
}

std::shared_ptr<const TableShape> Database::sharedShape(const std::string& table) {
  loadNames();
  auto it = sc_->shapes.find(text::foldName(table));
  if (it != sc_->shapes.end()) return it->second;
  auto sh = std::make_shared<TableShape>();
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
  std::string sql = "SELECT name, type FROM pragma_table_info(" + text::quoteSqlText(real) + ", " + text::quoteSqlText(schema) + ")";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, table);
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const unsigned char* ty = sqlite3_column_text(st, 1);
    sh->fields.push_back(fieldFromDeclared(n, ty ? reinterpret_cast<const char*>(ty) : ""));
    sh->byFolded.emplace(text::foldName(n), static_cast<int>(sh->fields.size() - 1));
  }
  sqlite3_finalize(st);
  if (sh->fields.empty()) raise(err::NoSuchTable, table);
  // Native-typed tables keep the engine's types and sizes beside them.
  if (schema != "temp") {
    sqlite3_stmt* raw = nullptr;
    std::string q2 = "SELECT フィールド, 型, サイズ FROM \"" + schema + "\"." + text::quoteSqlIdent(kFieldTypes) + " WHERE 表 = ?";
    if (sqlite3_prepare_v2(c, q2.c_str(), -1, &raw, nullptr) == SQLITE_OK) {
      Stmt types(raw);
      types.bind(1, std::string_view(real));
      while (types.next(table)) {
        int i = sh->find(types.text(0));
        if (i < 0) continue;
        auto& f = sh->fields[static_cast<size_t>(i)];
        f.type = static_cast<FieldType>(types.int64(1));
        f.size = static_cast<int>(types.int64(2));
        sh->native = true;
      }
    } else {
      sqlite3_finalize(raw);
    }
  }
  sc_->shapes[text::foldName(table)] = sh;
  return sh;
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
    if (st->kind != JetStatement::Kind::Select) raise(err::InvalidOperation);
    t = st->sql;
  }
  sqlite3* c = Workspace::get().connection();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(c, t.c_str(), static_cast<int>(t.size()), &st, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc);
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
    raiseSqlite(c, code);
  }
  sqlite3_finalize(st);
  r->setSource(weak_from_this(), sql);
  return r;
}

std::unique_ptr<Recordset> Database::openTable(const std::string& name) {
  ensureOpen();
  loadNames();
  if (sc_->tablesFolded.find(text::foldName(name)) == sc_->tablesFolded.end())
    raise(err::NoSuchTable, name);
  return std::make_unique<Recordset>(shared_from_this(), sharedShape(name));
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

}  // namespace velmo::db
