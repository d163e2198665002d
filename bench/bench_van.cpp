// JRA-VAN conversion benchmark: a generated year of JRA-VAN archives (two race
// days a week, each archive holding JracSei1.dat, JracSeih.dat, JracDen1.dat and
// JracUmaj.dat) converted through regMain(…, "V") into this week's database,
// against a plain SQLite loop that writes the same rows (results, entries, the
// work table, programmes, payouts, horses) with prepared INSERTs, one
// transaction per race day.
// The jockey and trainer code conversion tables are filled as a member's master
// update leaves them: most of the JRA-VAN codes the files use have a provider
// code, a few do not (they stay JRA-VAN codes), and many rows name people who
// do not ride or train in the generated year.
//   velmo-bench-van [--weeks N] [--courses N] [--empty-codes] [--keep DIR]
//   (default 52 weeks, 3 racecourses of 12 races × 16 runners; --empty-codes leaves
//   the conversion tables empty; --keep copies the converted databases into DIR)
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
#include "tools/fixture/van.h"

using namespace velmo;
using namespace velmo::bench;

namespace {

struct TableRows {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::vector<db::Value>> rows;
};

TableRows readRows(db::Database& d, const std::string& table, const std::string& where) {
  TableRows t{table, {}, {}};
  auto q = d.openQuery("SELECT * FROM " + table + (where.empty() ? "" : " WHERE " + where) + ";");
  t.columns = q->columns;
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::vector<db::Value> r;
    for (size_t i = 0; i < q->columns.size(); ++i) r.push_back(q->get(static_cast<int>(i)));
    t.rows.push_back(std::move(r));
  }
  return t;
}

void bind(sqlite3_stmt* st, int i, const db::Value& v) {
  if (std::holds_alternative<std::monostate>(v)) sqlite3_bind_null(st, i);
  else if (auto p = std::get_if<int64_t>(&v)) sqlite3_bind_int64(st, i, *p);
  else if (auto d = std::get_if<double>(&v)) sqlite3_bind_double(st, i, *d);
  else {
    const auto& s = std::get<std::string>(v);
    sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
  }
}

// Inserts the rows group by group, one transaction per group; returns the seconds taken and the rows written.
double plainLoop(const std::string& dbFile, const std::vector<std::vector<TableRows>>& groups, long& written,
                 double& cpu) {
  sqlite3* c = nullptr;
  sqlite3_open(dbFile.c_str(), &c);
  sqlite3_exec(c, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
  written = 0;
  std::vector<std::pair<std::string, sqlite3_stmt*>> stmts;
  auto stmtFor = [&](const TableRows& t) {
    for (auto& [name, st] : stmts)
      if (name == t.table) return st;
    std::string sql = "INSERT OR REPLACE INTO \"" + t.table + "\" (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += (i ? ",\"" : "\"") + t.columns[i] + "\"";
    sql += ") VALUES (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "plain loop: %s\n", sqlite3_errmsg(c));
      std::exit(1);
    }
    stmts.emplace_back(t.table, st);
    return st;
  };
  auto t0 = Clock::now();
  std::clock_t c0 = std::clock();
  for (const auto& group : groups) {
    sqlite3_exec(c, "BEGIN", nullptr, nullptr, nullptr);
    for (const auto& t : group) {
      if (t.rows.empty()) continue;
      sqlite3_stmt* st = stmtFor(t);
      for (const auto& r : t.rows) {
        for (size_t i = 0; i < r.size(); ++i) bind(st, static_cast<int>(i + 1), r[i]);
        sqlite3_step(st);
        sqlite3_reset(st);
        ++written;
      }
    }
    sqlite3_exec(c, "COMMIT", nullptr, nullptr, nullptr);
  }
  auto t1 = Clock::now();
  cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  for (auto& [name, st] : stmts) sqlite3_finalize(st);
  sqlite3_close(c);
  return seconds(t0, t1);
}

// Rows of "S騎手コード変換" / "S調教師コード変換": the fixture's JRA-VAN codes (jockeys
// 01000 + 7i, trainers 01100 + 3i) but the last of each, and filler rows of other
// people; provider codes are five digits from 10000.
void fillCodeTables(db::Database& d) {
  auto code = [](long n) {
    char b[16];
    std::snprintf(b, sizeof b, "%05ld", n);
    return std::string(b);
  };
  d.execute("DELETE FROM S騎手コード変換;");
  d.execute("DELETE FROM S調教師コード変換;");
  auto jockeys = d.openTable("S騎手コード変換");
  auto trainers = d.openTable("S調教師コード変換");
  auto add = [&](db::Recordset& rs, const char* nameCol, const std::string& jra, const std::string& kova,
                 const std::string& name) {
    rs.addNew();
    rs.set("Jravan", jra);
    rs.set("Kova", kova);
    rs.set(nameCol, name);
    rs.update();
  };
  for (int i = 0; i < 7; ++i) add(*jockeys, "騎手名", code(1000 + 7L * i), code(10100 + i), "騎手" + std::to_string(i));
  for (int i = 0; i < 5; ++i) add(*trainers, "調教師名", code(1100 + 3L * i), code(10200 + i), "調教師" + std::to_string(i));
  for (int i = 0; i < 500; ++i) add(*jockeys, "騎手名", code(5000 + i), code(20000 + i), "騎手" + std::to_string(100 + i));
  for (int i = 0; i < 400; ++i) add(*trainers, "調教師名", code(6000 + i), code(30000 + i), "調教師" + std::to_string(100 + i));
}

