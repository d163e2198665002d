// Full race day benchmark: registers one generated race day (3 courses, 12 races,
// 18 runners) of every kind that has a reader, one archive per kind, in the
// order of a real day, into one database; then the same day again (every row an
// update). Each kind's rows per second are shown beside a plain SQLite loop that
// inserts the same rows into the same tables with one prepared statement in one
// transaction; the last line compares the whole day.
//   velmo-bench-day [--runners N] [--races N]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "registration/layout.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using namespace velmo::bench;
namespace fs = std::filesystem;

namespace {

// The day in registration order: the pack kinds of the day before, pre-race
// information, odds, results and payouts, then the masters.
const char* const kDay[] = {"BA",  "BAA", "BAB", "KAA", "KYC", "KYD", "KYE", "KYF", "KYG", "KTA", "KKA", "UKA", "UKB",
                            "UKC", "ZEB", "ZEC", "ZKA", "ZKB", "JOA", "CYA", "TY",  "TYA", "TYB", "OZ",  "OW",  "OU",
                            "OT",  "OV",  "SEB", "SEC", "SKA", "SKB", "SRA", "HJA", "HJB", "HJC", "KZA", "CZA", "MZA"};

bool hasReader(const std::string& kind, const std::string& date) {
  const DispatchRow* row = DispatchFor(fixture::FileName(kind, date));
  return row && row->action && reg::FindLayout(kind);
}

using Combo = std::vector<int>;
std::vector<Combo> unordered() {
  std::vector<Combo> r;
  for (int i = 1; i <= 17; ++i)
    for (int k = i + 1; k <= 18; ++k) r.push_back({i, k});
  return r;
}
std::vector<Combo> ordered() {
  std::vector<Combo> r;
  for (int i = 1; i <= 18; ++i)
    for (int k = 1; k <= 18; ++k)
      if (i != k) r.push_back({i, k});
  return r;
}
std::vector<Combo> triples() {
  std::vector<Combo> r;
  for (int i = 1; i <= 16; ++i)
    for (int k = i + 1; k <= 17; ++k)
      for (int l = k + 1; l <= 18; ++l) r.push_back({i, k, l});
  return r;
}

std::string two(int h) {
  char b[4];
  std::snprintf(b, sizeof b, "%02d", h);
  return b;
}

bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// Plain loop: one prepared INSERT per table, every row in one transaction.
struct PlainTable {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::vector<db::Value>> rows;
};

double plainLoop(const std::string& dbFile, const std::vector<PlainTable>& tables) {
  sqlite3* c = nullptr;
  sqlite3_open(dbFile.c_str(), &c);
  std::vector<sqlite3_stmt*> st;
  for (const auto& t : tables) {
    std::string sql = "INSERT INTO \"" + t.table + "\" (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += (i ? ",\"" : "\"") + t.columns[i] + "\"";
    sql += ") VALUES (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(c, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
      std::exit(1);
    }
    st.push_back(s);
  }
  auto t0 = Clock::now();
  sqlite3_exec(c, "BEGIN", nullptr, nullptr, nullptr);
  for (size_t k = 0; k < tables.size(); ++k)
    for (const auto& row : tables[k].rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (auto* s = std::get_if<std::string>(&row[i]))
          sqlite3_bind_text(st[k], static_cast<int>(i + 1), s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
        else if (auto* d = std::get_if<double>(&row[i]))
          sqlite3_bind_double(st[k], static_cast<int>(i + 1), *d);
        else sqlite3_bind_null(st[k], static_cast<int>(i + 1));
      }
      if (sqlite3_step(st[k]) != SQLITE_DONE) {
        std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
        std::exit(1);
      }
      sqlite3_reset(st[k]);
    }
  sqlite3_exec(c, "COMMIT", nullptr, nullptr, nullptr);
  auto t1 = Clock::now();
  for (auto* s : st) sqlite3_finalize(s);
  sqlite3_close(c);
  return seconds(t0, t1);
}

