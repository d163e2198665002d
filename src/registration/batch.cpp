#include "registration/batch.h"

#include "common/error.h"
#include "startup/platform/applog.h"

namespace velmo {

ArchiveBatch::ArchiveBatch(const std::string& dbDir, double seconds) : seconds_(seconds) {
  auto& ws = db::Workspace::get();
  if (ws.transDepth() > 0) return;  // inside someone else's transaction: theirs decides
  try {
    const char* files[] = {"kova_this.mdb", "kova_data.mdb", "kova_code.mdb"};
    for (int i = 0; i < 3; ++i) dbs_[i] = ws.openDatabase(dbDir + files[i]);
    usable_ = true;
  } catch (const std::exception&) {
    // The driver reports a database that does not open, archive by archive.
    for (auto& d : dbs_) d.reset();
  }
}

ArchiveBatch::~ArchiveBatch() {
  commit();
  for (auto& d : dbs_)
    if (d) d->close();
}

void ArchiveBatch::begin() {
  if (!usable_ || depth_ >= 0) return;
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  try {
    ws.beginTrans();
  } catch (const std::exception& e) {
    WriteLog(ErrObject::from(e), "ArchiveBatch", false, true);
    return;  // the files commit on their own
  }
  depth_ = depth;
  started_ = std::chrono::steady_clock::now();
}

bool ArchiveBatch::due() const {
  return depth_ >= 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count() >= seconds_;
}

bool ArchiveBatch::commit() {
  if (depth_ < 0) return true;
  auto& ws = db::Workspace::get();
  const int depth = depth_;
  depth_ = -1;
  try {
    // A file's failure has already unwound its own savepoints.
    while (ws.transDepth() > depth + 1) ws.commitTrans();
    ws.commitTrans();
    return true;
  } catch (const std::exception& e) {
    ws.rollbackTo(depth);
    WriteLog(ErrObject::from(e), "ArchiveBatch", false, true);
    WriteLog(ErrObject(0, "まとめて登録したデータを確定できませんでした。直前の確定より後の書庫は登録されていません。"), "ArchiveBatch",
             false, true);
    return false;
  }
}

}  // namespace velmo
