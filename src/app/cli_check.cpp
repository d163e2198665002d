// velmo-cli check [--yes]
// Fetches the provider's check files, writes the data check report into the
// program folder and prints it.
#include <cstdio>

#include "app/cli.h"
#include "app/cli_fetch.h"
#include "app/cli_maint.h"
#include "common/func.h"
#include "common/text.h"
#include "schema/datacheck.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  if (!NoExtraWords(args)) return Usage("check");
  if (!InitSettings("check")) return kExitFailed;
  InstallCliFetch();
  LoggedErrors errors;
  StderrUi ui;
  Outcome o = DataChk(ui);
  if (o == Outcome::Done) {
    std::string report = text::decodeCp932(ReadFileBytes(DataCheckReportPath()));
    std::string out;
    for (char c : report)
      if (c != '\r') out += c;
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fprintf(stderr, "report: %s\n", DataCheckReportPath().c_str());
    if (DataCheckHadFailure()) o = Outcome::Failed;
  }
  return Finish("check", o, errors);
}

const Registrar reg({"check", "check [--yes]", "writes the data check report (datacheckD_Result.txt) and prints it", run});

}  // namespace
}  // namespace velmo::cli
