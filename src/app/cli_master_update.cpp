// velmo-cli master-update [--yes]
// Fetches the newest jockey, trainer and master archives (and the code change
// files when VAN=1) and registers them into this week's database.
#include "app/cli.h"
#include "app/cli_maint.h"
#include "app/cli_fetch.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  if (!NoExtraWords(args)) return Usage("master-update");
  if (!InitSettings("master-update")) return kExitFailed;
  InstallCliFetch();
  LoggedErrors errors;
  StderrUi ui;
  G().gStatusForm = &ui;
  Outcome o = MasterUpdate(ui);
  G().gStatusForm = nullptr;
  return Finish("master-update", o, errors);
}

const Registrar reg({"master-update", "master-update [--yes]",
                     "fetches the newest master archives and registers them into this week's database", run});

}  // namespace
}  // namespace velmo::cli
