#include "screens/wiring.h"

#include "common/globals.h"
#include "common/msgbox.h"
#include "startup/platform/daofunc.h"
#if VELMO_HAVE_DBVERSION
#include "schema/dbversion.h"
#endif

namespace velmo::screens {

std::string DatabaseVersion() {
#if VELMO_HAVE_DBVERSION
  return getDBVersion();
#else
  try {
    db::DatabasePtr d;
    if (!DAO_Open(d, G().gDBDir + "kova_this.mdb")) return "ＤＢが設定されていません。";
    std::string v = d->getProperty("Subject");
    d->close();
    return v;
  } catch (const std::exception&) {
    return "ＤＢが設定されていません。";
  }
#endif
}

void CommandMissing(const std::string& title) {
  MsgBox("この機能はこの版にはまだ含まれていません。", vbOKOnly, title);
}

}  // namespace velmo::screens
