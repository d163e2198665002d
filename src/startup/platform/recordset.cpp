#include "startup/platform/recordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/queryresult.h"
#include "startup/platform/database.h"
#include "startup/platform/stmt.h"

namespace velmo::db {

Recordset::Recordset(DatabasePtr db, const TableShape& shape) : db_(std::move(db)), shape_(shape) {
  qualified_ = "\"" + shape_.schema + "\"." + text::quoteSqlIdent(shape_.name);
  row_.assign(shape_.fields.size(), std::monostate{});
  std::string cols, marks, sets;
  for (size_t i = 0; i < shape_.fields.size(); ++i) {
    cols += (i ? "," : "") + text::quoteSqlIdent(shape_.fields[i].name);
    marks += i ? ",?" : "?";
    sets += (i ? "," : "") + text::quoteSqlIdent(shape_.fields[i].name) + "=?";
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
    raise(err::NotAnIndex, name, "[" + shape_.name + "]");
  }
  stmts_[0] = nullptr;
  seekSql_ = "SELECT rowid, * FROM " + qualified_ + " WHERE ";
  for (size_t i = 0; i < indexCols_.size(); ++i) seekSql_ += (i ? " AND " : "") + text::quoteSqlIdent(indexCols_[i]) + " = ?";
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
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
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
  if (seekSql_.empty()) raise(err::NoCurrentIndex);
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
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
}

void Recordset::addNew() {
  std::fill(row_.begin(), row_.end(), Value{});
  mode_ = Mode::Add;
}

void Recordset::edit() {
  if (!current_) raise(err::NoCurrentRecord);
  mode_ = Mode::Edit;
}

int Recordset::columnIndex(const std::string& column) const {
  int i = shape_.find(column);
  if (i < 0) raise(err::NoSuchField, column, "[" + shape_.name + "]");
  return i;
}

void Recordset::set(int column, Value v) {
  if (mode_ == Mode::None) raise(err::UpdateWithoutEdit);
  row_[static_cast<size_t>(column)] = std::move(v);
}

Value Recordset::get(int column) const {
  if (!current_ && mode_ == Mode::None) raise(err::NoCurrentRecord);
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
    raise(err::UpdateWithoutEdit);
  }
  // Numbers given as text are converted here, as the engine converts them; text
  // that is not a number is the conversion error. Whole-number fields round.
  for (size_t i = 0; i < row_.size(); ++i) {
    const FieldInfo& f = shape_.fields[i];
    if (!isNumericType(f.type)) continue;
    if (auto* s = std::get_if<std::string>(&row_[i])) {
      std::string t = text::trimBlanks(*s);
      char* end = nullptr;
      double d = t.empty() ? 0 : std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0') {
        mode_ = Mode::None;
        raise(err::ConversionError, f.name, " [" + shape_.name + "]");
      }
      row_[i] = d;
    }
    if (f.type != FieldType::Single && f.type != FieldType::Double)
      if (auto* d = std::get_if<double>(&row_[i])) row_[i] = std::nearbyint(*d);
  }
  for (size_t i = 0; i < row_.size(); ++i) bindValue(st, static_cast<int>(i + 1), row_[i]);
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) {
    int code = rc;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    mode_ = Mode::None;
    raiseSqlite(ws.connection(), code, shape_.name);
  }
  if (mode_ == Mode::Add) rowid_ = sqlite3_last_insert_rowid(ws.connection());
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  current_ = true;
  mode_ = Mode::None;
}

void Recordset::loadRowids() {
  rowids_.clear();
  std::string order;
  for (size_t i = 0; i < indexCols_.size(); ++i) order += (i ? "," : "") + text::quoteSqlIdent(indexCols_[i]);
  std::string sql = "SELECT rowid FROM " + qualified_ + (order.empty() ? "" : " ORDER BY " + order);
  sqlite3_stmt* st = Workspace::get().prepareCached(sql);
  while (sqlite3_step(st) == SQLITE_ROW) rowids_.push_back(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
}

void Recordset::moveFirst() {
  loadRowids();
  pos_ = 0;
  bof_ = false;
  if (!rowids_.empty()) loadRow(rowids_[0]);
  else current_ = false;
}

void Recordset::moveNext() {
  if (pos_ < rowids_.size()) ++pos_;
  bof_ = false;
  if (pos_ < rowids_.size()) loadRow(rowids_[pos_]);
  else current_ = false;
}

void Recordset::moveLast() {
  loadRowids();
  bof_ = false;
  pos_ = rowids_.empty() ? 0 : rowids_.size() - 1;
  if (!rowids_.empty()) loadRow(rowids_[pos_]);
  else current_ = false;
}

void Recordset::movePrevious() {
  if (pos_ == 0 || pos_ > rowids_.size() || rowids_.empty()) {
    bof_ = true;
    current_ = false;
    pos_ = rowids_.size();
    return;
  }
  --pos_;
  loadRow(rowids_[pos_]);
}

long Recordset::recordCount() {
  sqlite3_stmt* st = Workspace::get().prepareCached("SELECT count(*) FROM " + qualified_);
  long n = 0;
  if (sqlite3_step(st) == SQLITE_ROW) n = static_cast<long>(sqlite3_column_int64(st, 0));
  sqlite3_reset(st);
  return n;
}

void Recordset::deleteRow() {
  if (!current_) raise(err::NoCurrentRecord);
  sqlite3_stmt* st = Workspace::get().prepareCached("DELETE FROM " + qualified_ + " WHERE rowid = ?");
  sqlite3_bind_int64(st, 1, rowid_);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
  current_ = false;
}

}  // namespace velmo::db
