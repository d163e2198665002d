// The PostgreSQL copy (setting Mirror) over a generated past database of N years
// (default 10, about 1.1 M rows), beside psql's \copy of the same rows:
//   - the first full sync, against \copy of every row into the same tables
//     (emptied, indexes in place);
//   - the sync after registering one more race day, against \copy of that day's
//     rows alone;
//   - registration of race days with the change notes on and off.
// The server is a throw-away cluster of scripts/pg-test-server.sh (or
// VELMO_BENCH_PG, a connection string). Figures are medians of --runs N (default 3).
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "bench/common.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "maintenance/maintenance.h"
#include "mirror/mirrorsync.h"
#include "mirror/rowcodec.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "startup/platform/db.h"
#include "startup/platform/mirrorlog.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using namespace velmo::bench;
namespace fx = velmo::fixture;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> kindsD() {
  std::vector<std::string> kinds;
  for (const char* k : {"BAB", "KYG", "SEC", "HJC", "TYB", "SKB", "CYA", "SRA", "JOA", "OZ", "ZEC", "KTA", "KAA"}) {
    const DispatchRow* row = DispatchFor(fx::FileName(k, "20000101"));
    if (row && row->action && reg::FindLayout(k) && !row->thisWeekOnly) kinds.push_back(k);
  }
  return kinds;
}

// Registers race days into the database folder as `velmo-cli register` does; seconds.
double registerDays(const std::vector<std::pair<std::string, int>>& days, const std::string& work) {
  static const std::vector<std::string> kinds = kindsD();
  double total = 0;
  ArchiveBatch batch(G().gDBDir);
  for (const auto& [date, index] : days) {
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<std::string> archives = fx::WriteDayArchives(work, kinds, dayOf(date, index));
    OrderArchives(archives);
    auto t0 = Clock::now();
    for (const auto& a : archives) {
      batch.begin();
      if (regMain(a, "D", "J") != 0) {
        std::fprintf(stderr, "registration of %s failed\n", a.c_str());
        std::exit(1);
      }
      if (batch.due()) batch.commit();
    }
    total += seconds(t0, Clock::now());
  }
  auto t0 = Clock::now();
  batch.commit();
  total += seconds(t0, Clock::now());
  return total;
}

