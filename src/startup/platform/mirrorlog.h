// Which rows the program's commits changed, for the server copy of the
// databases (src/mirror). While it is on, every insert, update and delete on a
// table of an attached file notes the table and the value of the first field of
// its "PrimaryKey" (a table without one is noted whole); the notes are written
// into the file's own table MSysVelmoMirrorLog just before the outermost commit,
// so they are committed or rolled back together with the rows.
#pragma once
#include <cstdint>
#include <string>

struct sqlite3;

namespace velmo::db {

// The engine's tables of the server copy, in each database file.
inline constexpr const char* kMirrorLog = "MSysVelmoMirrorLog";      // (表, キー): "*" for the whole table
inline constexpr const char* kMirrorState = "MSysVelmoMirrorState";  // one row (id, seq)
// The key noted for a whole table.
inline constexpr const char* kWholeTable = "*";

class MirrorLog {
 public:
  // On while the setting Mirror is set.
  static void setEnabled(bool on);
  static bool enabled();
  // Installs the note-taker on the workspace connection (Workspace, at open).
  static void install(sqlite3* c);
  // Writes the notes of the files still attached into their logs (Workspace,
  // inside the outermost transaction before COMMIT).
  static void flush(sqlite3* c);
  // True while notes wait for a commit.
  static bool pending();
  // Notes taken since the start of the process (the benchmark and tests).
  static uint64_t notesTaken();
};

}  // namespace velmo::db
