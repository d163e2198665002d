// Maintenance commands of the databases: data list rebuild, weekly changeover,
// deletion by date range, compaction and master update.
//
// Each command is a core operation that knows nothing of widgets. It reaches the
// user through a CommandUi (status bar, busy window, cancel flag, wait cursor) and
// asks its questions and shows its reports through the message-box service
// (common/msgbox.h). Two faces call them:
//
//   main screen (frmMnt)                       velmo-cli
//   cmdMakeItiran_Click  -> MakeItiran(ui)     rebuild-list
//   cmdWeekChange_Click  -> WeekChange(ui)     changeover
//   cmdDelete_Click      -> DeletePast(ui, e1, e2)       delete --db data
//   cmdDeleteThis_Click  -> DeleteThisWeek(ui, e1, e2)   delete --db this
//   cmdDBcompact_this_Click / _data_Click -> DBcompact(ui, gDBDir + "kova_this.mdb" | "kova_data.mdb")
//                                              compact --db this|data
//   cmdMasterUpdate_Click -> MasterUpdate(ui)  master-update
//
// After a command the screen refills the grids the command names in its comment
// (the core never touches a grid): the result says whether it ran to its end.
// e1/e2 of the deletions are the grid's display dates (yyyy/mm/dd): e1 the date of
// the current row, e2 the date of the row where the selection ends.
#pragma once
#include <string>
#include <vector>

#include "maintenance/commandui.h"
#include "startup/platform/db.h"

namespace velmo {

// How a command ended: ran to its end, stopped at a question or by the cancel
// button, or stopped on a failure (already logged and shown).
enum class Outcome { Done = 0, Cancelled = 1, Failed = 2 };

// ---- Data list rebuild ----------------------------------------------------
// Rebuilds "Dデータ一覧テーブル" of kova_data.mdb from the registered data, in
// one transaction: true when the new table is in place; after a failure the
// previous table is kept and the error is logged at "makeTableList".
bool makeTableList();
// Asks "一覧データ再作成処理を実行しますか？", rebuilds and reports. Screen: refill Gr2
// afterwards unless Cancelled.
Outcome MakeItiran(CommandUi& ui);

// ---- Weekly changeover ----------------------------------------------------
// Moves one table family B of the open kova_this.mdb into kova_data.mdb through the
// link "D" + B. 0 success, -1 failure (logged at "DataIdo"). `columns` is "*".
int DataIdo_V2(const db::DatabasePtr& database, const std::string& baseName, const std::string& columns = "*");
// The eleven moves and the emptying of the nineteen this-week tables, with the busy
// window; cancel is looked at after each move. Screen: refill Gr1 and Gr2 when Done.
Outcome WeekChange(CommandUi& ui);
// The families moved, with the step number shown for each ("1".."12").
struct ChangeoverStep {
  const char* baseName;
  int shownNumber;
};
const std::vector<ChangeoverStep>& ChangeoverSteps();
// The this-week tables emptied after the moves, in their order.
const std::vector<std::string>& ChangeoverEmptiedTables();

// ---- Deletion by date range -----------------------------------------------
// Shows the progress text and runs the statement; a failure is raised.
void DeleteAndStatus(CommandUi& ui, const db::DatabasePtr& database, const std::string& sql,
                     const std::string& progress);
// Delete the dates d1..d2 (yyyymmdd, both included, in either order) from
// kova_data.mdb / kova_this.mdb. True when every statement ran; a failure is logged
// at "DataDelete". Screen: refill Gr2 / Gr1 when true.
bool DataDelete(CommandUi& ui, const std::string& d1, const std::string& d2);
bool DataDeleteThis(CommandUi& ui, const std::string& d1, const std::string& d2);
// The statements of each deletion in their order (with the progress texts of the
// past deletion).
struct DeleteStatement {
  std::string sql;
  std::string progress;
};
std::vector<DeleteStatement> DataDeleteStatements(const std::string& d1, const std::string& d2);
std::vector<DeleteStatement> DataDeleteThisStatements(const std::string& d1, const std::string& d2);
// The two commands with their hint and question (title "データ削除"); e1, e2 as
// the grid shows them (yyyy/mm/dd), e2 empty when nothing is selected.
Outcome DeletePast(CommandUi& ui, const std::string& e1, const std::string& e2);
Outcome DeleteThisWeek(CommandUi& ui, const std::string& e1, const std::string& e2);

// ---- Compaction -----------------------------------------------------------
// Work copy gDBDir + "_wk.mdb".
std::string CompactWorkCopy();
// The questions (title "DBの最適化"), the compaction into the work copy and the
// copy put in place of the file.
Outcome DBcompact(CommandUi& ui, const std::string& path);

// ---- Master update --------------------------------------------------------
// The fetches the master update and the data check use. The screen installs
// download/latest.h's getNewFile and subFileDownload; a headless program installs
// its own. Without them every fetch fails (-1, gFetchResult -1).
struct FetchFunctions {
  int (*newFile)(const std::string& dataId) = nullptr;                                   // getNewFile
  int (*fileDownload)(const std::string& baseAddress, const std::string& fileName) = nullptr;  // subFileDownload
};
void SetFetchFunctions(const FetchFunctions& f);
const FetchFunctions& GetFetchFunctions();
int FetchNewFile(const std::string& dataId);
int FetchFile(const std::string& baseAddress, const std::string& fileName);

// Registers every archive of the download folder (pack archives first) into the
// mode's database and moves each into the data storage folder; "処理を続行しますか？"
// after a failed archive. Sets gFetchResult -1 when the user stopped it. Returns
// the number of archives handled.
int regDataDir(CommandUi& ui, const std::string& mode);
// "KZ_", "CZ_", "MZ_" newest archives (and the code change files when VAN is 1),
// registered into this week's database. Screen: refill Gr3 when Done.
Outcome MasterUpdate(CommandUi& ui);

// ---- Data list as rows ----------------------------------------------------
// The rows of "Tデータ一覧テーブル" (prefix "T") or "Dデータ一覧テーブル" ("D"),
// newest date first; columns in the table's order. Raises on failure.
struct DataListTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};
DataListTable ReadDataList(const std::string& prefix);

}  // namespace velmo
