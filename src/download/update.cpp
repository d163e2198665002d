#include "download/update.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "download/catalogue.h"
#include "download/ledgerview.h"
#include "download/probe.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/ledger.h"
#include "startup/platform/applog.h"
#include "startup/platform/changecounter.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/writerlock.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {

const char* const kLocation = "update";

bool toTm(const std::string& d, std::tm& tm) {
  if (d.size() != 8 || d.find_first_not_of("0123456789") != std::string::npos) return false;
  tm = {};
  tm.tm_year = std::stoi(d.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(d.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(d.substr(6, 2));
  tm.tm_hour = 12;  // away from daylight-saving edges
  tm.tm_isdst = -1;
  return true;
}

std::string fromTm(const std::tm& tm) {
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
  return buf;
}

}  // namespace

std::string NextDate8(const std::string& d) {
  std::tm tm{};
  toTm(d, tm);
  tm.tm_mday += 1;
  std::mktime(&tm);
  return fromTm(tm);
}

std::string DaysBefore8(const std::string& d, int days) {
  std::tm tm{};
  toTm(d, tm);
  tm.tm_mday -= days;
  std::mktime(&tm);
  return fromTm(tm);
}

namespace {

// The state of one run: the work folder of its downloads and the counts.
class UpdateRun {
 public:
  UpdateRun(const UpdateRequest& r, CommandUi& ui, const FetchFunction& fetch) : r_(r), ui_(ui), fetch_(fetch) {
    dir_ = G().gDwnDir + "update-" + std::to_string(getpid()) + "/";
  }

  UpdateSummary run() {
    const auto start = std::chrono::steady_clock::now();
    LogMilestone("自動更新開始[" + r_.mode + " " + r_.from + "-" + r_.to + "]", kLocation);
    std::error_code ec;
    removeDeadRunFolders();
    fs::remove_all(dir_, ec);
    if (!MakeDirAll(dir_)) {
      fail("ダウンロードフォルダ「" + dir_ + "」を作成できません。");
    } else {
      if (r_.missing) {
        fetchMissing();
      } else {
        for (const auto& id : r_.kinds) {
          if (stop_ || ui_.cancelRequested()) break;
          fetchKind(id);
        }
      }
      if (!r_.missing && !stop_ && !ui_.cancelRequested()) {
        if (r_.downloadOnly) fileAll();
        else registerAll();
      }
    }
    fs::remove_all(dir_, ec);
    s_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    LogMilestone("自動更新完了[" + UpdateJson(s_) + "]", kLocation);
    return s_;
  }

 private:
  void line(const std::string& text) { ui_.setStatus(text); }

  // The download folders of runs that were killed ("update-" + the process ID
  // of a process that no longer exists).
  void removeDeadRunFolders() {
    std::error_code ec;
    for (const auto& d : fs::directory_iterator(G().gDwnDir, ec)) {
      const std::string n = d.path().filename().string();
      std::error_code one;
      if (n.rfind("update-", 0) != 0 || n.size() == 7 || n.find_first_not_of("0123456789", 7) != std::string::npos ||
          !d.is_directory(one))
        continue;
      const long pid = std::atol(n.c_str() + 7);
      if (pid > 0 && pid != static_cast<long>(getpid()) && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        fs::remove_all(d.path(), one);
    }
  }

  void fail(const std::string& text, long number = 1) {
    ++s_.failed;
    WriteLog(ErrObject(number, text), kLocation, false, true);
    line(text);
  }

  // Fetches one address into the run's folder; the result of the fetch.
  int fetchTo(const std::string& address, const std::string& name) {
    G().gDataURL = address;
    G().gDataPath = dir_ + name;
    G().gFetchResult = 0;
    int rc = fetch_();
    if (rc == 0) stop_ = true;  // cancelled
    return rc;
  }

  void fetchArchive(const std::string& address, const std::string& name) {
    if (fetched_.count(name)) return;  // named by two lists
    int rc = fetchTo(address, name);
    if (rc == 1) {
      ++s_.fetched;
      fetched_.insert(name);
    } else if (rc == -2) {
      ++s_.notFound;
      line(name + ": 指定されたデータはありません");
    } else if (rc == -1) {
      fail(name + ": ダウンロードできませんでした");
      if (!r_.downloadOnly) RecordArchiveFailure(r_.mode, name, "ダウンロードできませんでした");
    }
  }

  // The cells of the ledger that are missing, failed or partial, pack archives
  // first, each registered right after its fetch.
  void fetchMissing() {
    LedgerRequest q;
    q.mode = r_.mode;
    q.kinds = r_.kinds;
    q.from = r_.from;
    q.to = r_.to;
    LedgerReport ledger = BuildLedger(q, fetch_, r_.probe ? r_.probe : LedgerProbe(ProbeAddress));
    for (const auto& p : ledger.problems) fail(p);
    std::vector<std::string> names;
    std::map<std::string, std::string> address;
    for (const auto& c : ledger.cells)
      for (const auto& a : c.archives)
        if (LedgerWantsFetch(a.state) && !a.address.empty() && address.emplace(a.name, a.address).second) names.push_back(a.name);
    OrderArchives(names);
    line("台帳で未登録・失敗・不完全のデータ: " + std::to_string(names.size()) + "件");
    if (names.empty()) return;
    std::unique_ptr<db::WriterLock> lock;
    for (size_t i = 0; i < names.size(); ++i) {
      if (stop_ || ui_.cancelRequested()) return;
      const int before = s_.fetched;
      fetchArchive(address[names[i]], names[i]);
      if (s_.fetched == before || r_.downloadOnly) continue;
      if (!lock && !(lock = takeLock({dir_ + names[i]}))) return;
      registerOne(dir_ + names[i], "[" + std::to_string(i + 1) + "/" + std::to_string(names.size()) + "] " + names[i]);
    }
    if (r_.downloadOnly) fileAll();
  }

  void fetchKind(const std::string& id) {
    ListInfo info;
    try {
      info = getListInfo(id);
    } catch (const std::exception& e) {
      fail("データID[" + id + "]: " + ErrObject::from(e).description, ErrObject::from(e).number);
      return;
    }
    if (info.listFile.empty()) {
      // A kind without a list file: the single archive of each date.
      for (std::string d = r_.from; d <= r_.to && !stop_; d = NextDate8(d))
        fetchArchive(info.serverAddress + ArchiveName(id, d), ArchiveName(id, d));
      return;
    }
    if (!IsPlainFileName(info.listFile)) {
      fail("データID[" + id + "]: リストファイル名が不正です[" + info.listFile + "]");
      return;
    }
    const std::string listPath = dir_ + info.listFile;
    int rc = fetchTo(info.listAddress + info.listFile, info.listFile);
    if (rc == -2) {
      ++s_.notFound;
      line(info.listFile + ": 指定されたデータはありません");
      return;
    }
    if (rc != 1) {
      if (rc == -1) fail(info.listFile + ": リストファイルをダウンロードできませんでした");
      return;
    }
    std::vector<std::string> lines;
    try {
      lines = ReadListFile(listPath);
    } catch (const std::exception& e) {
      fail(info.listFile + ": " + ErrObject::from(e).description);
      return;
    }
    KeepListFile(listPath);  // for the data ledger
    for (const auto& name : lines) {
      if (stop_ || ui_.cancelRequested()) return;
      const std::string date = ListLineDate(name);
      if (date.empty() || date < r_.from || date > r_.to) continue;
      if (!IsPlainFileName(name)) {
        fail(info.listFile + ": 不正なファイル名を飛ばしました[" + name + "]");
        continue;
      }
      // Only an archive is registered or filed: another name would be fetched
      // and dropped unseen.
      if (!IsArchiveName(name)) {
        fail(info.listFile + ": 書庫(.lzh)でないファイル名を飛ばしました[" + name + "]");
        continue;
      }
      fetchArchive(info.serverAddress + name, name);
    }
  }

  std::vector<std::string> archives() {
    std::vector<std::string> paths;
    for (const auto& n : ListFiles(dir_ + "*.lzh")) paths.push_back(dir_ + n);
    OrderArchives(paths);
    return paths;
  }

  void fileAll() {
    for (const auto& path : archives()) {
      try {
        MoveFileOver(path, G().gLzhDir + FileNamePart(path));
        line(FileNamePart(path) + ": 保存しました");
      } catch (const std::exception& e) {
        fail(FileNamePart(path) + ": 保存できませんでした(" + ErrObject::from(e).description + ")");
      }
    }
  }

  // An archive that did not register is kept aside for a later file registration.
  void keepAside(const std::string& path) {
    const std::string dir = G().gDwnDir + "failed/";
    try {
      MakeDirAll(dir);
      MoveFileOver(path, dir + FileNamePart(path));
      line(FileNamePart(path) + ": " + dir + " に残しました");
    } catch (const std::exception&) {
    }
  }

  // Other writers to the database folder wait while this run registers; a
  // lock not taken fails the archives waiting for it (kept aside).
  std::unique_ptr<db::WriterLock> takeLock(const std::vector<std::string>& waiting) {
    try {
      db::WriterLock::Options o;
      o.waitSeconds = db::WriterLock::defaultWaitSeconds();
      o.onWait = [this](const std::string& message) { line(message); };
      o.cancelled = [this] { return ui_.cancelRequested(); };
      return std::make_unique<db::WriterLock>(G().gDBDir, o);
    } catch (const std::exception& e) {
      for (const auto& path : waiting) {
        fail(FileNamePart(path) + ": " + ErrObject::from(e).description);
        keepAside(path);
      }
      return nullptr;
    }
  }

  void registerAll() {
    const auto paths = archives();
    const size_t n = paths.size();
    if (n == 0) return;
    std::unique_ptr<db::WriterLock> lock = takeLock(paths);
    if (!lock) return;
    for (size_t i = 0; i < n; ++i) {
      if (ui_.cancelRequested()) return;
      registerOne(paths[i], "[" + std::to_string(i + 1) + "/" + std::to_string(n) + "] " + FileNamePart(paths[i]));
    }
  }

  void registerOne(const std::string& path, const std::string& head) {
    const std::string name = FileNamePart(path);
    LogMilestone("データ登録開始[" + name + "]", kLocation);
    std::string why;
    if (!CheckArchive(path, why)) {
      fail(head + ": 解凍できません(" + why + ")");
      RecordArchiveFailure(r_.mode, name, "解凍できません(" + why + ")");
      keepAside(path);
      return;
    }
    const int64_t before = db::ChangeCounter::total();
    long r;
    {
      // The archive commits whole: a run killed while it registers leaves none of it.
      ArchiveBatch whole(G().gDBDir, 0);
      whole.begin();
      r = regMain(path, r_.mode, "J");
      if (!whole.commit()) r = -1;
    }
    const int64_t written = db::ChangeCounter::total() - before;
    s_.rows += written > 0 ? written : 0;
    if (r != 0) {
      fail(head + ": 登録に失敗しました(" + LogFilePath() + ")");
      keepAside(path);
      return;
    }
    LogMilestone("データ登録完了[" + name + "]", kLocation);
    try {
      MoveFileOver(path, G().gLzhDir + name);
    } catch (const std::exception& e) {
      fail(head + ": 登録しましたが保存できませんでした(" + ErrObject::from(e).description + ")");
      return;
    }
    ++s_.registered;
    line(head + ": 登録しました(" + std::to_string(written) + "行)");
  }

  const UpdateRequest& r_;
  CommandUi& ui_;
  const FetchFunction& fetch_;
  std::string dir_;
  UpdateSummary s_;
  std::set<std::string> fetched_;
  bool stop_ = false;
};

}  // namespace

bool IsDate8(const std::string& date) {
  std::tm tm{};
  if (!toTm(date, tm)) return false;
  std::tm n = tm;
  std::mktime(&n);
  return fromTm(n) == date;
}

std::string TodayDate8() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return fromTm(tm);
}

std::vector<std::string> UpdateKinds(const std::string& mode) {
  const std::string pattern = mode == "D" ? "?D?" : "T??";
  db::DatabasePtr d;
  const std::string path = G().gDBDir + "kova_this.mdb";
  if (!DAO_Open(d, path)) throw VelmoError(err::CannotLock, "データベースが使用中のため開けません。[" + path + "]");
  std::unique_ptr<db::QueryResult> q;
  try {
    q = d->openQuery("SELECT * FROM Sデータ管理 WHERE TDM like '" + pattern + "' AND セット = '通常' ORDER BY 表示順;");
  } catch (...) {
    d->close();
    throw;
  }
  d->close();
  std::vector<std::string> ids;
  for (const auto& row : q->rows) ids.push_back(db::toText(row[static_cast<size_t>(q->columnIndex("データID"))]));
  return ids;
}

UpdateSummary RunUpdate(const UpdateRequest& request, CommandUi& ui, const FetchFunction& fetch) {
  UpdateRun run(request, ui, fetch);
  return run.run();
}

int UpdateExitCode(const UpdateSummary& s) {
  if (s.failed > 0) return 1;
  if (s.fetched == 0) return 3;
  return 0;
}

std::string UpdateJson(const UpdateSummary& s) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "{\"fetched\":%d,\"registered\":%d,\"failed\":%d,\"not_found\":%d,\"rows_written\":%lld,\"seconds\":%.3f}",
                s.fetched, s.registered, s.failed, s.notFound, s.rows, s.seconds);
  return buf;
}

}  // namespace velmo
