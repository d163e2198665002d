// Snapshot of a query's rows.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "startup/platform/value.h"

namespace velmo::db {

class Database;

// Snapshot of a query: all rows read at open.
class QueryResult {
 public:
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;

  bool eof() const { return pos_ >= rows.size(); }
  bool bof() const { return bof_ || rows.empty(); }
  void moveFirst() {
    pos_ = 0;
    bof_ = false;
  }
  void moveNext() {
    if (pos_ < rows.size()) ++pos_;
    bof_ = false;
  }
  // The last row; an empty snapshot is at its end.
  void moveLast() {
    pos_ = rows.empty() ? 0 : rows.size() - 1;
    bof_ = false;
  }
  // Before the first row, bof() is true and there is no current row.
  void movePrevious() {
    if (pos_ == 0 || rows.empty()) {
      bof_ = true;
      pos_ = rows.size();  // no current row
    } else {
      --pos_;
    }
  }

  // Finding a row by a criteria text of the statement's dialect, for example
  // "W出走馬.血統登録番号='12345678'": the names are those of the query the
  // snapshot was opened on. A match becomes the current row; without one the
  // position stays and noMatch() is true. The criteria is evaluated by the
  // database on the query, so any expression of a where clause works.
  bool findFirst(const std::string& criteria);
  bool findNext(const std::string& criteria);
  bool findLast(const std::string& criteria);
  bool findPrevious(const std::string& criteria);
  bool noMatch() const { return noMatch_; }
  // The database and statement the snapshot was read from (set by openQuery).
  void setSource(std::weak_ptr<Database> db, std::string sql) {
    db_ = std::move(db);
    source_ = std::move(sql);
  }
  long recordCount() const { return static_cast<long>(rows.size()); }
  int columnIndex(const std::string& name) const;  // 3265 when missing
  Value get(int column) const;
  Value get(const std::string& name) const { return get(columnIndex(name)); }
  size_t position() const { return pos_; }

 private:
  // Marks of the rows the criteria selects, evaluated once per criteria text.
  const std::vector<bool>& matches(const std::string& criteria);
  bool find(const std::string& criteria, bool forward, bool fromCurrent);
  size_t pos_ = 0;
  bool bof_ = false;
  bool noMatch_ = false;
  std::weak_ptr<Database> db_;
  std::string source_;
  std::map<std::string, std::vector<bool>> found_;
};

}  // namespace velmo::db
