// Snapshot of a query's rows.
#pragma once
#include <string>
#include <vector>

#include "startup/platform/value.h"

namespace velmo::db {

// Snapshot of a query: all rows read at open.
class QueryResult {
 public:
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;

  bool eof() const { return pos_ >= rows.size(); }
  bool bof() const { return pos_ == 0; }
  void moveFirst() { pos_ = 0; }
  void moveNext() {
    if (pos_ < rows.size()) ++pos_;
  }
  long recordCount() const { return static_cast<long>(rows.size()); }
  int columnIndex(const std::string& name) const;  // 3265 when missing
  Value get(int column) const;
  Value get(const std::string& name) const { return get(columnIndex(name)); }
  size_t position() const { return pos_; }

 private:
  size_t pos_ = 0;
};

}  // namespace velmo::db
