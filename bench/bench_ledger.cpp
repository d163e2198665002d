// velmo-bench-ledger [--years N]: the data ledger offline over N years (default
// 10) of weekend race days and the past database's usual kinds: a registration
// record for most cells (some failed, some partial), kept list files naming
// every archive, and the data storage folder holding the registered archives.
// Times "velmo-cli ledger --offline --json" as a member runs it (target under
// 1 s for 10 years), and the ledger built in the process, beside a plain
// SQLite read of the same record rows.
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "download/catalogue.h"
#include "download/ledgerview.h"
#include "download/update.h"
#include "startup/platform/daofunc.h"

namespace fs = std::filesystem;
using namespace velmo;
using namespace velmo::bench;

namespace {

// The weekend dates of the years before 2026.
std::vector<std::string> weekendsOf(int years) {
  std::vector<std::string> days;
  for (std::string d = std::to_string(2026 - years) + "0101"; d < "20260101"; d = NextDate8(d)) {
    std::tm tm{};
    tm.tm_year = std::stoi(d.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(d.substr(4, 2)) - 1;
    tm.tm_mday = std::stoi(d.substr(6, 2));
    tm.tm_hour = 12;
    std::mktime(&tm);
    if (tm.tm_wday == 0 || tm.tm_wday == 6) days.push_back(d);
  }
  return days;
}

}  // namespace

int main(int argc, char** argv) {
  int years = 10;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--years") == 0) years = std::atoi(argv[i + 1]);
  Setup();
  auto& g = G();
  const std::string buildHome = ProgramDir();
  // A program folder of the run: the build's files, its own download folder.
  const std::string home = g_root + "home/";
  fs::create_directories(home + "dwn/lists");
  fs::create_directories(home + "tmp");
  for (const auto& e : fs::directory_iterator(buildHome)) {
    const std::string n = e.path().filename().string();
    if (n != "dwn" && n != "tmp" && n != "VelmoLog.dat") fs::create_symlink(e.path(), home + n);
  }
  setenv("VELMO_HOME", home.c_str(), 1);
  g.gDBDir = freshDbFolder("db");
  g.gLzhDir = g_root + "lzh/";
  g.gDwnDir = home + "dwn/";
  fs::create_directories(g.gLzhDir);
  const std::string config = g_root + "config/";
  fs::create_directories(config);
  std::ofstream(config + "kova.ini") << "[main]\nDBDir=" << g.gDBDir << "\nLzhDir=" << g.gLzhDir << "\n";
  setenv("VELMO_CONFIG_DIR", config.c_str(), 1);

  const std::vector<std::string> kinds = UpdateKinds("D");
  const std::vector<std::string> days = weekendsOf(years);
  std::string kindList;
  for (const auto& k : kinds) kindList += (kindList.empty() ? "" : ",") + k;

  // The record, the kept lists and the storage folder.
  size_t cells = 0, recorded = 0;
  {
    db::DatabasePtr d = OpenModeDatabase(g.gDBDir, "D");
    db::LedgerTable::ensure(*d);
    auto& ws = db::Workspace::get();
    ws.beginTrans();
    for (const auto& id : kinds) {
      const ListInfo info = getListInfo(id);
      std::ofstream list;
      if (!info.listFile.empty()) list.open(g.gDwnDir + "lists/" + info.listFile, std::ios::binary);
      size_t i = 0;
      for (const auto& day : days) {
        ++cells;
        const std::string name = ArchiveName(id, day);
        if (list) list << name << "\r\n";
        if (++i % 50 == 7) continue;  // published, never registered
        db::LedgerRow r;
        r.archive = name;
        r.dataId = ArchiveKind(id);
        r.raceDate = day;
        r.mode = "D";
        r.held = r.read = 576;
        r.registered = i % 97 == 3 ? 500 : 576;  // a few partial
        r.rows = 600;
        r.outcome = i % 61 == 5 ? "failed" : "registered";
        if (r.outcome == "failed") r.error = "解凍できないため登録しません。";
        r.files = "[{\"file\":\"" + r.dataId + day.substr(2) + ".txt\",\"held\":576,\"read\":576,\"registered\":576,\"skipped\":{},\"rows\":600}]";
        r.at = day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6, 2) + "T21:00:00";
        db::LedgerTable::put(*d, r);
        ++recorded;
        std::ofstream(g.gLzhDir + name).put('x');
      }
    }
    ws.commitTrans();
    d->close();
    db::Workspace::get().reset();
  }
  const std::string from = days.front(), to = days.back();
  std::printf("ledger over %d years: %zu race days x %zu kinds (%s) = %zu cells, %zu recorded\n", years, days.size(),
              kinds.size(), kindList.c_str(), cells, recorded);

  // The command as a member runs it.
  const std::string cmd = buildHome + "velmo-cli ledger --offline --json --mode D --kinds " + kindList + " --from " + from +
                          " --to " + to + " >" + g_root + "out.json 2>" + g_root + "err.txt";
  std::vector<double> cli, inproc, plain;
  int rc = -1;
  for (int run = 0; run < 5; ++run) {
    auto a = Clock::now();
    rc = std::system(cmd.c_str());
    cli.push_back(seconds(a, Clock::now()));
  }
  const int exitCode = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  size_t lines = 0;
  std::string last;
  {
    std::ifstream in(g_root + "out.json");
    for (std::string l; std::getline(in, l);) ++lines, last = l;
  }

  // The same ledger built in this process, and a plain read of the record rows.
  LedgerRequest q;
  q.mode = "D";
  q.kinds = kinds;
  q.from = from;
  q.to = to;
  q.offline = true;
  size_t jsonBytes = 0;
  for (int run = 0; run < 5; ++run) {
    auto a = Clock::now();
    LedgerReport r = BuildLedger(q, nullptr, nullptr);
    jsonBytes = LedgerJson(r).size();
    inproc.push_back(seconds(a, Clock::now()));
    db::Workspace::get().reset();
  }
  for (int run = 0; run < 5; ++run) {
    auto a = Clock::now();
    sqlite3* c = nullptr;
    sqlite3_open_v2((g.gDBDir + "kova_data.mdb").c_str(), &c, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(c, "SELECT * FROM MSysVelmoLedger WHERE race_date BETWEEN ? AND ? ORDER BY race_date, archive", -1, &st,
                       nullptr);
    sqlite3_bind_text(st, 1, from.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, to.c_str(), -1, SQLITE_TRANSIENT);
    long n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) n += sqlite3_column_bytes(st, 4) > 0;
    sqlite3_finalize(st);
    sqlite3_close(c);
    plain.push_back(seconds(a, Clock::now()));
  }
  std::printf("velmo-cli ledger --offline --json : %.3f s median of 5 (target < 1 s), exit %d, %zu lines\n", median(cli),
              exitCode, lines);
  std::printf("  last line: %s\n", last.c_str());
  std::printf("BuildLedger + JSON in process     : %.3f s (%zu bytes of JSON)\n", median(inproc), jsonBytes);
  std::printf("plain sqlite3 read of the record  : %.3f s\n", median(plain));
  Teardown();
  return median(cli) < 1.0 ? 0 : 1;
}
