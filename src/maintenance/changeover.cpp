// The weekly changeover: this week's table families move into the past database.
#include <memory>

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
#include "registration/regkova.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"

namespace velmo {

const std::vector<ChangeoverStep>& ChangeoverSteps() {
  static const std::vector<ChangeoverStep> steps = {
      {"競走馬データ", 1},   {"番組データ", 2},       {"成績データ", 3},       {"払戻情報データ", 4},
      {"直前情報データ", 5}, {"買い目データ", 8},     {"成績拡張データ", 9},   {"成績レースデータ", 10},
      {"調教分析データ", 11}, {"データ一覧テーブル", 12}, {"開催データ", 12},
  };
  return steps;
}

const std::vector<std::string>& ChangeoverEmptiedTables() {
  static const std::vector<std::string> tables = {
      "T前走データ",       "T前走拡張データ",   "T競走馬拡張データ", "Tオッズ単複",       "Tオッズ枠連",
      "Tオッズ馬連",       "Tオッズワイド",     "Tオッズ馬単",       "Tオッズ３連複",     "T基準オッズ単複",
      "T基準オッズ枠連",   "T基準オッズ馬連",   "T基準オッズワイド", "T基準オッズ馬単",   "T基準オッズ３連複",
      "T開催データ",       "T登録馬データ",     "T基準オッズデータ", "T基準ワイドデータ",
  };
  return tables;
}

namespace {

// Copies the rows of source into destination as DAO_Ins does (columns matched by
// name, a destination column the source lacks left at its default, a row whose
// key the destination holds skipped so that the destination keeps its own row),
// in one transaction instead of one per row. On any other failure the rows copied
// so far are committed, as DAO_Ins leaves them, and false is returned: the caller
// then runs DAO_Ins, which skips those rows as duplicates and gives the failing
// row its retries and its log entry.
bool copyInOneTransaction(const db::DatabasePtr& d, const std::string& source, const std::string& destination) {
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  try {
    auto src = d->openQuery(source);
    auto dst = d->openTable(destination);
    std::vector<std::pair<int, int>> map;  // source column -> destination column
    for (size_t c = 0; c < src->columns.size(); ++c) {
      try {
        map.emplace_back(static_cast<int>(c), dst->columnIndex(src->columns[c]));
      } catch (const VelmoError& e) {
        if (e.number() != err::NoSuchField) throw;
      }
    }
    ws.beginTrans();
    for (src->moveFirst(); !src->eof(); src->moveNext()) {
      dst->addNew();
      for (const auto& [from, to] : map) dst->set(to, src->get(from));
      try {
        dst->update();
      } catch (const VelmoError& e) {
        dst->cancelUpdate();
        if (e.number() != err::DuplicateKey) throw;
      }
    }
    ws.commitTrans();
    return true;
  } catch (const std::exception&) {
    try {
      if (ws.transDepth() > depth) ws.commitTrans();
    } catch (...) {
    }
    try {
      ws.rollbackTo(depth);
    } catch (...) {
    }
    return false;
  }
}

// This week's database is small and copied whole; the past database only gains
// the rows whose keys it does not hold yet, so their keys undo the changeover.
bool backupBeforeChangeover(CommandUi& ui) {
  const std::string thisDb = G().gDBDir + "kova_this.mdb", dataDb = G().gDBDir + "kova_data.mdb";
  std::vector<RowsAdded> moved;
  for (const auto& step : ChangeoverSteps())
    moved.push_back({"D" + std::string(step.baseName), "T" + std::string(step.baseName)});
  return BackupBefore("changeover", {thisDb}, ui) && BackupAddedRowsBefore("changeover", dataDb, thisDb, moved, ui);
}

void logError(const std::string& description, long number, const std::string& loc) {
  WriteLog(ErrObject(number, description), loc, false, false);
}

}  // namespace

int DataIdo_V2(const db::DatabasePtr& database, const std::string& baseName, const std::string& columns) {
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  const std::string link = "D" + baseName;
  try {
    // An existing link (left by an earlier failed run) is replaced.
    ConnectOutput(database, link, ";DATABASE=" + G().gDBDir + "kova_data.mdb", link);
  } catch (const VelmoError& e) {
    if (e.number() != err::ObjectExists) {
      logError(e.description(), e.number(), "DataIdo");
      return -1;
    }
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "DataIdo", false, false);
    return -1;
  }
  DoEvents();
  bool copied = copyInOneTransaction(database, "T" + baseName, link);
  if (!copied) copied = DAO_Ins(database, "T" + baseName, link);
  try {
    if (!copied) throw VelmoError(err::EngineGeneric, "データを移動できませんでした。[" + baseName + "]");
    ws.beginTrans();
    // The this-week rows go only when they are all in the past table; a deletion
    // that keeps failing fails the step (the rows stay in both tables and the next
    // changeover skips them as duplicates).
    if (!DAO_Exec(database, "delete from T" + baseName + " ;"))
      throw VelmoError(err::CannotLock, "今週データを削除できませんでした。[T" + baseName + "]");
    database->deleteTable(link);
    ws.commitTrans();
    return 0;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "DataIdo", false, false);
    try {
      ws.rollbackTo(depth);
    } catch (...) {
    }
    return -1;
  }
}

