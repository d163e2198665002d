// The master update and the registration of the download folder.
#include <tuple>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/backup.h"
#include "maintenance/maintenance.h"
#include "maintenance/waitcursor.h"
#include "maintenance/writerturn.h"
#include "registration/driver.h"
#include "registration/regkova.h"
#include "startup/platform/applog.h"
#include "startup/settings.h"

namespace velmo {

namespace {
FetchFunctions& fetchers() {
  static FetchFunctions f;
  return f;
}
// A count as the status bar writes it: a leading blank for the sign.
std::string signedCount(size_t n) { return " " + std::to_string(n); }

// Moves an archive that failed into the download folder's "failed/" folder.
void keepAside(const std::string& dwn, const std::string& name, const std::string& loc) {
  const std::string dir = dwn + "failed/";
  try {
    MakeDirAll(dir);
    MoveFileOver(dwn + name, dir + name);
    WriteLog(ErrObject(0, "登録できなかったためデータ保存フォルダに移しません。[" + dir + name + "]"), loc, false, true);
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), loc, false, true);
  }
}

// One fetch of the master update: true when it succeeded (gFetchResult 1).
template <typename Fetch>
bool fetched(Fetch&& fetch) {
  G().gFetchResult = 0;
  fetch();
  return G().gFetchResult == 1;
}
}  // namespace

void SetFetchFunctions(const FetchFunctions& f) { fetchers() = f; }
const FetchFunctions& GetFetchFunctions() { return fetchers(); }

int FetchNewFile(const std::string& dataId) {
  if (auto fn = fetchers().newFile) return fn(dataId);
  WriteLog(ErrObject(err::EngineGeneric, "ダウンロードできません（取得の機能がありません）[" + dataId + "]"), "frmMnt/getNewFile",
           false, true);
  G().gFetchResult = -1;
  return -1;
}

int FetchFile(const std::string& baseAddress, const std::string& fileName) {
  if (auto fn = fetchers().fileDownload) return fn(baseAddress, fileName);
  WriteLog(ErrObject(err::EngineGeneric, "ダウンロードできません（取得の機能がありません）[" + fileName + "]"),
           "frmMnt/subFileDownload", false, true);
  G().gFetchResult = -1;
  return -1;
}

namespace {
// regDataDir, and the number of archives that failed.
int registerDownloads(CommandUi& ui, const std::string& mode, int* failed) {
  const std::string loc = "frmMnt/regDataDir";
  const std::string dwn = G().gDwnDir;
  if (CountFiles(dwn + "*.lzh") >= 2000) {
    MsgBox(std::string("登録しようとするファイル数が多すぎます。(MAX2000ファイル)") + "\r\n" +
               "⇒ダウンロードは、完了しており[インストール]フォルダの中の'dwn'フォルダに入っています。 " + "\r\n" +
               "ここから数回に分けて、[ファイル]登録を行って下さい。",
           vbOKOnly, "");
    ui.setStatus("登録処理を中断しました");
    return 0;
  }
  std::vector<std::string> names = ListFiles(dwn + "*.lzh");
  OrderArchives(names);
  const size_t n = names.size();
  size_t handled = 0;
  std::string lastHandled;
  int failures = 0;
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    for (size_t j = 0; j < n; ++j) {
      const std::string& name = names[j];
      LogMilestone("データ登録開始[" + name + "]", loc);
      ui.setStatus(name + "を登録中です(" + signedCount(j + 1) + "/" + signedCount(n) + ")");
      if (regMain(dwn + name, mode, "J") == -1) {
        // An archive that did not register is never filed as if it were done;
        // it is kept aside for a later registration from files.
        ++failures;
        keepAside(dwn, name, loc);
        if (MsgBox("処理を続行しますか？", vbOKCancel, kAppTitle) != vbOK) {
          G().gFetchResult = -1;
          break;
        }
        continue;
      }
      LogMilestone("データ登録完了[" + name + "]", loc);
      if (G().gLzhDir.empty()) throw VelmoError(err::PathNotFound, "データ保存フォルダが設定されていません。");
      MoveFileOver(dwn + name, AddPathSep(G().gLzhDir) + name);
      ++handled;
      lastHandled = name;
    }
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), loc, false, false);
    G().gFetchResult = -1;
    ++failures;
  }
  if (failed) *failed = failures;
  if (G().gFetchResult == -1)
    ui.setStatus("登録処理を中断しました");
  else if (handled > 0)
    ui.setStatus(lastHandled + "の登録処理を完了しました(" + std::to_string(n) + "件)");
  else
    ui.setStatus("１件もデータがありません");
  return static_cast<int>(handled);
}
}  // namespace

// An archive that failed stays in the download folder's "failed/" folder and is
// never filed.
int regDataDir(CommandUi& ui, const std::string& mode) { return registerDownloads(ui, mode, nullptr); }

Outcome MasterUpdate(CommandUi& ui) {
  auto& g = G();
  if (MsgBox("インターネットからデータを受信しマスタを更新します", vbOKCancel, "マスタ更新") != vbOK) return Outcome::Cancelled;
  // Only the last fetch decides whether anything is registered; any failed
  // fetch makes the command a failure.
  bool allFetched = true, last = false;
  for (const char* id : {"KZ_", "CZ_", "MZ_"}) allFetched &= last = fetched([id] { FetchNewFile(id); });
  if (g.gVAN == 1)
    for (const char* f : {"datachgKZ.txt", "datachgCZ.txt"})
      allFetched &= last = fetched([f] { FetchFile(PublicListUrl(), f); });
  if (!last) {
    g.gFetchResult = 0;
    return Outcome::Failed;
  }
  g.gFetchResult = 1;
  if (!BackupBefore("master", {g.gDBDir + "kova_this.mdb"}, ui)) return Outcome::Failed;
  Outcome result = Outcome::Done;
  {
    WaitCursor wait(ui);
    StatusSink* before = g.gStatusForm;
    if (auto* sink = dynamic_cast<StatusSink*>(&ui)) g.gStatusForm = sink;
    int failedArchives = 0;
    registerDownloads(ui, "T", &failedArchives);
    bool failed = !allFetched || failedArchives > 0 || g.gFetchResult == -1;
    if (g.gVAN == 1) {
      try {
        db::WriterLock turn(g.gDBDir, WriterTurnOptions(ui));
        // No mode: the session opens the file it is given and the conversion
        // tables are named as they stand.
        RegKOVA reg;
        reg.conDB(g.gDBDir + "kova_this.mdb");
        // Each list replaces its table in one transaction: a failure keeps the old rows.
        for (const auto& [file, table, item] : {std::tuple<const char*, const char*, const char*>{"datachgKZ.txt", "S騎手コード変換", "騎手"},
                                                {"datachgCZ.txt", "S調教師コード変換", "調教師"}}) {
          db::Transaction t;
          reg.regChgCD(g.gDwnDir + file, table, item);
          t.commit();
        }
        reg.clsDB();
      } catch (const std::exception& ex) {
        WriteLog(ErrObject::from(ex), "cmdMasterUpdate_Click", false, false);
        failed = true;
      }
    }
    g.gStatusForm = before;
    ui.refillMasterGrid();
    if (failed) {
      MsgBox("データ登録異常終了しました。", vbOKOnly, kAppTitle);
      result = Outcome::Failed;
    } else {
      MsgBox("データ登録完了しました。", vbOKOnly, kAppTitle);
    }
    g.gFetchResult = 0;
  }
  return result;
}

}  // namespace velmo
