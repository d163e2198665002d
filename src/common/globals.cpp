#include "common/globals.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "common/func.h"

namespace velmo {

Globals& G() {
  static Globals g;
  return g;
}

namespace {
std::string& programDirRef() {
  static std::string dir;
  return dir;
}
bool& programDirInstalled() {
  static bool installed = false;
  return installed;
}
}  // namespace

void SetProgramDir(const std::string& dir, bool installed) {
  programDirRef() = dir.empty() ? dir : AddPathSep(dir);
  programDirInstalled() = installed && !dir.empty();
}

namespace {

bool isFolder(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct ExeHome {
  std::string dir;         // ending in "/"
  bool installed = false;  // the package's folder beside the executable's
};

// The program folder found from the executable's place, once per process.
const ExeHome& exeHome() {
  static const ExeHome home = [] {
    ExeHome h;
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
      h.dir = "./";
      return h;
    }
    buf[n] = 0;
    const std::filesystem::path exe(buf);
    h.dir = AddPathSep(exe.parent_path().string());
    const std::string installed = AddPathSep((exe.parent_path().parent_path() / "share" / "velmo").string());
    if (!isFolder(h.dir + "initDB") && isFolder(installed + "initDB")) {
      h.dir = installed;
      h.installed = true;
    }
    return h;
  }();
  return home;
}

std::string xdgFolder(const char* variable, const char* fallbackUnderHome) {
  if (const char* x = std::getenv(variable); x && *x && x[0] == '/') {
    std::string base = x;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return AddPathSep(base + "/Velmo");
  }
  const char* home = std::getenv("HOME");
  return AddPathSep(std::string(home && *home ? home : ".") + "/" + fallbackUnderHome + "/Velmo");
}

}  // namespace

std::string ProgramDir() {
  if (const char* h = std::getenv("VELMO_HOME"); h && *h) return AddPathSep(h);
  if (!programDirRef().empty()) return programDirRef();
  return exeHome().dir;
}

bool ProgramDirWritable() {
  const char* h = std::getenv("VELMO_HOME");
  if (!(h && *h)) {
    if (!programDirRef().empty() ? programDirInstalled() : exeHome().installed) return false;
  }
  // A folder not made yet counts as writable when the folder it would be made in is.
  std::filesystem::path dir(ProgramDir());
  if (dir.has_filename() == false) dir = dir.parent_path();
  std::error_code ec;
  while (!std::filesystem::exists(dir, ec) && dir.has_parent_path() && dir.parent_path() != dir) dir = dir.parent_path();
  return isFolder(dir.string()) && access(dir.c_str(), W_OK) == 0;
}

std::string UserFolderPath(UserFolder kind) {
  switch (kind) {
    case UserFolder::State:
      return xdgFolder("XDG_STATE_HOME", ".local/state");
    case UserFolder::Cache:
      return xdgFolder("XDG_CACHE_HOME", ".cache");
    case UserFolder::Data:
    default:
      return xdgFolder("XDG_DATA_HOME", ".local/share");
  }
}

std::string WritableDir(UserFolder kind) { return ProgramDirWritable() ? ProgramDir() : UserFolderPath(kind); }

std::string LogFilePath() {
  const std::string dir = WritableDir(UserFolder::State);
  MakeDirAll(dir);
  return dir + "VelmoLog.dat";
}

std::string ConfigDir() {
  if (const char* c = std::getenv("VELMO_CONFIG_DIR"); c && *c) return AddPathSep(c);
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return AddPathSep(std::string(x) + "/Velmo");
  const char* home = std::getenv("HOME");
  return AddPathSep(std::string(home ? home : ".") + "/.config/Velmo");
}

}  // namespace velmo
