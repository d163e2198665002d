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

Recordset::Recordset(DatabasePtr db, std::shared_ptr<const TableShape> shape)
    : db_(std::move(db)), shapeHeld_(std::move(shape)), shape_(*shapeHeld_) {
  qualified_ = "\"" + shape_.schema + "\"." + text::quoteSqlIdent(shape_.name);
  row_.assign(shape_.fields.size(), std::monostate{});
  dirty_.assign(shape_.fields.size(), 0);
  addOnly_.assign(shape_.fields.size(), 0);
  have_.assign(shape_.fields.size(), 0);
}

Recordset::~Recordset() = default;

void Recordset::setIndex(const std::string& name) {
  indexCols_.clear();
  for (const auto& ix : db_->indexes(shape_.name == "" ? "" : shape_.name)) {
    if (ix.name == name) {
      indexCols_ = ix.fields;
      indexUnique_ = (ix.unique || ix.primary) && !ix.ignoreNulls;
      break;
    }
  }
  if (indexCols_.empty()) {
    // The recordset may be on a linked table: look the index up through the target.
    raise(err::NotAnIndex, name, "[" + shape_.name + "]");
  }
  stmts_[0] = nullptr;
  matchSql_.clear();
  upsertMask_.clear();  // the upsert names the index's fields as its conflict
  upsertDirect_ = false;
  indexPos_.clear();
  for (const auto& c : indexCols_) {
    int i = shape_.find(c);
    indexPos_.push_back(i < 0 ? SIZE_MAX : static_cast<size_t>(i));
  }
  fromSeek_ = false;
  // A seek finds the rowid only (from the index alone); the row is read when
  // a field is asked for.
  seekSql_ = "SELECT rowid FROM " + qualified_ + " WHERE ";
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
    loaded_ = true;
    fromSeek_ = false;
  } else {
    current_ = false;
  }
  sqlite3_reset(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
}

void Recordset::loadCurrent() const {
  sqlite3_stmt* st = Workspace::get().prepareCached("SELECT * FROM " + qualified_ + " WHERE rowid = ?");
  sqlite3_bind_int64(st, 1, rowid_);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW)
    for (size_t i = 0; i < row_.size(); ++i)
      if (!dirty_[i] && !have_[i]) row_[i] = columnValue(st, static_cast<int>(i));
  sqlite3_reset(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
  if (rc != SQLITE_ROW) raise(err::NoCurrentRecord);
  loaded_ = true;
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
  // Fields set before (an edit given up, an upsert) are not the found row's.
  std::fill(dirty_.begin(), dirty_.end(), 0);
  sqlite3_stmt* st = cached(0, seekSql_);
  sqlite3_reset(st);
  // Text is bound without a copy: every bound value must outlive the step, so no
  // temporaries here (a missing key value binds the one static Null).
  static const Value kNull{};
  for (size_t i = 0; i < indexCols_.size(); ++i) bindValue(st, static_cast<int>(i + 1), i < keys.size() ? keys[i] : kNull);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    rowid_ = sqlite3_column_int64(st, 0);
    noMatch_ = false;
    current_ = true;
    loaded_ = false;
    std::fill(have_.begin(), have_.end(), 0);
    singleLoads_ = 0;
    fromSeek_ = true;
    seekKeys_.assign(keys.begin(), keys.begin() + static_cast<long>(std::min(keys.size(), indexCols_.size())));
  } else {
    noMatch_ = true;
    current_ = false;
  }
  // Every parameter is bound again before the next run: no clearing.
  sqlite3_reset(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
}

void Recordset::addNew() {
  std::fill(row_.begin(), row_.end(), Value{});
  std::fill(dirty_.begin(), dirty_.end(), 0);
  loaded_ = false;
  fromSeek_ = false;
  mode_ = Mode::Add;
}

void Recordset::edit() {
  if (!current_) raise(err::NoCurrentRecord);
  std::fill(dirty_.begin(), dirty_.end(), 0);
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
  dirty_[static_cast<size_t>(column)] = 1;
}

