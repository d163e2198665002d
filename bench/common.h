// Shared parts of the registration benchmarks.
#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "registration/layout.h"
#include "startup/platform/db.h"
#include "tools/fixture/fixture.h"

namespace velmo::bench {

using Clock = std::chrono::steady_clock;
extern std::string g_root;  // scratch folder of the run, ends in "/"

// Sets up a scratch folder, the program folder and a quiet log.
void Setup();
void Teardown();
// A folder holding fresh copies of the initial databases.
std::string freshDbFolder(const std::string& name);
// Opens kova_this.mdb and kova_data.mdb of G().gDBDir in the workspace, as a
// plain loop has its database open before timing.
void openBeforeTiming();
double seconds(Clock::time_point a, Clock::time_point b);
// The median of timings (0 for none).
double median(std::vector<double> v);
// The race days of a year (yyyymmdd): every Saturday and Sunday.
std::vector<std::string> raceDays(int year);
// A race day of its own race keys: one racecourse, 12 races of 12 runners.
fixture::RaceDay dayOf(const std::string& date, int indexInYear);
// The kinds of the generated past days that a mode registers.
std::vector<std::string> kindsFor(const std::string& mode);
// --years N of a benchmark's command line (at least 1), or fallback when it has none.
int YearsOption(int argc, char** argv, int fallback);
// Rows of a file decoded by the layout, ready for a plain insert.
std::vector<std::vector<db::Value>> decodeRows(const reg::Layout& L, const std::string& path);
// Plain loop: one prepared INSERT of the layout's columns, one transaction; seconds taken.
// A fresh copy of the initial kova_this.mdb whose tables have the same columns and
// indexes but no column types and no checks: the speed of SQLite itself.
std::string unconstrainedDb(const std::string& name);
double plainInsert(const std::string& dbFile, const std::string& table, const reg::Layout& L,
                   const std::vector<std::vector<db::Value>>& rows);

struct Result {
  std::string label;
  long records;
  double regSec;       // first registration (new rows), the databases already open
  double regAgainSec;  // the same archive again (every record an update)
  double plainSec;     // plain insert loop of the same rows (its database opened before timing)
  double coldSec = 0;  // first registration in a fresh workspace: includes opening the databases
  double freeSec = 0;  // plain insert loop into the unconstrained copy of the table
};

// Registers an archive holding one file of a kind, twice, and runs the plain loop.
Result benchKind(const std::string& kind, const std::vector<std::string>& records, const std::string& date);
void report(const std::vector<Result>& results);

}  // namespace velmo::bench
