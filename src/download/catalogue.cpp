#include "download/catalogue.h"

#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "startup/platform/daofunc.h"
#include "startup/settings.h"

namespace velmo {

std::string ArchiveKind(const std::string& dataId) {
  if (dataId == "TYRT") return "TY";
  if (dataId == "TYAR") return "TYA";
  if (dataId == "TYBR") return "TYB";
  return dataId;
}

std::string ArchiveName(const std::string& dataId, const std::string& date) {
  return ArchiveKind(dataId) + text::midChars(date, 3, 6) + ".lzh";
}

namespace {

// The catalogue row of a data ID. The data ID comes from the command line or a
// screen, so a quote in it is doubled rather than ending the literal.
std::unique_ptr<db::QueryResult> catalogueRow(const std::string& dataId) {
  db::DatabasePtr d;
  const std::string path = G().gDBDir + "kova_this.mdb";
  if (!DAO_Open(d, path))
    throw VelmoError(err::Locked, "データベースが使用中のため開けません。[" + path + "]");
  std::unique_ptr<db::QueryResult> q;
  try {
    q = d->openQuery("select * from Sデータ管理 where [データID] =" + text::quoteSqlText(dataId) + ";");
  } catch (...) {
    d->close();
    throw;
  }
  d->close();
  if (q->eof())
    throw VelmoError(err::NoCurrentRecord, "カレント レコードがありません。(データ管理にデータID[" + dataId + "]がありません)");
  return q;
}

}  // namespace

std::string getServerAddress(const std::string& dataId) {
  auto q = catalogueRow(dataId);
  return db::toText(q->get("サーバアドレス"));
}

ListInfo getListInfo(const std::string& dataId) {
  auto q = catalogueRow(dataId);
  ListInfo info;
  info.listFile = db::toText(q->get("リストファイル"));
  info.serverAddress = db::toText(q->get("サーバアドレス"));
  info.listAddress = UrlParent(info.serverAddress) + "lst/";
  return info;
}

std::string UrlParent(const std::string& address) {
  if (address.size() < 2) return {};
  size_t p = address.rfind('/', address.size() - 2);
  if (p == std::string::npos) return {};
  return address.substr(0, p + 1);
}

std::string AltHostUrl(const std::string& address, const std::string& userId) {
  if (userId.find('@') == std::string::npos) return address;
  std::string out;
  for (size_t i = 0; i < address.size();) {
    if (address.compare(i, 4, ".com") == 0) {
      out += ".jp";
      i += 4;
    } else {
      out += address[i++];
    }
  }
  return out;
}

std::string FetchAddress(const std::string& address, const std::string& userId) {
  // The alternative host replaces the default host's name only; a configured
  // host is used as written.
  return MapToKovaHost(AltHostUrl(address, userId));
}

std::string UrlFileName(const std::string& address) {
  size_t p = address.rfind('/');
  return p == std::string::npos ? address : address.substr(p + 1);
}

std::string ListLineDate(const std::string& line) {
  if (line.size() < 10) return {};
  std::string yymmdd = line.substr(line.size() - 10, 6);
  return (yymmdd.substr(0, 2) < "70" ? "20" : "19") + yymmdd;
}

std::vector<std::string> ReadListFile(const std::string& path) {
  std::vector<std::string> lines;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec && static_cast<long long>(size) > G().gListFileLimit)
    throw VelmoError(err::InvalidArgument, "リストファイルが大きすぎます(" + std::to_string(size) + "バイト、上限" +
                                               std::to_string(G().gListFileLimit) + "バイト)。[" + path + "]");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
  for (std::string l; std::getline(in, l);) {
    std::string t = text::trimBlanks(l);
    while (!t.empty() && (t.back() == '\r' || t.back() == '\t')) t = text::trimBlanks(t.substr(0, t.size() - 1));
    if (!t.empty()) lines.push_back(t);
  }
  return lines;
}

bool IsArchiveName(const std::string& name) {
  return name.size() > 4 && text::toLowerAscii(name.substr(name.size() - 4)) == ".lzh";
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace velmo
