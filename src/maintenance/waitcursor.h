// The wait cursor for the length of a scope.
#pragma once
#include "maintenance/commandui.h"

namespace velmo {

class WaitCursor {
 public:
  explicit WaitCursor(CommandUi& ui) : ui_(ui) { ui_.setWaitCursor(true); }
  ~WaitCursor() { ui_.setWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  CommandUi& ui_;
};

}  // namespace velmo
