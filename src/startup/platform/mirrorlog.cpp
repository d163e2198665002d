#include "startup/platform/mirrorlog.h"

// Debian's SQLite is built with the pre-update hook; its declarations are behind this switch.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "startup/platform/stmt.h"

namespace velmo::db {

namespace {

// More keys than this in one table: the table is noted whole.
constexpr size_t kWholeAbove = 100000;

struct TableNotes {
  int keyColumn = -1;  // -1: no primary key, noted whole
  bool whole = false;
  std::unordered_set<std::string> keys;
};

struct FileNotes {
  std::unordered_map<std::string, TableNotes> tables;
};

struct State {
  bool enabled = false;
  // File path -> notes. Kept by path, since a file's schema alias may change
  // between an autocommitted statement and the next commit.
  std::unordered_map<std::string, FileNotes> files;
  // The last table noted, to skip the lookups for a run of rows of one table.
  std::string lastDb, lastName;
  TableNotes* last = nullptr;  // nullptr with lastName set: a table not noted
  bool lastValid = false;
  uint64_t taken = 0;
};

// Never destroyed: the workspace writes the last notes when it is destroyed itself.
State& state() {
  static State* s = new State;
  return *s;
}

bool skipped(const char* db, const char* name) {
  return std::strcmp(db, "main") == 0 || std::strcmp(db, "temp") == 0 || std::strncmp(name, "MSysVelmo", 9) == 0 ||
         std::strncmp(name, "sqlite_", 7) == 0;
}

// The column of the first field of the table's "PrimaryKey" index, or -1.
int keyColumnOf(sqlite3* c, const char* db, const char* name) {
  sqlite3_stmt* st = nullptr;
  int col = -1;
  if (sqlite3_prepare_v2(c, "SELECT cid FROM pragma_index_info(?1, ?2) ORDER BY seqno LIMIT 1", -1, &st, nullptr) == SQLITE_OK) {
    std::string index = std::string(name) + ".PrimaryKey";
    sqlite3_bind_text(st, 1, index.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, db, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) col = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  return col;
}

TableNotes* notesFor(sqlite3* c, const char* db, const char* name) {
  State& s = state();
  if (s.lastValid && s.lastName == name && s.lastDb == db) return s.last;
  s.lastValid = true;
  s.lastDb = db;
  s.lastName = name;
  s.last = nullptr;
  if (skipped(db, name)) return nullptr;
  const char* file = sqlite3_db_filename(c, db);
  if (!file || !*file) return nullptr;
  FileNotes& f = s.files[file];
  auto it = f.tables.find(name);
  if (it == f.tables.end()) {
    it = f.tables.emplace(name, TableNotes{}).first;
    it->second.keyColumn = keyColumnOf(c, db, name);
    if (it->second.keyColumn < 0) it->second.whole = true;
  }
  s.last = &it->second;
  return s.last;
}

void noteValue(TableNotes& t, sqlite3_value* v) {
  if (!v || t.whole) return;
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      t.keys.insert(std::to_string(sqlite3_value_int64(v)));
      break;
    case SQLITE_FLOAT: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", sqlite3_value_double(v));
      t.keys.insert(buf);
      break;
    }
    case SQLITE_NULL:
      break;
    default:
      t.keys.emplace(reinterpret_cast<const char*>(sqlite3_value_text(v)), static_cast<size_t>(sqlite3_value_bytes(v)));
  }
  if (t.keys.size() > kWholeAbove) {
    t.whole = true;
    t.keys.clear();
  }
}

void hook(void*, sqlite3* c, int op, const char* db, const char* name, sqlite3_int64, sqlite3_int64) {
  State& s = state();
  if (!s.enabled) return;
  TableNotes* t = notesFor(c, db, name);
  if (!t) return;
  ++s.taken;
  if (t->whole) return;
  sqlite3_value* v = nullptr;
  if (op != SQLITE_INSERT && sqlite3_preupdate_old(c, t->keyColumn, &v) == SQLITE_OK) noteValue(*t, v);
  if (op != SQLITE_DELETE && sqlite3_preupdate_new(c, t->keyColumn, &v) == SQLITE_OK) noteValue(*t, v);
}

}  // namespace

void MirrorLog::setEnabled(bool on) { state().enabled = on; }
bool MirrorLog::enabled() { return state().enabled; }
uint64_t MirrorLog::notesTaken() { return state().taken; }
bool MirrorLog::pending() { return !state().files.empty(); }

void MirrorLog::install(sqlite3* c) {
  state().lastValid = false;
  sqlite3_preupdate_hook(c, hook, nullptr);
}

void MirrorLog::flush(sqlite3* c) {
  State& s = state();
  s.lastValid = false;
  if (s.files.empty()) return;
  // The schema alias of each attached file.
  std::unordered_map<std::string, std::string> aliasOf;
  {
    Stmt st(c, "SELECT name, file FROM pragma_database_list");
    while (st.next()) aliasOf[st.text(1)] = st.text(0);
  }
  for (auto it = s.files.begin(); it != s.files.end();) {
    auto a = aliasOf.find(it->first);
    if (a == aliasOf.end()) {  // written in an autocommit and let go since: kept for a later commit
      ++it;
      continue;
    }
    const std::string t = a->second + "." + text::quoteSqlIdent(kMirrorLog);
    exec(c, "CREATE TABLE IF NOT EXISTS " + t + " (表 TEXT NOT NULL, キー TEXT NOT NULL, PRIMARY KEY (表, キー)) WITHOUT ROWID");
    Stmt ins(c, "INSERT OR IGNORE INTO " + t + " VALUES (?, ?)");
    for (auto& [table, notes] : it->second.tables) {
      if (notes.whole) {
        ins.bind(1, std::string_view(table));
        ins.bind(2, std::string_view(kWholeTable));
        ins.run();
        ins.reset();
        continue;
      }
      for (const auto& k : notes.keys) {
        ins.bind(1, std::string_view(table));
        ins.bind(2, std::string_view(k));
        ins.run();
        ins.reset();
      }
    }
    it = s.files.erase(it);
  }
}

}  // namespace velmo::db