// Rows per combination of an odds file, as the readers write them.
void comboRows(const std::string& path, int recordLength, int from, int entryLength, const std::vector<Combo>& combos,
               PlainTable& out, int horses) {
  reg::ForEachRecord(path, recordLength, reg::RaceDateFromPath(path), [&](const reg::RecordView& rec) {
    std::string key = rec.raw(0, 8);
    for (size_t m = 0; m < combos.size(); ++m) {
      std::string v = rec.raw(from + static_cast<int>(m) * entryLength, entryLength);
      if (blank(v)) continue;
      std::vector<db::Value> row{key};
      for (int i = 0; i < horses; ++i) row.emplace_back(two(combos[m][static_cast<size_t>(i)]));
      row.emplace_back(v);
      out.rows.push_back(std::move(row));
    }
  });
}

// The rows a kind's reader writes, table by table, for the plain loop.
std::vector<PlainTable> plainRows(const std::string& kind, const std::string& path) {
  const reg::Layout& L = reg::LayoutFor(kind);
  std::vector<PlainTable> out;
  auto wide = [&] {
    PlainTable t{"T" + L.table, {}, decodeRows(L, path)};
    for (const auto& f : L.fields) t.columns.push_back(f.column);
    out.push_back(std::move(t));
  };
  if (kind == "OV") return out;
  if (kind == "OZ") {
    wide();
    PlainTable wp{"T基準オッズ単複", {"レースキー", "馬番1", "単勝基準", "複勝基準"}, {}};
    reg::ForEachRecord(path, L.recordLength, reg::RaceDateFromPath(path), [&](const reg::RecordView& rec) {
      for (int h = 1; h <= 18; ++h) {
        std::string win = rec.raw(10 + (h - 1) * 5, 5), place = rec.raw(100 + (h - 1) * 5, 5);
        if (!blank(win)) wp.rows.push_back({rec.raw(0, 8), two(h), win, blank(place) ? db::Value{} : db::Value{place}});
      }
    });
    out.push_back(std::move(wp));
    PlainTable q{"T基準オッズ馬連", {"レースキー", "馬番1", "馬番2", "馬連基準"}, {}};
    comboRows(path, L.recordLength, 190, 5, unordered(), q, 2);
    out.push_back(std::move(q));
  } else if (kind == "OW") {
    wide();
    PlainTable w{"T基準オッズワイド", {"レースキー", "馬番1", "馬番2", "ワイド基準"}, {}};
    comboRows(path, L.recordLength, 10, 5, unordered(), w, 2);
    out.push_back(std::move(w));
  } else if (kind == "OU") {
    PlainTable e{"T基準オッズ馬単", {"レースキー", "馬番1", "馬番2", "馬単基準"}, {}};
    comboRows(path, L.recordLength, 10, 6, ordered(), e, 2);
    out.push_back(std::move(e));
  } else if (kind == "OT") {
    PlainTable t{"T基準オッズ３連複", {"レースキー", "馬番1", "馬番2", "馬番3", "３連複基準"}, {}};
    comboRows(path, L.recordLength, 10, 6, triples(), t, 3);
    out.push_back(std::move(t));
  } else {
    // A column written twice keeps its last value.
    PlainTable t{"T" + L.table, {}, {}};
    std::vector<size_t> idx;
    for (size_t i = 0; i < L.fields.size(); ++i) {
      bool dup = false;
      for (size_t j = 0; j < t.columns.size(); ++j)
        if (t.columns[j] == L.fields[i].column) idx[j] = i, dup = true;
      if (!dup) t.columns.push_back(L.fields[i].column), idx.push_back(i);
    }
    for (auto& r : decodeRows(L, path)) {
      std::vector<db::Value> row;
      for (size_t i : idx) row.push_back(r[i]);
      t.rows.push_back(std::move(row));
    }
    out.push_back(std::move(t));
  }
  return out;
}

struct KindResult {
  std::string kind;
  long records = 0, rows = 0;
  double reg = 0, again = 0, plain = 0, free = 0;
};

}  // namespace

