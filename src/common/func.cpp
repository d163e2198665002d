#include "common/func.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/error.h"
#include "common/text.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {
double& waitScaleRef() {
  static double scale = [] {
    const char* v = std::getenv("VELMO_WAIT_SCALE");
    return v ? std::atof(v) : 1.0;
  }();
  return scale;
}
}  // namespace

std::string ToYear4Date(const std::string& yymmdd) { return (yymmdd < "800000" ? "20" : "19") + yymmdd; }

std::string ValueOr(const std::optional<std::string>& value, const std::string& fallback) {
  if (!value || value->empty()) return fallback;
  return *value;
}

void SetWaitScale(double scale) { waitScaleRef() = scale; }
double WaitScale() { return waitScaleRef(); }

void DoEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void WaitSeconds(double seconds) {
  double s = seconds * waitScaleRef();
  if (s > 0) std::this_thread::sleep_for(std::chrono::duration<double>(s));
  DoEvents();
}

std::string StageMark(const std::string& code) {
  if (code == "1") return "登";
  if (code == "2") return "確";
  if (code == "3") return "前";
  if (code == "4") return "直";
  return {};
}

std::string NameHead(const std::string& text) {
  static const std::string blank = "\u3000";
  size_t p = text.find(blank);
  if (p == std::string::npos) return text;
  return text.substr(0, p + blank.size());
}

std::string AddPathSep(const std::string& path) {
  std::string r = path;
  while (!r.empty() && r.back() == '/') r.pop_back();
  return r + "/";
}

bool MakeDirAll(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

void MoveFileOver(const std::string& source, const std::string& target) {
  // A rename replaces the target in one step; across file systems the source is
  // copied beside the target first, so a failure never loses the stored file.
  std::error_code ec;
  fs::rename(source, target, ec);
  if (!ec) return;
  std::string tmp = target + ".velmo-move";
  std::error_code ec2;
  fs::copy_file(source, tmp, fs::copy_options::overwrite_existing, ec2);
  if (!ec2) fs::rename(tmp, target, ec2);
  if (ec2) {
    fs::remove(tmp, ec);
    throw VelmoError(err::PathNotFound, "ファイルを移動できません: " + source + " → " + target + " (" + ec2.message() + ")");
  }
  fs::remove(source, ec2);
}

bool WildcardMatch(const std::string& p, const std::string& s) {
  size_t pi = 0, si = 0, star = std::string::npos, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == s[si])) {
      ++pi;
      ++si;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (star != std::string::npos) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::vector<std::string> ListFiles(const std::string& pattern) {
  std::vector<std::string> out;
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  std::string pat = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string name = it->path().filename().string();
    // Like the Windows file lookup, the extension match ignores letter case.
    if (WildcardMatch(text::toLowerAscii(pat), text::toLowerAscii(name))) out.push_back(name);
  }
  return out;
}

long CountFiles(const std::string& pattern) { return static_cast<long>(ListFiles(pattern).size()); }

void DeleteFiles(const std::string& pattern) {
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  for (const auto& n : ListFiles(pattern)) {
    std::error_code ec;
    fs::remove(dir + n, ec);
  }
}

std::vector<std::string> SplitFileList(const std::string& t) {
  std::vector<std::string> parts = text::split(t, '\0');
  while (!parts.empty() && parts.back().empty()) parts.pop_back();
  if (parts.size() <= 1) return parts;
  std::vector<std::string> r;
  for (size_t i = 1; i < parts.size(); ++i) r.push_back(AddPathSep(parts[0]) + parts[i]);
  return r;
}

long long DriveFreeMB(const std::string& path) {
  std::error_code ec;
  auto sp = fs::space(path, ec);
  if (ec) return 0;
  return static_cast<long long>(sp.available / (1024 * 1024));
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string FileNamePart(const std::string& path) {
  size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw VelmoError(err::PathNotFound, "ファイルに書き込めません。[" + path + "]");
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw VelmoError(err::PathNotFound, "ファイルに書き込めません。[" + path + "]");
}

}  // namespace velmo
