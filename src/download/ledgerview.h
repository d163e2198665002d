// The data ledger: for each race date and data ID of a range, what the
// provider publishes (the kind's list file, or a look at the archive), what is
// in the data storage folder and what the registration record says, judged
// into one state per cell.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "startup/platform/ledgertable.h"

namespace velmo {

enum class LedgerState { Complete, Partial, Failed, Missing, Unpublished, Unknown };
// "complete", "partial", "failed", "missing", "unpublished", "unknown".
const char* LedgerStateName(LedgerState s);
// The table's mark of a state.
const char* LedgerStateMark(LedgerState s);
// True for the states an update of what is missing fetches again.
bool LedgerWantsFetch(LedgerState s);

struct LedgerArchive {
  std::string name;     // archive file name
  std::string address;  // where it is fetched
  LedgerState state = LedgerState::Unknown;
  bool recorded = false;  // the registration record has a row for it
  db::LedgerRow record;
};

struct LedgerCell {
  std::string date, id;
  LedgerState state = LedgerState::Unknown;
  std::vector<LedgerArchive> archives;  // at least one: the archive the cell stands for
  // The archive shown for the cell: the worst, else the newest.
  const LedgerArchive& shown() const;
  int64_t records() const;  // records registered, over the cell's recorded archives
  int64_t rows() const;
  bool recorded() const;
};

struct LedgerRequest {
  std::string mode = "T";
  std::vector<std::string> kinds;  // data IDs, in the order shown
  std::string from, to;            // yyyymmdd, both included
  // Offline: only the list files kept from the last fetch; no look at the host.
  bool offline = false;
};

struct LedgerReport {
  std::vector<std::string> dates;  // race dates with any cell of interest, ascending
  std::vector<std::string> ids;
  std::vector<LedgerCell> cells;   // dates × ids, date first
  std::vector<std::string> problems;  // lists that could not be fetched or read, kinds unknown …
  int count(LedgerState s) const;
  const LedgerCell* cell(const std::string& date, const std::string& id) const;
};

// Fetches an address into a file: 1 saved, 0 cancelled, -1 failed, -2 not found
// (gDataURL / gDataPath, as the fetches of the update).
using LedgerFetch = std::function<int()>;
// Asks whether an address can be fetched without fetching it: 1 yes, -2 not
// found, -1 could not tell.
using LedgerProbe = std::function<int(const std::string& address)>;

// Builds the ledger. Online, each kind's list file is fetched into the kept
// list folder (dwn/lists/) and the archives of kinds without one are looked at.
LedgerReport BuildLedger(const LedgerRequest& request, const LedgerFetch& fetch, const LedgerProbe& probe);

// The folder of the list files kept from the last fetch (download folder + "lists/").
std::string KeptListFolder();
// Keeps a fetched list file for the ledger (moved into the kept list folder).
void KeepListFile(const std::string& path);

// One JSON object per cell, then the summary line; each line ends with "\n".
std::string LedgerJson(const LedgerReport& r);
// The summary object {"summary":{…}}.
std::string LedgerSummaryJson(const LedgerReport& r);
// The table of dates × data IDs, one mark per cell, a legend and the summary.
std::string LedgerText(const LedgerReport& r);
// 0 when nothing is missing, failed or partial (and every list was read); 1 otherwise.
int LedgerExitCode(const LedgerReport& r);

}  // namespace velmo
