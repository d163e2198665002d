// The fetches of velmo-cli's master update and data check.
#pragma once
#include "maintenance/maintenance.h"

namespace velmo::cli {

// Installs the program's headless fetches for the maintenance commands. Until a
// widget-free fetch is linked into velmo-cli this installs nothing, and every
// fetch fails with a logged error.
inline void InstallCliFetch() {}

}  // namespace velmo::cli
