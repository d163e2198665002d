// Backups of the databases, taken before every command that deletes or
// rewrites data (weekly changeover, deletion, compaction, version upgrade,
// master update, a committed SQL statement, a restore), and the restore of a
// copy. Copies live in BackupDir() and are named
//   <database>_<command>_<yyyymmdd-HHMMSS>[-n].mdb
// for example kova_this_changeover_20050313-210455.mdb; the newest
// BackupGenerations() copies of each database are kept.
#pragma once
#include <string>
#include <vector>

#include "maintenance/commandui.h"

namespace velmo {

struct BackupEntry {
  std::string name;      // file name in the backup folder
  std::string path;      // full path
  std::string database;  // database file the copy was taken of, e.g. "kova_this.mdb"
  std::string command;   // command that took it
  std::string time;      // "yyyymmdd-HHMMSS"
  int sequence = 1;      // 2, 3 … for further copies within the same second
  long long bytes = 0;
};

// Copies each database that the command will write into the backup folder
// (files that do not exist are passed over) and drops the oldest copies beyond
// the kept number. With BackupGenerations() = 0 it does nothing. When a copy
// cannot be made it logs the reason, shows it (message box "Velmo") and returns
// false: the command must then stop before it changes anything.
bool BackupBefore(const std::string& command, const std::vector<std::string>& dbPaths, CommandUi& ui);

// False only for a statement that cannot change data: a SELECT without INTO.
// The SQL faces take a copy before any other statement they will commit.
bool StatementMayWrite(const std::string& sql);

// The file name of a copy (without a sequence number); `command` is reduced to
// letters, digits and "-".
std::string BackupName(const std::string& dbPath, const std::string& command, const std::string& time);
// Reads a copy's name; false for names that are not copies.
bool ParseBackupName(const std::string& name, BackupEntry& entry);

// The copies in the backup folder, by database name, newest first.
std::vector<BackupEntry> ListBackups();

// Deletes the oldest copies of a database (file name such as "kova_this.mdb")
// beyond `keep`; the copy named `spare` is never deleted.
void RotateBackups(const std::string& database, int keep, const std::string& spare = {});

// Restores the copy NAME of the backup folder over its database in the
// database folder: the copy must pass PRAGMA integrity_check; the current file
// is backed up first (command "restore") unless backups are off; then its
// contents are replaced in one transaction. False with `error` set when it
// cannot be done; the database is then unchanged.
bool RestoreBackup(const std::string& name, CommandUi& ui, std::string& error);

}  // namespace velmo
