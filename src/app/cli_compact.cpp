// velmo-cli compact --db this|data [--yes]
// Compacts the database into the work copy "_wk.mdb" and puts it in place.
#include "app/cli.h"
#include "app/cli_maint.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  bool bad = false;
  std::string which = TakeOption(args, "--db", bad);
  if (bad || !NoExtraWords(args) || (which != "this" && which != "data")) return Usage("compact");
  if (!InitSettings("compact")) return kExitFailed;
  LoggedErrors errors;
  StderrUi ui;
  return Finish("compact", DBcompact(ui, DatabasePathOf(which)), errors);
}

const Registrar reg({"compact", "compact --db this|data [--yes]",
                     "compacts kova_this.mdb or kova_data.mdb through a work copy", run});

}  // namespace
}  // namespace velmo::cli
