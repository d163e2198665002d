// velmo-cli update [--mode T|D] [--kinds ID,...] [--from yyyymmdd] [--to yyyymmdd] [--download-only] [--missing] [--json]
// The main screen's internet registration without a screen, for a timer or a
// script: fetches the kinds' archives of the range (default today) with the
// credentials and host of kova.ini, registers them pack archives first and
// files them into the data storage folder. One line per archive on standard
// error; with --json one summary line on standard output. Nothing is ever
// asked. Exit 0 when everything fetched was registered, 1 when anything failed,
// 3 when nothing was published for the range, 2 for a usage error. --missing:
// only what the data ledger shows missing, failed or partial (default range:
// the seven days up to today), each archive registered as soon as it arrives.
#include <cstdio>

#include "app/cli.h"
#include "app/cli_unattended.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "download/httpfetch.h"
#include "download/update.h"

namespace velmo::cli {
namespace {

constexpr int kExitNothingPublished = 3;
constexpr int kMaxDays = 366;

int daysBetween(const std::string& from, const std::string& to) {
  int n = 0;
  for (std::string d = from; d < to && n <= kMaxDays; d = NextDate8(d)) ++n;
  return n;
}

int run(const Args& given) {
  Args args = given;
  bool bad = false;
  std::string mode = TakeOption(args, "--mode", bad);
  std::string kinds = TakeOption(args, "--kinds", bad);
  std::string from = TakeOption(args, "--from", bad);
  std::string to = TakeOption(args, "--to", bad);
  const bool downloadOnly = TakeFlag(args, "--download-only");
  const bool missing = TakeFlag(args, "--missing");
  const bool json = TakeFlag(args, "--json");
  if (mode.empty()) mode = "T";
  if (bad || !args.empty() || (mode != "T" && mode != "D")) return Usage("update");
  // What is missing is looked for over the week up to today by default.
  if (missing && from.empty() && to.empty()) from = DaysBefore8(to = TodayDate8(), 6);
  if (from.empty()) from = to.empty() ? TodayDate8() : to;
  if (to.empty()) to = from;
  if (!IsDate8(from) || !IsDate8(to)) {
    std::fprintf(stderr, "velmo-cli update: dates are written yyyymmdd (%s, %s)\n", from.c_str(), to.c_str());
    return Usage("update");
  }
  if (from > to || daysBetween(from, to) > kMaxDays) {
    std::fprintf(stderr, "velmo-cli update: the range %s-%s is reversed or longer than %d days\n", from.c_str(),
                 to.c_str(), kMaxDays);
    return Usage("update");
  }
  if (!InitSettings("update")) return kExitFailed;
  // Unattended: reports go to standard error, questions are answered No/Cancel.
  AnswerUnattended();
  if (!FolderExists(G().gLzhDir)) {
    std::fprintf(stderr, "velmo-cli update: the data storage folder (LzhDir) \"%s\" does not exist\n",
                 G().gLzhDir.c_str());
    return kExitFailed;
  }
  G().gLzhDir = AddPathSep(G().gLzhDir);

  UpdateRequest r;
  r.mode = mode;
  r.from = from;
  r.to = to;
  r.downloadOnly = downloadOnly;
  r.missing = missing;
  try {
    r.kinds = KindsOf(kinds, mode);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmo-cli update: the data catalogue cannot be read: %s\n", e.what());
    return kExitFailed;
  }
  if (r.kinds.empty()) return Usage("update");

  StderrUi ui;
  G().gStatusForm = nullptr;  // one line per archive, not per file
  G().gDownOnly = downloadOnly ? 1 : 0;
  std::fprintf(stderr, "velmo-cli update: %s %s-%s, %zu kinds\n", mode.c_str(), from.c_str(), to.c_str(), r.kinds.size());
  UpdateSummary s = RunUpdate(r, ui, [] { return RunFetch(); });
  if (json) std::printf("%s\n", UpdateJson(s).c_str());
  std::fprintf(stderr, "velmo-cli update: fetched %d, registered %d, failed %d, not found %d, %lld rows, %.1f s\n",
               s.fetched, s.registered, s.failed, s.notFound, s.rows, s.seconds);
  int rc = UpdateExitCode(s);
  if (missing && rc == 3) rc = 0;  // nothing was missing
  return rc == 3 ? kExitNothingPublished : rc;
}

const Registrar reg({"update", "update [--mode T|D] [--kinds ID,...] [--from yyyymmdd] [--to yyyymmdd] [--download-only] [--missing] [--json]",
                     "fetches and registers the kinds' archives of the range (default today) without a screen; "
                     "exit 0 done, 1 failed, 3 nothing published",
                     run});

}  // namespace
}  // namespace velmo::cli
