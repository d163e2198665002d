#include "download/ledgerview.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/json.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "download/update.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/db.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {

// Worst first: the order a cell takes the state of its archives in.
int severity(LedgerState s) {
  switch (s) {
    case LedgerState::Failed: return 5;
    case LedgerState::Partial: return 4;
    case LedgerState::Missing: return 3;
    case LedgerState::Unknown: return 2;
    case LedgerState::Complete: return 1;
    case LedgerState::Unpublished: return 0;
  }
  return 0;
}

const LedgerState kStates[] = {LedgerState::Complete, LedgerState::Missing, LedgerState::Failed,
                               LedgerState::Partial,  LedgerState::Unpublished, LedgerState::Unknown};

// Kind and yyyymmdd date of an archive name (the six characters before ".lzh").
bool nameParts(const std::string& name, std::string& kind, std::string& date) {
  date = ListLineDate(name);
  if (date.empty() || name.size() < 10 || date.find_first_not_of("0123456789") != std::string::npos) return false;
  kind = name.substr(0, name.size() - 10);
  return true;
}

LedgerState judgeRecord(const db::LedgerRow& r) {
  if (r.outcome == "registered") return r.registered + r.skipped >= r.held ? LedgerState::Complete : LedgerState::Partial;
  return LedgerState::Failed;
}

struct KindInfo {
  std::string id, kind;
  ListInfo info;
  bool known = false;     // the catalogue has the data ID
  bool listRead = false;  // a list file (fetched now or kept) was read
  std::map<std::string, std::vector<std::string>> listed;  // date -> names, in the list's order
};

}  // namespace

const char* LedgerStateName(LedgerState s) {
  switch (s) {
    case LedgerState::Complete: return "complete";
    case LedgerState::Partial: return "partial";
    case LedgerState::Failed: return "failed";
    case LedgerState::Missing: return "missing";
    case LedgerState::Unpublished: return "unpublished";
    case LedgerState::Unknown: return "unknown";
  }
  return "unknown";
}

const char* LedgerStateMark(LedgerState s) {
  switch (s) {
    case LedgerState::Complete: return "o";
    case LedgerState::Partial: return "p";
    case LedgerState::Failed: return "x";
    case LedgerState::Missing: return "-";
    case LedgerState::Unpublished: return ".";
    case LedgerState::Unknown: return "?";
  }
  return "?";
}

bool LedgerWantsFetch(LedgerState s) {
  return s == LedgerState::Missing || s == LedgerState::Failed || s == LedgerState::Partial;
}

const LedgerArchive& LedgerCell::shown() const {
  const LedgerArchive* best = &archives.front();
  for (const auto& a : archives)
    if (severity(a.state) > severity(best->state) || (severity(a.state) == severity(best->state) && a.name > best->name))
      best = &a;
  return *best;
}

int64_t LedgerCell::records() const {
  int64_t n = 0;
  for (const auto& a : archives) n += a.recorded ? a.record.registered : 0;
  return n;
}

int64_t LedgerCell::rows() const {
  int64_t n = 0;
  for (const auto& a : archives) n += a.recorded ? a.record.rows : 0;
  return n;
}

bool LedgerCell::recorded() const {
  for (const auto& a : archives)
    if (a.recorded) return true;
  return false;
}

int LedgerReport::count(LedgerState s) const {
  int n = 0;
  for (const auto& c : cells) n += c.state == s;
  return n;
}

const LedgerCell* LedgerReport::cell(const std::string& date, const std::string& id) const {
  for (const auto& c : cells)
    if (c.date == date && c.id == id) return &c;
  return nullptr;
}

std::string KeptListFolder() { return G().gDwnDir + "lists/"; }

void KeepListFile(const std::string& path) {
  try {
    MakeDirAll(KeptListFolder());
    MoveFileOver(path, KeptListFolder() + FileNamePart(path));
  } catch (const std::exception&) {
    // The ledger then uses the copy kept before, or fetches the list itself.
  }
}

