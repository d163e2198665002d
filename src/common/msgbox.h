// Every message box of the program goes through this service, so that the
// screens show real dialogs while tests and the silent mode answer them.
#pragma once
#include <functional>
#include <string>

namespace velmo {

enum MsgButtons { vbOKOnly = 0, vbOKCancel = 1, vbYesNoCancel = 3, vbYesNo = 4 };
enum MsgResult { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

struct MsgRequest {
  std::string text;
  int buttons = vbOKOnly;
  std::string title;
};

using MsgBoxHandler = std::function<int(const MsgRequest&)>;

// Shows a message; returns the button pressed.
int MsgBox(const std::string& text, int buttons = vbOKOnly, const std::string& title = "Velmo");
// Installs the handler (the screens' dialog, or a test's answerer); returns the previous one.
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

}  // namespace velmo
