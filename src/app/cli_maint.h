// Shared by the maintenance commands of velmo-cli: exit codes of a command's
// outcome, the errors it logged, and Ctrl-C as the busy window's cancel button.
#pragma once
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "common/globals.h"
#include "maintenance/maintenance.h"
#include "startup/platform/applog.h"

namespace velmo::cli {

// Lines of the log file (tab-separated: time, number, description, location).
inline std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  std::ifstream in(AppLog::instance().logFile());
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Remembers where the log stood, and prints the errors written after that.
class LoggedErrors {
 public:
  LoggedErrors() : start_(LogLines().size()) {}
  void print(const std::string& command) const {
    std::vector<std::string> lines = LogLines();
    size_t from = lines.size() >= start_ ? start_ : 0;
    int printed = 0;
    for (size_t i = from; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      size_t a = l.find('\t');
      if (a == std::string::npos) continue;
      size_t b = l.find('\t', a + 1);
      if (l.compare(a + 1, b - a - 1, "0") == 0) continue;  // milestones
      std::fprintf(stderr, "velmo-cli %s: error: %s\n", command.c_str(), l.substr(a + 1).c_str());
      ++printed;
    }
    if (!printed) std::fprintf(stderr, "velmo-cli %s: failed (see %s)\n", command.c_str(), AppLog::instance().logFile().c_str());
  }

 private:
  size_t start_;
};

// Progress on standard error; Ctrl-C asks the command to stop at its next check.
class CancelUi : public StderrUi {
 public:
  CancelUi() {
    flag() = 0;
    std::signal(SIGINT, [](int) { flag() = 1; });
  }
  ~CancelUi() override { std::signal(SIGINT, SIG_DFL); }
  bool cancelRequested() override { return flag() != 0; }

 private:
  static volatile std::sig_atomic_t& flag() {
    static volatile std::sig_atomic_t f = 0;
    return f;
  }
};

// Exit code of an outcome; a failure prints the errors the command logged.
inline int Finish(const std::string& command, Outcome o, const LoggedErrors& errors) {
  switch (o) {
    case Outcome::Done:
      return kExitOk;
    case Outcome::Cancelled:
      std::fprintf(stderr, "velmo-cli %s: not done (cancelled or not confirmed)\n", command.c_str());
      return kExitFailed;
    case Outcome::Failed:
    default:
      errors.print(command);
      return kExitFailed;
  }
}

// True for eight digits that make a calendar-looking date yyyymmdd.
inline bool IsDate8(const std::string& s) {
  if (s.size() != 8) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  int m = std::stoi(s.substr(4, 2)), d = std::stoi(s.substr(6, 2));
  return m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

// Rejects words left over after the options were taken.
inline bool NoExtraWords(const Args& args) { return args.empty(); }

}  // namespace velmo::cli
