#include "maintenance/commandui.h"

namespace velmo {

CommandUi& NullCommandUi() {
  static CommandUi ui;
  return ui;
}

}  // namespace velmo
