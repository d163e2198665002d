// Translation of the program's Jet SQL dialect into SQLite SQL.
#pragma once
#include <string>

namespace velmo::db {

class Database;

// Resolves table and column names against the database (letter case and the
// width of letters and digits do not matter), turns Jet functions, "&"
// concatenation, like wildcards, "update ... inner join ... set" and the other
// Jet forms into their SQLite equivalents.
std::string translateJetSql(const std::string& sql, Database& db);

// Registers the SQL functions the translation relies on (jet_left, jet_first …).
struct sqlite3_fwd;
void registerJetFunctions(void* sqliteConnection);

}  // namespace velmo::db