LedgerReport BuildLedger(const LedgerRequest& req, const LedgerFetch& fetch, const LedgerProbe& probe) {
  LedgerReport rep;
  rep.ids = req.kinds;

  // What the registration record says.
  std::map<std::string, db::LedgerRow> recorded;  // by archive name
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> recordedBy;  // (kind, date) -> names
  {
    db::DatabasePtr d = OpenModeDatabase(G().gDBDir, req.mode);
    auto rows = db::LedgerTable::read(*d, req.from, req.to);
    d->close();
    for (auto& r : rows) {
      std::string kind, date;
      if (!nameParts(r.archive, kind, date)) continue;
      recordedBy[{kind, date}].push_back(r.archive);
      recorded.emplace(r.archive, std::move(r));
    }
  }

  // What the data storage folder holds.
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> storedBy;
  std::set<std::string> stored;
  {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(G().gLzhDir, ec)) {
      const std::string n = e.path().filename().string();
      std::string kind, date;
      if (!nameParts(n, kind, date) || date < req.from || date > req.to) continue;
      storedBy[{kind, date}].push_back(n);
      stored.insert(n);
    }
  }

  // What the provider publishes.
  std::vector<KindInfo> kinds;
  std::set<std::string> raceDates;
  for (const auto& id : req.kinds) {
    KindInfo k;
    k.id = id;
    k.kind = ArchiveKind(id);
    try {
      k.info = getListInfo(id);
      k.known = true;
    } catch (const std::exception& e) {
      rep.problems.push_back("データID[" + id + "]: " + ErrObject::from(e).description);
    }
    if (k.known && !k.info.listFile.empty()) {
      if (!IsPlainFileName(k.info.listFile)) {
        rep.problems.push_back("データID[" + id + "]: リストファイル名が不正です[" + k.info.listFile + "]");
      } else {
        const std::string kept = KeptListFolder() + k.info.listFile;
        if (!req.offline) {
          MakeDirAll(KeptListFolder());
          G().gDataURL = k.info.listAddress + k.info.listFile;
          G().gDataPath = kept;
          G().gFetchResult = 0;
          const int rc = fetch ? fetch() : -1;
          if (rc == -2) {
            // No list on the host: the kind publishes nothing now.
            std::error_code ec;
            fs::remove(kept, ec);
            k.listRead = true;
          } else if (rc != 1) {
            rep.problems.push_back(k.info.listFile + ": リストファイルをダウンロードできませんでした");
          }
        }
        if (FileExists(kept)) {
          try {
            for (const auto& name : ReadListFile(kept)) {
              const std::string date = ListLineDate(name);
              if (date.empty() || date < req.from || date > req.to || !IsPlainFileName(name)) continue;
              k.listed[date].push_back(name);
              raceDates.insert(date);
            }
            k.listRead = true;
          } catch (const std::exception& e) {
            rep.problems.push_back(k.info.listFile + ": " + ErrObject::from(e).description);
          }
        }
      }
    }
    kinds.push_back(std::move(k));
  }
  for (const auto& [key, names] : recordedBy) raceDates.insert(key.second);
  for (const auto& [key, names] : storedBy) raceDates.insert(key.second);

  // Kinds without a list file: looked at on the race dates the other kinds show
  // (every date of the range when none shows any).
  std::vector<std::string> everyDate;
  for (std::string d = req.from; d <= req.to && everyDate.size() <= 4000; d = NextDate8(d)) everyDate.push_back(d);
  std::map<std::pair<std::string, std::string>, int> looked;  // (id, date) -> probe result
  const bool anyUnlisted = std::any_of(kinds.begin(), kinds.end(), [](const KindInfo& k) { return k.known && k.info.listFile.empty(); });
  if (anyUnlisted && !req.offline) {
    const std::set<std::string> candidates =
        raceDates.empty() ? std::set<std::string>(everyDate.begin(), everyDate.end()) : raceDates;
    for (const auto& k : kinds) {
      if (!k.known || !k.info.listFile.empty()) continue;
      for (const auto& d : candidates) {
        const std::string name = ArchiveName(k.id, d);
        if (recorded.count(name) && judgeRecord(recorded.at(name)) == LedgerState::Complete) continue;
        const int rc = probe ? probe(k.info.serverAddress + name) : -1;
        looked[{k.id, d}] = rc;
        if (rc == 1) raceDates.insert(d);
      }
    }
  }

  rep.dates.assign(raceDates.begin(), raceDates.end());
  for (const auto& date : rep.dates) {
    for (const auto& k : kinds) {
      LedgerCell cell;
      cell.date = date;
      cell.id = k.id;
      std::vector<std::string> names;
      auto add = [&](const std::string& n) {
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
      };
      if (auto it = k.listed.find(date); it != k.listed.end())
        for (const auto& n : it->second) add(n);
      if (auto it = recordedBy.find({k.kind, date}); it != recordedBy.end())
        for (const auto& n : it->second) add(n);
      if (auto it = storedBy.find({k.kind, date}); it != storedBy.end())
        for (const auto& n : it->second) add(n);
      const bool listedHere = k.listed.count(date) > 0;
      if (names.empty()) add(ArchiveName(k.id, date));
      for (const auto& n : names) {
        LedgerArchive a;
        a.name = n;
        a.address = k.known ? k.info.serverAddress + n : std::string();
        if (auto it = recorded.find(n); it != recorded.end()) {
          a.recorded = true;
          a.record = it->second;
          a.state = judgeRecord(a.record);
        } else if (listedHere && std::find(k.listed.at(date).begin(), k.listed.at(date).end(), n) != k.listed.at(date).end()) {
          a.state = LedgerState::Missing;
        } else if (stored.count(n)) {
          a.state = LedgerState::Missing;  // fetched once, never registered
        } else if (!k.known) {
          a.state = LedgerState::Unknown;
        } else if (!k.info.listFile.empty()) {
          a.state = k.listRead ? LedgerState::Unpublished : LedgerState::Unknown;
        } else {
          auto it = looked.find({k.id, date});
          const int rc = it == looked.end() ? 0 : it->second;
          a.state = rc == 1 ? LedgerState::Missing : rc == -2 ? LedgerState::Unpublished : LedgerState::Unknown;
        }
        cell.archives.push_back(std::move(a));
      }
      cell.state = cell.shown().state;
      rep.cells.push_back(std::move(cell));
    }
  }
  return rep;
}

