// Table-type recordset: direct access to one table through its indexes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "startup/platform/schemacache.h"
#include "startup/platform/value.h"

struct sqlite3_stmt;

namespace velmo::db {

class Database;
using DatabasePtr = std::shared_ptr<Database>;

// Table-type recordset: seek on an index, add-new or edit, set fields, update.
class Recordset {
 public:
  Recordset(DatabasePtr db, std::shared_ptr<const TableShape> shape);
  ~Recordset();

  void setIndex(const std::string& name);
  // Seek "=" with the key values in the index's column order.
  void seek(const std::vector<Value>& keys);
  bool noMatch() const { return noMatch_; }

  void addNew();
  void edit();
  int columnIndex(const std::string& column) const;  // 3265 when missing
  void set(int column, Value v);
  void set(const std::string& column, Value v) { set(columnIndex(column), std::move(v)); }
  Value get(int column) const;
  Value get(const std::string& column) const { return get(columnIndex(column)); }
  // Writes the new row, or the fields set since edit(). Every field is checked
  // here as the table's constraints would check it (numbers, text size), so the
  // write may run inside a RecordWriteScope.
  void update();
  void cancelUpdate() { mode_ = Mode::None; }
  // seek() on the current (unique) index with the key fields among `columns`,
  // then addNew() or edit(), set(columns[i], values[i]) in order and update(),
  // as one statement. Leaves no current record. On an index that is not unique,
  // or without every key field, it takes those steps one by one. With
  // keepNewer, a stored row is replaced only when its value of that field (Null
  // taken as empty text) is not above the new one, as text compares.
  void upsert(const std::vector<int>& columns, std::vector<Value>& values, int keepNewer = -1);
  // Fields that upsert() writes only into a row it adds: a stored row keeps its
  // own values of them.
  void setAddOnly(const std::vector<int>& columns);
  // Reads `columns` of every row whose leading fields of the current index equal
  // `keys` (all of them or the first few), in the index's order, into `rows`.
  // One statement; the current row stays as it is.
  void readMatching(const std::vector<Value>& keys, const std::vector<int>& columns,
                    std::vector<std::vector<Value>>& rows);
  // The fields of the current index, as column numbers.
  const std::vector<size_t>& indexFields() const { return indexPos_; }
  // True when update() makes every check the table's constraints make.
  bool checksItself() const { return shape_.native; }

  // Walking the table in the order of the current index.
  void moveFirst();
  void moveNext();
  void moveLast();
  // Before the first row bof() is true and there is no current row.
  void movePrevious();
  bool eof() const { return pos_ >= rowids_.size(); }
  bool bof() const { return bof_ || rowids_.empty(); }
  long recordCount();
  void deleteRow();
  void close() {}

  const TableShape& shape() const { return shape_; }

 private:
  void loadRow(int64_t rowid);
  // Reads the current row after a seek, which finds only its rowid; fields
  // already set keep their new values.
  void loadCurrent() const;
  void checkField(size_t i);  // row_[i]
  void checkValue(size_t i, Value& v);
  // Statement of a slot (0 seek, 1 insert, 2 update, 3 upsert, 4 read by
  // leading key fields), prepared once.
  sqlite3_stmt* cached(int slot, const std::string& sql);
  sqlite3_stmt* stmts_[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  uint64_t stmtGen_ = 0;
  enum class Mode { None, Add, Edit };
  DatabasePtr db_;
  std::shared_ptr<const TableShape> shapeHeld_;  // the layer's own, shared
  const TableShape& shape_;
  std::string qualified_;
  std::vector<std::string> indexCols_;
  mutable std::vector<Value> row_;
  mutable bool loaded_ = false;     // row_ holds the current row's stored values
  mutable std::vector<char> have_;  // or these fields of it
  mutable int singleLoads_ = 0;
  bool fromSeek_ = false;           // the current row was found by seek()
  std::vector<Value> seekKeys_;     // and these are the key values it matched
  std::vector<size_t> indexPos_;    // the current index's fields
  bool indexUnique_ = false;
  std::vector<char> upsertMask_;    // the fields of the cached upsert statement
  int upsertNewer_ = -1;            // and its keepNewer field
  std::string upsertSql_;
  bool upsertDirect_ = false;        // the last upsert took one statement:
  std::vector<int> upsertColumns_;   // its fields as the caller gave them
  std::vector<size_t> upsertFrom_;   // and, per parameter, the value's position
  std::vector<char> addOnly_;       // fields an upsert writes only into a new row
  std::string matchSql_;            // readMatching()'s statement,
  size_t matchKeys_ = 0;            // the key fields it compares
  std::vector<int> matchColumns_;   // and the fields it reads
  std::vector<char> dirty_;         // fields set since addNew() or edit()
  std::vector<char> updateMask_;    // the fields of the cached update statement
  int64_t rowid_ = -1;
  bool current_ = false;
  bool noMatch_ = true;
  Mode mode_ = Mode::None;
  std::vector<int64_t> rowids_;
  size_t pos_ = 0;
  bool bof_ = false;
  void loadRowids();
  std::string seekSql_, insertSql_, updateSql_;
};

}  // namespace velmo::db
