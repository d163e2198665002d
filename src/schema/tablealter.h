// Brings a database up to a table definition file: creates missing tables and
// adds missing fields and indexes; never removes or changes what exists.
#pragma once
#include <string>

namespace velmo {

// The file name is relative to the program folder; true when the whole file was applied.
bool TableAlter(const std::string& definitionFile, const std::string& databasePath);
// Drops one table by name; true when it is gone afterwards.
bool TableDelete(const std::string& tableName, const std::string& databasePath);

}  // namespace velmo
