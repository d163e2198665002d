// The three database wrappers with their retry rules.
#pragma once
#include <functional>
#include <string>

#include "startup/platform/db.h"

namespace velmo {

// Opens a database; retries on locking errors (at most 20 times, one second
// apart) and then gives false without a log entry. Other errors are logged at
// "DAO_Open" and raised again with source "DAO_Open".
bool DAO_Open(db::DatabasePtr& database, const std::string& path);
// Opens a registration session's database: kova_this.mdb for mode "T",
// kova_data.mdb for "D". A lock that outlasts DAO_Open's retries is raised as the
// lock error naming the file (not the "not connected" of the first table access).
db::DatabasePtr OpenModeDatabase(const std::string& dbDir, const std::string& mode);
// Executes one statement; any error is retried at most 11 times, then logged at
// "DAO_Exec" and false returned.
bool DAO_Exec(const db::DatabasePtr& database, const std::string& sql);
// Copies the rows of a source query into a destination table, one transaction
// per row; duplicate keys and unknown fields skip the failing step. Window
// events run between rows; when `cancelled` (may be empty) says so after them,
// the copy stops with the rows so far kept and false is returned.
bool DAO_Ins(const db::DatabasePtr& database, const std::string& sourceQuery, const std::string& destination,
             const std::function<bool()>& cancelled = {});

bool IsLockError(long number);

}  // namespace velmo
