// velmo-cli changeover [--yes]
// The weekly changeover: this week's data moves into the past database. Ctrl-C
// stops it after the table family being moved.
#include "app/cli.h"
#include "app/cli_maint.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  if (!NoExtraWords(args)) return Usage("changeover");
  if (!InitSettings("changeover")) return kExitFailed;
  LoggedErrors errors;
  CancelUi ui;
  return Finish("changeover", WeekChange(ui), errors);
}

const Registrar reg({"changeover", "changeover [--yes]",
                     "weekly changeover: moves this week's data into the past database and empties the week's tables",
                     run});

}  // namespace
}  // namespace velmo::cli
