// One statement typed by a member (the SQL screen, velmo-cli sql).
#pragma once
#include <string>
#include <vector>

#include "startup/platform/db.h"

namespace velmo::db {

struct UserStatementResult {
  bool isSelect = false;
  std::vector<std::string> columns;       // a select's column names
  std::vector<std::vector<Value>> rows;   // a select's rows
  long affected = 0;                      // records inserted, updated or deleted
};

// Runs one Jet statement on `db`: a select returns its rows, anything else runs
// as Execute does and returns the records affected. Errors are VelmoError with
// the engine's number and description. The caller owns the transaction
// (begin before, commit or roll back after).
UserStatementResult runUserStatement(Database& db, const std::string& sql);

}  // namespace velmo::db
