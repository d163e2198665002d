#include "startup/platform/stmt.h"

#include <sqlite3.h>

#include "startup/platform/errortable.h"

namespace velmo::db {

Stmt::Stmt(sqlite3* c, std::string_view sql, const std::string& context) {
  int rc = sqlite3_prepare_v2(c, sql.data(), static_cast<int>(sql.size()), &s_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s_);
    s_ = nullptr;
    raiseSqlite(c, rc, context);
  }
}

Stmt::~Stmt() { sqlite3_finalize(s_); }

Stmt& Stmt::operator=(Stmt&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(s_);
    s_ = o.s_;
    o.s_ = nullptr;
  }
  return *this;
}

bool Stmt::next(const std::string& context) {
  int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3* c = sqlite3_db_handle(s_);
  sqlite3_reset(s_);
  raiseSqlite(c, rc, context);
}

void Stmt::run(const std::string& context) {
  while (next(context)) {
  }
}

void Stmt::reset() {
  sqlite3_reset(s_);
  sqlite3_clear_bindings(s_);
}

void Stmt::bind(int i, const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) bind(i, std::string_view(*s));
  else bindValue(s_, i, v);
}

void Stmt::bind(int i, std::string_view text) {
  sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

Value Stmt::column(int i) const { return columnValue(s_, i); }

std::string Stmt::text(int i) const {
  const unsigned char* v = sqlite3_column_text(s_, i);
  return v ? std::string(reinterpret_cast<const char*>(v), static_cast<size_t>(sqlite3_column_bytes(s_, i))) : std::string();
}

int64_t Stmt::int64(int i) const { return sqlite3_column_int64(s_, i); }

void exec(sqlite3* c, const std::string& sql, const std::string& context) {
  int rc = sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(c, rc, context);
}

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

}  // namespace velmo::db
