// velmo-cli upgrade [--force] [--yes]
// Brings the databases to the current version. --force upgrades a pair that is
// already current (the screen's "強制的にしますか？", asked as every question is:
// --yes answers it, without a terminal it is refused).
#include <cstdio>

#include "app/cli.h"
#include "app/cli_maint.h"
#include "common/msgbox.h"
#include "schema/dbversion.h"
#include "schema/rebuild.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/writerlock.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  InstallAnswerer(args);
  const bool force = TakeFlag(args, "--force");
  if (!NoExtraWords(args)) return Usage("upgrade");
  if (!InitSettings("upgrade")) return kExitFailed;
  const std::string version = getDBVersion();
  std::fprintf(stderr, "database version: %s\n", version.c_str());
  if (version == kCurrentDBVersion && !force) {
    std::fprintf(stderr, "velmo-cli upgrade: the databases are current (give --force to upgrade again)\n");
    return kExitOk;
  }
  // The step replaces data: its question ("強制的にしますか？" on a current pair)
  // is asked like every other destructive command's, answered by --yes and
  // refused without a terminal.
  std::fprintf(stderr,
               "the Ver7.2 step deletes every row of D基準オッズデータ and D基準ワイドデータ (kova_data.mdb), reloads the "
               "data catalogue Sデータ管理 from sdata_t72.txt and replaces kova_code.mdb with the initial one%s\n",
               force ? "; --force then rebuilds the tables of earlier builds as native-typed tables, rows kept" : "");
  LoggedErrors errors;
  StderrUi ui;
  Outcome o = dbVersionUp(ui);
  // --force also rebuilds the tables of databases made by earlier builds as
  // native-typed tables, in place.
  if (force && o == Outcome::Done) {
    try {
      db::WriterLock turn(G().gDBDir);
      for (const char* file : {"kova_this.mdb", "kova_data.mdb", "kova_code.mdb"}) {
        db::DatabasePtr d;
        if (!DAO_Open(d, G().gDBDir + file)) throw VelmoError(err::CannotLock, std::string("cannot open ") + file);
        bool ok = RebuildTablesNative(d, [&](const std::string& t) { ui.setStatus(std::string(file) + ": " + t + " rebuilding"); });
        d->close();
        if (!ok) o = Outcome::Failed;
      }
    } catch (const std::exception& ex) {
      std::fprintf(stderr, "velmo-cli upgrade: %s\n", ex.what());
      o = Outcome::Failed;
    }
  }
  std::fprintf(stderr, "database version: %s\n", getDBVersion().c_str());
  return Finish("upgrade", o, errors);
}

const Registrar reg({"upgrade", "upgrade [--force] [--yes]",
                     "upgrades the databases to the current version (--force: again when current, and old tables rebuilt native-typed)", run});

}  // namespace
}  // namespace velmo::cli
