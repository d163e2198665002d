// The master update and the registration of the download folder.
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

int regDataDir(CommandUi& ui, const std::string& mode) {
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
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    for (size_t j = 0; j < n; ++j) {
      const std::string& name = names[j];
      LogMilestone("データ登録開始[" + name + "]", loc);
      ui.setStatus(name + "を登録中です(" + signedCount(j + 1) + "/" + signedCount(n) + ")");
      if (regMain(dwn + name, mode, "J") == -1) {
        if (MsgBox("処理を続行しますか？", vbOKCancel, kAppTitle) != vbOK) {
          G().gFetchResult = -1;
          break;
        }
      }
      LogMilestone("データ登録完了[" + name + "]", loc);
      if (G().gLzhDir.empty()) throw VelmoError(err::PathNotFound, "データ保存フォルダが設定されていません。");
      MoveFileOver(dwn + name, AddPathSep(G().gLzhDir) + name);
      ++handled;
    }
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), loc, false, false);
    G().gFetchResult = -1;
  }
  if (G().gFetchResult == -1)
    ui.setStatus("登録処理を中断しました");
  else if (handled > 0)
    ui.setStatus(names[handled - 1] + "の登録処理を完了しました(" + std::to_string(n) + "件)");
  else
    ui.setStatus("１件もデータがありません");
  return static_cast<int>(handled);
}

Outcome MasterUpdate(CommandUi& ui) {
  auto& g = G();
  if (MsgBox("インターネットからデータを受信しマスタを更新します", vbOKCancel, "マスタ更新") != vbOK) return Outcome::Cancelled;
  g.gFetchResult = 0;
  FetchNewFile("KZ_");
  FetchNewFile("CZ_");
  FetchNewFile("MZ_");
  if (g.gVAN == 1) {
    FetchFile(PublicListUrl(), "datachgKZ.txt");
    FetchFile(PublicListUrl(), "datachgCZ.txt");
  }
  // Only the last fetch decides whether anything is registered.
  if (g.gFetchResult != 1) return Outcome::Failed;
  if (!BackupBefore("master", {g.gDBDir + "kova_this.mdb"}, ui)) return Outcome::Failed;
  Outcome result = Outcome::Done;
  {
    WaitCursor wait(ui);
    StatusSink* before = g.gStatusForm;
    if (auto* sink = dynamic_cast<StatusSink*>(&ui)) g.gStatusForm = sink;
    regDataDir(ui, "T");
    if (g.gVAN == 1) {
      try {
        db::WriterLock turn(g.gDBDir, WriterTurnOptions(ui));
        RegKOVA reg;
        reg.Mode("T");
        reg.conDB(g.gDBDir);
        reg.regChgCD(g.gDwnDir + "datachgKZ.txt", "S騎手コード変換", "騎手");
        reg.regChgCD(g.gDwnDir + "datachgCZ.txt", "S調教師コード変換", "調教師");
        reg.clsDB();
      } catch (const std::exception& ex) {
        WriteLog(ErrObject::from(ex), "cmdMasterUpdate_Click", false, false);
        g.gFetchResult = -1;
      }
    }
    g.gStatusForm = before;
    ui.refillMasterGrid();
    if (g.gFetchResult == -1) {
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