int main(int argc, char** argv) {
  fixture::RaceDay day;
  day.runners = 18;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--runners") day.runners = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--races") day.races = std::atoi(argv[i + 1]);
  }
  Setup();
  std::string dir = g_root + "day/";
  fs::create_directories(dir);
  std::vector<KindResult> results;
  std::vector<std::string> archives;
  for (const char* k : kDay) {
    if (!hasReader(k, day.date)) continue;
    KindResult r;
    r.kind = k;
    archives.push_back(fixture::WriteDayArchives(dir, {k}, day).at(0));
    std::string txt = dir + fixture::FileName(k, day.date);
    auto records = fixture::DayRecords(k, day);
    fixture::WriteRecords(txt, records);
    r.records = static_cast<long>(records.size());
    auto tables = plainRows(k, txt);
    for (const auto& t : tables) r.rows += static_cast<long>(t.rows.size());
    if (std::string(k) == "OV") r.rows = r.records;  // one file per line
    if (!tables.empty()) {
      r.plain = plainLoop(freshDbFolder("plain-" + r.kind) + "kova_this.mdb", tables);
      r.free = plainLoop(unconstrainedDb("free-" + r.kind) + "kova_this.mdb", tables);
    }
    results.push_back(r);
  }
  G().gDBDir = freshDbFolder("db");
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < archives.size(); ++i) {
      auto t0 = Clock::now();
      bool failed = regMainKOVA(archives[i], "T");
      double s = seconds(t0, Clock::now());
      if (failed) {
        std::fprintf(stderr, "registration of %s failed; see %sVelmoLog.dat\n", archives[i].c_str(), g_root.c_str());
        return 1;
      }
      (pass == 0 ? results[i].reg : results[i].again) = s;
    }
  }
  db::Workspace::get().reset();

  std::printf("Full race day benchmark: %zu courses x %d races x %d runners, one stored LZH archive per kind\n",
              day.courses.size(), day.races, day.runners);
  std::printf("%-6s %8s %8s %10s %11s %10s %11s %11s %7s %11s %8s\n", "kind", "records", "rows", "register s",
              "register/s", "again s", "again/s", "plain/s", "ratio", "free/s", "vs free");
  KindResult total;
  double plainTotal = 0, freeTotal = 0;
  for (const auto& r : results) {
    total.records += r.records;
    total.rows += r.rows;
    total.reg += r.reg;
    total.again += r.again;
    plainTotal += r.plain;
    freeTotal += r.free;
    if (r.plain > 0)
      std::printf("%-6s %8ld %8ld %10.3f %11.0f %10.3f %11.0f %11.0f %7.2f %11.0f %8.2f\n", r.kind.c_str(), r.records, r.rows,
                  r.reg, r.rows / r.reg, r.again, r.rows / r.again, r.rows / r.plain, r.reg / r.plain, r.rows / r.free,
                  r.free / r.reg);
    else
      std::printf("%-6s %8ld %8ld %10.3f %11.0f %10.3f %11.0f %11s %7s\n", r.kind.c_str(), r.records, r.rows, r.reg,
                  r.rows / r.reg, r.again, r.rows / r.again, "-", "-");
  }
  std::printf("%-6s %8ld %8ld %10.3f %11.0f %10.3f %11.0f %11.0f %7.2f %11.0f %8.2f\n", "day", total.records, total.rows,
              total.reg, total.rows / total.reg, total.again, total.rows / total.again, total.rows / plainTotal,
              total.reg / plainTotal, total.rows / freeTotal, freeTotal / total.reg);
  std::printf("whole day: register %.3f s (again %.3f s), plain loop %.3f s; register / plain = %.2f (target <= 2)\n",
              total.reg, total.again, plainTotal, total.reg / plainTotal);
  std::printf("unconstrained loop %.3f s; its rate over register's: %.2f (target >= 0.5). ratio: register time over\n"
              "the plain loop's; vs free: the unconstrained loop's time over register's (rate ratio).\n",
              freeTotal, freeTotal / total.reg);
  Teardown();
  return 0;
}
