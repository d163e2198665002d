// The registration driver: unpacks an archive into the work folder and registers
// each text file in its own transaction through the reader of its kind.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"

namespace velmo {

class RegKOVA;
class RunWorkFolder;
struct PreparedArchive;

// Source "J" registers provider archives, "V" JRA-VAN archives; returns -1 (True)
// when the run stopped on an error, 0 otherwise. `prep`: the archive unpacked and
// decoded ahead by an ArchivePipeline (registration/pipeline.h), or nullptr.
long regMain(const std::string& archivePath, const std::string& mode, const std::string& source,
             PreparedArchive* prep = nullptr);
// False when every file was registered, true when the run stopped on an error.
bool regMainKOVA(const std::string& archivePath, const std::string& mode, PreparedArchive* prep = nullptr);
// A run's work folder: the one the archive was unpacked into ahead, or a new one (held in `own`).
RunWorkFolder& RunFolderFor(PreparedArchive* prep, const std::string& archivePath, std::unique_ptr<RunWorkFolder>& own);
// Unpacks the archive into the run's folder (Com_UnLzh), or, when it was
// unpacked there ahead, writes the unpacking's log entries now; true on failure.
bool UnpackForRun(PreparedArchive* prep, const std::string& archivePath, const RunWorkFolder& work, const std::string& extension);
// Unpacks the data files (names ending in `extension`: the provider's ".txt", the
// JRA-VAN ".dat") at the top of an LZH archive into the folder; true when
// unpacking failed.
bool Com_UnLzh(const std::string& archivePath, const std::string& destFolder, const std::string& extension = ".txt");
// Com_UnLzh without writing the log: its entries are appended to `entries`, for
// a thread that unpacks ahead of the writer, which writes them in their place
// (WriteUnpackLog).
bool UnpackArchive(const std::string& archivePath, const std::string& destFolder, const std::string& extension,
                   std::vector<ErrObject>& entries);
void WriteUnpackLog(const std::vector<ErrObject>& entries);

// A work folder of this run under tmp/, emptied at the end, so that runs at the
// same time never see each other's files. The process keeps its emptied folders
// for its later runs and removes them when it ends; folders left by a process
// that died are removed once it is gone.
class RunWorkFolder {
 public:
  explicit RunWorkFolder(const std::string& tmp);
  ~RunWorkFolder();
  RunWorkFolder(const RunWorkFolder&) = delete;
  RunWorkFolder& operator=(const RunWorkFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
// Reads an archive's entry names without extracting; false (with the reason)
// when it cannot be read or an entry would land outside the destination folder.
bool CheckArchive(const std::string& archivePath, std::string& why);
// Shell sort of names by plain character-code comparison (gap halving from count / 2).
void SortPairs(std::vector<std::string>& names);

// Orders archive paths: pack archives (name beginning "KO") first by name, then
// every other path in ascending order. The list ends at its first empty entry.
void OrderArchives(std::vector<std::string>& paths);

// The JRA-VAN driver, installed by the JRA-VAN conversion.
using VanDriver = std::function<bool(const std::string& archivePath, const std::string& mode)>;
void SetVanDriver(VanDriver driver);

// One row of the dispatch table.
struct DispatchRow {
  std::vector<std::string> prefixes;  // compared case-sensitively over their length
  bool thisWeekOnly;
  // The reader; empty while the kind has no reader yet.
  std::function<void(RegKOVA& session, const std::string& file)> action;
};
const std::vector<DispatchRow>& DispatchTable();
// The row a file name selects, or nullptr.
const DispatchRow* DispatchFor(const std::string& fileName);
// Kinds of the dispatch table that have no reader yet.
std::vector<std::string> PendingKinds();

}  // namespace velmo