Outcome WeekChange(CommandUi& ui) {
  if (MsgBox("週替わり処理を実行しますか？", vbOKCancel, "週替わりチェック") != vbOK) return Outcome::Cancelled;
  // The copies are taken under the writer lock, so that they hold whatever a
  // registration the changeover waited for wrote.
  std::unique_ptr<db::WriterLock> held;
  try {
    held = std::make_unique<db::WriterLock>(G().gDBDir, WriterTurnOptions(ui));
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "cmdWeekChange_Click", false, false);
    ui.setStatus("週替わり処理異常終了！！！！！！");
    return Outcome::Failed;
  }
  if (!backupBeforeChangeover(ui)) return Outcome::Failed;
  ui.setStatus("週替わり処理中！！");
  ui.showBusy("");
  ui.setBusyText("週替わり処理中！！");
  DoEvents();
  db::DatabasePtr d;
  std::string errorText;
  ErrObject error;
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    if (!DAO_Open(d, G().gDBDir + "kova_this.mdb"))
      throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[kova_this.mdb]");
    int result = 0;
    for (const auto& step : ChangeoverSteps()) {
      DoEvents();
      const std::string head = "週替わり処理 " + std::string(step.baseName) + "(" + std::to_string(step.shownNumber) + "/12) ";
      ui.setStatus(head + "開始");
      result = DataIdo_V2(d, step.baseName, "*");
      ui.setStatus(head + "終了");
      ui.setBusyText(head + "終了");
      DoEvents();
      if (ui.cancelRequested()) {
        result = -2;
        error = ErrObject(0, "キャンセルしました");
      }
      if (result < 0) break;
    }
    if (result < 0) {
      if (result != -2) error = ErrObject(err::EngineGeneric, "週替わり処理に失敗しました。");
    } else {
      // Every move succeeded: the registration record follows the data, then
      // the tables that are not kept are emptied together.
      if (!MoveLedgerToPast(G().gDBDir)) throw VelmoError(err::EngineGeneric, "登録記録を過去データへ移せませんでした。");
      ws.beginTrans();
      for (const auto& t : ChangeoverEmptiedTables()) {
        if (!DAO_Exec(d, "delete from " + t)) {
          ws.rollback();
          throw VelmoError(err::EngineGeneric, "今週データを削除できませんでした。[" + t + "]");
        }
      }
      ws.commitTrans();
      d->close();
      ui.setBusyText("週替わり処理完了！！");
      ui.endBusy();
      DoEvents();
      ui.setStatus("週替わり処理終了");
      ui.setBusyCaption("週替わり処理完了しました");
      MsgBox("週替わり処理完了しました", vbOKOnly, kAppTitle);
      return Outcome::Done;
    }
  } catch (const std::exception& ex) {
    try {
      ws.rollbackTo(depth);
    } catch (...) {
    }
    error = ErrObject::from(ex);
  }
  if (d) d->close();
  if (error.description == "キャンセルしました") {
    ui.endBusy();
    ui.setBusyText("キャンセルしました");
    DoEvents();
    ui.setStatus("キャンセルしました");
    return Outcome::Cancelled;
  }
  ui.closeBusy();
  WriteLog(error, "cmdWeekChange_Click", false, false);
  ui.setStatus("週替わり処理異常終了！！！！！！");
  return Outcome::Failed;
}

}  // namespace velmo
