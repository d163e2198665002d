// velmo-bench-screens: opens the main screen (offscreen) on a past database of
// ten years (--years N) of race days and measures the time until the grids show their rows,
// side by side with a plain SQLite read of the same data list.
#include <QApplication>
#include <QElapsedTimer>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/common.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "screens/datagrid.h"
#include "screens/frmmnt.h"

using namespace velmo;

namespace {

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), err ? err : "?");
    std::exit(1);
  }
}

// Every day of the years in the past data list, each with the provider's marks.
int fillPastList(const std::string& file, int years) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  exec(db, "begin");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "insert into Dデータ一覧テーブル (年月日, KOVAデータ, 番組データ, 調教分析データ, 直前情報データ, "
                     "払戻情報データ, 成績データ, 成績拡張データ) values (?, 'KOVA', 'BAB', 'CYA', 'TYB', 'HJC', 'SEC', 'SKB')",
                     -1, &st, nullptr);
  int rows = 0;
  for (int y = 2015; y < 2015 + years; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= 28; ++d) {
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
        sqlite3_bind_text(st, 1, date, -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
        ++rows;
      }
  sqlite3_finalize(st);
  exec(db, "commit");
  sqlite3_close(db);
  return rows;
}

double plainRead(const std::string& file) {
  QElapsedTimer t;
  t.start();
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "select * from Dデータ一覧テーブル order by 年月日 desc", -1, &st, nullptr);
  long n = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(st); ++c) sqlite3_column_text(st, c);
    ++n;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  bench::Setup();
  SetMsgBoxHandler([](const MsgRequest& r) {
    std::fprintf(stderr, "message: %s\n", r.text.c_str());
    return static_cast<int>(vbOK);
  });
  const std::string dbDir = bench::freshDbFolder("screens");
  const int years = velmo::bench::YearsOption(argc, argv, 10);
  const int rows = fillPastList(dbDir + "kova_data.mdb", years);
  auto& g = G();
  g.gDBDir = dbDir;
  std::printf("Main screen on a past data list of %d race days (%d years)\n", rows, years);
  std::printf("%-28s %10s\n", "", "seconds");
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer t;
    t.start();
    screens::frmMnt m;
    m.show();
    QApplication::processEvents();
    const double shown = t.nsecsElapsed() / 1e9;
    const int visible = m.Gr2->model()->rowCount();
    const int total = m.pastModel()->totalRows();
    if (total != rows) {
      std::fprintf(stderr, "the past grid holds %d rows, %d expected\n", total, rows);
      return 1;
    }
    // Scrolling to the oldest date fetches the remaining rows.
    QElapsedTimer s;
    s.start();
    m.Gr2->selectRows(rows - 1, rows - 1);
    m.Gr2->scrollToBottom();
    QApplication::processEvents();
    const double scrolled = s.nsecsElapsed() / 1e9;
    std::printf("%-28s %10.3f  (%d rows fetched by the view first)\n",
                run == 0 ? "frmMnt open, grids shown" : "  again", shown, visible);
    std::printf("%-28s %10.3f\n", "  scroll to the oldest date", scrolled);
    m.close();
  }
  std::printf("%-28s %10.3f\n", "plain SQLite read of the list", plainRead(dbDir + "kova_data.mdb"));
  std::printf("target: grids shown in under 0.5 s\n");
  bench::Teardown();
  return 0;
}
