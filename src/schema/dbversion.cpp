// Database version and the version upgrade.
#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/backup.h"
#include "maintenance/waitcursor.h"
#include "maintenance/writerturn.h"
#include "registration/regkova.h"
#include "schema/dbversion.h"
#include "schema/tablealter.h"
#include "startup/platform/applog.h"
#include "startup/platform/daofunc.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {

// Opens a database of the database folder; raises when it cannot be opened.
db::DatabasePtr openDb(const std::string& file) {
  db::DatabasePtr d;
  if (!DAO_Open(d, G().gDBDir + file))
    throw VelmoError(err::CannotLock, "データベースがほかのプログラムで使用中のため、開けません。[" + file + "]");
  return d;
}

// Replaces the code database with the initial one (asking first when it exists).
void replaceCodeDatabase() {
  const std::string target = G().gDBDir + "kova_code.mdb";
  if (FileExists(target)) {
    if (MsgBox("[" + target + "] は既に存在します。上書きしますか？（通常ＯＫを押してください。）", vbOKCancel, kAppTitle) !=
        vbOK)
      return;
  }
  db::Workspace::get().closeFile(target);
  // Copied beside the target first, so a failed copy never leaves half a file.
  const std::string tmp = target + ".velmo-copy";
  std::error_code ec;
  fs::copy_file(ProgramDir() + "initDB/kova_code.mdb", tmp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(tmp, target, ec);
  if (ec) {
    fs::remove(tmp);
    throw VelmoError(err::PathNotFound, "コードデータベースをコピーできません。(" + ec.message() + ")");
  }
}

void reloadCatalogue(const std::string& file) {
  try {
    RegKOVA reg;
    reg.Mode("T");
    reg.conDB(G().gDBDir);
    reg.regDATA_KANRI(ProgramDir() + file);
    reg.clsDB();
  } catch (const std::exception& ex) {
    // The result of the reload is not looked at; the entry says what happened.
    WriteLog(ErrObject::from(ex), "regDATA_KANRI", false, true);
  }
}

// The common frame of a step: a transaction, the wait cursor, the actions, the
// success message or the failure report naming the file used last.
template <typename Actions>
bool runStep(CommandUi& ui, const std::string& place, Actions actions, const std::string& success) {
  auto& ws = db::Workspace::get();
  const int depth = ws.transDepth();
  std::string lastFile;
  bool ok = false;
  ws.beginTrans();
  LogMilestone("バージョンアップ開始", place);
  {
    WaitCursor wait(ui);
    try {
      db::WriterLock turn(G().gDBDir, WriterTurnOptions(ui));
      ok = actions(lastFile);
    } catch (const std::exception& ex) {
      WriteLog(ErrObject::from(ex), place, false, true);
      ok = false;
    }
    if (ok) {
      try {
        ws.commitTrans();
      } catch (const std::exception& ex) {
        WriteLog(ErrObject::from(ex), place, false, true);
        ok = false;
      }
    }
  }
  if (ok) {
    MsgBox(success, vbOKOnly, kAppTitle);
    return true;
  }
  MsgBox("ＤＢバージョンアップに失敗しました。", vbOKOnly, kAppTitle);
  WriteLog(ErrObject(err::EngineGeneric, "エラーファイル[" + lastFile + "]"), place, false, false);
  try {
    ws.rollbackTo(depth);
  } catch (...) {
  }
  return false;
}

bool setBoth(const std::string& version) {
  return setDBVersion(version, "kova_this.mdb") && setDBVersion(version, "kova_data.mdb");
}

}  // namespace

std::string getDBVersion() {
  try {
    db::DatabasePtr d = openDb("kova_this.mdb");
    std::string v;
    try {
      v = d->getProperty("Subject");
    } catch (...) {
      d->close();
      throw;
    }
    d->close();
    return v;
  } catch (const std::exception&) {
    return kNoDBVersion;
  }
}

bool setDBVersion(const std::string& version, const std::string& file) {
  db::DatabasePtr d;
  try {
    d = openDb(file);
    try {
      d->setProperty("Subject", version);
    } catch (const VelmoError& e) {
      if (e.number() != err::PropertyNotFound) throw;
      d->createProperty("Subject", "なし");
      d->setProperty("Subject", version);
    }
    d->close();
    return true;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "setDBVersion", false, true);
    if (d) d->close();
    return false;
  }
}

bool HJmnt() {
  db::DatabasePtr d;
  try {
    d = openDb("kova_data.mdb");
    d->execute(
        "update D払戻情報データ set [３連複組合せ１] = null,[３連複組合せ２] = null,[３連複組合せ３] = null "
        " where [３連複組合せ１] = '      ';");
    d->close();
    return true;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "HJmnt", false, false);
    if (d) d->close();
    return false;
  }
}

