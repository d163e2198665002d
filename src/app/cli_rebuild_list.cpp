// velmo-cli rebuild-list [--yes]
// Rebuilds the past database's data list from the registered data.
#include "app/cli.h"
#include "app/cli_maint.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  if (!NoExtraWords(args)) return Usage("rebuild-list");
  if (!InitSettings("rebuild-list")) return kExitFailed;
  LoggedErrors errors;
  StderrUi ui;
  return Finish("rebuild-list", MakeItiran(ui), errors);
}

const Registrar reg({"rebuild-list", "rebuild-list [--yes]",
                     "rebuilds the past data list (Dデータ一覧テーブル) from the registered data", run});

}  // namespace
}  // namespace velmo::cli
