// velmo-cli backup list
// velmo-cli backup restore NAME [--db PATH] [--yes]
// Lists the copies that the commands which delete or rewrite data take first
// (one line per copy: name, database, command, time, bytes, kind; tab-separated),
// and restores one of them over its database after checking it (--db: the
// database outside the database folder that the copy was taken of).
#include <cstdio>

#include "app/cli.h"
#include "maintenance/backup.h"
#include "startup/settings.h"

namespace velmo::cli {
namespace {

int list(const Args& args) {
  if (!args.empty()) return Usage("backup");
  if (!InitSettings("backup")) return kExitFailed;
  auto all = ListBackups();
  if (all.empty()) std::fprintf(stderr, "velmo-cli backup: no backups in %s\n", BackupDir().c_str());
  for (const auto& e : all)
    std::printf("%s\t%s\t%s\t%s\t%lld\t%s\n", e.name.c_str(), e.database.c_str(), e.command.c_str(), e.time.c_str(),
                e.bytes, e.kind.c_str());
  return kExitOk;
}

int restore(Args args) {
  InstallAnswerer(args);
  bool bad = false;
  const std::string target = TakeOption(args, "--db", bad);
  if (bad || args.size() != 1 || args[0].rfind("--", 0) == 0) return Usage("backup");
  if (!InitSettings("backup")) return kExitFailed;
  StderrUi ui;
  std::string error;
  if (!RestoreBackup(args[0], ui, error, target)) {
    std::fprintf(stderr, "velmo-cli backup restore: %s\n", error.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int run(const Args& given) {
  if (given.empty()) return Usage("backup");
  Args rest(given.begin() + 1, given.end());
  if (given[0] == "list") return list(rest);
  if (given[0] == "restore") return restore(rest);
  return Usage("backup");
}

const Registrar reg({"backup", "backup list | backup restore NAME [--db PATH] [--yes]",
                     "lists the copies taken before data was deleted or rewritten; restores one over its database", run});

}  // namespace
}  // namespace velmo::cli
