// Backup benchmark: the copy taken before a command that deletes or rewrites
// data (BackupBefore: free-space check, online copy, rename, rotation) of a
// past database holding ten years of races, against the sqlite3 shell's
// ".backup" of the same file, in one run. The figure to watch is the ratio.
//   velmo-bench-backup [--years N] [--runs N]
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "maintenance/backup.h"
#include "startup/settings.h"

using namespace velmo;
using namespace velmo::bench;
namespace fs = std::filesystem;

namespace {

constexpr long kRacesPerYear = 3456;  // 288 meeting days × 12 races
constexpr int kRunners = 14;

void exec(sqlite3* c, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(c, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n%s\n", err ? err : "?", sql.substr(0, 300).c_str());
    std::exit(1);
  }
}

// The value expression of a column for row n (race r, runner h).
std::string valueOf(const std::string& name, const std::string& type) {
  if (name == "レースキー") return "printf('%08d', r)";
  if (name == "馬番") return "printf('%02d', h)";
  if (name == "競走成績キー") return "printf('%016d', n)";
  if (name == "年月日") return "printf('%04d%02d%02d', 2000 + r / " + std::to_string(kRacesPerYear) + ", 1 + r % 12, 1 + r % 28)";
  if (type.rfind("TEXT", 0) != 0) return "abs(random() % 100000)";
  int size = 255;
  auto p = type.find('(');
  if (p != std::string::npos) size = std::atoi(type.c_str() + p + 1);
  int len = std::min((size + 1) / 2, 24);
  return "substr(hex(randomblob(" + std::to_string(len) + ")), 1, " + std::to_string(len) + ")";
}

void fill(sqlite3* c, const std::string& table, long rows, bool perRunner) {
  std::vector<std::pair<std::string, std::string>> cols;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(c, ("select name, type from pragma_table_info('" + table + "')").c_str(), -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    cols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                      reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
  sqlite3_finalize(st);
  std::string names, values;
  for (const auto& [n, t] : cols) {
    names += (names.empty() ? "\"" : ", \"") + n + "\"";
    values += (values.empty() ? "" : ", ") + valueOf(n, t);
  }
  const std::string rh = perRunner ? "n / " + std::to_string(kRunners) + " AS r, 1 + n % " + std::to_string(kRunners) + " AS h"
                                   : "n AS r, 1 AS h";
  exec(c, "BEGIN");
  exec(c, "WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n + 1 < " + std::to_string(rows) +
              "), k AS (SELECT n, " + rh + " FROM s) INSERT OR IGNORE INTO \"" + table + "\" (" + names + ") SELECT " +
              values + " FROM k");
  exec(c, "COMMIT");
}

}  // namespace

int main(int argc, char** argv) {
  int years = 10, runs = 3;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--years") years = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  Setup();
  const std::string dbDir = freshDbFolder("db");
  const std::string dbFile = dbDir + "kova_data.mdb";
  const long races = kRacesPerYear * years;
  const auto g0 = Clock::now();
  {
    sqlite3* c = nullptr;
    sqlite3_open(dbFile.c_str(), &c);
    for (const char* t : {"D競走馬データ", "D成績データ", "D成績拡張データ", "D直前情報データ", "D調教分析データ"})
      fill(c, t, races * kRunners, true);
    for (const char* t : {"D番組データ", "D成績レースデータ", "D払戻情報データ"}) fill(c, t, races, false);
    sqlite3_close(c);
  }
  const double genSec = seconds(g0, Clock::now());
  const double mb = static_cast<double>(fs::file_size(dbFile)) / (1024.0 * 1024.0);

  // The settings the backup reads: its own folder, three generations.
  const std::string config = g_root + "config/";
  fs::create_directories(config);
  setenv("VELMO_CONFIG_DIR", config.c_str(), 1);
  G().gDBDir = dbDir;
  SetIni("main", "BackupDir", g_root + "backup/");
  SetIni("main", "BackupGenerations", "3");
  ReadFileBytes(dbFile).size();  // both start from a warm file cache

  std::vector<double> ours, shell;
  const std::string shellOut = g_root + "shell-copy.mdb";
  for (int i = 0; i < runs; ++i) {
    auto a = Clock::now();
    if (!BackupBefore("bench", {dbFile}, NullCommandUi())) return 1;
    ours.push_back(seconds(a, Clock::now()));

    fs::remove(shellOut);
    std::string cmd = "sqlite3 '" + dbFile + "' \".backup '" + shellOut + "'\"";
    a = Clock::now();
    int rc = std::system(cmd.c_str());
    shell.push_back(seconds(a, Clock::now()));
    if (rc != 0) {
      std::fprintf(stderr, "sqlite3 .backup failed (%d)\n", rc);
      return 1;
    }
  }
  const double o = median(ours), s = median(shell);
  std::printf("Backup benchmark: past database of %d years (%ld races, %ld runners), %.0f MB, generated in %.1f s\n",
              years, races, races * kRunners, mb, genSec);
  std::printf("%-34s %10s %10s\n", "", "median s", "MB/s");
  std::printf("%-34s %10.3f %10.0f\n", "BackupBefore (copy + rotation)", o, mb / o);
  std::printf("%-34s %10.3f %10.0f\n", "sqlite3 .backup", s, mb / s);
  std::printf("ratio BackupBefore / sqlite3 .backup: %.2f (%d runs each)\n", o / s, runs);
  std::printf("copies kept: %zu\n", ListBackups().size());
  Teardown();
  return 0;
}
