#include "startup/platform/daofunc.h"

#include <optional>

#include "common/error.h"
#include "common/func.h"
#include "startup/platform/applog.h"

namespace velmo {

bool IsLockError(long n) {
  return n == err::Locked || n == err::FileInUse || n == err::CannotSave || n == err::CannotOpen || n == err::CannotLock;
}

bool DAO_Open(db::DatabasePtr& database, const std::string& path) {
  int retries = 0;
  for (;;) {
    try {
      database = db::Workspace::get().openDatabase(path);
      return true;
    } catch (const VelmoError& e) {
      if (IsLockError(e.number())) {
        if (retries >= 20) return false;
        ++retries;
        WaitSeconds(1.0);
        continue;
      }
      WriteLog(ErrObject(e.number(), e.description()), "DAO_Open", false, true);
      throw VelmoError(e.number(), e.description(), "DAO_Open");
    }
  }
}

bool DAO_Exec(const db::DatabasePtr& database, const std::string& sql) {
  int retries = 0;
  for (;;) {
    try {
      if (!database) throw VelmoError(91, "オブジェクト変数が設定されていません。");
      database->execute(sql);
      return true;
    } catch (const VelmoError& e) {
      if (retries >= 11) {
        WriteLog(ErrObject(e.number(), e.description()), "DAO_Exec", false, true);
        return false;
      }
      ++retries;
      WaitSeconds(1.0);
    }
  }
}

bool DAO_Ins(const db::DatabasePtr& database, const std::string& sourceQuery, const std::string& destination,
             const std::function<bool()>& cancelled) {
  auto& ws = db::Workspace::get();
  std::unique_ptr<db::QueryResult> src;
  std::unique_ptr<db::Recordset> dst;
  // Runs one step with the retry rule; true when the step is done or skipped.
  auto step = [&](auto&& fn) -> bool {
    int retries = 0;
    for (;;) {
      try {
        fn();
        return true;
      } catch (const VelmoError& e) {
        if (e.number() == err::DuplicateKey || e.number() == err::NoSuchField) return true;
        if (retries >= 6) {
          WriteLog(ErrObject(e.number(), e.description()), "DAO_Ins", false, true);
          return false;
        }
        ++retries;
        WaitSeconds(1.0);
      }
    }
  };
  if (!step([&] { src = database->openQuery(sourceQuery); })) return false;
  if (!step([&] { dst = database->openTable(destination); })) return false;
  if (!src || !dst) return false;
  for (src->moveFirst(); !src->eof(); src->moveNext()) {
    // A cancel button of the window gets its click between rows.
    DoEvents();
    if (cancelled && cancelled()) return false;
    bool added = false;
    // One transaction per row; a row that fails is rolled back on leaving.
    std::optional<db::Transaction> row;
    if (!step([&] { row.emplace(ws); })) return false;
    if (!step([&] {
          dst->addNew();
          added = true;
        }))
      return false;
    for (size_t c = 0; c < src->columns.size(); ++c) {
      if (!step([&] {
            if (added) dst->set(src->columns[c], src->get(static_cast<int>(c)));
          }))
        return false;
    }
    if (!step([&] {
          if (added) dst->update();
        })) {
      return false;
    }
    dst->cancelUpdate();
    if (!step([&] { row->commit(); })) return false;
  }
  return true;
}

db::DatabasePtr OpenModeDatabase(const std::string& dbDir, const std::string& mode) {
  const std::string file = mode == "T" ? "kova_this.mdb" : mode == "D" ? "kova_data.mdb" : "";
  db::DatabasePtr d;
  if (!DAO_Open(d, dbDir + file))
    throw VelmoError(err::CannotLock, "データベースがほかのプログラムにロックされているため開けません。[" + dbDir + file + "]");
  return d;
}

}  // namespace velmo
