// General helpers shared by every subsystem.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmo {

// Gives the race date for a six-character yymmdd value: "20" for values below
// "800000" in character comparison, "19" for the rest.
std::string ToYear4Date(const std::string& yymmdd);
// The value unless it is empty (Null is passed as std::nullopt).
std::string ValueOr(const std::optional<std::string>& value, const std::string& fallback);
// Sleeps, then lets pending window events run. Retry loops call it with 1.0.
void WaitSeconds(double seconds);
// Scale applied to every wait (1.0 normally; tests shorten the retry waits).
void SetWaitScale(double scale);
double WaitScale();
// Lets pending window events run (no-op without an application object).
void DoEvents();
// "1" 登, "2" 確, "3" 前, "4" 直, anything else empty.
std::string StageMark(const std::string& code);
// Text up to and including the first full-width blank; the whole text when there is none.
std::string NameHead(const std::string& text);
// The path ending in exactly one "/".
std::string AddPathSep(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool MakeDirAll(const std::string& folder);
// Deletes the target when it exists, then moves the source there.
void MoveFileOver(const std::string& source, const std::string& target);
// Number of files matching a folder pattern such as dir + "*.lzh".
long CountFiles(const std::string& pattern);
// Names (no folder) of the files matching a folder pattern, in directory order.
std::vector<std::string> ListFiles(const std::string& pattern);
// Deletes every file that matches the pattern.
void DeleteFiles(const std::string& pattern);
// Splits a multi-selection result (folder, NUL, names...) into full paths.
std::vector<std::string> SplitFileList(const std::string& text);
// Free space of the path's drive in whole megabytes.
long long DriveFreeMB(const std::string& path);
// True when a folder exists (with or without a trailing separator).
bool FolderExists(const std::string& path);
bool FileExists(const std::string& path);
// The name part of a path.
std::string FileNamePart(const std::string& path);
// Reads a whole file as bytes; throws the runtime's file-not-found error.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Wildcard match with * and ? (used for folder patterns).
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace velmo
