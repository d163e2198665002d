// Maintenance figures over a generated past database of N years (default 3,
// --years 10 for the full figure), each beside a plain SQLite baseline:
// building the past database from D archives (loaded as from files: committed
// a couple of seconds' worth at a time; the plain loop once per file and once
// per batch of as many days), the weekly changeover, deleting
// one year, the data list rebuild, compaction and the data check.
#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "maintenance/backup.h"
#include "maintenance/maintenance.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
#include "schema/datacheck.h"
#include "startup/platform/db.h"
#include "tools/fixture/fixture.h"

namespace fs = std::filesystem;
namespace fx = velmo::fixture;
using namespace velmo;
using namespace velmo::bench;

namespace {

long peakKB() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

void exec(sqlite3* c, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(c, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "plain SQL: %s\n  %s\n", err ? err : "?", sql.substr(0, 200).c_str());
    std::exit(1);
  }
}

void line(const char* what, double velmo, double plain, const std::string& note) {
  if (plain > 0)
    std::printf("%-34s %9.3f s %9.3f s %7.2f  %s\n", what, velmo, plain, velmo / plain, note.c_str());
  else
    std::printf("%-34s %9.3f s %11s %7s  %s\n", what, velmo, "-", "-", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int years = YearsOption(argc, argv, 3);
  // --one-thread: the build without the decode thread, for comparison; --build-only: stop after the build.
  bool oneThread = false, buildOnly = false;
  for (int i = 1; i < argc; ++i) {
    oneThread = oneThread || std::strcmp(argv[i], "--one-thread") == 0;
    buildOnly = buildOnly || std::strcmp(argv[i], "--build-only") == 0;
  }
  Setup();
  SetMsgBoxHandler([](const MsgRequest& r) { return r.buttons == vbYesNo ? int(vbYes) : int(vbOK); });
  G().gDBDir = freshDbFolder("velmo");
  G().gLzhDir = g_root + "lzh/";
  G().gDwnDir = g_root + "dwn/";
  fs::create_directories(G().gLzhDir);
  fs::create_directories(G().gDwnDir);
  const std::string plainDir = freshDbFolder("plain");
  const std::vector<std::string> dKinds = kindsFor("D");

  // ---- Building the past database --------------------------------------------
  sqlite3* plainFile = nullptr;
  sqlite3* plainBatch = nullptr;
  sqlite3_open((plainDir + "kova_data.mdb").c_str(), &plainFile);
  sqlite3_open((freshDbFolder("plain-batch") + "kova_data.mdb").c_str(), &plainBatch);
  bool plainOpen = false;
  long plainDays = 0, plainCommits = 0, batchDays = 0, velmoCommits = 0;
  std::unique_ptr<ArchiveBatch> batch;
  double regSec = 0, plainSec = 0, plainBatchSec = 0;
  long rows = 0;
  long peakAfterFirstYear = 0;
  const int firstYear = 2000;
  const std::string work = g_root + "gen/";
  for (int y = 0; y < years; ++y) {
    std::vector<std::string> days = raceDays(firstYear + y);
    for (size_t i = 0; i < days.size(); ++i) {
      fs::remove_all(work);
      fs::create_directories(work);
      fx::RaceDay day = dayOf(days[i], static_cast<int>(i));
      std::vector<std::string> archives = fx::WriteDayArchives(work, dKinds, day);
      OrderArchives(archives);
      // The plain loop's rows: the same files decoded by their layouts.
      std::vector<std::pair<std::string, std::vector<std::vector<db::Value>>>> files;
      for (const auto& k : dKinds) {
        const reg::Layout& L = reg::LayoutFor(k);
        std::string txt = work + fx::FileName(k, day.date);
        fx::WriteRecords(txt, fx::DayRecords(k, day));
        files.emplace_back(k, decodeRows(L, txt));
      }
      auto t0 = Clock::now();
      // As a member loads archives from files: a batch commits every couple of seconds.
      if (!batch) batch = std::make_unique<ArchiveBatch>(G().gDBDir);
      // The next archives unpacked and decoded on a second thread, as velmo-cli register loads them.
      ArchivePipeline::Options ahead;
      ahead.mode = "D";
      std::unique_ptr<ArchivePipeline> pipe;
      if (!oneThread) pipe = std::make_unique<ArchivePipeline>(archives, ahead);
      for (const auto& a : archives) {
        std::unique_ptr<PreparedArchive> prep = pipe ? pipe->next() : nullptr;
        batch->begin();
        if (regMain(a, "D", "J", prep.get()) != 0) {
          std::fprintf(stderr, "registration of %s failed; see %sVelmoLog.dat\n", a.c_str(), g_root.c_str());
          return 1;
        }
        if (batch->due()) {
          batch->commit();
          ++velmoCommits;
        }
      }
      const bool lastDay = y + 1 == years && i + 1 == days.size();
      if (lastDay) {
        batch->commit();
        ++velmoCommits;
        batch.reset();
      }
      ++batchDays;
      auto t1 = Clock::now();
      regSec += seconds(t0, t1);
      // Plain: INSERT OR REPLACE of each file's rows, one transaction per file
      // into one copy and one transaction per batch of days (as many days as
      // the registration's batches held on average so far) into the other.
      for (int copy = 0; copy < 2; ++copy) {
      sqlite3* plain = copy == 0 ? plainFile : plainBatch;
      if (copy == 1 && !plainOpen) {
        exec(plain, "BEGIN");
        plainOpen = true;
      }
      auto p0 = Clock::now();
      for (const auto& [k, fileRows] : files) {
        const reg::Layout& L = reg::LayoutFor(k);
        std::vector<std::string> cols;
        std::vector<size_t> idx;
        for (size_t f = 0; f < L.fields.size(); ++f) {
          bool dup = false;
          for (size_t j = 0; j < cols.size(); ++j)
            if (cols[j] == L.fields[f].column) idx[j] = f, dup = true;
          if (!dup) cols.push_back(L.fields[f].column), idx.push_back(f);
        }
        std::string sql = "INSERT OR REPLACE INTO \"D" + L.table + "\" (";
        for (size_t c = 0; c < cols.size(); ++c) sql += (c ? ",\"" : "\"") + cols[c] + "\"";
        sql += ") VALUES (";
        for (size_t c = 0; c < cols.size(); ++c) sql += c ? ",?" : "?";
        sql += ")";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(plain, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) continue;
        if (copy == 0) exec(plain, "BEGIN");
        for (const auto& row : fileRows) {
          for (size_t c = 0; c < cols.size(); ++c) {
            const db::Value& v = row[idx[c]];
            int n = static_cast<int>(c + 1);
            if (db::isNull(v)) sqlite3_bind_null(st, n);
            else if (auto* i = std::get_if<int64_t>(&v)) sqlite3_bind_int64(st, n, *i);
            else if (auto* d = std::get_if<double>(&v)) sqlite3_bind_double(st, n, *d);
            else sqlite3_bind_text(st, n, std::get<std::string>(v).c_str(), -1, SQLITE_TRANSIENT);
          }
          sqlite3_step(st);
          sqlite3_reset(st);
          if (copy == 0) ++rows;
        }
        if (copy == 0) exec(plain, "COMMIT");
        sqlite3_finalize(st);
      }
      if (copy == 1) {
        ++plainDays;
        const bool lastDay = y + 1 == years && i + 1 == days.size();
        if (lastDay || plainDays >= std::max(1L, batchDays / std::max(1L, velmoCommits))) {
          exec(plain, "COMMIT");
          plainOpen = false;
          plainDays = 0;
          ++plainCommits;
        }
      }
      (copy == 0 ? plainSec : plainBatchSec) += seconds(p0, Clock::now());
      }
    }
    if (y == 0) peakAfterFirstYear = peakKB();
  }
  sqlite3_close(plainFile);
  sqlite3_close(plainBatch);
  fs::remove_all(work);
  db::Workspace::get().reset();
  const double sizeMB = static_cast<double>(fs::file_size(G().gDBDir + "kova_data.mdb")) / 1048576.0;

  std::printf("velmo-bench-maintenance: %d year(s) of race days, %zu kinds, %ld file rows, kova_data.mdb %.1f MB\n",
              years, dKinds.size(), rows, sizeMB);
  std::printf("%-34s %11s %11s %7s\n", "", "velmo", "plain", "ratio");
  char note[128];
  std::snprintf(note, sizeof note, "rows/s %.0f vs %.0f; peak %ld KB after year 1, %ld KB at the end", rows / regSec,
                rows / plainSec, peakAfterFirstYear, peakKB());
  line("build past DB (register D archives)", regSec, plainSec, note);
  std::snprintf(note, sizeof note, "rows/s %.0f vs %.0f; %ld commits, about %ld race days each", rows / regSec,
                rows / plainBatchSec, velmoCommits, batchDays / std::max(1L, velmoCommits));
  line("  against plain, one commit per batch", regSec, plainBatchSec, note);
  std::printf("%-34s %s; rate against plain per batch %.2f\n", "", oneThread ? "one thread" : "decode thread ahead",
              plainBatchSec / regSec);
  if (buildOnly) {
    db::Workspace::get().reset();
    Teardown();
    return 0;
  }

  // ---- Weekly changeover ------------------------------------------------------
  for (size_t i = 0; i < 2; ++i) {
    fs::remove_all(work);
    fs::create_directories(work);
    fx::RaceDay day = dayOf(i == 0 ? "20991003" : "20991004", static_cast<int>(i));
    auto archives = fx::WriteDayArchives(work, kindsFor("T"), day);
    OrderArchives(archives);
    for (const auto& a : archives) regMain(a, "T", "J");
  }
  db::Workspace::get().reset();
  const std::string plainWeek = g_root + "plainweek/";
  fs::create_directories(plainWeek);
  for (const char* f : {"kova_this.mdb", "kova_data.mdb"})
    fs::copy_file(G().gDBDir + f, plainWeek + f, fs::copy_options::overwrite_existing);
  auto w0 = Clock::now();
  Outcome o = WeekChange(NullCommandUi());
  auto w1 = Clock::now();
  if (o != Outcome::Done) {
    std::fprintf(stderr, "changeover failed; see %sVelmoLog.dat\n", g_root.c_str());
    return 1;
  }
  db::Workspace::get().reset();
  double plainChange = 0;
  {
    sqlite3* c = nullptr;
    sqlite3_open((plainWeek + "kova_this.mdb").c_str(), &c);
    exec(c, "ATTACH '" + plainWeek + "kova_data.mdb' AS past");
    auto p0 = Clock::now();
    for (const auto& step : ChangeoverSteps()) {
      std::string base = step.baseName;
      // The columns the two tables share.
      std::string cols;
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(c, ("SELECT t.name FROM pragma_table_info('T" + base + "') t JOIN pragma_table_info('D" + base +
                             "', 'past') d ON d.name = t.name").c_str(), -1, &st, nullptr);
      while (sqlite3_step(st) == SQLITE_ROW)
        cols += std::string(cols.empty() ? "\"" : ",\"") + reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) + "\"";
      sqlite3_finalize(st);
      exec(c, "BEGIN");
      exec(c, "INSERT OR IGNORE INTO past.\"D" + base + "\" (" + cols + ") SELECT " + cols + " FROM main.\"T" + base + "\"");
      exec(c, "DELETE FROM main.\"T" + base + "\"");
      exec(c, "COMMIT");
    }
    exec(c, "BEGIN");
    for (const auto& t : ChangeoverEmptiedTables()) exec(c, "DELETE FROM main.\"" + t + "\"");
    exec(c, "COMMIT");
    plainChange = seconds(p0, Clock::now());
    sqlite3_close(c);
  }
  line("weekly changeover (two race days)", seconds(w0, w1), plainChange, "");

  // ---- Restore of the changeover's copies ---------------------------------------
  {
    db::Workspace::get().reset();
    std::vector<std::string> copies;
    for (const auto& e : ListBackups())
      if (e.command == "changeover") copies.push_back(e.name);
    std::string error;
    bool restored = !copies.empty();
    auto r0 = Clock::now();
    for (const auto& n : copies) restored = RestoreBackup(n, NullCommandUi(), error) && restored;
    auto r1 = Clock::now();
    line("restore of the changeover's copies", seconds(r0, r1), seconds(w0, w1),
         restored ? "baseline: the changeover itself" : "FAILED " + error);
  }

  // ---- Data list rebuild -----------------------------------------------------
  db::Workspace::get().reset();
  auto l0 = Clock::now();
  bool listed = makeTableList();
  auto l1 = Clock::now();
  line("data list rebuild", seconds(l0, l1), 0, listed ? "" : "FAILED");

  // ---- Data check -------------------------------------------------------------
  {
    db::DatabasePtr d = db::Workspace::get().openDatabase(G().gDBDir + "kova_data.mdb");
    auto q = d->openQuery("SELECT * FROM Dデータ一覧テーブル ORDER BY 年月日;");
    std::string check;
    for (q->moveFirst(); !q->eof(); q->moveNext())
      check += "1," + db::toText(q->get("年月日")) + ",KYG,CYA,TYB12,HJC12,SEC完,SKB,BAB,JOA,0\r\n";
    d->close();
    WriteFileBytes(G().gDwnDir + kCheckFileD, text::encodeCp932(check));
    WriteFileBytes(G().gDwnDir + kCheckFileUK, "1,20000101,UKB,0\r\n");
  }
  auto c0 = Clock::now();
  DataCheck(NullCommandUi(), kCheckFileD, kCheckFileUK, kCheckResult);
  auto c1 = Clock::now();
  fs::remove(DataCheckReportPath());  // the program folder is the build's
  line("data check", seconds(c0, c1), 0, "");

  // ---- Deleting one year -----------------------------------------------------
  db::Workspace::get().reset();
  const std::string plainDel = g_root + "plaindel/";
  fs::create_directories(plainDel);
  fs::copy_file(G().gDBDir + "kova_data.mdb", plainDel + "kova_data.mdb", fs::copy_options::overwrite_existing);
  const std::string from = std::to_string(firstYear) + "0101", to = std::to_string(firstYear) + "1231";
  auto d0 = Clock::now();
  bool deleted = DataDelete(NullCommandUi(), from, to);
  auto d1 = Clock::now();
  double plainDelete = 0;
  {
    sqlite3* c = nullptr;
    sqlite3_open((plainDel + "kova_data.mdb").c_str(), &c);
    auto p0 = Clock::now();
    for (const auto& s : DataDeleteStatements(from, to)) {
      std::string sql = s.sql;
      size_t m = sql.find("mid(競走成績キー,9,8)");
      if (m != std::string::npos) sql.replace(m, std::strlen("mid(競走成績キー,9,8)"), "substr(競走成績キー,9,8)");
      exec(c, sql);
    }
    plainDelete = seconds(p0, Clock::now());
    sqlite3_close(c);
  }
  line("delete one year (past DB)", seconds(d0, d1), plainDelete, deleted ? "" : "FAILED");

  // ---- Compaction -------------------------------------------------------------
  db::Workspace::get().reset();
  const std::string plainCompact = g_root + "vacuum.mdb";
  auto v0 = Clock::now();
  {
    sqlite3* c = nullptr;
    sqlite3_open((plainDel + "kova_data.mdb").c_str(), &c);
    exec(c, "VACUUM INTO '" + plainCompact + "'");
    sqlite3_close(c);
  }
  auto v1 = Clock::now();
  auto k0 = Clock::now();
  Outcome compacted = DBcompact(NullCommandUi(), G().gDBDir + "kova_data.mdb");
  auto k1 = Clock::now();
  line("compaction (past DB)", seconds(k0, k1), seconds(v0, v1), compacted == Outcome::Done ? "" : "FAILED");

  db::Workspace::get().reset();
  Teardown();
  return 0;
}
