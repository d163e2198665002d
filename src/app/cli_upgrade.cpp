// velmo-cli upgrade [--force] [--yes]
// Brings the databases to the current version. --force upgrades a pair that is
// already current (the screen's "強制的にしますか？" answered yes).
#include <cstdio>

#include "app/cli.h"
#include "app/cli_maint.h"
#include "common/msgbox.h"
#include "schema/dbversion.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  const bool force = TakeFlag(args, "--force");
  if (!NoExtraWords(args)) return Usage("upgrade");
  if (!InitSettings("upgrade")) return kExitFailed;
  const std::string version = getDBVersion();
  std::fprintf(stderr, "database version: %s\n", version.c_str());
  if (version == kCurrentDBVersion && !force) {
    std::fprintf(stderr, "velmo-cli upgrade: the databases are current (give --force to upgrade again)\n");
    return kExitOk;
  }
  if (force) {
    auto previous = std::make_shared<MsgBoxHandler>();
    *previous = SetMsgBoxHandler([previous](const MsgRequest& r) -> int {
      if (r.text.find("強制的にしますか？") != std::string::npos) {
        std::fprintf(stderr, "%s: %s\n  -> yes (--force)\n", r.title.c_str(), r.text.c_str());
        return vbYes;
      }
      return (*previous)(r);
    });
  }
  LoggedErrors errors;
  StderrUi ui;
  Outcome o = dbVersionUp(ui);
  std::fprintf(stderr, "database version: %s\n", getDBVersion().c_str());
  return Finish("upgrade", o, errors);
}

const Registrar reg({"upgrade", "upgrade [--force] [--yes]",
                     "upgrades the databases to the current version (--force: again, when already current)", run});

}  // namespace
}  // namespace velmo::cli
