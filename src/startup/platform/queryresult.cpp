#include "startup/platform/queryresult.h"

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/errortable.h"

namespace velmo::db {

int QueryResult::columnIndex(const std::string& name) const {
  std::string f = text::foldName(name);
  for (size_t i = 0; i < columns.size(); ++i)
    if (text::foldName(columns[i]) == f) return static_cast<int>(i);
  raise(err::NoSuchField, name);
}

Value QueryResult::get(int column) const {
  if (pos_ >= rows.size()) raise(err::NoCurrentRecord);
  return rows[pos_][static_cast<size_t>(column)];
}

}  // namespace velmo::db
