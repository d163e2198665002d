// velmo-cli schedule install --at HH:MM [--mode T|D] [--kinds ID,...] [--missing]
// velmo-cli schedule remove
// velmo-cli schedule status
// A daily "velmo-cli update" as a systemd user timer: the units
// velmo-update.service and velmo-update.timer are written into
// $XDG_CONFIG_HOME/systemd/user/ (~/.config/systemd/user/), then enabled when a
// user systemd is reachable. Without one, the crontab line that does the same
// is printed. The settings folder and program folder in use when the schedule
// is installed (VELMO_CONFIG_DIR, VELMO_HOME) are carried into the units.
// VELMO_SYSTEMCTL names the systemctl program to use ("none": never call one).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/cli.h"
#include "common/func.h"
#include "common/text.h"

extern char** environ;

namespace velmo::cli {
namespace {

const char* const kService = "velmo-update.service";
const char* const kTimer = "velmo-update.timer";
// The longest a scheduled run may take before systemd stops it.
const char* const kRunTimeLimit = "4h";

std::string unitDir() {
  const char* x = std::getenv("XDG_CONFIG_HOME");
  std::string base = x && *x ? x : std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") + "/.config";
  return AddPathSep(base) + "systemd/user/";
}

std::string selfPath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("velmo-cli") : p.string();
}

std::string systemctlProgram() {
  const char* s = std::getenv("VELMO_SYSTEMCTL");
  return s && *s ? s : "systemctl";
}

// Runs systemctl --user with the words; its exit code (-1 when it cannot run).
int systemctl(const std::vector<std::string>& words, bool quiet) {
  const std::string prog = systemctlProgram();
  if (prog == "none") return -1;
  std::vector<std::string> all = {prog, "--user"};
  all.insert(all.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& w : all) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (quiet) {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool userSystemdReachable() { return systemctl({"show-environment"}, true) == 0; }

// True when the value holds a control character (a newline would start a new
// line of the unit file or the crontab).
bool hasControl(const std::string& v) {
  for (unsigned char c : v)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

// A word of a unit file line: quoted when it needs it; "%" doubled (systemd's
// specifiers), and in an ExecStart line "$" doubled too (its variables).
std::string unitWord(const std::string& w, bool exec) {
  std::string out;
  bool plain = !w.empty();
  for (char c : w) {
    if (c == '%') out += "%%";
    else if (c == '$' && exec) out += "$$";
    else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else out += c;
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == ';') plain = false;
  }
  return plain ? out : "\"" + out + "\"";
}

// A word of a shell command line, single-quoted when it needs it; "%" escaped for cron.
std::string shellWord(const std::string& w) {
  bool plain = !w.empty() && w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./,:=") ==
                                std::string::npos;
  std::string out;
  for (char c : w) {
    if (c == '\'') out += "'\\''";
    else if (c == '%') out += "\\%";
    else out += c;
  }
  return plain ? out : "'" + out + "'";
}

bool writeFile(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

struct Schedule {
  std::string at;  // HH:MM
  std::vector<std::string> command;
  std::vector<std::pair<std::string, std::string>> env;
};

Schedule makeSchedule(const std::string& at, const std::string& mode, const std::string& kinds, bool missing) {
  Schedule s;
  s.at = at;
  s.command = {selfPath(), "update", "--mode", mode};
  if (!kinds.empty()) {
    s.command.push_back("--kinds");
    s.command.push_back(kinds);
  }
  if (missing) s.command.push_back("--missing");
  s.command.push_back("--json");
  for (const char* name : {"VELMO_HOME", "VELMO_CONFIG_DIR"}) {
    const char* v = std::getenv(name);
    if (v && *v) s.env.emplace_back(name, std::filesystem::absolute(v).string());
  }
  return s;
}

std::string serviceText(const Schedule& s) {
  std::string t = "[Unit]\nDescription=Velmo: fetch and register the provider's data\n\n[Service]\nType=oneshot\n";
  for (const auto& [k, v] : s.env) t += "Environment=" + unitWord(k + "=" + v, false) + "\n";
  // A run that hangs would hold back the next days' runs.
  t += std::string("TimeoutStartSec=") + kRunTimeLimit + "\n";
  t += "ExecStart=";
  for (size_t i = 0; i < s.command.size(); ++i) t += (i ? " " : "") + unitWord(s.command[i], true);
  return t + "\n";
}

std::string timerText(const Schedule& s) {
  return "[Unit]\nDescription=Velmo: daily update at " + s.at + "\n\n[Timer]\nOnCalendar=*-*-* " + s.at +
         ":00\nPersistent=true\nUnit=" + kService + "\n\n[Install]\nWantedBy=timers.target\n";
}

// The value holding a control character, named; empty when every value written is clean.
std::string uncleanValue(const Schedule& s) {
  for (const auto& [k, v] : s.env)
    if (hasControl(v)) return k;
  for (const auto& w : s.command)
    if (hasControl(w)) return "the path of velmo-cli";
  if (hasControl(ProgramDir())) return "the program folder";
  return {};
}

std::string crontabLine(const Schedule& s) {
  std::string line = text::midChars(s.at, 4, 2) + " " + text::midChars(s.at, 1, 2) + " * * *";
  for (const auto& [k, v] : s.env) line += " " + k + "=" + shellWord(v);
  for (const auto& w : s.command) line += " " + shellWord(w);
  // The folder of update.log is made now: cron's shell opens the file before velmo-cli runs.
  const std::string logDir = WritableDir(UserFolder::State);
  MakeDirAll(logDir);
  return line + " >>" + shellWord(logDir + "update.log") + " 2>&1";
}

bool validTime(const std::string& at) {
  if (at.size() != 5 || at[2] != ':') return false;
  for (int i : {0, 1, 3, 4})
    if (at[i] < '0' || at[i] > '9') return false;
  return std::stoi(at.substr(0, 2)) < 24 && std::stoi(at.substr(3, 2)) < 60;
}

bool validKinds(const std::string& kinds) {
  if (kinds.empty()) return true;
  for (const auto& k : text::split(kinds, ','))
    if (k.empty() || k.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") != std::string::npos) return false;
  return true;
}

int install(Args args) {
  bool bad = false;
  std::string at = TakeOption(args, "--at", bad);
  std::string mode = TakeOption(args, "--mode", bad);
  std::string kinds = TakeOption(args, "--kinds", bad);
  const bool missing = TakeFlag(args, "--missing");
  if (mode.empty()) mode = "T";
  if (bad || !args.empty() || !validTime(at) || (mode != "T" && mode != "D") || !validKinds(kinds))
    return Usage("schedule");
  Schedule s = makeSchedule(at, mode, kinds, missing);
  const std::string dir = unitDir();
  if (const std::string bad = uncleanValue(s); !bad.empty() || hasControl(dir)) {
    std::fprintf(stderr, "velmo-cli schedule: %s holds a control character (a newline, a tab …); nothing written\n",
                 bad.empty() ? "the unit folder" : bad.c_str());
    return kExitFailed;
  }
  if (!MakeDirAll(dir) || !writeFile(dir + kService, serviceText(s)) || !writeFile(dir + kTimer, timerText(s))) {
    std::fprintf(stderr, "velmo-cli schedule: cannot write the units into %s\n", dir.c_str());
    return kExitFailed;
  }
  std::printf("wrote %s%s and %s%s (daily at %s)\n", dir.c_str(), kService, dir.c_str(), kTimer, at.c_str());
  if (!userSystemdReachable()) {
    std::printf("no user systemd is reachable; enable the timer later with\n  systemctl --user daemon-reload && "
                "systemctl --user enable --now %s\nor add this line to your crontab (crontab -e):\n%s\n",
                kTimer, crontabLine(s).c_str());
    return kExitOk;
  }
  if (systemctl({"daemon-reload"}, false) != 0 || systemctl({"enable", "--now", kTimer}, false) != 0) {
    std::fprintf(stderr, "velmo-cli schedule: systemctl --user could not enable %s\n", kTimer);
    return kExitFailed;
  }
  std::printf("enabled %s\n", kTimer);
  return kExitOk;
}

int remove(const Args& args) {
  if (!args.empty()) return Usage("schedule");
  const std::string dir = unitDir();
  const bool had = FileExists(dir + kTimer) || FileExists(dir + kService);
  const bool systemd = userSystemdReachable();
  if (systemd && had) systemctl({"disable", "--now", kTimer}, false);
  std::error_code ec;
  std::filesystem::remove(dir + kTimer, ec);
  std::filesystem::remove(dir + kService, ec);
  if (FileExists(dir + kTimer) || FileExists(dir + kService)) {
    std::fprintf(stderr, "velmo-cli schedule: cannot remove the units from %s\n", dir.c_str());
    return kExitFailed;
  }
  if (systemd && had) systemctl({"daemon-reload"}, false);
  std::printf(had ? "removed %s and %s\n" : "no schedule was installed (%s, %s)\n", kTimer, kService);
  if (!systemd) std::printf("remove the velmo-cli update line from your crontab too if you added one (crontab -e)\n");
  return kExitOk;
}

int status(const Args& args) {
  if (!args.empty()) return Usage("schedule");
  const std::string dir = unitDir();
  if (!FileExists(dir + kTimer) || !FileExists(dir + kService)) {
    std::printf("no schedule installed (%s%s)\n", dir.c_str(), kTimer);
    return kExitFailed;
  }
  std::string when, exec;
  for (const auto& l : text::split(ReadFileBytes(dir + kTimer), '\n'))
    if (l.rfind("OnCalendar=", 0) == 0) when = l.substr(11);
  for (const auto& l : text::split(ReadFileBytes(dir + kService), '\n'))
    if (l.rfind("ExecStart=", 0) == 0) exec = l.substr(10);
  std::printf("installed: %s%s\n  when: %s\n  runs: %s\n", dir.c_str(), kTimer, when.c_str(), exec.c_str());
  if (userSystemdReachable()) {
    std::fflush(stdout);
    systemctl({"list-timers", "--all", "--no-pager", kTimer}, false);
  } else {
    std::printf("  no user systemd is reachable: the timer runs only where one is (or use the crontab line)\n");
  }
  return kExitOk;
}

int run(const Args& given) {
  if (given.empty()) return Usage("schedule");
  Args rest(given.begin() + 1, given.end());
  if (given[0] == "install") return install(rest);
  if (given[0] == "remove") return remove(rest);
  if (given[0] == "status") return status(rest);
  return Usage("schedule");
}

const Registrar reg({"schedule", "schedule install --at HH:MM [--mode T|D] [--kinds ID,...] [--missing] | remove | status",
                     "a daily \"velmo-cli update\" as a systemd user timer (or the crontab line without systemd)", run});

}  // namespace
}  // namespace velmo::cli
