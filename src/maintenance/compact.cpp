// Compaction of a database file through a work copy.
#include <cmath>
#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "maintenance/backup.h"
#include "maintenance/maintenance.h"
#include "maintenance/waitcursor.h"
#include "maintenance/writerturn.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"

namespace fs = std::filesystem;

namespace velmo {

std::string CompactWorkCopy() { return G().gDBDir + "_wk.mdb"; }

Outcome DBcompact(CommandUi& ui, const std::string& path) {
  if (MsgBox(path + "の最適化をしますか？", vbOKCancel, "DBの最適化") != vbOK) return Outcome::Cancelled;
  const std::string work = CompactWorkCopy();
  std::error_code ec;
  const double sizeMB = static_cast<double>(fs::file_size(path, ec)) / 1024.0 / 1024.0;
  const long long freeMB = DriveFreeMB(G().gDBDir);
  if (!ec && sizeMB > static_cast<double>(freeMB)) {
    const std::string q = std::string("最適化作業に使用する十分な空き領域がありません") + "\r\n" + "空き容量は[" +
                          std::to_string(freeMB) + "]MByteです。" + "\r\n" + "途中でエラーとなる可能性があります。" + "\r\n" +
                          "（エラーとなった場合、" + work + " を削除してください）" + "\r\n" + "続行しますか？";
    if (MsgBox(q, vbOKCancel, "DBの最適化") != vbOK) return Outcome::Cancelled;
  }
  if (!BackupBefore("compact", {path}, ui)) return Outcome::Failed;
  WaitCursor wait(ui);
  auto& ws = db::Workspace::get();
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    if (!FileExists(path)) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
    fs::remove(work, ec);
    if (ec) throw VelmoError(err::CannotOpen, "作業ファイルを削除できません。[" + work + "] " + ec.message());
    ws.closeFile(path);
    ws.compactDatabase(path, work);
    // The copy replaces the file only after the compaction succeeded; a handle
    // still attached to the old file would write into the replaced one.
    ws.closeFile(path);
    MoveFileOver(work, path);
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "cmdDBcompact_Click", false, false);
    return Outcome::Failed;
  }
  MsgBox(path + "の最適化を完了しました。", vbOKOnly, "DBの最適化");
  return Outcome::Done;
}

}  // namespace velmo
