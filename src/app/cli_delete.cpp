// velmo-cli delete --db this|data --from yyyymmdd --to yyyymmdd [--yes]
// Deletes the race dates of the range (both included) from every table family
// of the database.
#include "app/cli.h"
#include "app/cli_maint.h"

namespace velmo::cli {
namespace {

std::string shown(const std::string& d) { return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2); }

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  bool bad = false;
  std::string which = TakeOption(args, "--db", bad);
  std::string from = TakeOption(args, "--from", bad);
  std::string to = TakeOption(args, "--to", bad);
  if (bad || !NoExtraWords(args) || (which != "this" && which != "data") || !IsDate8(from) || !IsDate8(to))
    return Usage("delete");
  if (!InitSettings("delete")) return kExitFailed;
  LoggedErrors errors;
  StderrUi ui;
  // As the grid gives them: the current row (e1) and the end of the selection (e2).
  const std::string e1 = shown(to), e2 = shown(from);
  Outcome o = which == "data" ? DeletePast(ui, e1, e2) : DeleteThisWeek(ui, e1, e2);
  if (o == Outcome::Done && which == "this") std::fprintf(stderr, "削除処理完了しました\n");
  return Finish("delete", o, errors);
}

const Registrar reg({"delete", "delete --db this|data --from yyyymmdd --to yyyymmdd [--yes]",
                     "deletes a range of race dates (both included) from this week's or the past database", run});

}  // namespace
}  // namespace velmo::cli
