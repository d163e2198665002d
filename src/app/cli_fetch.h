// The fetches of velmo-cli's master update and data check.
#pragma once
#include "download/latest.h"
#include "maintenance/maintenance.h"

namespace velmo::cli {

// The maintenance commands fetch through the download layer, which runs without
// a window in velmo-cli.
inline void InstallCliFetch() { SetFetchFunctions({getNewFile, subFileDownload}); }

}  // namespace velmo::cli
