#include "app/cli.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "common/func.h"
#include "common/msgbox.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"

namespace velmo::cli {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

int Usage(const std::string& command) {
  for (const auto& c : Commands())
    if (c.name == command) std::fprintf(stderr, "usage: velmo-cli %s\n", c.usage.c_str());
  return kExitUsage;
}

bool InitSettings(const std::string& command) {
  AppLog::instance().setLogFile(LogFilePath());
  AppLog::instance().setLogLimit(3000);
  AppLog::instance().setTitle(kAppTitle);
  try {
    LoadSettings();
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    WriteLog(e, "velmo-cli " + command, false, true);
    std::fprintf(stderr, "velmo-cli %s: %s\n", command.c_str(), e.description.c_str());
    return false;
  }
  if (G().gDBDir.empty()) {
    std::fprintf(stderr, "velmo-cli %s: DBDir is not set in %s\n", command.c_str(), IniPath().c_str());
    return false;
  }
  G().gDBDir = AddPathSep(G().gDBDir);
  G().gSilent = "0";
  return true;
}

namespace {

bool isYesAnswer(const std::string& line) {
  return line == "y" || line == "Y" || line == "yes" || line == "YES" || line == "Yes" || line == "ok" || line == "OK";
}

}  // namespace

void InstallAnswerer(Args& args) {
  const bool yes = TakeFlag(args, "--yes");
  SetMsgBoxHandler([yes](const MsgRequest& r) -> int {
    const bool question = r.buttons != vbOKOnly;
    const int positive = (r.buttons == vbYesNo || r.buttons == vbYesNoCancel) ? vbYes : vbOK;
    const int negative = r.buttons == vbYesNo ? vbNo : vbCancel;
    std::fprintf(stderr, "%s: %s\n", r.title.c_str(), r.text.c_str());
    if (!question) return vbOK;
    if (yes) {
      std::fprintf(stderr, "  -> yes (--yes)\n");
      return positive;
    }
    if (!isatty(STDIN_FILENO)) {
      std::fprintf(stderr, "  -> no (no terminal to ask; give --yes to answer yes)\n");
      return negative;
    }
    std::fprintf(stderr, "  [y/N] ");
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return negative;
    return isYesAnswer(line) ? positive : negative;
  });
}

std::string TakeOption(Args& args, const std::string& name, bool& bad) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) {
      bad = true;
      args.erase(args.begin() + static_cast<long>(i));
      return "";
    }
    std::string v = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    return v;
  }
  return "";
}

bool TakeFlag(Args& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i)
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  return false;
}

std::string DatabasePathOf(const std::string& which) {
  if (which.empty() || which == "this") return G().gDBDir + "kova_this.mdb";
  if (which == "data") return G().gDBDir + "kova_data.mdb";
  if (which == "code") return G().gDBDir + "kova_code.mdb";
  if (which.find('/') != std::string::npos || which.size() > 4) return which;
  return "";
}

void StderrUi::setStatus(const std::string& text) {
  if (text.empty() || text == status_) return;
  status_ = text;
  std::fprintf(stderr, "%s\n", text.c_str());
}

void StderrUi::setBusyText(const std::string& text) {
  if (text.empty() || text == busy_) return;
  busy_ = text;
  std::fprintf(stderr, "%s\n", text.c_str());
}


}  // namespace velmo::cli
