#include "van/vandriver.h"

#include <memory>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/commandui.h"
#include "maintenance/writerturn.h"
#include "registration/driver.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"
#include "van/regvan.h"

namespace velmo {

namespace {

// The calls each file kind runs, by the first 12 characters of its name.
enum class VanKind { Results, ExactaTrio, RaceCard, Horses, PassedOver, Other };

VanKind kindOf(const std::string& name) {
  std::string head = name.substr(0, 12);
  if (head == "JracSei1.dat") return VanKind::Results;
  if (head == "JracSeih.dat") return VanKind::ExactaTrio;
  if (head == "JracDen1.dat") return VanKind::RaceCard;
  if (head == "JracUmaj.dat") return VanKind::Horses;
  if (head == "JracKisi.dat" || head == "JracChok.dat") return VanKind::PassedOver;
  return VanKind::Other;
}

// A refused file: thrown to end the run after its records so far are kept.
struct Refused {};

std::string& lastStopFile() {
  static std::string f;
  return f;
}

}  // namespace

const std::string& LastVanStopFile() { return lastStopFile(); }

int regMainVAN(const std::string& archivePath, const std::string& mode, PreparedArchive* prep) {
  const std::string loc = "regMainVan";
  auto& g = G();
  auto& ws = db::Workspace::get();
  const int depthAtStart = ws.transDepth();
  std::string current;
  auto van = std::make_unique<RegVAN>();
  lastStopFile().clear();
  // In mode "D" the horse records go to kova_this.mdb; holding it open keeps it
  // attached, so switching databases inside a file's transaction needs no attach.
  db::DatabasePtr thisWeek;
  try {
    LogMilestone("regMainVAN開始", loc);
    van->Mode(mode);
    van->conDB(g.gDBDir);
    if (mode == "D") DAO_Open(thisWeek, g.gDBDir + "kova_this.mdb");
    LogMilestone("データベースに接続完了", loc);
    std::unique_ptr<RunWorkFolder> ownFolder;
    const RunWorkFolder& work = RunFolderFor(prep, archivePath, ownFolder);
    const std::string tmp = work.path();
    LogMilestone("解凍ワークをクリア完了", loc);
    // An archive that does not unpack whole converts nothing.
    if (UnpackForRun(prep, archivePath, work, ".dat"))
      throw VelmoError(err::UnpackFailed, "解凍できないため登録しません。[" + archivePath + "]");
    LogMilestone("解凍ＤＬＬを呼ぶ完了[" + archivePath + "]", loc);
    std::vector<std::string> files;
    for (const auto& name : ListFiles(tmp + "*.dat")) {
      current = name;
      if (files.size() >= 32)
        throw VelmoError(err::TooManyFiles, "インデックスが有効範囲にありません。(書庫の .dat ファイルが32個を超えています)");
      files.push_back(name);
    }
    std::string base = g.gStatusForm ? g.gStatusForm->statusText() : std::string();
    for (size_t k = 0; k < files.size(); ++k) {
      current = files[k];
      const std::string file = tmp + current;
      VanKind kind = kindOf(current);
      if (kind == VanKind::PassedOver || kind == VanKind::Other) continue;
      if (g.gStatusForm) {
        g.gStatusForm->setStatusText(base + " " + current + "登録中(" + std::to_string(k + 1) + "/" +
                                     std::to_string(files.size()) + ")");
        g.gStatusForm->refresh();
      }
      DoEvents();
      // The code database is opened before the file's transaction begins.
      if (kind == VanKind::Results || kind == VanKind::RaceCard) van->opnHen(g.gDBDir);
      ws.beginTrans();
      switch (kind) {
        case VanKind::Results:
          if (van->regVSEItoSE(file) == -1) {
            ws.commitTrans();  // the races before the refused record stay
            throw Refused{};
          }
          van->regItiran();
          van->regVSEItoHJ(file);
          van->regItiran();
          van->lnkHen(g.gDBDir);
          van->upSEKey();
          van->lnkHenDel();
          break;
        case VanKind::ExactaTrio:
          van->regVSEHtoHJ(file);
          break;
        case VanKind::RaceCard:
          if (van->regVDENtoBA(file) == -1) {
            ws.commitTrans();
            throw Refused{};
          }
          van->regVDENtoKY(file);
          van->regItiran();
          van->lnkHen(g.gDBDir);
          van->upKYKey();
          van->lnkHenDel();
          break;
        case VanKind::Horses:
          if (mode == "D") {
            van->clsDB();
            van->Mode("T");
            van->conDB(g.gDBDir);
            van->regVUMAtoUK(file);
            van->clsDB();
            van->Mode("D");
            van->conDB(g.gDBDir);
          } else {
            van->regVUMAtoUK(file);
          }
          van->regVUMAtoKY(file);
          break;
        default:
          break;
      }
      ws.commitTrans();
    }
    current.clear();
    LogMilestone("データ読込完了[" + archivePath + "]", loc);
    van->clsDB();
    return 0;
  } catch (const Refused&) {
    ErrObject e(0, "登録できないデータがあるため中止しました。");
    WriteLog(e, loc, false, true);
    WriteLog(ErrObject(0, "エラーファイル[" + current + "]"), loc, false, true);
    lastStopFile() = current;
    van->clsDB();
    return -1;
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    // The failing file's transaction is never committed; files before it stay.
    ws.rollbackTo(depthAtStart);
    bool second = g.gSilent == "1";
    WriteLog(e, loc, false, second);
    WriteLog(ErrObject(e.number, "エラーファイル[" + current + "]"), loc, false, second);
    van->clsDB();
    return -1;
  }
}

Outcome VanCodeRecode(CommandUi& ui) {
  const std::string loc = "cmdVanCodeSai_Click";
  // The menu item exists only with the JRA-VAN setting on; other callers are refused.
  if (G().gVAN != 1) {
    WriteLog(ErrObject(err::InvalidOperation, "JRA-VANの設定(VAN=1)がオフのため、VANコード再変換は実行できません。"), loc,
             false, false);
    return Outcome::Failed;
  }
  if (MsgBox("VANコード再変換処理を実行しますか？", vbOKCancel, "VANコード再変換処理チェック") != vbOK) return Outcome::Cancelled;
  ui.setStatus("VANコード再変換処理中！！");
  ui.setWaitCursor(true);
  auto van = std::make_unique<RegVAN>();
  auto& ws = db::Workspace::get();
  const int depthAtStart = ws.transDepth();
  try {
    db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
    van->Mode("D");
    van->conDB(G().gDBDir);
    van->lnkHen(G().gDBDir);
    // Both updates form one unit: a failure leaves no half-converted table.
    ws.beginTrans();
    const bool entries = van->upKYKey();
    const bool results = van->upSEKey();
    if (!entries || !results)
      throw VelmoError(err::EngineGeneric, std::string("VANコードを再変換できませんでした。(") +
                                               (entries ? "" : "競走馬データ ") + (results ? "" : "成績データ ") +
                                               "の更新に失敗、変更を取り消しました)");
    ws.commitTrans();
    van->lnkHenDel();
    van->clsDB();
  } catch (const std::exception& ex) {
    ws.rollbackTo(depthAtStart);
    ErrObject e = ErrObject::from(ex);
    WriteLog(e, loc, false, false);
    WriteLog(ErrObject(e.number, "エラーファイル[kova_data.mdb]"), loc, false, false);
    try {
      van->lnkHenDel();
    } catch (const std::exception&) {
    }
    van->clsDB();
    ui.setWaitCursor(false);
    return Outcome::Failed;
  }
  ui.setWaitCursor(false);
  ui.setStatus("VANコード再変換処理終了！！");
  MsgBox("VANコード再変換処理終了しました。", vbOKOnly, "Velmo");
  return Outcome::Done;
}

}  // namespace velmo
