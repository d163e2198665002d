// Fetches of the master update and the data check: the newest archive a kind's
// list file names, and single named files from a fixed address. Both fetch
// through RunFetch (the download screen in the screen mode, no window in
// velmo-cli) and report on the status bar of gStatusForm when there is one.
#pragma once
#include <string>

namespace velmo {

// Fetches the kind's list file, then only the archive on its last line.
// 0: done (also for a kind without a list file, which fetches nothing);
// -1: the list file could not be fetched, or an error was raised.
int getNewFile(const std::string& dataId);
// Fetches base address + file name into the download folder. 0 after the fetch
// (also after a cancel); -1 when it failed or the file was missing.
int subFileDownload(const std::string& baseAddress, const std::string& fileName);

}  // namespace velmo
