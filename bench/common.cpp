#include "bench/common.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "startup/platform/applog.h"
#include "tools/fixture/fixture.h"

namespace fs = std::filesystem;

namespace velmo::bench {


std::string g_root;


std::string freshDbFolder(const std::string& name) {
  std::string dir = g_root + name + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* f : {"kova_this.mdb", "kova_data.mdb", "kova_code.mdb"}) {
    fs::copy_file(ProgramDir() + "initDB/" + f, dir + f);
    // On disk before any timing: else the first commit into the copy writes the whole file out.
    int fd = ::open((dir + f).c_str(), O_RDONLY);
    if (fd >= 0) ::fsync(fd), ::close(fd);
  }
  return dir;
}

void openBeforeTiming() {
  auto warmThis = db::Workspace::get().openDatabase(G().gDBDir + "kova_this.mdb");
  auto warmData = db::Workspace::get().openDatabase(G().gDBDir + "kova_data.mdb");
  warmThis->tableNames();
  warmData->tableNames();
}

// The race days of a year: every Saturday and Sunday.
std::vector<std::string> raceDays(int year) {
  std::vector<std::string> out;
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = 0;
  t.tm_mday = 1;
  t.tm_hour = 12;
  for (int i = 0; i < 366; ++i) {
    std::tm d = t;
    d.tm_mday += i;
    std::mktime(&d);
    if (d.tm_year != year - 1900) break;
    if (d.tm_wday == 0 || d.tm_wday == 6) {
      char buf[16];
      std::strftime(buf, sizeof buf, "%Y%m%d", &d);
      out.push_back(buf);
    }
  }
  return out;
}

// A race day of its own race keys: one racecourse, 12 races of 12 runners.
fixture::RaceDay dayOf(const std::string& date, int indexInYear) {
  fixture::RaceDay day;
  day.date = date;
  day.courses = {std::string("0") + std::to_string(indexInYear % 10)};
  day.meeting = 1 + (indexInYear / 10) % 9;
  day.dayNo = 1 + indexInYear / 90;
  day.races = 12;
  day.runners = 12;
  day.seed = static_cast<uint32_t>(indexInYear + 1);
  return day;
}

std::vector<std::string> kindsFor(const std::string& mode) {
  std::vector<std::string> kinds;
  for (const char* k : {"BAB", "KYG", "SEC", "HJC", "TYB", "SKB", "CYA", "SRA", "JOA", "OZ", "ZEC", "KTA", "KAA"}) {
    const DispatchRow* row = DispatchFor(fixture::FileName(k, "20000101"));
    if (row && row->action && reg::FindLayout(k) && !(mode == "D" && row->thisWeekOnly)) kinds.push_back(k);
  }
  return kinds;
}

