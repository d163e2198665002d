// The workspace: one SQLite connection to which every open database file is
// attached, so that a transaction spans every open database.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "startup/platform/stmt.h"
#include "startup/platform/textlink.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmo::db {

class Database;
using DatabasePtr = std::shared_ptr<Database>;
struct SchemaCache;

class Workspace {
 public:
  static Workspace& get();
  ~Workspace();

  // Opens a database file shared and writable (the file must exist).
  DatabasePtr openDatabase(const std::string& path);

  // Nested transactions: the outermost is a real one, inner ones savepoints.
  // Prefer the Transaction guard (transaction.h), which rolls back on leaving.
  void beginTrans();
  void commitTrans();
  void rollback();
  // Rolls back every level above `depth` (after a failure part-way through
  // nested work); a rollback that fails itself ends the unwinding.
  void rollbackTo(int depth) noexcept;
  int transDepth() const { return depth_; }

  // Writes a compacted copy of a database file to a new file. Refused with
  // err::DatabaseInUse while a handle of this program or another process has the
  // source open.
  void compactDatabase(const std::string& source, const std::string& target);
  // Creates a new empty database file.
  void createDatabase(const std::string& path);

  // Closes every database and the connection (tests, end of process).
  void reset();

  sqlite3* connection();
  // Statements prepared once and reused; the cache is dropped on schema changes.
  sqlite3_stmt* prepareCached(const std::string& sql);
  void schemaChanged();
  uint64_t schemaGeneration() const { return schemaGen_; }
  // Changes whenever cached statements are finalized.
  uint64_t statementGeneration() const { return stmtGen_; }

  // Entered and left by RecordWriteScope: while entered, SQLite leaves the
  // tables' CHECK constraints to the recordsets' own checks.
  void enterRecordWrites();
  void leaveRecordWrites();

  // Attachment bookkeeping (used by Database).
  std::string attach(const std::string& path);    // returns the schema alias
  void release(const std::string& path);
  std::string aliasOf(const std::string& path) const;
  std::shared_ptr<SchemaCache> schemaCacheOf(const std::string& alias) const;
  // Detaches a file no handle uses any more (before the file is replaced or removed).
  void closeFile(const std::string& path);
  // The qualified name of the temporary table that holds a linked text file.
  std::string textTableFor(const std::string& folder, const std::string& file);

 private:
  Workspace() = default;
  void detachPending();
  void clearCache();
  struct Attachment {
    std::string alias;
    int refs = 0;
    uint64_t dev = 0, ino = 0;   // the file attached, to notice a replaced file
    uint64_t lastUse = 0;
    int64_t schemaVersion = -1;
    std::shared_ptr<SchemaCache> cache;
    // A shared lock on the file while it is attached, so that compaction in any
    // process sees the file is open (released with the attachment).
    std::shared_ptr<int> openMark;
  };
  void detach(std::map<std::string, Attachment>::iterator it);
  void probeAttached(const std::string& key, const std::string& path);
  uint64_t useCounter_ = 0;
  sqlite3* conn_ = nullptr;
  std::map<std::string, Attachment> attached_;  // canonical path -> attachment
  int nextAlias_ = 1;
  int depth_ = 0;
  int recordWrites_ = 0;
  uint64_t schemaGen_ = 1;
  uint64_t stmtGen_ = 1;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> cache_;
  TextLinks textLinks_;
};

}  // namespace velmo::db
