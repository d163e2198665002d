// Copies of whole database files taken with SQLite's online backup: a copy is
// consistent even while other programs read or write the file, and a restore
// replaces the contents of a database file in one transaction, so readers see
// either the old or the restored data, never a mixture.
#pragma once
#include <string>

namespace velmo::db {

class OnlineBackup {
 public:
  // Writes a consistent copy of the database file `source` to `target` (a new
  // file; an existing one is overwritten), synced to disk. A hot journal of
  // the source is rolled back first. Waits up to `waitSeconds` for a
  // writer that holds the source. Errors are raised as VelmoError: 3050 when
  // the file stayed locked, 3024 when the source is missing, 3343 when it is
  // not a database, 3046 when the target cannot be written (a full disk …).
  static void copy(const std::string& source, const std::string& target, double waitSeconds = 20.0);

  // "ok" when PRAGMA integrity_check finds nothing; otherwise the problems it
  // lists (or the reason the file cannot be read), one per line.
  static std::string integrityCheck(const std::string& path);

  // Replaces the contents of the database file `target` with those of the copy
  // `source`, in one write transaction on the target (created when missing).
  // Readers of the target that keep it locked name the target in the error.
  static void restore(const std::string& source, const std::string& target, double waitSeconds = 20.0);

  // Rolls back a rollback journal left by a writer that died mid-commit, so
  // that the file can be read (a no-op without one). When that cannot be done
  // the error names the journal and the reason.
  static void recoverHotJournal(const std::string& path, double waitSeconds = 20.0);

  // Writes a file's data to disk (fsync); a folder's entries (no error raised).
  static void syncFile(const std::string& path);
  static void syncFolder(const std::string& path);
};

}  // namespace velmo::db