int YearsOption(int argc, char** argv, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--years") return std::max(1, std::atoi(argv[i + 1]));
  return fallback;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Rows of a file decoded by the layout, ready for a plain insert.
std::vector<std::vector<db::Value>> decodeRows(const reg::Layout& L, const std::string& path) {
  std::vector<std::vector<db::Value>> rows;
  std::string date = reg::RaceDateFromPath(path);
  reg::ForEachRecord(path, L.recordLength, date, [&](const reg::RecordView& rec) {
    std::vector<db::Value> row;
    for (size_t i = 0; i < L.fields.size(); ++i) row.push_back(L.value(i, rec));
    rows.push_back(std::move(row));
  });
  return rows;
}

std::string unconstrainedDb(const std::string& name) {
  std::string dir = g_root + name + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  sqlite3* src = nullptr;
  sqlite3* dst = nullptr;
  sqlite3_open_v2((ProgramDir() + "initDB/kova_this.mdb").c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_open((dir + "kova_this.mdb").c_str(), &dst);
  sqlite3_exec(dst, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* tables = nullptr;
  sqlite3_prepare_v2(src, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", -1, &tables,
                     nullptr);
  while (sqlite3_step(tables) == SQLITE_ROW) {
    std::string t = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
    std::string sql = "CREATE TABLE \"" + t + "\" (";
    sqlite3_stmt* cols = nullptr;
    sqlite3_prepare_v2(src, "SELECT name FROM pragma_table_info(?)", -1, &cols, nullptr);
    sqlite3_bind_text(cols, 1, t.c_str(), -1, SQLITE_TRANSIENT);
    for (int n = 0; sqlite3_step(cols) == SQLITE_ROW; ++n)
      sql += (n ? ",\"" : "\"") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(cols, 0))) + "\"";
    sqlite3_finalize(cols);
    sqlite3_exec(dst, (sql + ")").c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(tables);
  sqlite3_stmt* idx = nullptr;
  sqlite3_prepare_v2(src, "SELECT sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL", -1, &idx, nullptr);
  while (sqlite3_step(idx) == SQLITE_ROW)
    sqlite3_exec(dst, reinterpret_cast<const char*>(sqlite3_column_text(idx, 0)), nullptr, nullptr, nullptr);
  sqlite3_finalize(idx);
  sqlite3_exec(dst, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(src);
  sqlite3_close(dst);
  return dir;
}

// Plain loop: one prepared INSERT of the layout's columns, one transaction.
double plainInsert(const std::string& dbFile, const std::string& table, const reg::Layout& L,
                   const std::vector<std::vector<db::Value>>& rows) {
  sqlite3* c = nullptr;
  sqlite3_open(dbFile.c_str(), &c);
  std::vector<std::string> cols;
  std::vector<size_t> idx;
  for (size_t i = 0; i < L.fields.size(); ++i) {
    bool dup = false;
    for (size_t j = 0; j < cols.size(); ++j)
      if (cols[j] == L.fields[i].column) {
        idx[j] = i;  // a column written twice keeps its last value
        dup = true;
      }
    if (!dup) {
      cols.push_back(L.fields[i].column);
      idx.push_back(i);
    }
  }
  std::string sql = "INSERT INTO \"" + table + "\" (";
  for (size_t i = 0; i < cols.size(); ++i) sql += (i ? ",\"" : "\"") + cols[i] + "\"";
  sql += ") VALUES (";
  for (size_t i = 0; i < cols.size(); ++i) sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
    std::exit(1);
  }
  auto t0 = Clock::now();
  sqlite3_exec(c, "BEGIN", nullptr, nullptr, nullptr);
  for (const auto& row : rows) {
    for (size_t i = 0; i < cols.size(); ++i) {
      const db::Value& v = row[idx[i]];
      if (auto* s = std::get_if<std::string>(&v)) sqlite3_bind_text(st, static_cast<int>(i + 1), s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
      else if (auto* d = std::get_if<double>(&v)) sqlite3_bind_double(st, static_cast<int>(i + 1), *d);
      else sqlite3_bind_null(st, static_cast<int>(i + 1));
    }
    if (sqlite3_step(st) != SQLITE_DONE) {
      std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
      std::exit(1);
    }
    sqlite3_reset(st);
  }
  sqlite3_exec(c, "COMMIT", nullptr, nullptr, nullptr);
  auto t1 = Clock::now();
  sqlite3_finalize(st);
  sqlite3_close(c);
  return seconds(t0, t1);
}


// Registers an archive holding one file of a kind, twice (new rows, then every
// record an update), and runs the plain loop on the same rows.
Result benchKind(const std::string& kind, const std::vector<std::string>& records, const std::string& date) {
  std::string dir = g_root + "arch-" + kind + "/";
  fs::create_directories(dir);
  std::string all;
  for (const auto& r : records) all += r;
  std::string txt = fixture::FileName(kind, date);
  std::string archive = dir + kind + date.substr(2, 6) + ".lzh";
  fixture::WriteLzh(archive, {{txt, all}}, fixture::Method::Stored);
  WriteFileBytes(dir + txt, all);

  // Cold: a fresh workspace, so the run includes opening (attaching) the databases.
  db::Workspace::get().reset();
  G().gDBDir = freshDbFolder("cold-" + kind);
  auto c0 = Clock::now();
  bool failed0 = regMainKOVA(archive, "T");
  auto c1 = Clock::now();
  db::Workspace::get().reset();
  // Warm: the databases are open before timing, as the plain loop's is.
  G().gDBDir = freshDbFolder("db-" + kind);
  openBeforeTiming();
  auto t0 = Clock::now();
  bool failed = regMainKOVA(archive, "T");
  auto t1 = Clock::now();
  bool failed2 = regMainKOVA(archive, "T");
  auto t2 = Clock::now();
  db::Workspace::get().reset();
  if (failed0 || failed || failed2) {
    std::fprintf(stderr, "registration of %s failed; see %sVelmoLog.dat\n", kind.c_str(), ProgramDir().c_str());
    std::exit(1);
  }
  const reg::Layout& L = reg::LayoutFor(kind);
  auto rows = decodeRows(L, dir + txt);
  std::string plainDb = freshDbFolder("plain-" + kind) + "kova_this.mdb";
  double plain = plainInsert(plainDb, "T" + L.table, L, rows);
  double free = plainInsert(unconstrainedDb("free-" + kind) + "kova_this.mdb", "T" + L.table, L, rows);
  return {kind, static_cast<long>(records.size()), seconds(t0, t1), seconds(t1, t2), plain, seconds(c0, c1), free};
}

void report(const std::vector<Result>& results) {
  std::printf("%-8s %9s %14s %14s %14s %8s %14s %12s %8s\n", "kind", "records", "register/s", "again/s", "plain loop/s",
              "ratio", "cold/s", "free loop/s", "vs free");
  for (const auto& r : results) {
    double reg = r.records / r.regSec, again = r.records / r.regAgainSec, plain = r.records / r.plainSec;
    double cold = r.coldSec > 0 ? r.records / r.coldSec : 0;
    double free = r.freeSec > 0 ? r.records / r.freeSec : 0;
    std::printf("%-8s %9ld %14.0f %14.0f %14.0f %8.2f %14.0f %12.0f %8.2f\n", r.label.c_str(), r.records, reg, again, plain,
                reg / plain, cold, free, free > 0 ? reg / free : 0);
  }
  std::printf("register/s: databases open before timing, as in the plain loop; cold/s: the first archive of a\n"
              "process, including opening the databases; again/s: the same archive again, every record an update;\n"
              "free loop/s: the plain loop into a copy of the table without column types or checks (same\n"
              "indexes), the speed of SQLite itself; ratio and vs free: register/s over each loop's rate.\n");
}

void Setup() {
  char tmpl[] = "/tmp/velmo-bench-XXXXXX";
  g_root = AddPathSep(mkdtemp(tmpl));
  if (!std::getenv("VELMO_HOME")) {
    fs::path exe = fs::canonical("/proc/self/exe").parent_path();
    setenv("VELMO_HOME", (exe.parent_path() / "velmo").c_str(), 1);
  }
  G().gSilent = "1";
  G().gTmpDir = g_root + "tmp/";
  fs::create_directories(G().gTmpDir);
  AppLog::instance().setLogFile(g_root + "VelmoLog.dat");
}

void Teardown() { fs::remove_all(g_root); }

}  // namespace velmo::bench
