#include "startup/platform/ledgertable.h"

#include <sqlite3.h>

#include "common/text.h"
#include "startup/platform/database.h"
#include "startup/platform/errortable.h"
#include "startup/platform/stmt.h"
#include "startup/platform/workspace.h"

namespace velmo::db {

namespace {

const char* const kTable = "MSysVelmoLedger";
const char* const kColumns =
    "archive, data_id, race_date, mode, files, held, records_read, records_registered, records_skipped, rows_written, "
    "registered_at, outcome, error";

std::string qualified(Database& d) { return d.alias() + "." + text::quoteSqlIdent(kTable); }

bool hasLedger(Database& d) {
  Stmt st(Workspace::get().connection(),
          "SELECT 1 FROM " + d.alias() + ".sqlite_master WHERE type = 'table' AND name = '" + kTable + "'", kTable);
  return st.next(kTable);
}

}  // namespace

const char* LedgerTable::name() { return kTable; }

void LedgerTable::ensure(Database& d) {
  if (hasLedger(d)) return;
  exec(Workspace::get().connection(),
       "CREATE TABLE IF NOT EXISTS " + qualified(d) +
           " (archive TEXT PRIMARY KEY, data_id TEXT NOT NULL, race_date TEXT NOT NULL, mode TEXT NOT NULL, files TEXT,"
           " held INTEGER, records_read INTEGER, records_registered INTEGER, records_skipped INTEGER, rows_written INTEGER,"
           " registered_at TEXT, outcome TEXT NOT NULL, error TEXT);"
           "CREATE INDEX IF NOT EXISTS " + d.alias() + ".MSysVelmoLedger_date ON " + text::quoteSqlIdent(kTable) + " (race_date);",
       kTable);
  Workspace::get().schemaChanged();
}

void LedgerTable::put(Database& d, const LedgerRow& r) {
  sqlite3_stmt* st = Workspace::get().prepareCached("INSERT OR REPLACE INTO " + qualified(d) + " (" + kColumns +
                                                    ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
  sqlite3_reset(st);
  int i = 0;
  auto text = [&](const std::string& t) { sqlite3_bind_text(st, ++i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC); };
  for (const std::string* t : {&r.archive, &r.dataId, &r.raceDate, &r.mode, &r.files}) text(*t);
  for (int64_t n : {r.held, r.read, r.registered, r.skipped, r.rows}) sqlite3_bind_int64(st, ++i, n);
  text(r.at);
  text(r.outcome);
  if (r.error.empty()) sqlite3_bind_null(st, ++i);
  else text(r.error);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, kTable);
}

std::vector<LedgerRow> LedgerTable::read(Database& d, const std::string& from, const std::string& to) {
  std::vector<LedgerRow> rows;
  if (!hasLedger(d)) return rows;
  Stmt st(Workspace::get().connection(),
          std::string("SELECT ") + kColumns + " FROM " + qualified(d) + " WHERE race_date BETWEEN ? AND ? ORDER BY race_date, archive",
          kTable);
  st.bind(1, std::string_view(from));
  st.bind(2, std::string_view(to));
  while (st.next(kTable)) {
    LedgerRow r;
    r.archive = st.text(0);
    r.dataId = st.text(1);
    r.raceDate = st.text(2);
    r.mode = st.text(3);
    r.files = st.text(4);
    r.held = st.int64(5);
    r.read = st.int64(6);
    r.registered = st.int64(7);
    r.skipped = st.int64(8);
    r.rows = st.int64(9);
    r.at = st.text(10);
    r.outcome = st.text(11);
    r.error = st.text(12);
    rows.push_back(std::move(r));
  }
  return rows;
}

void LedgerTable::moveAll(Database& from, Database& to) {
  if (!hasLedger(from)) return;
  ensure(to);
  sqlite3* c = Workspace::get().connection();
  exec(c, "INSERT OR REPLACE INTO " + qualified(to) + " (" + kColumns + ") SELECT " + kColumns + " FROM " + qualified(from), kTable);
  exec(c, "DELETE FROM " + qualified(from), kTable);
}

int64_t LedgerTable::removeDates(Database& d, const std::string& from, const std::string& to) {
  if (!hasLedger(d)) return 0;
  sqlite3* c = Workspace::get().connection();
  Stmt st(c, "DELETE FROM " + qualified(d) + " WHERE race_date BETWEEN ? AND ?", kTable);
  st.bind(1, std::string_view(from));
  st.bind(2, std::string_view(to));
  st.run(kTable);
  return sqlite3_changes64(c);
}

}  // namespace velmo::db
