// Compaction of a database file through a work copy.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
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
#include "startup/platform/onlinebackup.h"

namespace fs = std::filesystem;

namespace velmo {

std::string CompactWorkCopy() { return G().gDBDir + "_wk.mdb"; }

namespace {

// The compacted file takes the place of the original with its mode, owner and
// group. An owner that cannot be kept (not the superuser) is logged.
void keepOwnership(const std::string& original, const std::string& work) {
  struct stat st {};
  if (::stat(original.c_str(), &st) != 0) return;
  ::chmod(work.c_str(), st.st_mode & 07777);
  struct stat now {};
  if (::stat(work.c_str(), &now) == 0 && (now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
      ::chown(work.c_str(), st.st_uid, st.st_gid) != 0) {
    LogMilestone("最適化したファイルの所有者を元のとおりにできませんでした[" + original + "] " + std::strerror(errno),
                 "cmdDBcompact_Click");
    // Without its owner the file keeps at least the group where that is allowed.
    if (::chown(work.c_str(), static_cast<uid_t>(-1), st.st_gid) == 0) ::chmod(work.c_str(), st.st_mode & 07777);
  }
  // chown clears set-id bits; the mode is set again.
  ::chmod(work.c_str(), st.st_mode & 07777);
}

}  // namespace

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
  WaitCursor wait(ui);
  auto& ws = db::Workspace::get();
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    if (!FileExists(path)) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
    fs::remove(work, ec);
    if (ec) throw VelmoError(err::CannotOpen, "作業ファイルを削除できません。[" + work + "] " + ec.message());
    ws.closeFile(path);
    db::OnlineBackup::recoverHotJournal(path, 20.0 * WaitScale());
    ws.compactDatabase(path, work);
    db::OnlineBackup::syncFile(work);
    keepOwnership(path, work);
    // The original file itself is the copy (kept under the copy's name), taken
    // once the compacted file is complete.
    if (!KeepOriginalBefore("compact", path, ui)) {
      fs::remove(work, ec);
      return Outcome::Failed;
    }
    // The copy replaces the file only after the compaction succeeded; a handle
    // still attached to the old file would write into the replaced one.
    ws.closeFile(path);
    MoveFileOver(work, path);
    db::OnlineBackup::syncFolder(G().gDBDir);
  } catch (const std::exception& ex) {
    fs::remove(work, ec);
    WriteLog(ErrObject::from(ex), "cmdDBcompact_Click", false, false);
    return Outcome::Failed;
  }
  MsgBox(path + "の最適化を完了しました。", vbOKOnly, "DBの最適化");
  return Outcome::Done;
}

}  // namespace velmo
