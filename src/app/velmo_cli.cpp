// velmo-cli: the program's commands for scripts, terminals and headless
// machines. Each command is a thin face of the same core operation that the
// main screen runs; the commands are listed in one table (app/cli.h), their
// reference in another (app/clidoc.h).
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli.h"
#include "mirror/autosync.h"
#include "app/clihelp.h"

using namespace velmo;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(cli::OverviewHelp().c_str(), stderr);
    return cli::kExitUsage;
  }
  if (args[0] == "--version" && args.size() == 1) {
    std::printf("%s\n", cli::VersionText().c_str());
    return cli::kExitOk;
  }
  if (args[0] == "--help" || args[0] == "-h") return cli::HelpMain({});
  if (args[0] == "help") return cli::HelpMain(cli::Args(args.begin() + 1, args.end()));
  for (const auto& c : cli::Commands()) {
    if (c.name != args[0]) continue;
    cli::Args rest(args.begin() + 1, args.end());
    if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h")) return cli::HelpMain({c.name});
    QCoreApplication app(argc, argv);
    // The server copy follows every command's commits (setting Mirror); a miss is one line here.
    mirror::InstallAutoSync([](const std::string& m) { std::fprintf(stderr, "velmo-cli: %s\n", m.c_str()); });
    int rc = c.run(rest);
    // A statement may add or drop a table or column without writing a row.
    mirror::SyncAfterCommand(c.name == "sql");
    return rc;
  }
  std::fprintf(stderr, "velmo-cli: unknown command \"%s\"\n", args[0].c_str());
  std::fputs(cli::OverviewHelp().c_str(), stderr);
  return cli::kExitUsage;
}
