// Backups of the databases, taken before every command that deletes or
// rewrites data, and the restore of a copy. Copies live in BackupDir() and are
// named
//   <database>[@<tag>]_<command>_<yyyymmdd-HHMMSS>-<sequence>.mdb
// for example kova_this_changeover_20050313-210455-17.mdb. The sequence counts
// the copies of the folder, so the newest copy is known whatever the clock
// says; the tag (8 hexadecimal digits of the full path) marks a database
// outside the database folder, so that its copies are never taken for those
// of the database folder's file of the same name.
//
// A copy costs what the command changes:
//   full      the whole file (online backup): master update, upgrade, an SQL
//             statement that changes data, this week's database before the
//             changeover, and the current file before a restore of a full copy
//   rows      the rows a command is about to delete (a deletion), or the keys
//             of the rows it is about to add (the past database before the
//             changeover); restoring deletes and puts back exactly those rows
//   original  the compacted file's original, kept under the copy's name
//             (a hard link; a full copy where the backup folder is on another
//             file system)
// Each copy is complete and synced to disk before the command writes, and is
// taken under the database folder's writer lock.
#pragma once
#include <string>
#include <vector>

#include "maintenance/commandui.h"

namespace velmo {

struct BackupEntry {
  std::string name;      // file name in the backup folder
  std::string path;      // full path
  std::string database;  // database the copy was taken of, e.g. "kova_this.mdb" (with "@tag" for another folder's)
  std::string command;   // command that took it
  std::string time;      // "yyyymmdd-HHMMSS"
  int sequence = 1;      // order of the copies in the folder
  long long bytes = 0;
  std::string kind;      // "full", "rows" or "original" (filled in by ListBackups)
};

// Copies each database that the command will write whole into the backup
// folder (files that do not exist are passed over) and drops the oldest copies
// beyond the kept number. With BackupGenerations() = 0 it does nothing. When a
// copy cannot be made it logs the reason, shows it (message box "Velmo") and
// returns false: the command must then stop before it changes anything.
bool BackupBefore(const std::string& command, const std::vector<std::string>& dbPaths, CommandUi& ui);

// A table and the Jet condition ("where …") of the rows a command deletes.
struct RowsOfTable {
  std::string table;
  std::string condition;
};
// A copy of the rows of `dbPath` the conditions select, before they are
// deleted. A table without a key makes it a full copy.
bool BackupRowsBefore(const std::string& command, const std::string& dbPath, const std::vector<RowsOfTable>& rows,
                      CommandUi& ui);

// A table of `dbPath` and the table of `sourcePath` whose rows are copied into it.
struct RowsAdded {
  std::string table;
  std::string sourceTable;
};
// A copy of the keys of the rows that copying each source table into its
// table adds (rows whose key the table holds are not added). A table without a
// key makes it a full copy.
bool BackupAddedRowsBefore(const std::string& command, const std::string& dbPath, const std::string& sourcePath,
                           const std::vector<RowsAdded>& tables, CommandUi& ui);

// Keeps the file `dbPath` (about to be replaced by `replacement`) as the copy
// of `command`: a hard link under the copy's name, synced; a full copy where
// that cannot be made. False (logged and shown) when no copy could be kept.
bool KeepOriginalBefore(const std::string& command, const std::string& dbPath, CommandUi& ui);

// False only for a statement that cannot change data: a SELECT without INTO.
bool StatementMayWrite(const std::string& sql);
// Also false for a data statement (insert, update, delete) that changes no
// row of `dbPath`, or that fails: it is run in a transaction that is rolled
// back. The SQL faces take a copy when this is true.
bool StatementMayWrite(const std::string& sql, const std::string& dbPath);

// The file name of a copy; `command` is reduced to letters, digits and "-".
std::string BackupName(const std::string& dbPath, const std::string& command, const std::string& time, int sequence);
// The name a database's copies carry: "kova_this.mdb" for a database of the
// database folder, "kova_this@1a2b3c4d.mdb" for one elsewhere.
std::string BackupDatabaseName(const std::string& dbPath);
// Reads a copy's name; false for names that are not copies.
bool ParseBackupName(const std::string& name, BackupEntry& entry);

// The copies in the backup folder, by database name, newest first.
std::vector<BackupEntry> ListBackups();

// Deletes the oldest copies of a database (as BackupDatabaseName gives it)
// beyond `keep`; the newest copy of each command and the copy named `spare`
// are never deleted.
void RotateBackups(const std::string& database, int keep, const std::string& spare = {});

// Removes what killed runs left: ".part" copies of processes that are gone, and
// (with `workCopy`) a work copy "_wk.mdb" of the database folder. The caller
// holds the folder's writer lock, so no live compaction owns that work copy.
void RemoveBackupLeftovers(bool workCopy = true);

// Restores the copy NAME of the backup folder over its database (in the
// database folder, or `target` for a copy of another folder's database, whose
// tag must match): the copy must pass PRAGMA integrity_check; the current state
// is backed up first (command "restore", a copy of the same kind) unless
// backups are off; then the copy is put back in one transaction. False with
// `error` set when it cannot be done; the database is then unchanged.
bool RestoreBackup(const std::string& name, CommandUi& ui, std::string& error, const std::string& target = {});

}  // namespace velmo
