// Full race day benchmark: registers one generated race day (3 courses, 12 races,
// 18 runners) of every kind that has a reader, one archive per kind, in the
// order of a real day, into one database; then the same day again (every row an
// update). Each kind's rows per second are shown beside a plain SQLite loop that
// inserts the same rows into the same tables with one prepared statement in one
// transaction; the last line compares the whole day.
//   velmo-bench-day [--runners N] [--races N]
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
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

// Plain loop: one prepared statement per table, every row in one transaction.
// With `upsert`, a row whose key is stored already has its fields replaced
// (INSERT ... ON CONFLICT DO UPDATE), as a kind that updates the rows of an
// earlier kind needs; a new row is simply inserted.
struct PlainTable {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::vector<db::Value>> rows;
};

std::vector<std::string> keyColumns(sqlite3* c, const std::string& table) {
  std::vector<std::string> keys;
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT name FROM pragma_index_info('" + table + ".PrimaryKey')";
  if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW) keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return keys;
}

double plainLoop(const std::string& dbFile, const std::vector<PlainTable>& tables, bool upsert) {
  sqlite3* c = nullptr;
  sqlite3_open(dbFile.c_str(), &c);
  sqlite3_exec(c, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);  // the schema read, as opened
  std::vector<std::vector<std::string>> keys;
  for (const auto& t : tables) keys.push_back(upsert ? keyColumns(c, t.table) : std::vector<std::string>{});
  // Preparing its statements is part of the loop's work, as it is of registration's.
  auto t0 = Clock::now();
  std::vector<sqlite3_stmt*> st;
  for (size_t n = 0; n < tables.size(); ++n) {
    const PlainTable& t = tables[n];
    std::string sql = "INSERT INTO \"" + t.table + "\" (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += (i ? ",\"" : "\"") + t.columns[i] + "\"";
    sql += ") VALUES (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    if (!keys[n].empty()) {
      std::string target, sets;
      for (const auto& k : keys[n]) target += (target.empty() ? "\"" : ",\"") + k + "\"";
      for (const auto& col : t.columns)
        if (std::find(keys[n].begin(), keys[n].end(), col) == keys[n].end())
          sets += (sets.empty() ? "\"" : ",\"") + col + "\"=excluded.\"" + col + "\"";
      sql += " ON CONFLICT (" + target + ") DO " + (sets.empty() ? "NOTHING" : "UPDATE SET " + sets);
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(c, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
      std::exit(1);
    }
    st.push_back(s);
  }
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
  std::vector<PlainTable> tables;
  // One figure per run; the report shows each one's median.
  std::vector<double> reg, again, plain, free, empty;
};

}  // namespace