bool kobetsu72() {
  db::DatabasePtr d;
  try {
    d = openDb("kova_data.mdb");
    d->execute("delete from D基準オッズデータ; ");
    d->execute("delete from D基準ワイドデータ; ");
    d->close();
    return true;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "kobetsu72", false, false);
    if (d) d->close();
    return false;
  }
}

bool dbVerUp50to60(CommandUi& ui) {
  const std::string thisDb = G().gDBDir + "kova_this.mdb";
  return runStep(
      ui, "dbVerUp50to60",
      [&](std::string& lastFile) {
        if (!HJmnt()) return false;
        for (const char* t : {"TPATオッズ３連複データ", "TPATオッズワイドデータ", "TPATオッズ単複枠データ", "TPATオッズ馬単データ",
                              "TPATオッズ馬連データ", "T基準３連複データ", "T基準馬単データ"})
          if (!TableDelete(t, thisDb)) return false;
        lastFile = "teigi_t60.txt";
        if (!TableAlter(lastFile, thisDb)) return false;
        lastFile = "sdata_t60.txt";
        reloadCatalogue(lastFile);
        replaceCodeDatabase();
        return setBoth("Ver6.0");
      },
      "データベースのバージョンを [Ver6.0]にセットしました");
}

bool dbVerUp60to72(CommandUi& ui) {
  const std::string thisDb = G().gDBDir + "kova_this.mdb";
  const std::string dataDb = G().gDBDir + "kova_data.mdb";
  return runStep(
      ui, "dbVerUp60to72",
      [&](std::string& lastFile) {
        lastFile = "teigi_d72.txt";
        if (!TableAlter(lastFile, dataDb)) return false;
        kobetsu72();
        lastFile = "teigi_t72.txt";
        if (!TableAlter(lastFile, thisDb)) return false;
        lastFile = "sdata_t72.txt";
        reloadCatalogue(lastFile);
        replaceCodeDatabase();
        return setBoth("Ver7.2");
      },
      std::string("データベースのバージョンを [Ver7.2]にセットしました") + "\r\n" + "Velmo を再起動してください");
}

Outcome dbVersionUp(CommandUi& ui) {
  const std::string version = getDBVersion();
  // Every database the steps rewrite is copied once the member has said yes.
  auto backup = [&ui] {
    const std::string& d = G().gDBDir;
    return BackupBefore("upgrade", {d + "kova_this.mdb", d + "kova_data.mdb", d + "kova_code.mdb"}, ui);
  };
  const std::string P = "セットアップされているデータベース(kova_XXXX.mdb)は" + version + "です。";
  const std::string ask = P + "Ver7.2にバージョンアップする必要があります。" + "\r\n" + "バージョンアップしますか？";
  if (version == "Ver7.2") {
    if (MsgBox(P + "バージョンアップする必要はありません。強制的にしますか？", vbYesNo, kAppTitle) != vbYes)
      return Outcome::Cancelled;
    if (!backup()) return Outcome::Failed;
    return dbVerUp60to72(ui) ? Outcome::Done : Outcome::Failed;
  }
  if (version == "Ver7.0" || version == "Ver6.0") {
    if (MsgBox(ask, vbYesNo, kAppTitle) != vbYes) return Outcome::Cancelled;
    if (!backup()) return Outcome::Failed;
    return dbVerUp60to72(ui) ? Outcome::Done : Outcome::Failed;
  }
  if (version == "Ver5.0") {
    if (MsgBox(ask, vbYesNo, kAppTitle) != vbYes) return Outcome::Cancelled;
    if (!backup()) return Outcome::Failed;
    // The second step builds on the first: after a failed first step the pair
    // stays at Ver5.0 instead of being marked Ver7.2 without the Ver6.0 changes.
    if (!dbVerUp50to60(ui)) return Outcome::Failed;
    return dbVerUp60to72(ui) ? Outcome::Done : Outcome::Failed;
  }
  MsgBox(P + "Ver7.2 にバージョンアップする必要があります。" + "\r\n" + "初期設定にて最新ＤＢにセットアップして下さい。",
         vbOKCancel, kAppTitle);
  return Outcome::Failed;
}

void addCodeNameFields(const std::string& databasePath) {
  db::DatabasePtr d;
  try {
    if (!DAO_Open(d, databasePath)) throw VelmoError(err::CannotLock, "データベースを開けません。[" + databasePath + "]");
    auto ensure = [&](const char* table, const char* field) {
      for (const auto& f : d->fields(table))
        if (f.name == field) return;
      db::FieldInfo fi;
      fi.name = field;
      fi.type = db::FieldType::Text;
      fi.size = 12;
      d->appendField(table, fi);
    };
    ensure("S騎手コード変換", "騎手名");
    ensure("S調教師コード変換", "調教師名");
    d->close();
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "addCodeNameFields", false, true);
    if (d) d->close();
  }
}

}  // namespace velmo
