// The JRA-VAN registration driver and the VAN code re-conversion.
#pragma once
#include <string>

namespace velmo {

class CommandUi;
struct PreparedArchive;

// Unpacks a JRA-VAN archive into the work folder and converts every recognised
// "*.dat" file into the database of the mode ("T" or "D"), one transaction per
// file. 0 when every file was handled, -1 after a failure (logged). `prep`: the
// archive unpacked ahead by an ArchivePipeline, or nullptr.
int regMainVAN(const std::string& archivePath, const std::string& mode, PreparedArchive* prep = nullptr);

// The menu command "VANコード再変換": asks, then replaces the JRA-VAN jockey and
// trainer codes of the past database's entries and results by the provider's.
// False when the user cancelled or the conversion failed (logged).
bool VanCodeRecode(CommandUi& ui);

}  // namespace velmo
