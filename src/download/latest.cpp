#include "download/latest.h"

#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "download/httpfetch.h"
#include "startup/platform/applog.h"

namespace velmo {

namespace {
void showStatus(const std::string& t) {
  if (auto* s = G().gStatusForm) {
    s->setStatusText(t);
    s->refresh();
  }
}
// A number as the status bar writes counts: a leading blank for the sign.
std::string signedNumber(double v) { return (v < 0 ? "" : " ") + text::formatNumber(v); }
}  // namespace

int getNewFile(const std::string& dataId) {
  const std::string loc = "frmMnt/getNewFile";
  auto& g = G();
  std::string line;
  try {
    LogMilestone("最新ファイルダウンロード処理開始[" + dataId + "]", loc);
    ListInfo info = getListInfo(dataId);
    if (info.listFile.empty()) return 0;
    showStatus(info.listFile + "をダウンロード中です");
    g.gDataURL = info.listAddress + info.listFile;
    g.gDataPath = g.gDwnDir + info.listFile;
    LogMilestone("IDXダウン開始[" + info.listFile + "]", loc);
    RunFetch();
    if (g.gFetchResult == -1) {
      LogMilestone("ダウンロードエラー[]", loc);
      return -1;
    }
    LogMilestone("IDXダウン完了[" + info.listFile + "]", loc);
    const std::string listPath = g.gDwnDir + info.listFile;
    std::vector<std::string> lines = ReadListFile(listPath);
    if (lines.empty()) throw VelmoError(62, "ファイルにこれ以上データがありません。[" + info.listFile + "]");
    line = lines.back();
    // A list line becomes a local file name: it must name a file, not a path.
    if (!IsPlainFileName(line))
      throw VelmoError(err::InvalidArgument, "リストファイルのファイル名が正しくありません。[" + line + "]");
    std::error_code ec;
    double size = static_cast<double>(std::filesystem::file_size(listPath, ec));
    showStatus(line + "をダウンロード中です(" + signedNumber(1) + "/" +
               signedNumber(size / static_cast<double>(line.size())) + ")");
    DoEvents();
    g.gDataURL = info.serverAddress + line;
    g.gDataPath = g.gDwnDir + line;
    LogMilestone("ファイルダウン開始[" + line + "]", loc);
    RunFetch();
    LogMilestone("最新ファイルダウンロード処理完了[" + line + "]", loc);
    return 0;
  } catch (const std::exception& ex) {
    // The error itself, then the entry naming the line.
    const ErrObject e = ErrObject::from(ex);
    WriteLog(e, loc, false, true);
    LogMilestone("ダウンロードエラー[" + line + "]", loc, e.number);
    return -1;
  }
}

int subFileDownload(const std::string& baseAddress, const std::string& fileName) {
  const std::string loc = "frmMnt/subFileDownload";
  auto& g = G();
  showStatus(fileName + "をダウンロード中です");
  DoEvents();
  g.gDataURL = baseAddress + fileName;
  g.gDataPath = g.gDwnDir + fileName;
  LogMilestone("ファイルダウン開始[" + fileName + "]", loc);
  RunFetch();
  if (g.gFetchResult < 0) {
    WriteLog(ErrObject(0, "ダウンロードエラー[" + fileName + "]"), loc, false, false);
    return -1;
  }
  LogMilestone("ダウンロード処理完了[" + fileName + "]", loc);
  return 0;
}

}  // namespace velmo
