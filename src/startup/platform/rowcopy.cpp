#include "startup/platform/rowcopy.h"

#include <sqlite3.h>

#include <filesystem>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/onlinebackup.h"
#include "startup/platform/stmt.h"
#include "startup/platform/workspace.h"

namespace velmo::db {

namespace {

const char* const kCopyAlias = "velmo_rowcopy";
const char* const kSourceAlias = "velmo_rowsource";

std::string q(const std::string& s) { return text::quoteSqlIdent(s); }

std::vector<std::string> columnsOf(sqlite3* c, const std::string& alias, const std::string& table) {
  std::vector<std::string> out;
  Stmt st(c, "SELECT name FROM pragma_table_info(?, ?)", table);
  st.bind(1, std::string_view(table));
  st.bind(2, std::string_view(alias));
  while (st.next(table)) out.push_back(st.text(0));
  if (out.empty()) raise(err::NoSuchTable, table);
  return out;
}

std::string joined(const std::vector<std::string>& names, const std::string& prefix = {}) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + prefix + q(n);
  return s;
}

void attachAs(sqlite3* c, const std::string& path, const std::string& alias) {
  Stmt st(c, "ATTACH DATABASE ? AS " + alias, path);
  st.bind(1, std::string_view(path));
  st.run(path);
}

void detach(sqlite3* c, const std::string& alias) {
  sqlite3_exec(c, ("DETACH DATABASE " + alias).c_str(), nullptr, nullptr, nullptr);
}

}  // namespace

RowCopy::Key RowCopy::keyOf(const std::string& alias, const std::string& table, bool required) {
  sqlite3* c = Workspace::get().connection();
  // The unique index the program writes as the table's key, else any unique one.
  std::string index;
  {
    Stmt st(c, "SELECT name, origin FROM pragma_index_list(?, ?) WHERE \"unique\" = 1", table);
    st.bind(1, std::string_view(table));
    st.bind(2, std::string_view(alias));
    std::string first, pk;
    while (st.next(table)) {
      const std::string n = st.text(0);
      if (first.empty()) first = n;
      if (n == table + ".PrimaryKey") index = n;
      if (st.text(1) == "pk" && pk.empty()) pk = n;
    }
    if (index.empty()) index = pk.empty() ? first : pk;
  }
  Key k;
  if (index.empty()) {
    if (required) throw VelmoError(err::EngineGeneric, "テーブル '" + table + "' にはキーがないため、行のコピーを作れません。");
    return k;
  }
  Stmt st(c, "SELECT name, coll FROM pragma_index_xinfo(?, ?) WHERE key = 1 ORDER BY seqno", table);
  st.bind(1, std::string_view(index));
  st.bind(2, std::string_view(alias));
  while (st.next(table)) {
    const std::string col = st.text(0), coll = st.text(1);
    if (col.empty()) throw VelmoError(err::EngineGeneric, "テーブル '" + table + "' のキーは式のため、行のコピーを作れません。");
    k.columns += (k.columns.empty() ? "" : ", ") + q(col);
    k.match += (k.match.empty() ? "" : " AND ") + std::string("t.") + q(col) + " = c." + q(col) + " COLLATE " +
               (coll.empty() ? "BINARY" : coll);
  }
  return k;
}

RowCopy::RowCopy(const std::string& path, const std::string& database, const std::string& command) : path_(path) {
  auto& ws = Workspace::get();
  if (ws.transDepth() > 0) throw VelmoError(err::EngineGeneric, "トランザクション中は行のコピーを作れません。");
  db_ = ws.openDatabase(database);
  alias_ = db_->alias();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  sqlite3* c = ws.connection();
  attachAs(c, path_, kCopyAlias);
  open_ = true;
  const std::string a = kCopyAlias;
  exec(c, "PRAGMA " + a + ".synchronous = FULL; CREATE TABLE " + a +
              ".velmo_copy(key TEXT PRIMARY KEY, value TEXT); CREATE TABLE " + a +
              ".velmo_copy_part(id INTEGER PRIMARY KEY, tbl TEXT NOT NULL, role TEXT NOT NULL, keycols TEXT NOT NULL, "
              "keymatch TEXT NOT NULL, columns TEXT NOT NULL);",
       path_);
  ws.beginTrans();
  depth_ = ws.transDepth();
  Stmt st(c, "INSERT INTO " + a + ".velmo_copy VALUES ('kind', 'rows'), ('database', ?), ('command', ?)", path_);
  st.bind(1, std::string_view(database));
  st.bind(2, std::string_view(command));
  st.run(path_);
}

