#include "startup/platform/recordwritescope.h"

#include "startup/platform/recordset.h"
#include "startup/platform/workspace.h"

namespace velmo::db {

RecordWriteScope::RecordWriteScope(const Recordset& rs) {
  if (!rs.checksItself()) return;
  Workspace::get().enterRecordWrites();
  active_ = true;
}

RecordWriteScope::~RecordWriteScope() {
  if (active_) Workspace::get().leaveRecordWrites();
}

}  // namespace velmo::db