int sh(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string q(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Writes COPY files of the rows of kova_data.mdb (all, or those of the noted
// keys) and a psql script that loads them; returns the row count.
long writeCopyScript(const std::string& dir, bool onlyNoted, const std::string& script) {
  fs::create_directories(dir);
  auto d = db::Workspace::get().openDatabase(G().gDBDir + "kova_data.mdb");
  sqlite3* c = db::Workspace::get().connection();
  std::map<std::string, std::vector<std::string>> noted;
  if (onlyNoted) {
    db::Stmt st(c, "SELECT 表, キー FROM " + d->alias() + ".MSysVelmoMirrorLog");
    while (st.next()) noted[st.text(0)].push_back(st.text(1));
  }
  std::ofstream out(script);
  out << "BEGIN;\n";
  long rows = 0;
  int n = 0;
  for (const auto& t : d->tableNames()) {
    if (onlyNoted && !noted.count(t)) continue;
    auto fields = d->fields(t);
    std::string key;
    for (const auto& ix : d->indexes(t))
      if (ix.primary) key = ix.fields[0];
    std::string cols;
    for (size_t i = 0; i < fields.size(); ++i) cols += (i ? ", " : "") + text::quoteSqlIdent(fields[i].name);
    std::string file = dir + std::to_string(n++) + ".copy";
    std::ofstream f(file);
    std::string line;
    auto emit = [&](db::Stmt& st) {
      while (st.next()) {
        line.clear();
        for (size_t i = 0; i < fields.size(); ++i) {
          if (i) line += '\t';
          mirror::AppendValue(line, fields[i].type, st.column(static_cast<int>(i)));
        }
        line += '\n';
        f << line;
        ++rows;
      }
    };
    std::string sel = "SELECT " + cols + " FROM " + d->alias() + "." + text::quoteSqlIdent(t);
    if (!onlyNoted) {
      db::Stmt st(c, sel);
      emit(st);
      out << "TRUNCATE kova_data." << text::quoteSqlIdent(t) << ";\n";
    } else {
      db::Stmt st(c, sel + " WHERE " + text::quoteSqlIdent(key) + " = ?");
      for (const auto& k : noted[t]) {
        st.reset();
        st.bind(1, std::string_view(k));
        emit(st);
      }
      out << "CREATE TEMP TABLE " << text::quoteSqlIdent("day_" + t) << " (LIKE kova_data." << text::quoteSqlIdent(t) << ");\n";
    }
    std::string target = onlyNoted ? text::quoteSqlIdent("day_" + t) : "kova_data." + text::quoteSqlIdent(t);
    out << "\\copy " << target << " (" << cols << ") FROM '" << file << "'\n";
  }
  out << "COMMIT;\n";
  d->close();
  return rows;
}

double timePsql(const std::string& conninfo, const std::string& script) {
  auto t0 = Clock::now();
  if (sh("psql -X -q -v ON_ERROR_STOP=1 " + q(conninfo) + " -f " + q(script) + " >/dev/null") != 0) {
    std::fprintf(stderr, "psql failed\n");
    std::exit(1);
  }
  return seconds(t0, Clock::now());
}

}  // namespace

int main(int argc, char** argv) {
  int years = 10, runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--years") == 0 && i + 1 < argc) years = std::max(1, std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
  }
  Setup();
  SetMsgBoxHandler([](const MsgRequest& r) { return r.buttons == vbYesNo ? int(vbYes) : int(vbOK); });
  const std::string work = g_root + "gen/";
  std::string server;
  const std::string state = g_root + "pg.state";
  if (const char* e = std::getenv("VELMO_BENCH_PG")) {
    server = e;
  } else {
    if (sh("bash " VELMO_SOURCE_DIR "/scripts/pg-test-server.sh start " + q(state)) != 0) return 1;
    std::ifstream in(state);
    std::getline(in, server);
  }
  auto dbOn = [&](const std::string& name) {
    sh("psql -X -q " + q(server) + " -c 'DROP DATABASE IF EXISTS " + name + "' -c 'CREATE DATABASE " + name + "' >/dev/null");
    std::string c = server;
    auto p = c.find("dbname=");
    if (p != std::string::npos) c.replace(p, c.find(' ', p) == std::string::npos ? std::string::npos : c.find(' ', p) - p, "dbname=" + name);
    return c;
  };

  // ---- Registration with the notes on and off --------------------------------
  std::vector<double> on, off;
  std::vector<std::pair<std::string, int>> regDays;
  {
    auto days = raceDays(1990);
    for (int i = 0; i < 20; ++i) regDays.emplace_back(days[i], i);
  }
  for (int r = 0; r < runs; ++r)
    for (int mode = 0; mode < 2; ++mode) {
      db::Workspace::get().reset();
      G().gDBDir = freshDbFolder("reg" + std::to_string(r) + std::to_string(mode));
      db::MirrorLog::setEnabled(mode == 1);
      openBeforeTiming();
      (mode ? on : off).push_back(registerDays(regDays, work));
    }

  // ---- The past database of N years ------------------------------------------
  db::Workspace::get().reset();
  G().gDBDir = freshDbFolder("velmo");
  db::MirrorLog::setEnabled(true);
  std::vector<std::pair<std::string, int>> all;
  for (int y = 0; y < years; ++y) {
    auto days = raceDays(2000 + y);
    for (size_t i = 0; i < days.size(); ++i) all.emplace_back(days[i], static_cast<int>(i));
  }
  double built = registerDays(all, work);
  const std::string baseScript = g_root + "all.psql";
  const long allRows = writeCopyScript(g_root + "copy-all/", false, baseScript);

  std::vector<double> full, fullCopy, inc, incCopy;
  long dayRows = 0, incKeys = 0;
  for (int r = 0; r < runs; ++r) {
    const std::string conn = dbOn("bench_mirror");
    auto t0 = Clock::now();
    mirror::SyncOptions o;
    auto rep = mirror::Sync(conn, o);
    full.push_back(seconds(t0, Clock::now()));
    fullCopy.push_back(timePsql(conn, baseScript));
    // Put the server back to the files' rows (the baseline rewrote them).
    o.full = true;
    mirror::Sync(conn, o);
    // One more race day, then the sync that follows its notes.
    std::string date = "20" + std::to_string(30 + r) + "0105";
    registerDays({{date, 200 + r}}, work);
    const std::string dayScript = g_root + "day" + std::to_string(r) + ".psql";
    dayRows = writeCopyScript(g_root + "copy-day" + std::to_string(r) + "/", true, dayScript);
    t0 = Clock::now();
    auto irep = mirror::Sync(conn, mirror::SyncOptions{});
    inc.push_back(seconds(t0, Clock::now()));
    incKeys = irep.keysSynced;
    incCopy.push_back(timePsql(conn, dayScript));
    (void)rep;
  }
  std::printf("velmo-bench-mirror: %d year(s), %ld rows in kova_data.mdb (built in %.1f s), medians of %d runs\n", years, allRows, built,
              runs);
  std::printf("%-44s %9s %9s %7s\n", "", "velmo", "psql", "ratio");
  double fs_ = median(full), fc = median(fullCopy);
  std::printf("%-44s %8.3fs %8.3fs %7.2f  rate vs \\copy %.2f (target >= 0.5), %.0f rows/s\n", "first full sync", fs_, fc, fs_ / fc,
              fc / fs_, allRows / fs_);
  double is = median(inc), ic = median(incCopy);
  std::printf("%-44s %8.3fs %8.3fs %7.2f  (target < 1 s and <= 2x), %ld rows, %ld keys\n", "sync after one race day", is, ic, is / ic,
              dayRows, incKeys);
  double ron = median(on), roff = median(off);
  std::printf("%-44s %8.3fs %8.3fs %7.3f  speed with notes / without %.3f (target >= 0.95)\n", "registration of 20 days, notes on/off", ron,
              roff, ron / roff, roff / ron);
  if (!std::getenv("VELMO_BENCH_PG")) sh("bash " VELMO_SOURCE_DIR "/scripts/pg-test-server.sh stop " + q(state));
  Teardown();
  return 0;
}
