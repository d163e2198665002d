#include "common/clock.h"
#include "registration/ledger.h"

#include <algorithm>
#include <ctime>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/json.h"
#include "common/text.h"
#include "startup/platform/applog.h"
#include "startup/platform/changecounter.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/db.h"

namespace velmo {

namespace reg {

namespace {
thread_local FileTally* active = nullptr;
}

FileTally* ActiveTally() { return active; }

void FileTally::pass(int64_t heldRecords, int64_t readRecords, int64_t fragmentRecords) {
  if (passes_++ > 0) return;
  counted = true;
  held = heldRecords;
  read = readRecords;
  fragment = fragmentRecords;
}

void FileTally::skips(int64_t ruleSkips, int64_t noRowSkips, int64_t olderSkips) {
  if (skipPasses_++ > 0) return;
  rule = ruleSkips;
  noRow = noRowSkips;
  older = olderSkips;
}

}  // namespace reg

namespace {

const char* const kLocation = "ArchiveRecord";

// Lines of a file: the records of a kind whose reader does not count them.
int64_t linesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  int64_t n = 0;
  char buf[65536];
  char last = '\n';
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    const auto got = static_cast<size_t>(in.gcount());
    for (size_t i = 0; i < got; ++i) n += buf[i] == '\n';
    last = buf[got - 1];
  }
  return n + (last != '\n' ? 1 : 0);
}

// Kind and race date of an archive name: the six characters before ".lzh" are yymmdd.
void splitName(const std::string& name, std::string& kind, std::string& date) {
  kind = name;
  date.clear();
  if (name.size() < 10 || text::toLowerAscii(name.substr(name.size() - 4)) != ".lzh") return;
  const std::string yymmdd = name.substr(name.size() - 10, 6);
  if (yymmdd.find_first_not_of("0123456789") != std::string::npos) return;
  kind = name.substr(0, name.size() - 10);
  date = ToYear4Date(yymmdd);
}

std::string skipJson(const reg::FileTally& t, bool modeSkipped) {
  std::string s;
  auto add = [&](const char* why, int64_t n) {
    if (n > 0) s += (s.empty() ? "" : ",") + std::string("\"") + why + "\":" + std::to_string(n);
  };
  add("fragment", t.fragment);
  add("rule", t.rule);
  add("no_row", t.noRow);
  add("older", t.older);
  add("mode", modeSkipped ? t.held : 0);
  return "{" + s + "}";
}

}  // namespace

std::string LedgerTimestamp() { return LocalTimeText("%Y-%m-%dT%H:%M:%S"); }

ArchiveRecord::ArchiveRecord(const std::string& archivePath, const std::string& mode) {
  row_.archive = FileNamePart(archivePath);
  splitName(row_.archive, row_.dataId, row_.raceDate);
  row_.mode = mode;
  row_.outcome = "running";
}

ArchiveRecord::~ArchiveRecord() {
  if (reg::ActiveTally() == &tally_) reg::active = nullptr;
}

void ArchiveRecord::beginFile(const std::string& path) {
  file_ = FileNamePart(path);
  tally_ = reg::FileTally();
  reg::active = &tally_;
  path_ = path;
  changesAtFile_ = db::ChangeCounter::total();
}

void ArchiveRecord::fileDone(db::Database& d, bool hasReader, bool modeSkipped, bool finishes) {
  reg::active = nullptr;
  reg::FileTally& t = tally_;
  if (!t.counted) {
    // Not read by a record loop: a reader of its own reads every line, no
    // reader reads none.
    t.held = FileExists(path_) ? linesOf(path_) : 0;
    t.read = hasReader && !modeSkipped ? t.held : 0;
  }
  const int64_t skipped = t.fragment + t.rule + t.noRow + t.older + (modeSkipped ? t.held : 0);
  const int64_t registered = modeSkipped ? 0 : std::max<int64_t>(0, t.read - t.rule - t.noRow - t.older);
  const int64_t rows = db::ChangeCounter::total() - changesAtFile_;
  if (!filesJson_.empty()) filesJson_ += ",";
  filesJson_ += "{\"file\":" + text::quoteJson(file_) + ",\"held\":" + std::to_string(t.held) + ",\"read\":" +
                std::to_string(t.read) + ",\"registered\":" + std::to_string(registered) + ",\"skipped\":" +
                skipJson(t, modeSkipped) + ",\"rows\":" + std::to_string(rows) + "}";
  row_.held += t.held;
  row_.read += t.read;
  row_.registered += registered;
  row_.skipped += skipped;
  row_.rows += rows;
  row_.outcome = finishes ? "registered" : "running";
  write(d);
}

void ArchiveRecord::archiveDone(db::Database& d) {
  if (row_.outcome == "registered") return;
  db::Transaction t;
  row_.outcome = "registered";
  row_.error.clear();
  write(d);
  t.commit();
}

void ArchiveRecord::archiveFailed(const std::string& dbDir, const std::string& error) {
  reg::active = nullptr;
  row_.outcome = "failed";
  row_.error = error;
  try {
    db::DatabasePtr d = OpenModeDatabase(dbDir, row_.mode);
    db::Transaction t;
    write(*d);
    t.commit();
    d->close();
  } catch (const std::exception& e) {
    WriteLog(ErrObject::from(e), kLocation, false, true);
  }
}

void ArchiveRecord::write(db::Database& d) {
  db::LedgerTable::ensure(d);
  row_.files = "[" + filesJson_ + "]";
  row_.at = LedgerTimestamp();
  db::LedgerTable::put(d, row_);
}

bool MoveLedgerToPast(const std::string& dbDir) {
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  db::DatabasePtr t, p;
  try {
    if (!DAO_Open(t, dbDir + "kova_this.mdb") || !DAO_Open(p, dbDir + "kova_data.mdb"))
      throw VelmoError(err::CannotLock, "データベースが使用中のため開けません。[" + dbDir + "]");
    db::Transaction trans;
    db::LedgerTable::moveAll(*t, *p);
    trans.commit();
    t->close();
    p->close();
    return true;
  } catch (const std::exception& e) {
    ws.rollbackTo(depth);
    WriteLog(ErrObject::from(e), "MoveLedgerToPast", false, false);
    if (t) t->close();
    if (p) p->close();
    return false;
  }
}

bool ForgetLedgerDates(const std::string& dbPath, const std::string& from, const std::string& to) {
  db::DatabasePtr d;
  try {
    if (!DAO_Open(d, dbPath)) throw VelmoError(err::CannotLock, "データベースが使用中のため開けません。[" + dbPath + "]");
    db::LedgerTable::removeDates(*d, std::min(from, to), std::max(from, to));
    d->close();
    return true;
  } catch (const std::exception& e) {
    WriteLog(ErrObject::from(e), "ForgetLedgerDates", false, false);
    if (d) d->close();
    return false;
  }
}

void RecordArchiveFailure(const std::string& mode, const std::string& archiveName, const std::string& error) {
  ArchiveRecord r(archiveName, mode);
  // The data of an archive registered before is still there: its record stays.
  try {
    db::DatabasePtr d = OpenModeDatabase(G().gDBDir, mode);
    std::string kind, date;
    splitName(FileNamePart(archiveName), kind, date);
    bool registered = false;
    for (const auto& row : db::LedgerTable::read(*d, date, date))
      registered = registered || (row.archive == FileNamePart(archiveName) && row.outcome == "registered");
    d->close();
    if (registered) return;
  } catch (const std::exception& e) {
    WriteLog(ErrObject::from(e), kLocation, false, true);
    return;
  }
  r.archiveFailed(G().gDBDir, error);
}

}  // namespace velmo
