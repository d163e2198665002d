// The registration record: what each archive brought, file by file, kept in
// the database it went into (db::LedgerTable), so that "registered N records"
// can be checked later against what the files held.
#pragma once
#include <cstdint>
#include <string>

#include "startup/platform/ledgertable.h"

namespace velmo {

class ErrObject;
namespace db {
class Database;
}

namespace reg {

// The counts of the file being registered, filled by the record loops
// (ForEachRecord, UpsertFile) while a FileTally is active on the thread.
struct FileTally {
  bool counted = false;  // a record loop has read the file
  int64_t held = 0;      // records the file holds (a cut last record counts)
  int64_t read = 0;      // records handed to the reader
  int64_t fragment = 0;  // a cut last record left out (under half a record)
  int64_t rule = 0;      // records a kind's rule leaves out (a blank key, a stop rule)
  int64_t noRow = 0;     // records that only fill in rows another kind makes, with no such row
  int64_t older = 0;     // records older than the stored row, which is kept

  // One pass of a record loop over the file; a file read twice (a result file
  // that also refreshes the past results) is counted by its first pass.
  void pass(int64_t heldRecords, int64_t readRecords, int64_t fragmentRecords);
  // Skips counted by an upsert loop; only its first pass counts.
  void skips(int64_t ruleSkips, int64_t noRowSkips, int64_t olderSkips);

 private:
  int passes_ = 0;
  int skipPasses_ = 0;
};

// The tally of the file being registered on this thread, or nullptr.
FileTally* ActiveTally();

}  // namespace reg

// The record of one archive's registration, kept by the driver. Each file's
// counts are written with the file's rows (the row stays "running" until the
// archive is done); the row is marked registered once the archive's last step
// is through, and a failure is recorded after the rollback, in a transaction
// of its own.
class ArchiveRecord {
 public:
  ArchiveRecord(const std::string& archivePath, const std::string& mode);
  ~ArchiveRecord();
  ArchiveRecord(const ArchiveRecord&) = delete;
  ArchiveRecord& operator=(const ArchiveRecord&) = delete;

  // Before a file's reader runs: its counts start.
  void beginFile(const std::string& path);
  // In the file's transaction, before it commits: the file's counts join the
  // archive's row. readerRan: the file went through a reader (not skipped by mode
  // or unknown).
  // finishes: the archive's last step (no key updates follow); the row then says
  // registered in the same transaction, with no commit of its own.
  void fileDone(db::Database& d, bool hasReader, bool modeSkipped, bool finishes = false);
  // After the archive's last step: the row says registered (written now unless
  // the last file's transaction said it already).
  void archiveDone(db::Database& d);
  // After the rollback of a failure: the row says failed, with the error.
  void archiveFailed(const std::string& dbDir, const std::string& error);

 private:
  void write(db::Database& d);
  db::LedgerRow row_;
  std::string filesJson_;
  std::string file_;
  std::string path_;
  int64_t changesAtFile_ = 0;
  reg::FileTally tally_;
};

// The current local time, yyyy-mm-ddThh:mm:ss.
std::string LedgerTimestamp();

// The weekly changeover's move of the registration record into the past
// database, in its own transaction; false (logged) when it fails.
bool MoveLedgerToPast(const std::string& dbDir);
// Removes the registration record of race dates from..to (either order) of a
// database; false (logged) when it fails.
bool ForgetLedgerDates(const std::string& dbPath, const std::string& from, const std::string& to);
// Records an archive that failed before the driver saw it (its fetch, its
// unpacking check) in the mode's database, unless a registration of it is
// recorded already.
void RecordArchiveFailure(const std::string& mode, const std::string& archiveName, const std::string& error);

}  // namespace velmo
