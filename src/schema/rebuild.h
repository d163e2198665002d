// Rebuilds the tables of a database made by an earlier build (types enforced by
// checks) as native-typed tables, in place.
#pragma once
#include <functional>
#include <string>

#include "startup/platform/db.h"

namespace velmo {

// Every old-style table of the database is rebuilt as a native-typed table with
// its rows and indexes, one transaction per table; links and tables already
// native are left alone. `progress` (may be empty) is told each table before it
// is rebuilt. A table that fails is rolled back and logged; the others go on.
// True when every table is native afterwards.
bool RebuildTablesNative(const db::DatabasePtr& database,
                         const std::function<void(const std::string& table)>& progress = {});

}  // namespace velmo
