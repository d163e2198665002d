// Registration of many archives in a row, as one stretch of disk work.
#pragma once
#include <chrono>
#include <string>

#include "startup/platform/db.h"

namespace velmo {

// Loading archives one after another (from files, from the command line), the
// per-file transactions of the driver run as savepoints inside one outer
// transaction, committed once a couple of seconds have passed, before any
// question to the user, and at the end. A failing file still rolls back alone
// and the files before it stay; a disk sync is paid per batch instead of per
// file, which is most of the time a load of years of past data takes. What a
// crash can take back is the uncommitted batch: callers report an archive as
// registered only once a commit has covered it.
//
//   ArchiveBatch batch(G().gDBDir);
//   for (...) { batch.begin(); regMain(...); if (batch.due()) batch.commit(); }
//   batch.commit();
class ArchiveBatch {
 public:
  // Holds the three databases of the folder open (files cannot be attached
  // inside a transaction). A folder whose databases do not open gives an
  // inert batch: each file then commits on its own, as outside a batch.
  explicit ArchiveBatch(const std::string& dbDir, double seconds = 2.0);
  ~ArchiveBatch();  // commits what is open; a failure is logged
  ArchiveBatch(const ArchiveBatch&) = delete;
  ArchiveBatch& operator=(const ArchiveBatch&) = delete;

  // Before an archive: opens the outer transaction if none is open.
  void begin();
  // True once the open batch is older than its time.
  bool due() const;
  // Commits the open batch; false (logged, rolled back) when the commit fails.
  bool commit();
  bool open() const { return depth_ >= 0; }

 private:
  db::DatabasePtr dbs_[3];
  bool usable_ = false;
  int depth_ = -1;  // the workspace's depth below the outer transaction, while one is open
  double seconds_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace velmo