RowCopy::~RowCopy() {
  if (finished_) return;
  auto& ws = Workspace::get();
  if (depth_ > 0) ws.rollbackTo(depth_ - 1);
  if (open_) detach(ws.connection(), kCopyAlias);
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  std::filesystem::remove(path_ + "-journal", ec);
}

int RowCopy::addPart(const std::string& table, const std::string& role, const Key& key, const std::string& columns) {
  sqlite3* c = Workspace::get().connection();
  const int id = ++parts_;
  Stmt st(c, std::string("INSERT INTO ") + kCopyAlias + ".velmo_copy_part VALUES (?, ?, ?, ?, ?, ?)", path_);
  st.bind(1, Value(static_cast<int64_t>(id)));
  st.bind(2, std::string_view(table));
  st.bind(3, std::string_view(role));
  st.bind(4, std::string_view(key.columns));
  st.bind(5, std::string_view(key.match));
  st.bind(6, std::string_view(columns));
  st.run(path_);
  exec(c, std::string("CREATE TABLE ") + kCopyAlias + ".p" + std::to_string(id) + " (" + columns + ")", path_);
  return id;
}

void RowCopy::addRows(const std::string& table, const std::string& jetCondition) {
  sqlite3* c = Workspace::get().connection();
  const std::string cols = joined(columnsOf(c, alias_, table));
  const int id = addPart(table, "rows", keyOf(alias_, table, false), cols);
  const std::string select = translateJetSql("select * from " + table + " " + jetCondition, *db_);
  exec(c, std::string("INSERT INTO ") + kCopyAlias + ".p" + std::to_string(id) + " (" + cols + ") SELECT " + cols +
              " FROM (" + select + ")",
       table);
}

void RowCopy::addNewKeys(const std::string& table, const std::string& source, const std::string& sourceTable) {
  sqlite3* c = Workspace::get().connection();
  if (!source_ || source_->path() != source) source_ = Workspace::get().openDatabase(source);
  const Key key = keyOf(alias_, table, true);
  const int id = addPart(table, "keys", key, key.columns);
  // The source row is "c", the table's row "t", as the key's match names them.
  std::string cs;
  for (size_t i = 0, j; i < key.columns.size(); i = j + 2) {
    j = key.columns.find(", ", i);
    if (j == std::string::npos) j = key.columns.size();
    cs += (cs.empty() ? "c." : ", c.") + key.columns.substr(i, j - i);
  }
  exec(c, std::string("INSERT INTO ") + kCopyAlias + ".p" + std::to_string(id) + " SELECT " + cs + " FROM " +
              source_->alias() + "." + q(sourceTable) + " c WHERE NOT EXISTS (SELECT 1 FROM " + alias_ + "." + q(table) +
              " t WHERE " + key.match + ")",
       table);
}

void RowCopy::addRowsOfKeys(const std::string& table, const std::string& partTable) {
  sqlite3* c = Workspace::get().connection();
  const Key key = keyOf(alias_, table, true);
  const std::string cols = joined(columnsOf(c, alias_, table));
  const int id = addPart(table, "rows", key, cols);
  exec(c, std::string("INSERT INTO ") + kCopyAlias + ".p" + std::to_string(id) + " SELECT " + joined(columnsOf(c, alias_, table), "t.") +
              " FROM " + partTable + " c JOIN " + alias_ + "." + q(table) + " t ON " + key.match,
       table);
}

