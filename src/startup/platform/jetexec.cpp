// Running translated statements as DAO's Execute runs them, and one member's
// statement for the SQL screen and velmo-cli sql.
#include <sqlite3.h>

#include "common/error.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetast.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/userstatement.h"

namespace velmo::db {

namespace {

// Steps a cached statement to its end; returns the rows it changed.
long stepAll(const std::string& sql) {
  auto& ws = Workspace::get();
  sqlite3_stmt* st = ws.prepareCached(sql);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    sqlite3_reset(st);
    raiseSqlite(ws.connection(), rc, "");
  }
  sqlite3_reset(st);
  return static_cast<long>(sqlite3_changes(ws.connection()));
}

}  // namespace

bool jetStatementMayWrite(const std::string& sql) {
  std::unique_ptr<jet::Statement> st;
  try {
    st = jet::parse(sql);
  } catch (const std::exception&) {
    return false;  // the same text is refused again when it is run
  }
  return st->kind != jet::Statement::Kind::Select || !st->select || !st->select->into.empty();
}

long runJetStatement(Database& db, const JetStatement& st) {
  using K = JetStatement::Kind;
  auto& ws = Workspace::get();
  switch (st.kind) {
    case K::Select:
      raise(err::SelectNotExecutable);
    case K::Insert:
    case K::Update:
    case K::Delete:
      return stepAll(st.sql);
    case K::MakeTable: {
      sqlite3* c = ws.connection();
      sqlite3_int64 before = sqlite3_total_changes64(c);
      char* msg = nullptr;
      int rc = sqlite3_exec(c, st.sql.c_str(), nullptr, nullptr, &msg);
      sqlite3_free(msg);
      ws.schemaChanged();
      if (rc != SQLITE_OK) raiseSqlite(c, rc, st.table);
      // The rows copied into the new table.
      sqlite3_int64 after = sqlite3_total_changes64(c);
      if (after > before) return static_cast<long>(after - before);
      auto q = db.openQuery("select count(*) from [" + st.table + "]");
      return q->eof() ? 0 : static_cast<long>(toNumber(q->get(0)));
    }
    case K::CreateTable:
      db.createTable(st.def);
      return 0;
    case K::AddColumn:
      db.appendField(st.table, st.field);
      return 0;
    case K::CreateIndex:
      db.appendIndex(st.table, st.index);
      return 0;
    case K::DropTable:
      db.deleteTable(st.table);
      return 0;
    case K::DropColumn:
    case K::DropIndex: {
      sqlite3* c = ws.connection();
      int rc = sqlite3_exec(c, st.sql.c_str(), nullptr, nullptr, nullptr);
      ws.schemaChanged();
      if (rc != SQLITE_OK) raiseSqlite(c, rc, st.table);
      return 0;
    }
  }
  return 0;
}

UserStatementResult runUserStatement(Database& db, const std::string& sql) {
  UserStatementResult r;
  auto st = translateJet(sql, db);
  if (st->kind != JetStatement::Kind::Select) {
    r.affected = runJetStatement(db, *st);
    return r;
  }
  r.isSelect = true;
  auto q = db.openQuery(sql);
  r.columns = q->columns;
  r.rows = std::move(q->rows);
  return r;
}

}  // namespace velmo::db
