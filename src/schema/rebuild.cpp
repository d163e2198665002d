#include "schema/rebuild.h"

#include "common/error.h"
#include "startup/platform/applog.h"

namespace velmo {

bool RebuildTablesNative(const db::DatabasePtr& database, const std::function<void(const std::string&)>& progress) {
  bool ok = true;
  for (const auto& table : database->tableNames()) {
    if (database->linkInfo(table)) continue;
    try {
      if (database->isNativeTable(table)) continue;
      if (progress) progress(table);
      database->rebuildNative(table);
    } catch (const std::exception& e) {
      ErrObject err = ErrObject::from(e);
      err.description += " [" + table + "]";
      WriteLog(err, "RebuildTablesNative", false, true);
      ok = false;
    }
  }
  return ok;
}

}  // namespace velmo
