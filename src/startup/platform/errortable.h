// The engine's errors: one table of numbers and descriptions, and the mapping of
// SQLite's failures onto them. Call sites name an err:: constant, never a number.
#pragma once
#include <string>
#include <string_view>

#include "common/error.h"

struct sqlite3;

namespace velmo::db {

// The description of an engine error number; "%1" in it stands for a name.
// Numbers outside the table give the generic description.
std::string_view engineDescription(long number);

// The error with its description, "%1" replaced by the name, and the detail
// (a bracketed context, an SQLite message …) appended as given.
VelmoError engineError(long number, std::string_view name = {}, std::string_view detail = {});
[[noreturn]] void raise(long number, std::string_view name = {}, std::string_view detail = {});

// Maps the connection's last SQLite failure (result code rc) onto the engine's
// errors; the context (a table, a path) is appended in brackets.
[[noreturn]] void raiseSqlite(sqlite3* c, int rc, const std::string& context = {});

}  // namespace velmo::db
