// velmo-cli van-recode [--yes]
// Replaces the JRA-VAN jockey and trainer codes of the past database's entries
// and results by the provider's codes of the code conversion tables (the menu
// item "VANコード再変換"). Exit 0 when done, 1 when cancelled or failed.
#include <cstdio>

#include "app/cli.h"
#include "common/func.h"
#include "van/vandriver.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  if (!args.empty()) return Usage("van-recode");
  if (!InitSettings("van-recode")) return kExitFailed;
  StderrUi ui;
  if (!VanCodeRecode(ui)) {
    std::fprintf(stderr, "velmo-cli: van-recode: not done (cancelled, or see %s)\n", LogFilePath().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

const Registrar reg({"van-recode", "van-recode [--yes]",
                     "replaces JRA-VAN jockey and trainer codes in the past database by the provider's codes", run});

}  // namespace
}  // namespace velmo::cli