Value Recordset::get(int column) const {
  if (!current_ && mode_ == Mode::None) raise(err::NoCurrentRecord);
  const size_t c = static_cast<size_t>(column);
  if (mode_ != Mode::Add && !loaded_ && current_ && !dirty_[c] && !have_[c]) {
    // A filter asks for a field or two of a row found by seek: read just those,
    // and the whole row once more are wanted.
    if (++singleLoads_ > 2) {
      loadCurrent();
    } else {
      sqlite3_stmt* st = Workspace::get().prepareCached("SELECT " + text::quoteSqlIdent(shape_.fields[c].name) + " FROM " +
                                                        qualified_ + " WHERE rowid = ?");
      sqlite3_bind_int64(st, 1, rowid_);
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) row_[c] = columnValue(st, 0);
      sqlite3_reset(st);
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
      if (rc != SQLITE_ROW) raise(err::NoCurrentRecord);
      have_[c] = 1;
    }
  }
  return row_[c];
}

// A field's value as the table's constraints take it: numbers given as text
// are converted as the engine converts them (text that is not a number is the
// conversion error; whole-number fields round), and text longer than the field
// size is the field-size error, its length counted as SQLite's length() counts.
void Recordset::checkField(size_t i) { checkValue(i, row_[i]); }

void Recordset::checkValue(size_t i, Value& v) {
  const FieldInfo& f = shape_.fields[i];
  if (isNumericType(f.type)) {
    if (auto* s = std::get_if<std::string>(&v)) {
      std::string t = text::trimBlanks(*s);
      char* end = nullptr;
      double d = t.empty() ? 0 : std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0') {
        mode_ = Mode::None;
        raise(err::ConversionError, f.name, " [" + shape_.name + "]");
      }
      v = d;
    }
    if (f.type != FieldType::Single && f.type != FieldType::Double)
      if (auto* d = std::get_if<double>(&v)) v = std::nearbyint(*d);
    return;
  }
  if (f.type != FieldType::Text || std::holds_alternative<std::monostate>(v)) return;
  const size_t limit = static_cast<size_t>(f.size > 0 ? f.size : 255);
  size_t chars = 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (s->size() <= limit) return;  // never more characters than bytes
    // length(): characters up to the first NUL, a lead byte with its
    // continuation bytes counting one.
    const unsigned char* z = reinterpret_cast<const unsigned char*>(s->data());
    const unsigned char* e = z + s->size();
    while (z < e && *z) {
      ++chars;
      if (*z++ >= 0xC0)
        while (z < e && (*z & 0xC0) == 0x80) ++z;
    }
  } else {
    // A number stored as text: its length as SQLite writes it.
    sqlite3_stmt* st = Workspace::get().prepareCached("SELECT length(CAST(? AS TEXT))");
    bindValue(st, 1, v);
    if (sqlite3_step(st) == SQLITE_ROW) chars = static_cast<size_t>(sqlite3_column_int64(st, 0));
    sqlite3_reset(st);
  }
  if (chars > limit) {
    mode_ = Mode::None;
    raise(err::FieldTooSmall, f.name, " [" + shape_.name + "]");
  }
}

void Recordset::update() {
  auto& ws = Workspace::get();
  sqlite3_stmt* st;
  const size_t n = row_.size();
  if (mode_ == Mode::Add) {
    for (size_t i = 0; i < n; ++i) checkField(i);
    if (insertSql_.empty()) {
      std::string cols, marks;
      for (size_t i = 0; i < n; ++i) {
        cols += (i ? "," : "") + text::quoteSqlIdent(shape_.fields[i].name);
        marks += i ? ",?" : "?";
      }
      insertSql_ = "INSERT INTO " + qualified_ + " (" + cols + ") VALUES (" + marks + ")";
    }
    st = cached(1, insertSql_);
    for (size_t i = 0; i < n; ++i) bindValue(st, static_cast<int>(i + 1), row_[i]);
  } else if (mode_ == Mode::Edit) {
    // Only the fields set are written: the others keep their stored values.
    for (size_t i = 0; i < n; ++i)
      if (dirty_[i]) checkField(i);
    // A key field set to the very value the seek found the row by stays as
    // stored: rewriting it would only move the row's index entries.
    if (fromSeek_ && shape_.native)
      for (size_t j = 0; j < indexPos_.size() && j < seekKeys_.size(); ++j) {
        size_t i = indexPos_[j];
        if (i < n && dirty_[i] && row_[i] == seekKeys_[j]) dirty_[i] = 0;
      }
    if (std::find(dirty_.begin(), dirty_.end(), 1) == dirty_.end()) {
      mode_ = Mode::None;
      return;
    }
    if (dirty_ != updateMask_) {
      std::string sets;
      for (size_t i = 0; i < n; ++i)
        if (dirty_[i]) sets += (sets.empty() ? "" : ",") + text::quoteSqlIdent(shape_.fields[i].name) + "=?";
      stmts_[2] = nullptr;
      updateSql_ = "UPDATE " + qualified_ + " SET " + sets + " WHERE rowid = ?";
      updateMask_ = dirty_;
    }
    // A key written anew: the row is no longer the one the seek's values name.
    for (size_t i : indexPos_)
      if (i < n && dirty_[i]) fromSeek_ = false;
    st = cached(2, updateSql_);
    int k = 0;
    for (size_t i = 0; i < n; ++i)
      if (dirty_[i]) bindValue(st, ++k, row_[i]);
    sqlite3_bind_int64(st, k + 1, rowid_);
  } else {
    raise(err::UpdateWithoutEdit);
  }
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) {
    int code = rc;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    mode_ = Mode::None;
    raiseSqlite(ws.connection(), code, shape_.name);
  }
  if (mode_ == Mode::Add) {
    rowid_ = sqlite3_last_insert_rowid(ws.connection());
    loaded_ = true;  // the row as written (every field bound)
  }
  sqlite3_reset(st);
  current_ = true;
  mode_ = Mode::None;
}

