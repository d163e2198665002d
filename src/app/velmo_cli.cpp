// velmo-cli: registration from scripts and headless machines.
//   velmo-cli register [--mode T|D] ARCHIVE...
// Registers the archives in the order the main screen uses (pack archives
// first) with the settings of kova.ini; one progress line per file on standard
// error; exit code 0 when every archive registered, 1 when any failed.
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"

using namespace velmo;

namespace {

class StderrStatus : public StatusSink {
 public:
  std::string statusText() const override { return text_; }
  void setStatusText(const std::string& t) override {
    // The driver appends " FILE登録中(k/n)" to the archive line.
    std::fprintf(stderr, "%s\n", t.c_str());
    text_ = t;
  }
  void setBase(const std::string& t) { text_ = t; }

 private:
  std::string text_;
};

int usage() {
  std::fprintf(stderr, "usage: velmo-cli register [--mode T|D] ARCHIVE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] != "register") return usage();
  std::string mode = "T";
  std::vector<std::string> archives;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--mode" && i + 1 < args.size()) {
      mode = args[++i];
      if (mode != "T" && mode != "D") return usage();
    } else {
      archives.push_back(args[i]);
    }
  }
  if (archives.empty()) return usage();
  AppLog::instance().setLogFile(ProgramDir() + "VelmoLog.dat");
  AppLog::instance().setLogLimit(3000);
  AppLog::instance().setTitle(kAppTitle);
  LoadSettings();
  if (G().gDBDir.empty()) {
    std::fprintf(stderr, "velmo-cli: DBDir is not set in %s\n", IniPath().c_str());
    return 1;
  }
  G().gDBDir = AddPathSep(G().gDBDir);
  G().gSilent = "0";
  OrderArchives(archives);
  StderrStatus status;
  G().gStatusForm = &status;
  int failed = 0;
  for (size_t i = 0; i < archives.size(); ++i) {
    const std::string& a = archives[i];
    if (!FileExists(a)) {
      std::fprintf(stderr, "velmo-cli: %s: no such archive\n", a.c_str());
      ++failed;
      continue;
    }
    std::string why;
    if (!CheckArchive(a, why)) {
      std::fprintf(stderr, "velmo-cli: %s: cannot be unpacked: %s\n", a.c_str(), why.c_str());
      ++failed;
      continue;
    }
    status.setBase("[" + std::to_string(i + 1) + "/" + std::to_string(archives.size()) + "] " + FileNamePart(a));
    long r = regMain(a, mode, "J");
    if (r != 0) {
      ++failed;
      std::fprintf(stderr, "velmo-cli: %s: registration stopped on an error (see %sVelmoLog.dat)\n", a.c_str(),
                   ProgramDir().c_str());
    } else {
      std::fprintf(stderr, "velmo-cli: %s: registered\n", a.c_str());
    }
  }
  G().gStatusForm = nullptr;
  return failed ? 1 : 0;
}
