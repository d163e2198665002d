#include "startup/platform/changecounter.h"

#include <sqlite3.h>

#include "startup/platform/db.h"

namespace velmo::db {

int64_t ChangeCounter::total() { return sqlite3_total_changes64(Workspace::get().connection()); }

}  // namespace velmo::db
