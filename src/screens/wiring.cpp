#include "screens/wiring.h"

#include "common/globals.h"
#include "common/msgbox.h"
#include "startup/platform/daofunc.h"
#include "schema/dbversion.h"

namespace velmo::screens {

std::string DatabaseVersion() {
  return getDBVersion();
}

}  // namespace velmo::screens
