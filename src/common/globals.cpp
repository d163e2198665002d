#include "common/globals.h"

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
}  // namespace

void SetProgramDir(const std::string& dir) { programDirRef() = dir.empty() ? dir : AddPathSep(dir); }

std::string ProgramDir() {
  if (const char* h = std::getenv("VELMO_HOME"); h && *h) return AddPathSep(h);
  if (!programDirRef().empty()) return programDirRef();
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = 0;
    return AddPathSep(std::filesystem::path(buf).parent_path().string());
  }
  return "./";
}

std::string ConfigDir() {
  if (const char* c = std::getenv("VELMO_CONFIG_DIR"); c && *c) return AddPathSep(c);
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return AddPathSep(std::string(x) + "/Velmo");
  const char* home = std::getenv("HOME");
  return AddPathSep(std::string(home ? home : ".") + "/.config/Velmo");
}

}  // namespace velmo
