// Small links between the screens and the core commands.
#pragma once
#include <string>

namespace velmo::screens {
// The database version of kova_this.mdb ("Subject"), or the "not set" text.
std::string DatabaseVersion();
// The notice of a command this build does not carry yet (the VAN re-conversion
// arrives with the JRA-VAN conversion).
void CommandMissing(const std::string& title);
}  // namespace velmo::screens
