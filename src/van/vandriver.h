// The JRA-VAN registration driver and the VAN code re-conversion.
#pragma once
#include <string>

#include "maintenance/maintenance.h"

namespace velmo {

class CommandUi;
struct PreparedArchive;

// Unpacks a JRA-VAN archive into the work folder and converts every recognised
// "*.dat" file into the database of the mode ("T" or "D"), one transaction per
// file. 0 when every file was handled, -1 after a failure (logged). `prep`: the
// archive unpacked ahead by an ArchivePipeline, or nullptr.
int regMainVAN(const std::string& archivePath, const std::string& mode, PreparedArchive* prep = nullptr);

// The data file at which the last regMainVAN run was ended by a stop rule (a
// racecourse or year that may not be registered; the rows before it stay);
// empty when the last run did not stop so.
const std::string& LastVanStopFile();

// The menu command "VANコード再変換": asks, then replaces the JRA-VAN jockey and
// trainer codes of the past database's entries and results by the provider's,
// holding the database folder's writer lock; both updates commit together or
// not at all. Refused (Failed, logged) when the JRA-VAN setting is off.
Outcome VanCodeRecode(CommandUi& ui);

}  // namespace velmo
