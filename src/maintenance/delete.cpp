// Deletion of a range of race dates from the past or this week's database.
#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "maintenance/backup.h"
#include "maintenance/maintenance.h"
#include "maintenance/waitcursor.h"
#include "maintenance/writerturn.h"
#include "registration/ledger.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"

namespace velmo {

namespace {

std::string raceKeyCond(const std::string& P, const std::string& d1, const std::string& d2) {
  return "where レースキー in (select レースキー from " + P + "番組データ where 年月日 between '" + d1 + "' and '" + d2 +
         "')";
}
std::string dateCond(const std::string& d1, const std::string& d2) {
  return "where 年月日 between '" + d1 + "' and '" + d2 + "'";
}
std::string resultKeyCond(const std::string& d1, const std::string& d2) {
  return "where mid(競走成績キー,9,8) between '" + d1 + "' and '" + d2 + "'";
}
std::string statement(const std::string& table, const std::string& cond) { return "delete from " + table + " " + cond + ";"; }

// The range includes both dates, whichever is the earlier.
void order(std::string& d1, std::string& d2) {
  if (d2 < d1) std::swap(d1, d2);
}

// A date text of the grid (yyyy/mm/dd) as yyyymmdd.
std::string gridDate(const std::string& e) {
  return text::midChars(e, 1, 4) + text::midChars(e, 6, 2) + text::midChars(e, 9, 2);
}

// The rows each statement ("delete from TABLE CONDITION;") deletes, for the
// copy taken before any of them runs. The conditions read only tables deleted
// after them (the programme table last), so they select the same rows then.
std::vector<RowsOfTable> rowsDeleted(const std::vector<DeleteStatement>& statements) {
  std::vector<RowsOfTable> rows;
  const std::string head = "delete from ";
  for (const auto& s : statements) {
    const size_t end = s.sql.find(' ', head.size());
    std::string cond = s.sql.substr(end + 1);
    if (!cond.empty() && cond.back() == ';') cond.pop_back();
    rows.push_back({s.sql.substr(head.size(), end - head.size()), cond});
  }
  return rows;
}

bool runDeletion(CommandUi& ui, const std::string& file, const std::vector<DeleteStatement>& statements,
                 bool showProgress, const std::string& doneText) {
  WaitCursor wait(ui);
  db::DatabasePtr d;
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    // The copy of the rows about to go, taken under the lock.
    if (!BackupRowsBefore("delete", G().gDBDir + file, rowsDeleted(statements), ui)) return false;
    if (!DAO_Open(d, G().gDBDir + file))
      throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[" + file + "]");
    for (const auto& s : statements) {
      if (showProgress)
        DeleteAndStatus(ui, d, s.sql, s.progress);
      else
        d->execute(s.sql);
    }
    d->close();
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "DataDelete", false, false);
    if (d) d->close();
    return false;
  }
  if (!doneText.empty()) ui.setStatus(doneText);
  DoEvents();
  return true;
}

Outcome askAndDelete(CommandUi& ui, const std::string& e1, const std::string& e2, const std::string& which,
                     bool (*del)(CommandUi&, const std::string&, const std::string&)) {
  if (e2.empty()) {
    MsgBox(which + "一覧ウインドウにて削除範囲を指定してください。", vbOKOnly, "データ削除");
    return Outcome::Cancelled;
  }
  if (MsgBox(which + e2 + " ～ " + e1 + "の削除をしますか？", vbOKCancel, "データ削除") != vbOK) return Outcome::Cancelled;
  return del(ui, gridDate(e2), gridDate(e1)) ? Outcome::Done : Outcome::Failed;
}

}  // namespace

std::vector<DeleteStatement> DataDeleteStatements(const std::string& a, const std::string& b) {
  std::string d1 = a, d2 = b;
  order(d1, d2);
  const std::string rk = raceKeyCond("D", d1, d2), dc = dateCond(d1, d2);
  return {
      {statement("D払戻情報データ", rk), "D払戻情報データ削除中( 1/10)"},
      {statement("D基準オッズデータ", rk), "D基準オッズデータ削除中( 2/10)"},
      {statement("D基準ワイドデータ", rk), "D基準ワイドデータ削除中( 3/10)"},
      {statement("D競走馬データ", rk), "D競走馬データ削除中( 4/10)"},
      {statement("D直前情報データ", rk), "D直前情報データ削除中( 5/10)"},
      {statement("D成績拡張データ", rk), "D成績拡張データ削除中( 6/10)"},
      {statement("D調教分析データ", rk), "D調教分析データ削除中( 6/10)"},
      {statement("D成績データ", dc), "D成績データ削除中( 7/10)"},
      {statement("D成績レースデータ", dc), "D成績レースデータ削除中( 8/10)"},
      {statement("D番組データ", dc), "D番組データ削除中( 9/10)"},
      {statement("Dデータ一覧テーブル", dc), "Dデータ一覧テーブル削除中(10/10)"},
  };
}

std::vector<DeleteStatement> DataDeleteThisStatements(const std::string& a, const std::string& b) {
  std::string d1 = a, d2 = b;
  order(d1, d2);
  const std::string rk = raceKeyCond("T", d1, d2), dc = dateCond(d1, d2), sk = resultKeyCond(d1, d2);
  std::vector<DeleteStatement> v;
  for (const char* t : {"T払戻情報データ", "T基準オッズデータ", "T基準ワイドデータ", "Tオッズ単複", "Tオッズ枠連", "Tオッズ馬連",
                        "Tオッズワイド", "Tオッズ馬単", "Tオッズ３連複", "T基準オッズ単複", "T基準オッズ枠連",
                        "T基準オッズ馬連", "T基準オッズワイド", "T基準オッズ馬単", "T基準オッズ３連複", "T登録馬データ"})
    v.push_back({statement(t, rk), ""});
  for (const char* t : {"T競走馬データ", "T直前情報データ", "T成績拡張データ", "T前走拡張データ", "T調教分析データ"})
    v.push_back({statement(t, sk), ""});
  for (const char* t : {"T成績データ", "T前走データ", "T番組データ", "T競走馬拡張データ", "T成績レースデータ",
                        "Tデータ一覧テーブル", "T開催データ"})
    v.push_back({statement(t, dc), ""});
  return v;
}

void DeleteAndStatus(CommandUi& ui, const db::DatabasePtr& database, const std::string& sql, const std::string& progress) {
  ui.setStatus(progress);
  DoEvents();
  database->execute(sql);
}

bool DataDelete(CommandUi& ui, const std::string& d1, const std::string& d2) {
  return runDeletion(ui, "kova_data.mdb", DataDeleteStatements(d1, d2), true, "削除処理完了しました") &&
         ForgetLedgerDates(G().gDBDir + "kova_data.mdb", d1, d2);
}

bool DataDeleteThis(CommandUi& ui, const std::string& d1, const std::string& d2) {
  return runDeletion(ui, "kova_this.mdb", DataDeleteThisStatements(d1, d2), false, "") &&
         ForgetLedgerDates(G().gDBDir + "kova_this.mdb", d1, d2);
}

Outcome DeletePast(CommandUi& ui, const std::string& e1, const std::string& e2) {
  return askAndDelete(ui, e1, e2, "過去分データ", DataDelete);
}

Outcome DeleteThisWeek(CommandUi& ui, const std::string& e1, const std::string& e2) {
  return askAndDelete(ui, e1, e2, "今週分データ", DataDeleteThis);
}

}  // namespace velmo
