// The server copy of the three database files (setting Mirror): one schema per
// file (kova_this, kova_data, kova_code), every table but the engine's own
// MSysVelmo* tables, names as the files have them, types from the field
// definitions. A sync is one server transaction: it follows the change notes the
// commits left in each file (MSysVelmoMirrorLog), or, with `full` or when the
// server's record of the file does not match the file's own (first sync, a
// restored or replaced file, a sync cut short), compares every table by the
// first field of its primary key. It holds the database folder's writer lock.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmo::mirror {

struct SyncOptions {
  bool full = false;
  double seconds = 0;  // time limit of the whole sync; 0: none
};

struct SyncReport {
  int tablesCreated = 0;    // made (or made again) and copied whole
  int tablesCopied = 0;     // emptied and copied whole
  int tablesDropped = 0;
  long long keysSynced = 0;  // key values whose rows were replaced
  long long rowsSent = 0;
  std::vector<std::string> comparedFiles;  // files compared table by table
  double seconds = 0;
};

struct TableCheck {
  std::string schema, table;
  uint64_t localRows = 0, serverRows = 0;
  bool equal = false;
};

// Throws MirrorError (server) or VelmoError (files).
SyncReport Sync(const std::string& conninfo, const SyncOptions& options);
// Every table's row count and checksum, of the files and of the server.
std::vector<TableCheck> Verify(const std::string& conninfo, double seconds = 0);

// The schema of a database file name (kova_this.mdb -> kova_this).
std::string SchemaOf(const std::string& file);
// The three files, as named in the database folder.
const std::vector<std::string>& MirroredFiles();

// Change notes waiting in the files of the database folder (keys, and "*" for
// whole tables).
long long PendingNotes();

}  // namespace velmo::mirror
