// Small links between the screens and the core commands.
#pragma once
#include <string>

namespace velmo::screens {
// The database version of kova_this.mdb ("Subject"), or the "not set" text.
std::string DatabaseVersion();
}  // namespace velmo::screens
