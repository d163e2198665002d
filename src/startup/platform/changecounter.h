// How many rows the program's statements have inserted, updated or deleted
// since the workspace connection was opened: a command reads it before and
// after a piece of work to report the rows it wrote.
#pragma once
#include <cstdint>

namespace velmo::db {

class ChangeCounter {
 public:
  static int64_t total();
};

}  // namespace velmo::db