void Recordset::upsert(const std::vector<int>& columns, std::vector<Value>& values, int keepNewer) {
  // The fields of the last one-statement upsert again (a file's records): each
  // value is checked and bound where the caller holds it.
  if (upsertDirect_ && keepNewer == upsertNewer_ && columns == upsertColumns_) {
    mode_ = Mode::None;
    for (size_t p : upsertFrom_) checkValue(static_cast<size_t>(columns[p]), values[p]);
    current_ = false;
    loaded_ = false;
    fromSeek_ = false;
    // Prepared anew after a change of the schema, the statement may be refused:
    // then the long way below decides.
    sqlite3_stmt* st = stmtGen_ == Workspace::get().statementGeneration() ? stmts_[3] : nullptr;
    if (st) {
      int k = 0;
      for (size_t p : upsertFrom_) bindValue(st, ++k, values[p]);
      int rc = sqlite3_step(st);
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
      return;
    }
    upsertMask_.clear();
  }
  upsertDirect_ = false;
  const size_t n = row_.size();
  std::fill(row_.begin(), row_.end(), Value{});
  std::fill(dirty_.begin(), dirty_.end(), 0);
  for (size_t i = 0; i < columns.size(); ++i) {
    row_[static_cast<size_t>(columns[i])] = std::move(values[i]);
    dirty_[static_cast<size_t>(columns[i])] = 1;
  }
  bool whole = indexUnique_ && !indexPos_.empty();
  for (size_t i : indexPos_) whole = whole && i < n && dirty_[i];
  if (!whole) {
    // Step by step, as the caller would.
    std::vector<Value> keys;
    for (size_t i : indexPos_) keys.push_back(i < n ? row_[i] : Value{});
    std::vector<Value> set(row_);
    std::vector<char> which(dirty_);
    seek(keys);
    if (!noMatch() && keepNewer >= 0) {
      const Value stored = get(keepNewer);
      const Value& incoming = set[static_cast<size_t>(keepNewer)];
      if (toOptText(stored).value_or("") > toOptText(incoming).value_or("")) return;
    }
    const bool adding = noMatch();
    if (adding) addNew();
    else edit();
    for (size_t i = 0; i < n; ++i)
      if (which[i] && (adding || !addOnly_[i])) this->set(static_cast<int>(i), std::move(set[i]));
    update();
    return;
  }
  mode_ = Mode::Add;
  for (size_t i = 0; i < n; ++i)
    if (dirty_[i]) checkField(i);
  mode_ = Mode::None;
  current_ = false;
  loaded_ = false;
  fromSeek_ = false;
  if (dirty_ != upsertMask_ || keepNewer != upsertNewer_) {
    std::string cols, marks, sets, keys;
    for (size_t i = 0; i < n; ++i) {
      if (!dirty_[i]) continue;
      const std::string q = text::quoteSqlIdent(shape_.fields[i].name);
      cols += (cols.empty() ? "" : ",") + q;
      marks += marks.empty() ? "?" : ",?";
      if (!addOnly_[i] && std::find(indexPos_.begin(), indexPos_.end(), i) == indexPos_.end())
        sets += (sets.empty() ? "" : ",") + q + "=excluded." + q;
    }
    for (const auto& k : indexCols_) keys += (keys.empty() ? "" : ",") + text::quoteSqlIdent(k);
    std::string guard;
    if (keepNewer >= 0) {
      const std::string q = text::quoteSqlIdent(shape_.fields[static_cast<size_t>(keepNewer)].name);
      guard = " WHERE ifnull(" + q + ", '') <= ifnull(excluded." + q + ", '')";
    }
    upsertSql_ = "INSERT INTO " + qualified_ + " (" + cols + ") VALUES (" + marks + ") ON CONFLICT (" + keys + ") DO " +
                 (sets.empty() ? "NOTHING" : "UPDATE SET " + sets + guard);
    stmts_[3] = nullptr;
    upsertMask_ = dirty_;
    upsertNewer_ = keepNewer;
  }
  sqlite3_stmt* st = nullptr;
  try {
    st = cached(3, upsertSql_);
  } catch (const VelmoError&) {
    // The index cannot name a conflict (SQLite refuses it): step by step.
    indexUnique_ = false;
    upsertMask_.clear();
    upsertDirect_ = false;
    std::vector<Value> again;
    std::vector<int> cols;
    for (size_t i = 0; i < n; ++i)
      if (dirty_[i]) cols.push_back(static_cast<int>(i)), again.push_back(std::move(row_[i]));
    upsert(cols, again, keepNewer);
    return;
  }
  int k = 0;
  for (size_t i = 0; i < n; ++i)
    if (dirty_[i]) bindValue(st, ++k, row_[i]);
  int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
  // The next call with the same fields binds straight from its values: each
  // parameter from the last position that writes its field.
  upsertFrom_.clear();
  for (size_t i = 0; i < n; ++i)
    if (dirty_[i])
      for (size_t p = columns.size(); p-- > 0;)
        if (static_cast<size_t>(columns[p]) == i) {
          upsertFrom_.push_back(p);
          break;
        }
  upsertColumns_ = columns;
  upsertDirect_ = true;
}