void RowCopy::addKeysOf(const std::string& table, const std::string& partTable) {
  sqlite3* c = Workspace::get().connection();
  const Key key = keyOf(alias_, table, true);
  const int id = addPart(table, "keys", key, key.columns);
  exec(c, std::string("INSERT INTO ") + kCopyAlias + ".p" + std::to_string(id) + " SELECT " + key.columns + " FROM " + partTable,
       table);
}

void RowCopy::finish() {
  auto& ws = Workspace::get();
  ws.commitTrans();
  depth_ = 0;
  detach(ws.connection(), kCopyAlias);
  open_ = false;
  OnlineBackup::syncFile(path_);
  finished_ = true;
  if (source_) source_->close();
  db_->close();
}

bool RowCopy::isRowCopy(const std::string& path) {
  sqlite3* c = nullptr;
  bool yes = false;
  if (sqlite3_open_v2(path.c_str(), &c, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(c, "SELECT value FROM velmo_copy WHERE key = 'kind'", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      yes = t && std::string(reinterpret_cast<const char*>(t)) == "rows";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(c);
  return yes;
}

namespace {

struct Part {
  std::string id, table, role, keyMatch, columns;
};

std::vector<Part> partsOf(sqlite3* c, const std::string& copy) {
  std::vector<Part> parts;
  Stmt st(c, std::string("SELECT id, tbl, role, keymatch, columns FROM ") + kSourceAlias + ".velmo_copy_part ORDER BY id", copy);
  while (st.next(copy)) parts.push_back({st.text(0), st.text(1), st.text(2), st.text(3), st.text(4)});
  return parts;
}

// The copy attached as kSourceAlias for as long as it lives.
class Attached {
 public:
  explicit Attached(const std::string& copy) : c_(Workspace::get().connection()) { attachAs(c_, copy, kSourceAlias); }
  ~Attached() { detach(c_, kSourceAlias); }
  Attached(const Attached&) = delete;
  Attached& operator=(const Attached&) = delete;

 private:
  sqlite3* c_;
};

}  // namespace

void RowCopy::writeInverse(const std::string& copy, const std::string& target, const std::string& inverse,
                           const std::string& command) {
  Attached a(copy);
  const std::vector<Part> parts = partsOf(Workspace::get().connection(), copy);
  RowCopy undo(inverse, target, command);
  for (const auto& p : parts) {
    const std::string part = std::string(kSourceAlias) + ".p" + p.id;
    undo.addRowsOfKeys(p.table, part);
    if (p.role == "rows") undo.addKeysOf(p.table, part);
  }
  undo.finish();
}

void RowCopy::apply(const std::string& copy, const std::string& target) {
  auto& ws = Workspace::get();
  sqlite3* c = ws.connection();
  DatabasePtr d = ws.openDatabase(target);
  const int depth = ws.transDepth();
  {
    Attached a(copy);
    try {
      const std::vector<Part> parts = partsOf(c, copy);
      ws.beginTrans();
      for (const auto& p : parts) {
        if (p.role != "keys") continue;
        exec(c, "DELETE FROM " + d->alias() + "." + q(p.table) + " WHERE rowid IN (SELECT t.rowid FROM " + kSourceAlias +
                    ".p" + p.id + " c JOIN " + d->alias() + "." + q(p.table) + " t ON " + p.keyMatch + ")",
             p.table);
      }
      for (const auto& p : parts) {
        if (p.role != "rows") continue;
        exec(c, "INSERT OR REPLACE INTO " + d->alias() + "." + q(p.table) + " (" + p.columns + ") SELECT " + p.columns +
                    " FROM " + kSourceAlias + ".p" + p.id,
             p.table);
      }
      ws.commitTrans();
    } catch (...) {
      ws.rollbackTo(depth);
      throw;
    }
  }
  d->close();
}

}  // namespace velmo::db
