#include "common/clock.h"
#include "mirror/mirrorstatus.h"

#include <ctime>
#include <fstream>
#include <sstream>

#include "common/func.h"
#include "common/globals.h"

namespace velmo::mirror {

namespace {

std::string now() { return LocalTimeText("%Y-%m-%d %H:%M:%S"); }

std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

void write(const MirrorStatus& s) {
  const std::string p = MirrorStatusFile::path(), tmp = p + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << "last_sync=" << s.lastSync << "\nlast_error=" << oneLine(s.lastError) << "\nlast_error_time=" << s.lastErrorTime << "\n";
    if (!out) return;
  }
  std::rename(tmp.c_str(), p.c_str());
}

}  // namespace

std::string MirrorStatusFile::path() { return AddPathSep(G().gDBDir) + "velmo-mirror.status"; }

MirrorStatus MirrorStatusFile::read() {
  MirrorStatus s;
  std::ifstream in(path());
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq), v = line.substr(eq + 1);
    if (k == "last_sync") s.lastSync = v;
    if (k == "last_error") s.lastError = v;
    if (k == "last_error_time") s.lastErrorTime = v;
  }
  return s;
}

void MirrorStatusFile::recordSuccess() {
  MirrorStatus s = read();
  s.lastSync = now();
  s.lastError.clear();
  s.lastErrorTime.clear();
  write(s);
}

void MirrorStatusFile::recordFailure(const std::string& message) {
  MirrorStatus s = read();
  s.lastError = message;
  s.lastErrorTime = now();
  write(s);
}

}  // namespace velmo::mirror
