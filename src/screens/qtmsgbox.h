// Message boxes of the screen mode as Qt dialogs.
#pragma once

namespace velmo::screens {
// Installs the Qt dialog as the program's message box service.
void InstallQtMessageBoxes();
}  // namespace velmo::screens
