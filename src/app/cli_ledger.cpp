// velmo-cli ledger [--from yyyymmdd] [--to yyyymmdd] [--mode T|D] [--kinds ID,...] [--json] [--offline]
// The data ledger: for each race date of the range and each data ID (the kinds
// and range of "update"), what the provider publishes, what the data storage
// folder holds and what the registration record says, one state per cell:
// complete, partial, failed, missing, unpublished or unknown. --json prints one
// object per cell and a summary line; otherwise a table of dates × data IDs.
// --offline reads only the list files kept from the last fetch. Exit 0 when
// nothing is missing, failed or partial, 1 otherwise, 2 for a usage error.
#include <cstdio>

#include "app/cli.h"
#include "app/cli_unattended.h"
#include "common/error.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "download/httpfetch.h"
#include "download/ledgerview.h"
#include "download/probe.h"
#include "download/update.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  bool bad = false;
  std::string mode = TakeOption(args, "--mode", bad);
  std::string kinds = TakeOption(args, "--kinds", bad);
  std::string from = TakeOption(args, "--from", bad);
  std::string to = TakeOption(args, "--to", bad);
  const bool json = TakeFlag(args, "--json");
  const bool offline = TakeFlag(args, "--offline");
  if (mode.empty()) mode = "T";
  if (bad || !args.empty() || (mode != "T" && mode != "D")) return Usage("ledger");
  if (from.empty()) from = to.empty() ? TodayDate8() : to;
  if (to.empty()) to = from;
  if (!IsDate8(from) || !IsDate8(to)) {
    std::fprintf(stderr, "velmo-cli ledger: dates are written yyyymmdd (%s, %s)\n", from.c_str(), to.c_str());
    return Usage("ledger");
  }
  if (from > to) std::swap(from, to);
  if (!InitSettings("ledger")) return kExitFailed;
  AnswerUnattended();
  G().gLzhDir = AddPathSep(G().gLzhDir);
  LedgerRequest q;
  q.mode = mode;
  q.from = from;
  q.to = to;
  q.offline = offline;
  try {
    q.kinds = KindsOf(kinds, mode);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmo-cli ledger: the data catalogue cannot be read: %s\n", e.what());
    return kExitFailed;
  }
  if (q.kinds.empty()) return Usage("ledger");
  LedgerReport r;
  try {
    r = BuildLedger(q, [] { return FetchWithoutWindow(); }, [](const std::string& a) { return ProbeAddress(a); });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmo-cli ledger: %s\n", ErrObject::from(e).description.c_str());
    return kExitFailed;
  }
  for (const auto& p : r.problems) std::fprintf(stderr, "velmo-cli ledger: %s\n", p.c_str());
  const std::string out = json ? LedgerJson(r) : LedgerText(r);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return LedgerExitCode(r);
}

const Registrar reg({"ledger", "ledger [--from yyyymmdd] [--to yyyymmdd] [--mode T|D] [--kinds ID,...] [--json] [--offline]",
                     "the data ledger: each race date and data ID published, stored and registered; "
                     "exit 0 complete, 1 anything missing, failed or partial",
                     run});

}  // namespace
}  // namespace velmo::cli
