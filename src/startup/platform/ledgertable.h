// The registration record of a database: the system table MSysVelmoLedger, one
// row per archive registered (or tried) into the database, beside the
// database's properties. Rows are written by the registration driver in the
// transaction of the rows they describe.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmo::db {

class Database;

struct LedgerRow {
  std::string archive;   // file name, the key
  std::string dataId;    // the archive's kind ("KOVA" for a pack archive)
  std::string raceDate;  // yyyymmdd from the archive name
  std::string mode;      // "T" or "D" as registered
  std::string files;     // per file: JSON array (held, read, registered, skipped and why, rows)
  int64_t held = 0;      // records the archive's files held
  int64_t read = 0;      // records read
  int64_t registered = 0;
  int64_t skipped = 0;   // records left out by a rule
  int64_t rows = 0;      // rows written
  std::string at;        // when, yyyy-mm-ddThh:mm:ss (local time)
  std::string outcome;   // "registered", "running" (files committed, archive not finished) or "failed"
  std::string error;     // the error of a failed try
};

class LedgerTable {
 public:
  static const char* name();
  // Creates the table when the database lacks it.
  static void ensure(Database& d);
  // Adds or replaces the archive's row.
  static void put(Database& d, const LedgerRow& row);
  // The rows of race dates from..to (both included); a database without the
  // table has none.
  static std::vector<LedgerRow> read(Database& d, const std::string& from, const std::string& to);
  // Moves every row of `from` into `to` (a row of the same archive replaced).
  static void moveAll(Database& from, Database& to);
  // Removes the rows of race dates from..to; the number removed.
  static int64_t removeDates(Database& d, const std::string& from, const std::string& to);
};

}  // namespace velmo::db
