#include "common/msgbox.h"

#include <cstdio>

namespace velmo {

namespace {
// Without screens (command line tools) a message is printed and the first
// button (OK or Yes) is taken.
int consoleHandler(const MsgRequest& r) {
  std::fprintf(stderr, "[%s] %s\n", r.title.c_str(), r.text.c_str());
  return r.buttons == vbYesNo || r.buttons == vbYesNoCancel ? vbYes : vbOK;
}
MsgBoxHandler& handlerRef() {
  static MsgBoxHandler h = consoleHandler;
  return h;
}
}  // namespace

int MsgBox(const std::string& text, int buttons, const std::string& title) {
  return handlerRef()(MsgRequest{text, buttons, title});
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler) {
  MsgBoxHandler old = handlerRef();
  handlerRef() = handler ? std::move(handler) : MsgBoxHandler(consoleHandler);
  return old;
}

}  // namespace velmo