int main(int argc, char** argv) {
  fixture::RaceDay day;
  day.runners = 18;
  int runs = 3;
  // --repeat KIND N: after the day, registers KIND's archive N times more (for profiling).
  std::string repeatKind;
  int repeatTimes = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--runners") day.runners = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--races") day.races = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--repeat" && i + 2 < argc) repeatKind = argv[i + 1], repeatTimes = std::atoi(argv[i + 2]);
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
    r.tables = plainRows(k, txt);
    for (const auto& t : r.tables) r.rows += static_cast<long>(t.rows.size());
    if (std::string(k) == "OV") r.rows = r.records;  // one file per line
    results.push_back(std::move(r));
  }
  std::vector<double> dayReg, dayAgain, dayPlain, dayFree, dayEmpty, dayPipe, dayPipeAgain;
  for (int run = 0; run < runs; ++run) {
    // The loops write the day in the same order into one database each, as
    // registration does: a kind that fills in rows of an earlier kind replaces
    // their fields. "empty" inserts each kind alone into a fresh unconstrained copy.
    const std::string plainDb = freshDbFolder("plain") + "kova_this.mdb";
    const std::string freeDb = unconstrainedDb("free") + "kova_this.mdb";
    double p = 0, f = 0, e = 0;
    for (auto& r : results) {
      if (r.tables.empty()) continue;
      r.plain.push_back(plainLoop(plainDb, r.tables, true));
      r.free.push_back(plainLoop(freeDb, r.tables, true));
      r.empty.push_back(plainLoop(unconstrainedDb("empty-" + r.kind) + "kova_this.mdb", r.tables, false));
      p += r.plain.back(), f += r.free.back(), e += r.empty.back();
    }
    dayPlain.push_back(p), dayFree.push_back(f), dayEmpty.push_back(e);
    db::Workspace::get().reset();
    G().gDBDir = freshDbFolder("db");
    openBeforeTiming();
    for (int pass = 0; pass < 2; ++pass) {
      double total = 0;
      for (size_t i = 0; i < archives.size(); ++i) {
        auto t0 = Clock::now();
        bool failed = regMainKOVA(archives[i], "T");
        double s = seconds(t0, Clock::now());
        if (failed) {
          std::fprintf(stderr, "registration of %s failed; see %sVelmoLog.dat\n", archives[i].c_str(), g_root.c_str());
          return 1;
        }
        (pass == 0 ? results[i].reg : results[i].again).push_back(s);
        total += s;
      }
      (pass == 0 ? dayReg : dayAgain).push_back(total);
    }
    // The same day as velmo-cli register and the registration from files load
    // it: the next archives unpacked and decoded on a second thread. The time
    // includes waiting for an archive that is not ready yet.
    db::Workspace::get().reset();
    G().gDBDir = freshDbFolder("db-pipeline");
    openBeforeTiming();
    for (int pass = 0; pass < 2; ++pass) {
      auto t0 = Clock::now();
      ArchivePipeline pipe(archives, {});
      while (auto prep = pipe.next())
        if (regMain(prep->path, "T", "J", prep.get()) != 0) {
          std::fprintf(stderr, "registration of %s failed; see %sVelmoLog.dat\n", prep->path.c_str(), g_root.c_str());
          return 1;
        }
      (pass == 0 ? dayPipe : dayPipeAgain).push_back(seconds(t0, Clock::now()));
    }
  }
  for (size_t i = 0; i < archives.size(); ++i) {
    if (results[i].kind != repeatKind) continue;
    // The fastest of the registrations: the least disturbed by the machine.
    double best = 1e9, sum = 0;
    for (int n = 0; n < repeatTimes; ++n) {
      auto t0 = Clock::now();
      regMainKOVA(archives[i], "T");
      double s = seconds(t0, Clock::now());
      best = std::min(best, s), sum += s;
    }
    std::printf("%s registered %d times more: %.3f ms each, fastest %.3f ms\n", repeatKind.c_str(), repeatTimes,
                1000 * sum / std::max(1, repeatTimes), 1000 * best);
  }
  db::Workspace::get().reset();

  std::printf("Full race day benchmark: %zu courses x %d races x %d runners, one stored LZH archive per kind;\n"
              "each figure is the median of %d runs\n",
              day.courses.size(), day.races, day.runners, runs);
  std::printf("%-6s %7s %7s %8s %9s %8s %9s %9s %6s %9s %7s %9s %8s\n", "kind", "records", "rows", "regist s",
              "regist/s", "again s", "again/s", "plain/s", "ratio", "free/s", "vs free", "empty/s", "vs empty");
  long records = 0, rows = 0;
  for (const auto& r : results) {
    records += r.records;
    rows += r.rows;
    const double reg = median(r.reg), again = median(r.again);
    if (!r.plain.empty()) {
      const double plain = median(r.plain), free = median(r.free), empty = median(r.empty);
      std::printf("%-6s %7ld %7ld %8.4f %9.0f %8.4f %9.0f %9.0f %6.2f %9.0f %7.2f %9.0f %8.2f\n", r.kind.c_str(), r.records,
                  r.rows, reg, r.rows / reg, again, r.rows / again, r.rows / plain, reg / plain, r.rows / free, free / reg,
                  r.rows / empty, empty / reg);
    } else {
      std::printf("%-6s %7ld %7ld %8.4f %9.0f %8.4f %9.0f %9s %6s %9s %7s %9s %8s\n", r.kind.c_str(), r.records, r.rows, reg,
                  r.rows / reg, again, r.rows / again, "-", "-", "-", "-", "-", "-");
    }
  }
  const double reg = median(dayReg), again = median(dayAgain), plain = median(dayPlain), free = median(dayFree),
               empty = median(dayEmpty);
  std::printf("%-6s %7ld %7ld %8.4f %9.0f %8.4f %9.0f %9.0f %6.2f %9.0f %7.2f %9.0f %8.2f\n", "day", records, rows, reg,
              rows / reg, again, rows / again, rows / plain, reg / plain, rows / free, free / reg, rows / empty, empty / reg);
  std::printf("whole day: register %.3f s (again %.3f s), plain loop %.3f s; register / plain = %.2f (target <= 2)\n",
              reg, again, plain, reg / plain);
  std::printf("unconstrained loop %.3f s; its time over register's: %.2f (target >= 0.5)\n", free, free / reg);
  const double piped = median(dayPipe), pipedAgain = median(dayPipeAgain);
  std::printf("whole day through the pipeline (decode thread ahead): register %.3f s (again %.3f s); unconstrained\n"
              "loop over it: %.2f (one thread: %.2f); plain over it: %.2f\n",
              piped, pipedAgain, free / piped, free / reg, plain / piped);
  std::printf("plain: the rows written by one prepared statement per table (prepared within the time) into the\n"
              "real tables, the day in one database in registration order, a row already stored having its fields\n"
              "replaced (ON CONFLICT DO UPDATE); ratio: register time over the plain loop's. free: the same into a\n"
              "copy of the tables without column types or checks (same indexes), the speed of SQLite itself; vs free:\n"
              "its time over register's. empty: each kind alone inserted into an empty unconstrained copy; vs empty:\n"
              "its time over register's.\n");
  Teardown();
  return 0;
}
