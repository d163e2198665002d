#include "startup/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <sstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/mirrorlog.h"
#include "startup/platform/writerlock.h"

namespace velmo {

std::string IniPath() { return ConfigDir() + "kova.ini"; }

namespace {

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

std::string trimWs(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool isSection(const std::string& line, std::string& name) {
  std::string t = trimWs(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t e = t.find(']');
  if (e == std::string::npos) return false;
  name = trimWs(t.substr(1, e - 1));
  return true;
}

// Splits "key=value"; a bare key has an empty value.
void splitKey(const std::string& line, std::string& key, std::string& value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) {
    key = trimWs(line);
    value.clear();
  } else {
    key = trimWs(line.substr(0, eq));
    value = trimWs(line.substr(eq + 1));
  }
}

bool sameKey(const std::string& a, const std::string& b) { return text::toLowerAscii(a) == text::toLowerAscii(b); }

// Cuts a value to the 127 bytes the profile read returns, at a character boundary.
std::string limit127(std::string v) {
  if (v.size() <= 127) return v;
  size_t n = 127;
  while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
  return v.substr(0, n);
}

}  // namespace

std::string GetIni(const std::string& section, const std::string& key, const std::string& def) {
  std::string cur;
  bool in = false;
  for (const auto& line : readLines(IniPath())) {
    std::string name;
    if (isSection(line, name)) {
      in = sameKey(name, section);
      continue;
    }
    if (!in) continue;
    std::string t = trimWs(line);
    if (t.empty() || t[0] == ';') continue;
    std::string k, v;
    splitKey(line, k, v);
    if (sameKey(k, key)) {
      if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
      v = v.substr(0, v.find('\0'));
      return limit127(v);
    }
  }
  return limit127(def.substr(0, def.find('\0')));
}

bool SetIni(const std::string& section, const std::string& key, const std::string& value) {
  std::string path = IniPath();
  MakeDirAll(ConfigDir());
  std::vector<std::string> lines = readLines(path);
  bool in = false, done = false;
  int sectionEnd = -1;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name;
    if (isSection(lines[i], name)) {
      if (in) break;
      in = sameKey(name, section);
      if (in) sectionEnd = static_cast<int>(i);
      continue;
    }
    if (!in) continue;
    std::string t = trimWs(lines[i]);
    if (!t.empty()) sectionEnd = static_cast<int>(i);
    std::string k, v;
    splitKey(lines[i], k, v);
    if (!t.empty() && t[0] != ';' && sameKey(k, key)) {
      lines[i] = k + "=" + value;
      done = true;
    }
  }
  if (!done) {
    if (sectionEnd < 0) {
      lines.push_back("[" + section + "]");
      lines.push_back(key + "=" + value);
    } else {
      lines.insert(lines.begin() + sectionEnd + 1, key + "=" + value);
    }
  }
  // Written beside, readable by its owner only from the first byte, then renamed
  // into place: a reader never sees half a file.
  std::string tmp = path + ".new";
  std::string content;
  for (const auto& l : lines) content += l + "\r\n";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  fchmod(fd, S_IRUSR | S_IWUSR);
  bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

namespace {
// A folder setting ends in "/" (an empty one stays empty: it is "not set").
std::string folderSetting(const std::string& key) {
  std::string v = GetIni("main", key, "");
  return v.empty() ? v : AddPathSep(v);
}

// A whole-number setting within [low, high]; the default when absent or not a number.
long long numberSetting(const std::string& key, long long def, long long low, long long high) {
  std::string v = text::trimBlanks(GetIni("main", key, ""));
  if (v.empty() || v.size() > 12 || v.find_first_not_of("0123456789") != std::string::npos) return def;
  long long n = std::stoll(v);
  return n < low ? low : n > high ? high : n;
}

// kova.ini carries the member's credentials: said once per start when others may read it.
void warnIfReadableByOthers() {
  static bool said = false;
  struct stat st {};
  if (said || stat(IniPath().c_str(), &st) != 0) return;
  if ((st.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
  said = true;
  std::string w = "設定ファイルが他のユーザーからも読めます。会員ID とパスワードが含まれるため、所有者だけが読めるようにしてください(chmod 600)。[" +
                  IniPath() + "]";
  WriteLog(ErrObject(0, w), "LoadSettings", false, true);
  std::fprintf(stderr, "velmo: %s\n", w.c_str());
}
}  // namespace

void LoadSettings() {
  auto& g = G();
  warnIfReadableByOthers();
  g.gLzhDir = folderSetting("LzhDir");
  g.gDBDir = folderSetting("DBDir");
  g.gUserID = GetIni("main", "UserID", "");
  try {
    g.gPasswd = DecodeSetting(GetIni("main", "Passwd", ""));
  } catch (const VelmoError&) {
    g.gPasswd.clear();
    throw VelmoError(err::InvalidArgument, "設定ファイルのパスワード(Passwd)を復元できません。設定画面でパスワードを入力し直してください。[" +
                                               IniPath() + "]");
  }
  g.gVANDir = folderSetting("VANDir");
  g.gStallSeconds = static_cast<int>(numberSetting("StallTimeout", 60, 1, 3600));
  g.gUnpackEntryLimit = numberSetting("UnpackEntryLimitMB", 512, 1, 1 << 20) << 20;
  g.gListFileLimit = numberSetting("ListFileLimitMB", 16, 1, 1 << 20) << 20;
  g.gFetchMinRate = numberSetting("FetchMinRateKB", 4, 1, 1 << 20) << 10;
  db::WriterLock::setDefaultWaitSeconds(static_cast<int>(numberSetting("WriterWaitSeconds", 600, 0, 86400)));
  std::string van = text::trimBlanks(GetIni("main", "VAN", "0"));
  // Compared as a number: "01" or " 1" switch it on as "1" does.
  g.gVAN = (!van.empty() && van.size() < 10 && van.find_first_not_of("0123456789") == std::string::npos && std::stol(van) == 1) ? 1 : 0;
  db::MirrorLog::setEnabled(!MirrorSetting().empty());
  g.gTmpDir = WritableDir(UserFolder::Cache) + "tmp/";
  g.gDwnDir = WritableDir(UserFolder::Cache) + "dwn/";
  MakeDirAll(g.gTmpDir);
  MakeDirAll(g.gDwnDir);
}

std::string MirrorSetting() { return text::trimBlanks(GetIni("main", "Mirror", "")); }

std::string KovaHost() {
  std::string h = text::trimBlanks(GetIni("main", "KovaHost", kDefaultKovaHost));
  if (h.empty()) h = kDefaultKovaHost;
  if (h.back() != '/') h += '/';
  return h;
}

std::string MapToKovaHost(const std::string& address) {
  const std::string def = kDefaultKovaHost;
  if (address.compare(0, def.size(), def) == 0) return KovaHost() + address.substr(def.size());
  return address;
}

std::string PublicListUrl() { return KovaHost() + "data/lst/"; }

std::string BackupDir() {
  std::string d = text::trimBlanks(GetIni("main", "BackupDir", ""));
  if (d.empty()) return AddPathSep(G().gDBDir) + "backup/";
  // A relative folder lies in the database folder, whatever the current folder.
  if (d[0] != '/') return AddPathSep(G().gDBDir) + AddPathSep(d);
  return AddPathSep(d);
}

int BackupGenerations() {
  std::string v = text::trimBlanks(GetIni("main", "BackupGenerations", ""));
  if (v.empty() || v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos)
    return kDefaultBackupGenerations;
  return std::stoi(v);
}

// ---- password scrambler --------------------------------------------------------

namespace {
const std::string kAlphabet = "gwQb5cTF9sLuJP846H3vOIBhZldGnifAq1jNperYt2U7EWVCkzSmRXxoy0aKDM";
const std::string kRow1 = "88253790905926080931993135702685147301412468307846863798360727";
const std::string kRow2 = "16899308511714654689125042436236720276843558002278433787775149";

void swapPairs(std::string& s) {
  for (size_t i = 0; i + 1 < s.size(); i += 2) std::swap(s[i], s[i + 1]);
}
}  // namespace

std::string EncodeSetting(const std::string& t) {
  if (t.empty()) return {};
  std::string digits;
  for (char c : t) {
    size_t j = kAlphabet.find(c);
    if (j == std::string::npos || c == '\0') continue;
    digits += kRow1[j];
    digits += kRow2[j];
  }
  if (digits.size() < 3) throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。");
  digits = digits.substr(3) + digits.substr(0, 3);
  swapPairs(digits);
  return "#" + digits;
}

std::string DecodeSetting(const std::string& stored) {
  if (stored.empty() || stored[0] != '#') return stored;
  std::string d = stored.substr(1);
  if (d.size() < 3) throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。");
  swapPairs(d);
  d = d.substr(d.size() - 3) + d.substr(0, d.size() - 3);
  // Every pair must stand for a character: anything else is a damaged value,
  // never a shorter password.
  if (d.size() % 2 != 0) throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。");
  std::string out;
  for (size_t i = 0; i + 1 < d.size(); i += 2) {
    bool found = false;
    for (size_t j = 0; j < kAlphabet.size() && !found; ++j) {
      if (kRow1[j] == d[i] && kRow2[j] == d[i + 1]) {
        out += kAlphabet[j];
        found = true;
      }
    }
    if (!found) throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。");
  }
  return out;
}

int SplitCommandLine(const std::string& line, std::vector<std::string>& words, int maximum) {
  words.clear();
  std::string cur;
  for (char c : line) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty()) {
        if (static_cast<int>(words.size()) < maximum) words.push_back(cur);
        cur.clear();
      }
    } else {
      cur += c;
    }
  }
  if (!cur.empty() && static_cast<int>(words.size()) < maximum) words.push_back(cur);
  return static_cast<int>(words.size());
}

void RegAddIn(const std::string& softId, const std::string& name, const std::string& path) {
  db::DatabasePtr d;
  if (!DAO_Open(d, G().gDBDir + "kova_this.mdb")) return;
  auto rs = d->openTable("Sアドイン管理");
  rs->setIndex("PrimaryKey");
  rs->seek({softId});
  if (rs->noMatch()) rs->addNew();
  else rs->edit();
  rs->set("ソフトID", softId);
  rs->set("名称", name);
  rs->set("パス", path);
  rs->set("起動オプション", std::string());
  rs->set("買い目出力", std::string("0"));
  rs->update();
  rs.reset();
  d->close();
}

}  // namespace velmo