std::string dateOf(int dayIndex) {
  // Saturdays and Sundays from 2005-01-01 (a Saturday), by a plain calendar walk.
  static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int offset = (dayIndex / 2) * 7 + dayIndex % 2;
  int m = 0;
  while (m < 12 && offset >= mdays[m]) offset -= mdays[m++];
  char b[16];
  std::snprintf(b, sizeof b, "2005%02d%02d", m + 1, offset + 1);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  int weeks = 52, courses = 3;
  bool filled = true;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--empty-codes") filled = false;
    if (i + 1 >= argc) continue;
    if (a == "--weeks") weeks = std::max(1, std::min(52, std::atoi(argv[i + 1])));
    if (a == "--courses") courses = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--keep") keep = argv[i + 1];
  }
  Setup();
  std::vector<std::string> archives;
  fixture::RaceDay day;
  day.courses.clear();
  for (int c = 1; c <= courses; ++c) day.courses.push_back((c < 10 ? "0" : "") + std::to_string(c));
  for (int d = 0; d < weeks * 2; ++d) {
    day.date = dateOf(d);
    day.meeting = 1 + (d / 16) % 5;  // eight-day meetings, as a racecourse holds them
    day.dayNo = 1 + d % 8;
    archives.push_back(fixture::WriteVanArchive(g_root + "arc/" + std::to_string(d) + "/", day,
                                                {"JracSei1.dat", "JracSeih.dat", "JracDen1.dat", "JracUmaj.dat"}));
  }
  G().gDBDir = freshDbFolder("van");
  {
    auto warm = db::Workspace::get().openDatabase(G().gDBDir + "kova_this.mdb");
    auto warmCode = db::Workspace::get().openDatabase(G().gDBDir + "kova_code.mdb");
    warm->tableNames();
    warmCode->tableNames();
    if (filled) fillCodeTables(*warm);
  }
  auto t0 = Clock::now();
  std::clock_t c0 = std::clock();
  for (const auto& a : archives)
    if (regMain(a, "T", "V") != 0) {
      std::fprintf(stderr, "conversion of %s failed; see %sVelmoLog.dat\n", a.c_str(), ProgramDir().c_str());
      return 1;
    }
  auto t1 = Clock::now();
  double convCpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  // The same archives again into fresh databases, loaded as velmo-cli register
  // and the registration from files load them: a couple of seconds a commit.
  const std::string firstDir = G().gDBDir;
  G().gDBDir = freshDbFolder("van-batch");
  {
    auto warm = db::Workspace::get().openDatabase(G().gDBDir + "kova_this.mdb");
    if (filled) fillCodeTables(*warm);
  }
  long batchCommits = 0;
  auto b0 = Clock::now();
  std::clock_t bc0 = std::clock();
  {
    ArchiveBatch batch(G().gDBDir);
    ArchivePipeline::Options ahead;
    ahead.source = "V";
    ArchivePipeline pipe(archives, ahead);
    while (auto prep = pipe.next()) {
      const std::string& a = prep->path;
      batch.begin();
      if (regMain(a, "T", "V", prep.get()) != 0) {
        std::fprintf(stderr, "conversion of %s failed; see %sVelmoLog.dat\n", a.c_str(), ProgramDir().c_str());
        return 1;
      }
      if (batch.due()) batch.commit(), ++batchCommits;
    }
    batch.commit();
    ++batchCommits;
  }
  auto b1 = Clock::now();
  double batchCpu = static_cast<double>(std::clock() - bc0) / CLOCKS_PER_SEC;
  G().gDBDir = firstDir;
  // The same rows, day by day, read back from the converted tables.
  std::vector<std::vector<TableRows>> days, perFile;
  {
    auto d = db::Workspace::get().openDatabase(G().gDBDir + "kova_this.mdb");
    TableRows horses = readRows(*d, "T馬基本データ", "");
    for (int i = 0; i < weeks * 2; ++i) {
      std::string date = dateOf(i);
      std::vector<TableRows> rows;
      rows.push_back(readRows(*d, "T番組データ", "年月日='" + date + "'"));
      rows.push_back(readRows(*d, "T成績データ", "年月日='" + date + "'"));
      rows.push_back(readRows(*d, "T競走馬データ", "競走成績キー like '*" + date + "'"));
      TableRows work{"W出走馬", {"レースキー", "馬番", "血統登録番号", "障害フラグ"}, {}};
      for (const auto& r : rows.back().rows) work.rows.push_back({r[1], r[2], r[3], std::string("0")});
      rows.push_back(std::move(work));
      std::string keys;
      for (const auto& r : rows[0].rows) keys += (keys.empty() ? "'" : ",'") + db::toText(r[0]) + "'";
      rows.push_back(keys.empty() ? TableRows{"T払戻情報データ", {}, {}}
                                  : readRows(*d, "T払戻情報データ", "レースキー in (" + keys + ")"));
      rows.push_back(horses);
      // The conversion commits once per file: race card (programmes, entries, work
      // table), results (results, payouts), exacta and trio payouts, horses.
      perFile.push_back({rows[0], rows[2], rows[3]});
      perFile.push_back({rows[1], rows[4]});
      perFile.push_back({TableRows{rows[4].table, rows[4].columns, rows[4].rows}});
      perFile.push_back({rows[5]});
      days.push_back(std::move(rows));
    }
    d->close();
  }
  db::Workspace::get().reset();
  if (!keep.empty()) {
    std::filesystem::create_directories(keep);
    for (const char* f : {"kova_this.mdb", "kova_data.mdb", "kova_code.mdb"})
      std::filesystem::copy_file(G().gDBDir + f, keep + "/" + f, std::filesystem::copy_options::overwrite_existing);
  }
  long written = 0, written2 = 0;
  double plainCpu = 0, plainDayCpu = 0;
  double plain = plainLoop(freshDbFolder("plain") + "kova_this.mdb", perFile, written, plainCpu);
  double plainDay = plainLoop(freshDbFolder("plain-day") + "kova_this.mdb", days, written2, plainDayCpu);
  // The days grouped as the batched load committed them.
  std::vector<std::vector<TableRows>> batches;
  const size_t perBatch = std::max<size_t>(1, days.size() / static_cast<size_t>(batchCommits));
  for (size_t i = 0; i < days.size(); ++i) {
    if (i % perBatch == 0) batches.emplace_back();
    for (const auto& t : days[i]) batches.back().push_back(t);
  }
  long written3 = 0;
  double plainBatchCpu = 0;
  double plainBatch = plainLoop(freshDbFolder("plain-batch") + "kova_this.mdb", batches, written3, plainBatchCpu);
  double conv = seconds(t0, t1), convBatch = seconds(b0, b1);
  std::printf("JRA-VAN year: %d race days × %d races × %d runners, %zu archives; code conversion tables %s\n", weeks * 2,
              courses * 12, day.runners, archives.size(), filled ? "filled" : "empty");
  std::printf("%-22s %10s %10s %12s %10s %12s\n", "", "rows", "wall s", "rows/s", "CPU s", "rows/CPU s");
  auto line = [](const char* what, long rows, double wall, double cpu) {
    std::printf("%-22s %10ld %10.2f %12.0f %10.2f %12.0f\n", what, rows, wall, rows / wall, cpu, rows / cpu);
  };
  line("regMain V (convert)", written, conv, convCpu);
  line("plain loop, per file", written, plain, plainCpu);
  line("plain loop, per day", written2, plainDay, plainDayCpu);
  std::printf("ratio to the plain loop per file: wall %.2f, CPU %.2f; per day: wall %.2f, CPU %.2f\n", plain / conv,
              plainCpu / convCpu, plainDay / conv, plainDayCpu / convCpu);
  char what[64];
  std::snprintf(what, sizeof what, "batched (%ld commits)", batchCommits);
  line(what, written, convBatch, batchCpu);
  line("plain loop, per batch", written3, plainBatch, plainBatchCpu);
  std::printf("ratio of the batched load to the plain loop per batch: wall %.2f, CPU %.2f\n", plainBatch / convBatch,
              plainBatchCpu / batchCpu);
  std::printf("rows: every row the conversion writes (payout rows twice: both payout files of a race); the plain\n"
              "loop writes them with prepared INSERTs, committing as often as the conversion (once per file) or once\n"
              "per day. The conversion's time includes unpacking the archives. Batched: the archives loaded as\n"
              "velmo-cli register --source V loads them (the next archives unpacked on a second thread), beside the plain loop committing as often. CPU: this process's processor time,\n"
              "the fairer figure on a machine shared with other work.\n");
  Teardown();
  return 0;
}