std::string LedgerSummaryJson(const LedgerReport& r) {
  std::string s = "{\"summary\":{";
  bool first = true;
  for (LedgerState st : kStates) {
    s += (first ? "\"" : ",\"") + std::string(LedgerStateName(st)) + "\":" + std::to_string(r.count(st));
    first = false;
  }
  return s + "}}";
}

std::string LedgerJson(const LedgerReport& r) {
  std::string out;
  for (const auto& c : r.cells) {
    const LedgerArchive& a = c.shown();
    const bool rec = c.recorded();
    std::string error = "null";
    if (a.recorded && !a.record.error.empty()) error = text::quoteJson(a.record.error);
    else if (a.recorded && a.state == LedgerState::Failed) error = text::quoteJson("登録が途中で終わりました");
    std::string at = "null";
    for (const auto& x : c.archives)
      if (x.recorded && (at == "null" || text::quoteJson(x.record.at) > at)) at = text::quoteJson(x.record.at);
    out += "{\"date\":" + text::quoteJson(c.date) + ",\"id\":" + text::quoteJson(c.id) + ",\"archive\":" +
           text::quoteJson(a.name) + ",\"state\":\"" + LedgerStateName(c.state) + "\",\"records\":" +
           (rec ? std::to_string(c.records()) : "null") + ",\"rows\":" + (rec ? std::to_string(c.rows()) : "null") +
           ",\"registered_at\":" + at + ",\"error\":" + error + "}\n";
  }
  return out + LedgerSummaryJson(r) + "\n";
}

std::string LedgerText(const LedgerReport& r) {
  std::vector<size_t> width;
  std::string out = "date    ";
  for (const auto& id : r.ids) {
    width.push_back(std::max<size_t>(id.size(), 1));
    out += " " + id;
  }
  out += "\n";
  size_t i = 0;
  for (const auto& date : r.dates) {
    out += date;
    for (size_t k = 0; k < r.ids.size(); ++k, ++i) {
      const LedgerCell& c = r.cells[i];
      out += " " + std::string(LedgerStateMark(c.state)) + std::string(width[k] - 1, ' ');
    }
    out += "\n";
  }
  out += "o complete  p partial  x failed  - missing  . unpublished  ? unknown\n";
  for (LedgerState st : kStates) out += std::string(LedgerStateName(st)) + " " + std::to_string(r.count(st)) + "  ";
  out.resize(out.size() - 2);
  return out + "\n";
}

int LedgerExitCode(const LedgerReport& r) {
  for (const auto& c : r.cells)
    if (LedgerWantsFetch(c.state)) return 1;
  return r.problems.empty() ? 0 : 1;
}

}  // namespace velmo
