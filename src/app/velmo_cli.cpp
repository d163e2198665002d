// velmo-cli: the program's commands for scripts, terminals and headless
// machines. Each command is a thin face of the same core operation that the
// main screen runs; the commands are listed in one table (app/cli.h).
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli.h"
#include "mirror/autosync.h"

using namespace velmo;

namespace {

int help(FILE* out) {
  auto commands = cli::Commands();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  std::fprintf(out, "usage: velmo-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& c : commands) std::fprintf(out, "  velmo-cli %s\n      %s\n", c.usage.c_str(), c.summary.c_str());
  return out == stdout ? cli::kExitOk : cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return help(stderr);
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") return help(stdout);
  // The server copy follows every command's commits (setting Mirror); a miss is one line here.
  mirror::InstallAutoSync([](const std::string& m) { std::fprintf(stderr, "velmo-cli: %s\n", m.c_str()); });
  for (const auto& c : cli::Commands()) {
    if (c.name != args[0]) continue;
    cli::Args rest(args.begin() + 1, args.end());
    int rc = c.run(rest);
    // A statement may add or drop a table or column without writing a row.
    mirror::SyncAfterCommand(c.name == "sql");
    return rc;
  }
  std::fprintf(stderr, "velmo-cli: unknown command \"%s\"\n", args[0].c_str());
  return help(stderr);
}