void Recordset::setAddOnly(const std::vector<int>& columns) {
  std::fill(addOnly_.begin(), addOnly_.end(), 0);
  for (int c : columns) addOnly_.at(static_cast<size_t>(c)) = 1;
  upsertMask_.clear();  // the cached upsert statement no longer fits
  upsertDirect_ = false;
}

void Recordset::readMatching(const std::vector<Value>& keys, const std::vector<int>& columns,
                             std::vector<std::vector<Value>>& rows) {
  if (seekSql_.empty()) raise(err::NoCurrentIndex);
  if (keys.empty() || keys.size() > indexCols_.size())
    throw VelmoError(err::InvalidArgument, "readMatching: " + std::to_string(keys.size()) + " key values for an index of " +
                                               std::to_string(indexCols_.size()) + " fields [" + shape_.name + "]");
  if (matchSql_.empty() || keys.size() != matchKeys_ || columns != matchColumns_) {
    std::string cols, where, order;
    for (int c : columns) cols += (cols.empty() ? "" : ",") + text::quoteSqlIdent(shape_.fields.at(static_cast<size_t>(c)).name);
    for (size_t i = 0; i < indexCols_.size(); ++i) {
      const std::string q = text::quoteSqlIdent(indexCols_[i]);
      if (i < keys.size()) where += (i ? " AND " : "") + q + " = ?";
      order += (i ? "," : "") + q;
    }
    matchSql_ = "SELECT " + cols + " FROM " + qualified_ + " WHERE " + where + " ORDER BY " + order;
    matchKeys_ = keys.size();
    matchColumns_ = columns;
    stmts_[4] = nullptr;
  }
  sqlite3_stmt* st = cached(4, matchSql_);
  for (size_t i = 0; i < keys.size(); ++i) bindValue(st, static_cast<int>(i + 1), keys[i]);
  size_t n = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (rows.size() <= n) rows.emplace_back();
    auto& row = rows[n++];
    row.resize(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) row[i] = columnValue(st, static_cast<int>(i));
  }
  rows.resize(n);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) raiseSqlite(Workspace::get().connection(), rc, shape_.name);
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
