#include "mirror/autosync.h"

#include <cstdio>

#include "common/error.h"
#include "common/text.h"
#include "mirror/mirrorstatus.h"
#include "mirror/pgconnection.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"
#include "startup/platform/mirrorlog.h"
#include "startup/platform/writerlock.h"
#include "startup/settings.h"

namespace velmo::mirror {

namespace {

bool& syncing() {
  static bool s = false;
  return s;
}
uint64_t& notesAtLastSync() {
  static uint64_t n = 0;
  return n;
}
std::function<void(const std::string&)>& warner() {
  static std::function<void(const std::string&)> w;
  return w;
}

void autoSync() {
  if (syncing() || MirrorSetting().empty() || db::Workspace::get().transDepth() > 0) return;
  SyncOptions o;
  o.seconds = AutoSyncSeconds();
  std::string error = SyncAndRecord(o);
  if (error.empty()) return;
  std::string m = "サーバーの複製(Mirror)を更新できませんでした。次の同期で反映します。(" + error + ")";
  if (warner()) warner()(m);
}

}  // namespace

double AutoSyncSeconds() {
  std::string v = text::trimBlanks(GetIni("main", "MirrorTimeoutSeconds", ""));
  if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos) return 5;
  return std::max(1, std::stoi(v));
}

std::string SyncAndRecord(const SyncOptions& options, SyncReport* report) {
  const std::string conninfo = MirrorSetting();
  if (conninfo.empty()) return "Mirror が設定されていません。";
  syncing() = true;
  const uint64_t notes = db::MirrorLog::notesTaken();
  std::string error;
  try {
    SyncReport r = Sync(conninfo, options);
    if (report) *report = r;
  } catch (const std::exception& ex) {
    error = ErrObject::from(ex).description;
    if (error.empty()) error = ex.what();
  }
  syncing() = false;
  if (error.empty()) {
    notesAtLastSync() = notes;
    MirrorStatusFile::recordSuccess();
  } else {
    MirrorStatusFile::recordFailure(error);
    WriteLog(ErrObject(err::MirrorFailed, "サーバーの複製(Mirror)の同期に失敗しました。[" + PgConnection::describe(conninfo) + "] " + error),
             "MirrorSync", false, false);
  }
  return error;
}

void InstallAutoSync(std::function<void(const std::string& message)> warn) {
  warner() = std::move(warn);
  db::WriterLock::setReleaseHook([](const std::string&) { autoSync(); });
}

void SyncAfterCommand(bool always) {
  if (!always && db::MirrorLog::notesTaken() == notesAtLastSync()) return;
  autoSync();
}

}  // namespace velmo::mirror
