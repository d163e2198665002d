// Message boxes of the screen mode as Qt dialogs, with Qt's own texts (the
// standard buttons) in Japanese.
#pragma once
#include <memory>

class QMessageBox;

namespace velmo {
struct MsgRequest;
}

namespace velmo::screens {
// Installs the Qt dialog as the program's message box service.
void InstallQtMessageBoxes();
// The dialog the service shows for a request (text, buttons, title), not yet shown.
std::unique_ptr<QMessageBox> MessageBoxFor(const MsgRequest& r);
// Loads Qt's Japanese translations (qtbase_ja from Qt's translations folder) into
// the application, so that standard buttons read "OK/キャンセル", "はい/いいえ".
// False, with a warning in the log, when they are not installed.
bool InstallQtTranslations();
}  // namespace velmo::screens
