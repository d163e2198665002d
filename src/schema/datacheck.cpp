// The data check report.
#include "schema/datacheck.h"

#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "maintenance/waitcursor.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "startup/settings.h"

namespace velmo {

namespace {

const char* const kCRLF = "\r\n";
bool g_sectionFailed = false;

std::string showDate(const std::string& d) {
  return text::midChars(d, 1, 4) + "/" + text::midChars(d, 5, 2) + "/" + text::midChars(d, 7, 2);
}

// The values of a check file of the download folder; raises when it cannot be read.
std::vector<std::string> readCheckFile(const std::string& fileName) {
  const std::string path = G().gDwnDir + fileName;
  if (!FileExists(path)) throw VelmoError(err::FileNotFound, "ファイルが見つかりません。[" + path + "]");
  std::string utf8;
  if (!text::decodeCp932(ReadFileBytes(path), utf8))
    throw VelmoError(err::BadShiftJis, "チェックファイルにShift_JISでない文字があります。[" + fileName + "]");
  // Values are read one by one: a record may run over lines.
  std::vector<std::string> values;
  for (const auto& row : text::parseCsv(utf8))
    for (const auto& v : row) values.push_back(v ? text::trimBlanks(*v) : std::string());
  return values;
}

// One kind of one date: a line when the registered value is missing or older.
std::string compareItem(const std::string& actualIn, const std::string& expected, const std::string& date) {
  if (!expected.empty() && actualIn.empty())
    return showDate(date) + " " + text::headChars(expected, 3) + " 未登録" + kCRLF;
  std::string actual = actualIn == "HJB" ? "HJB12" : actualIn;
  if (actual == expected) return {};
  if (actual > expected && !text::endsWith(actual, "速")) return {};
  return showDate(date) + " " + text::headChars(expected, 3) + " 旧形式or不完全(" + actual + ")" + kCRLF;
}

void sectionFailed(const std::exception& ex, const char* place) {
  g_sectionFailed = true;
  MsgBox("データチェックに失敗しました。", vbOKOnly, kAppTitle);
  ErrObject e = ErrObject::from(ex);
  e.description += "データチェック失敗。";
  WriteLog(e, place, false, true);
}

}  // namespace

std::string DataCheckReportPath() { return WritableDir(UserFolder::Data) + kCheckResult; }

std::string makeReportBody_D(const std::string& fileName, std::string& date) {
  static const char* const kinds[] = {"KOVAデータ", "調教分析データ", "直前情報データ", "払戻情報データ",
                                      "成績データ", "成績拡張データ", "番組データ", "情報データ"};
  db::DatabasePtr d;
  std::string out;
  try {
    if (!DAO_Open(d, G().gDBDir + "kova_data.mdb"))
      throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[kova_data.mdb]");
    auto rs = d->openTable("Dデータ一覧テーブル");
    rs->setIndex("PrimaryKey");
    std::vector<std::string> v = readCheckFile(fileName);
    // Records of eleven values; a record cut short by the end of the file ends the reading.
    for (size_t r = 0; r + 11 <= v.size(); r += 11) {
      date = v[r + 1];
      rs->seek({date});
      if (rs->noMatch()) {
        out += showDate(date) + "     データ未登録" + kCRLF;
        continue;
      }
      for (int k = 0; k < 8; ++k) out += compareItem(db::toText(rs->get(kinds[k])), v[r + 2 + k], date);
    }
    d->close();
    return out;
  } catch (const std::exception& ex) {
    if (d) d->close();
    sectionFailed(ex, "makeReportBody_D");
    return {};
  }
}

std::string makeReportBody_UK(const std::string& fileName) {
  db::DatabasePtr d;
  std::string out;
  try {
    if (!DAO_Open(d, G().gDBDir + "kova_this.mdb"))
      throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[kova_this.mdb]");
    auto q = d->openQuery(
        "SELECT データ年月日, Min(T馬基本データ.データID) AS データID From T馬基本データ GROUP BY データ年月日;");
    std::vector<std::string> v = readCheckFile(fileName);
    for (size_t r = 0; r + 4 <= v.size(); r += 4) {
      const std::string& date = v[r + 1];
      const std::string& expected = v[r + 2];
      bool found = false;
      for (q->moveFirst(); !q->eof(); q->moveNext()) {
        if (db::toText(q->get("データ年月日")) != date) continue;
        found = true;
        std::string actual = db::toText(q->get("データID"));
        if (actual.empty()) actual = "UKB";
        out += compareItem(actual, expected, date);
        break;
      }
      if (!found) out += showDate(date) + " " + expected + " 未登録" + kCRLF;
    }
    d->close();
    return out;
  } catch (const std::exception& ex) {
    if (d) d->close();
    sectionFailed(ex, "makeReportBody_UK");
    return {};
  }
}

bool DataCheck(CommandUi& ui, const std::string& pastFile, const std::string& horseFile, const std::string& resultFile) {
  g_sectionFailed = false;
  LogMilestone("データチェック開始", "DataCheck");
  WaitCursor wait(ui);
  try {
    std::string date;
    std::string D = makeReportBody_D(pastFile, date);
    std::string U = makeReportBody_UK(horseFile);
    std::string report = std::string(25, ' ') + "(" + showDate(date) + ")" + kCRLF +
                         "******** Velmoデータチェックリスト ********" + kCRLF +
                         "日付 必要データ チェック内容（ＤＢ内データ）" + kCRLF + std::string(43, '-') + kCRLF +
                         "■過去分データチェック" + kCRLF + D + "■馬基本データチェック" + kCRLF + U +
                         std::string(43, '*') + kCRLF;
    std::string bytes;
    if (!text::encodeCp932(report, bytes))
      throw VelmoError(err::BadShiftJis, "レポートをShift_JISで書けません。");
    const std::string path = WritableDir(UserFolder::Data) + resultFile;
    MakeDirAll(WritableDir(UserFolder::Data));
    // Written beside the report and put in place in one step.
    WriteFileBytes(path + ".tmp", bytes);
    MoveFileOver(path + ".tmp", path);
    MsgBox("データチェック完了しました", vbOKOnly, kAppTitle);
    return true;
  } catch (const std::exception& ex) {
    MsgBox("データチェックに失敗しました。", vbOKOnly, kAppTitle);
    ErrObject e = ErrObject::from(ex);
    e.description += "データチェック失敗。";
    WriteLog(e, "DataCheck", false, true);
    return false;
  }
}

bool DataCheckHadFailure() { return g_sectionFailed; }

Outcome DataChk(CommandUi& ui) {
  if (MsgBox(std::string("インターネットからデータチェックファイルをダウンロードして") + kCRLF +
                 " データベース格納データをチェックします。",
             vbOKCancel, "データチェック") != vbOK)
    return Outcome::Cancelled;
  try {
    // A check file is read only as this run fetched it: a copy an earlier run
    // left in the download folder is removed first.
    for (const char* f : {kCheckFileD, kCheckFileUK}) {
      std::error_code ec;
      std::filesystem::remove(G().gDwnDir + f, ec);
    }
    const bool pastFetched = FetchFile(PublicListUrl(), kCheckFileD) >= 0 && FileExists(G().gDwnDir + kCheckFileD);
    // Not fatal: the past section then fails to read its file (DataCheckHadFailure).
    if (!pastFetched)
      WriteLog(ErrObject(err::FileNotFound, std::string("ダウンロードエラー[") + kCheckFileD + "]"), "cmdDataCheck_Click",
               false, false);
    if (FetchFile(PublicListUrl(), kCheckFileUK) < 0 || !FileExists(G().gDwnDir + kCheckFileUK)) {
      WriteLog(ErrObject(err::FileNotFound, std::string("ダウンロードエラー[") + kCheckFileUK + "]"), "cmdDataCheck_Click",
               false, false);
      return Outcome::Failed;
    }
    if (!DataCheck(ui, kCheckFileD, kCheckFileUK, kCheckResult)) return Outcome::Failed;
    ui.setStatus("データチェック終了");
    return Outcome::Done;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "cmdDataCheck_Click", false, false);
    return Outcome::Failed;
  }
}

}  // namespace velmo
