// Addresses of the provider's archives and list files, derived from the data
// catalogue "Sデータ管理" of kova_this.mdb.
#pragma once
#include <string>
#include <vector>

namespace velmo {

// The kind an archive of a data ID carries: "TYRT", "TYAR" and "TYBR" name the
// archives of "TY", "TYA" and "TYB"; every other data ID is its own kind.
std::string ArchiveKind(const std::string& dataId);
// Archive of one race date (yyyymmdd): kind + yymmdd + ".lzh".
std::string ArchiveName(const std::string& dataId, const std::string& date);

// "サーバアドレス" of the data ID's catalogue row; a data ID without a row is an
// error raised to the caller.
std::string getServerAddress(const std::string& dataId);

struct ListInfo {
  std::string listFile;       // "リストファイル", empty when the kind has none
  std::string serverAddress;  // "サーバアドレス"
  std::string listAddress;    // UrlParent(server address) + "lst/"
};
ListInfo getListInfo(const std::string& dataId);

// The address cut after its last "/" that stands before a trailing "/": the
// folder above a kind folder. An address without such a "/" gives the empty text.
std::string UrlParent(const std::string& address);
// With a user ID containing "@", every ".com" of the address becomes ".jp" (the
// provider's alternative host); otherwise the address is returned unchanged.
std::string AltHostUrl(const std::string& address, const std::string& userId);
// The address a fetch really goes to: moved onto the configured web host, then
// onto the alternative host for "@" user IDs.
std::string FetchAddress(const std::string& address, const std::string& userId);
// The part of an address after its last "/".
std::string UrlFileName(const std::string& address);

// Race date (yyyymmdd) of a list line: the six characters before the last four
// are yymmdd; "20" in front when the first two compare below "70", else "19".
// A line too short to carry a date gives the empty text.
std::string ListLineDate(const std::string& line);
// The archive names of a list file in their order, line ends and surrounding
// blanks removed, blank lines left out. The file is read line by line; one
// larger than gListFileLimit is refused (VelmoError) before anything is read.
std::vector<std::string> ReadListFile(const std::string& path);
// True for a name the registration takes as an archive: it ends in ".lzh" (any case).
bool IsArchiveName(const std::string& name);
// True for a bare file name: not empty, no folder separator, not "." or "..".
// Names from list files are used as local file names only when they pass.
bool IsPlainFileName(const std::string& name);

}  // namespace velmo
