// A prepared SQLite statement that finalises itself.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "startup/platform/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmo::db {

class Stmt {
 public:
  Stmt() = default;
  // Takes ownership of a statement prepared elsewhere.
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  // Prepares the statement; an SQLite failure is raised as the engine's error
  // (the context names the table or file in the message).
  Stmt(sqlite3* c, std::string_view sql, const std::string& context = {});
  ~Stmt();
  Stmt(Stmt&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
  Stmt& operator=(Stmt&& o) noexcept;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  sqlite3_stmt* get() const { return s_; }
  explicit operator bool() const { return s_ != nullptr; }

  // True while a row is available; raises the engine's error on failure.
  bool next(const std::string& context = {});
  // Steps to the end (a statement that returns no rows).
  void run(const std::string& context = {});
  void reset();

  // Parameters are 1-based; text is copied.
  void bind(int i, const Value& v);
  void bind(int i, std::string_view text);
  // Columns are 0-based.
  Value column(int i) const;
  std::string text(int i) const;  // Null gives ""
  int64_t int64(int i) const;

 private:
  sqlite3_stmt* s_ = nullptr;
};

// Runs SQL text that returns no rows (one or more statements); raises the engine's error.
void exec(sqlite3* c, const std::string& sql, const std::string& context = {});

// Reads a column of the current row of any statement.
Value columnValue(sqlite3_stmt* st, int i);
// Binds without a copy: the value must outlive the step.
void bindValue(sqlite3_stmt* st, int i, const Value& v);

}  // namespace velmo::db
