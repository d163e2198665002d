// The unattended update: the main screen's internet registration without a
// screen. For each data ID it fetches the kind's list file and every listed
// archive of the date range (or the single archive of each date for a kind
// without a list file), registers the archives in the order of the main screen
// (pack archives first) and files each into the data storage folder. Nothing
// is asked: a failure is counted, logged and reported, and the run goes on.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "maintenance/commandui.h"

namespace velmo {

struct UpdateRequest {
  std::string mode = "T";          // "T" this week's database, "D" the past database
  std::vector<std::string> kinds;  // data IDs; empty: the mode's usual set from the catalogue
  std::string from, to;            // yyyymmdd, both included
  bool downloadOnly = false;       // file the archives without registering them
  // Only what the data ledger shows missing, failed or partial, each archive
  // registered as soon as it is fetched (a run stopped at any point and started
  // again fetches only what is still missing).
  bool missing = false;
  // How --missing asks whether an archive of a kind without a list file is
  // published (1 yes, -2 no, -1 cannot tell); empty: a HEAD request to the host.
  std::function<int(const std::string& address)> probe;
};

struct UpdateSummary {
  int fetched = 0;     // archives saved (list files not counted)
  int registered = 0;  // archives registered and filed
  int failed = 0;      // fetches that failed, kinds that could not be read, archives that did not register
  int notFound = 0;    // archives (or list files) the host does not have
  long long rows = 0;  // rows written by the registration
  double seconds = 0;
};

// Fetches gDataURL into gDataPath; returns gFetchResult (1 saved, 0 cancelled,
// -1 failed, -2 not found).
using FetchFunction = std::function<int()>;

// The data IDs of the mode's usual set, in the catalogue's order: "TDM" like
// "T??" (this week) or "?D?" (past) and "セット" = "通常", as the download
// selection screen lists them.
std::vector<std::string> UpdateKinds(const std::string& mode);

// True for a real calendar date written yyyymmdd.
bool IsDate8(const std::string& date);
// The day after a yyyymmdd date.
std::string NextDate8(const std::string& date);
// The date `days` days before a yyyymmdd date.
std::string DaysBefore8(const std::string& date, int days);
// Today's date, yyyymmdd.
std::string TodayDate8();

// Runs the update; one line per archive (and per failed fetch) through the
// interface's status. Needs LzhDir to exist.
UpdateSummary RunUpdate(const UpdateRequest& request, CommandUi& ui, const FetchFunction& fetch);

// 0 when everything fetched was registered (or filed), 1 when anything failed,
// 3 when nothing was published for the range.
int UpdateExitCode(const UpdateSummary& s);
// One line: {"fetched":…,"registered":…,"failed":…,"not_found":…,"rows_written":…,"seconds":…}
std::string UpdateJson(const UpdateSummary& s);

}  // namespace velmo
