// Builds the initial databases of a program folder from its definition files:
// initDB/kova_this.mdb (with the data catalogue loaded), kova_data.mdb and
// kova_code.mdb, each carrying the version "Ver7.2".
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/func.h"
#include "common/globals.h"
#include "registration/regkova.h"
#include "schema/tablealter.h"
#include "startup/platform/ledgertable.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"
#include "van/jracode.h"

using namespace velmo;

static bool build(const std::string& def, const std::string& path) {
  std::error_code ec;
  std::string tmp = path + ".building";
  std::filesystem::remove(tmp, ec);
  db::Workspace::get().createDatabase(tmp);
  if (!TableAlter(def, tmp)) {
    std::fprintf(stderr, "velmo-mkdb: %s could not be applied to %s (see %s)\n", def.c_str(), path.c_str(),
                 AppLog::instance().logFile().c_str());
    return false;
  }
  db::DatabasePtr d = db::Workspace::get().openDatabase(tmp);
  d->createProperty("Subject", "Ver7.2");
  db::LedgerTable::ensure(*d);  // the registration record, so that the first archive does not make it
  d->close();
  db::Workspace::get().reset();
  std::filesystem::rename(tmp, path, ec);
  return !ec;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velmo-mkdb PROGRAM_FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  SetProgramDir(argv[1]);
  setenv("VELMO_HOME", argv[1], 1);
  G().gSilent = "1";  // no message boxes
  AppLog::instance().setLogFile(ProgramDir() + "mkdb.log");
  std::string out = AddPathSep(argv[2]);
  MakeDirAll(out);
  bool ok = build("teigi_t72.txt", out + "kova_this.mdb") && build("teigi_d72.txt", out + "kova_data.mdb") &&
            build("teigi_c72.txt", out + "kova_code.mdb");
  if (!ok) return 1;
  // The JRA-VAN code conversion rows ship with the code database.
  if (FileExists(ProgramDir() + "jracode.txt")) {
    try {
      std::string tmp = out + "kova_code.mdb";
      db::DatabasePtr c = db::Workspace::get().openDatabase(tmp);
      LoadJraCodes(ProgramDir() + "jracode.txt", *c);
      c->close();
      db::Workspace::get().reset();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velmo-mkdb: JRA-VAN codes not loaded: %s\n", e.what());
      return 1;
    }
  }
  // The catalogue goes into kova_this.mdb through the registration session.
  if (FileExists(ProgramDir() + "sdata_t72.txt")) {
    G().gDBDir = out;
    RegKOVA s;
    s.Mode("T");
    s.conDB(out);
    try {
      db::Workspace::get().beginTrans();
      s.regDATA_KANRI(ProgramDir() + "sdata_t72.txt");
      db::Workspace::get().commitTrans();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velmo-mkdb: catalogue not loaded: %s\n", e.what());
      return 1;
    }
    s.clsDB();
  }
  std::printf("velmo-mkdb: initial databases written to %s\n", out.c_str());
  return 0;
}
