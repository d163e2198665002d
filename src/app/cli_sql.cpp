// velmo-cli sql [--db this|data|code|PATH] "STATEMENT"
// Runs one Jet statement on a database as the SQL screen does: a select prints a
// header line and its rows, tab-separated; any other statement prints the
// records affected and is committed. An error prints the engine's number and
// description on standard error (exit 1).
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/cli.h"
#include "maintenance/backup.h"
#include "common/error.h"
#include "common/func.h"
#include "maintenance/writerturn.h"
#include "startup/platform/jetsql.h"
#include "startup/platform/userstatement.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  bool bad = false;
  std::string which = TakeOption(args, "--db", bad);
  if (bad || args.size() != 1 || args[0].rfind("--", 0) == 0) return Usage("sql");
  const std::string& statement = args[0];
  if (!InitSettings("sql")) return kExitFailed;
  std::string path = DatabasePathOf(which);
  if (path.empty()) return Usage("sql");
  auto& ws = db::Workspace::get();
  // A statement that may write takes the writer lock of the database's folder
  // before the file is opened (a compaction may replace the file meanwhile) and
  // holds it through the copy and the commit; a select takes none.
  const bool writes = db::jetStatementMayWrite(statement);
  StderrUi ui;
  try {
    std::unique_ptr<db::WriterLock> turn;
    if (writes) {
      std::error_code ec;
      std::string folder = std::filesystem::absolute(path, ec).parent_path().string();
      turn = std::make_unique<db::WriterLock>(folder, WriterTurnOptions(ui));
    }
    if (!FileExists(path)) db::raise(err::CannotFindFile, path);
    auto d = ws.openDatabase(path);
    // A statement that may change data is preceded by a copy of the database.
    if (writes && StatementMayWrite(statement, path) && !BackupBefore("sql", {path}, ui)) return kExitFailed;
    ws.beginTrans();
    db::UserStatementResult r;
    try {
      r = db::runUserStatement(*d, statement);
    } catch (...) {
      ws.rollback();
      throw;
    }
    ws.commitTrans();
    if (r.isSelect) {
      std::string line;
      for (size_t i = 0; i < r.columns.size(); ++i) line += (i ? "\t" : "") + r.columns[i];
      std::printf("%s\n", line.c_str());
      for (const auto& row : r.rows) {
        line.clear();
        for (size_t i = 0; i < row.size(); ++i) line += (i ? "\t" : "") + db::toText(row[i]);
        std::printf("%s\n", line.c_str());
      }
    } else {
      std::printf("%ld\n", r.affected);
    }
    d->close();
  } catch (const VelmoError& e) {
    std::fprintf(stderr, "velmo-cli sql: error %ld: %s\n", e.number(), e.description().c_str());
    return kExitFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmo-cli sql: error %ld: %s\n", err::EngineGeneric, e.what());
    return kExitFailed;
  }
  return kExitOk;
}

const Registrar reg({"sql", "sql [--db this|data|code|PATH] \"STATEMENT\"",
                     "runs one statement on a database: a select prints its rows tab-separated, "
                     "anything else prints the records affected and is committed",
                     run});

}  // namespace
}  // namespace velmo::cli
