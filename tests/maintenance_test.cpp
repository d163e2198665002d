// Maintenance commands on generated data: the weekly changeover, the data list
// rebuild, deletion by date range, compaction and the master update.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "registration/layout.h"
#include "startup/platform/db.h"
#include "startup/settings.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

// Records what a command shows; cancels once `cancelAfter` status texts ending a step were shown.
class RecordingUi : public CommandUi {
 public:
  std::vector<std::string> statuses, busy;
  int cancelAfter = -1;
  bool closed = false, ended = false;
  void setStatus(const std::string& t) override {
    statuses.push_back(t);
    if (text::endsWith(t, "終了") && t.find("(") != std::string::npos) ++stepsEnded_;
  }
  void setBusyText(const std::string& t) override { busy.push_back(t); }
  void endBusy() override { ended = true; }
  void closeBusy() override { closed = true; }
  bool cancelRequested() override { return cancelAfter >= 0 && stepsEnded_ >= cancelAfter; }
  bool saw(const std::string& t) const {
    for (const auto& s : statuses)
      if (s == t) return true;
    return false;
  }

 private:
  int stepsEnded_ = 0;
};

// A small race day of the kinds that feed the moved families and the emptied tables.
void registerDay(const TestHome& h, const std::string& date, const std::string& mode) {
  fx::RaceDay day;
  day.date = date;
  // Race keys carry no date: each day its own racecourse.
  day.courses = {"0" + std::to_string(5 + (date.back() - '0') % 5)};
  day.races = 3;
  day.runners = 4;
  std::vector<std::string> kinds;
  for (const char* k : {"BAB", "KYG", "SEC", "HJC", "TYB", "SKB", "CYA", "SRA", "KAA", "OZ", "ZEC", "KTA"}) {
    const DispatchRow* row = DispatchFor(fx::FileName(k, date));
    if (row && row->action && reg::FindLayout(k) && !(mode == "D" && row->thisWeekOnly)) kinds.push_back(k);
  }
  std::string folder = h.work + date + mode + "/";
  MakeDirAll(folder);
  std::vector<std::string> archives = fx::WriteDayArchives(folder, kinds, day);
  OrderArchives(archives);
  for (const auto& a : archives) ASSERT_EQ(regMain(a, mode, "J"), 0) << a << "\n" << h.logText();
}

std::string count(const TestHome& h, const std::string& file, const std::string& table) {
  return h.sqlite(file, "select count(*) from " + table + ";");
}

}  // namespace

TEST(WeekChange, MovesTheFamiliesKeepsPastRowsReplacesAStaleLinkAndEmptiesTheWeek) {
  TestHome h;
  registerDay(h, "20050312", "T");
  registerDay(h, "20050313", "T");
  const std::string weekRunners = count(h, "kova_this.mdb", "T競走馬データ");
  ASSERT_NE(weekRunners, "0\n");
  ASSERT_NE(count(h, "kova_this.mdb", "T基準オッズ単複"), "0\n");
  // A past row with the key of one of this week's programmes keeps its own values.
  std::string key = h.sqlite("kova_this.mdb", "select レースキー from T番組データ order by レースキー limit 1;");
  key = key.substr(0, key.size() - 1);
  h.sqlite("kova_data.mdb", "insert into D番組データ (レースキー, 年月日, レース名) values ('" + key + "', '20050312', '過去の行');");
  // A column of the past table that this week's lacks stays at its default.
  h.sqlite("kova_data.mdb", "alter table D成績データ add column 過去だけ TEXT;");
  // A link left by an earlier failed run, pointing at an old copy of the past database.
  std::filesystem::copy_file(h.dbDir + "kova_data.mdb", h.work + "old.mdb");
  {
    auto d = db::Workspace::get().openDatabase(h.dbDir + "kova_this.mdb");
    d->createLink("D番組データ", ";DATABASE=" + h.work + "old.mdb", "D番組データ");
    d->close();
    db::Workspace::get().reset();
  }

  RecordingUi ui;
  EXPECT_EQ(WeekChange(ui), Outcome::Done) << h.logText();
  EXPECT_EQ(h.messages.front().text, "週替わり処理を実行しますか？");
  EXPECT_EQ(h.messages.front().title, "週替わりチェック");
  EXPECT_EQ(h.messages.back().text, "週替わり処理完了しました");
  EXPECT_EQ(h.messages.back().title, "Velmo");
  EXPECT_TRUE(ui.saw("週替わり処理 競走馬データ(1/12) 開始"));
  EXPECT_TRUE(ui.saw("週替わり処理 データ一覧テーブル(12/12) 終了"));
  EXPECT_TRUE(ui.saw("週替わり処理 開催データ(12/12) 終了"));
  EXPECT_EQ(ui.statuses.back(), "週替わり処理終了");
  EXPECT_EQ(ui.busy.back(), "週替わり処理完了！！");

  EXPECT_EQ(count(h, "kova_data.mdb", "D競走馬データ"), weekRunners);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select レース名 from D番組データ where レースキー = '" + key + "';"), "過去の行\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from Dデータ一覧テーブル;"), "2\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*), count(過去だけ) from D成績データ;").substr(0, 1) != "0", true);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(過去だけ) from D成績データ;"), "0\n");
  for (const char* t : {"T競走馬データ", "T番組データ", "T成績データ", "Tデータ一覧テーブル", "T基準オッズ単複", "T前走データ"})
    EXPECT_EQ(count(h, "kova_this.mdb", t), "0\n") << t;
  EXPECT_EQ(h.sqlite("../work/old.mdb", "select count(*) from D番組データ;"), "1\n");
  // No link stays behind.
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from MSysVelmoLinks;"), "0\n");
}

TEST(WeekChange, CancelBetweenFamiliesStopsAfterTheFamilyBeingMoved) {
  TestHome h;
  registerDay(h, "20050312", "T");
  const std::string programmes = count(h, "kova_this.mdb", "T番組データ");
  RecordingUi ui;
  ui.cancelAfter = 1;  // pressed while the first family moves
  EXPECT_EQ(WeekChange(ui), Outcome::Cancelled);
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ"), "0\n");  // moved completely
  EXPECT_NE(count(h, "kova_data.mdb", "D競走馬データ"), "0\n");
  EXPECT_EQ(count(h, "kova_this.mdb", "T番組データ"), programmes);  // not started
  EXPECT_EQ(count(h, "kova_data.mdb", "D番組データ"), "0\n");
  EXPECT_NE(count(h, "kova_this.mdb", "T基準オッズ単複"), "0\n");  // the nineteen stay
  EXPECT_EQ(ui.statuses.back(), "キャンセルしました");
  EXPECT_EQ(ui.busy.back(), "キャンセルしました");
  EXPECT_TRUE(ui.ended);
  EXPECT_EQ(h.messages.size(), 1u);  // the question only

  // Cancel at the question changes nothing.
  h.answers = {vbCancel};
  RecordingUi ui2;
  EXPECT_EQ(WeekChange(ui2), Outcome::Cancelled);
  EXPECT_TRUE(ui2.statuses.empty());
  EXPECT_EQ(count(h, "kova_this.mdb", "T番組データ"), programmes);
}

TEST(WeekChange, ALockedPastDatabaseFailsTheStepAndKeepsTheWeek) {
  TestHome h;
  registerDay(h, "20050312", "T");
  const std::string runners = count(h, "kova_this.mdb", "T競走馬データ");
  SetIni("main", "BackupGenerations", "0");  // the command's own handling of the lock
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((h.dbDir + "kova_data.mdb").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  RecordingUi ui;
  Outcome o = WeekChange(ui);
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(o, Outcome::Failed);
  EXPECT_TRUE(ui.closed);
  EXPECT_EQ(ui.statuses.back(), "週替わり処理異常終了！！！！！！");
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ"), runners);
  EXPECT_NE(h.logText().find("cmdWeekChange_Click"), std::string::npos);
  for (const auto& m : h.messages) EXPECT_EQ(m.text.find("完了"), std::string::npos) << m.text;
  // The next run, with the database free, completes the move.
  h.messages.clear();
  RecordingUi again;
  EXPECT_EQ(WeekChange(again), Outcome::Done) << h.logText();
  EXPECT_EQ(count(h, "kova_data.mdb", "D競走馬データ"), runners);
  EXPECT_EQ(count(h, "kova_this.mdb", "T競走馬データ"), "0\n");
}

TEST(MakeTableList, RebuildsThePastListFromTheRegisteredData) {
  TestHome h;
  registerDay(h, "20050312", "D");
  registerDay(h, "20050319", "D");
  const std::string before = h.sqlite("kova_data.mdb", "select * from Dデータ一覧テーブル order by 年月日;");
  // Quick results of the second day, a stray row, and a lost cell.
  h.sqlite("kova_data.mdb",
           "update D成績データ set コーナー順位1 = '  ' where 年月日 = '20050319';"
           "insert into Dデータ一覧テーブル (年月日, 成績データ) values ('19990101', 'SEB完');"
           "update Dデータ一覧テーブル set 番組データ = null;");
  RecordingUi ui;
  EXPECT_EQ(MakeItiran(ui), Outcome::Done) << h.logText();
  EXPECT_EQ(h.messages.front().text, "一覧データ再作成処理を実行しますか？");
  EXPECT_EQ(h.messages.front().title, "一覧データ再作成チェック");
  EXPECT_EQ(h.messages.back().text, "一覧データ再作成処理終了しました。");
  EXPECT_EQ(ui.statuses.front(), "一覧データ再作成処理中！！");
  EXPECT_EQ(ui.statuses.back(), "一覧データ再作成処理終了！！");
  std::string rows = h.sqlite("kova_data.mdb", "select 年月日, 番組データ, 成績データ from Dデータ一覧テーブル order by 年月日;");
  EXPECT_EQ(rows, "20050312|BAA|SEC完\n20050319|BAA|SEC速\n") << before;
  EXPECT_NE(h.logText().find("データ一覧再作成完了"), std::string::npos);
}

TEST(MakeTableList, AFailureKeepsThePreviousListAndSaysSo) {
  TestHome h;
  registerDay(h, "20050312", "D");
  const std::string before = h.sqlite("kova_data.mdb", "select * from Dデータ一覧テーブル;");
  ASSERT_NE(before, "");
  // The last source query cannot run.
  h.sqlite("kova_data.mdb", "drop table D成績拡張データ;");
  RecordingUi ui;
  EXPECT_EQ(MakeItiran(ui), Outcome::Failed);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select * from Dデータ一覧テーブル;"), before);
  for (const auto& m : h.messages) EXPECT_NE(m.text, "一覧データ再作成処理終了しました。");
  EXPECT_NE(h.logText().find("makeTableList"), std::string::npos);
  // Cancel at the question shows nothing more.
  h.messages.clear();
  h.answers = {vbCancel};
  EXPECT_EQ(MakeItiran(ui), Outcome::Cancelled);
  EXPECT_EQ(h.messages.size(), 1u);
}

TEST(DataDelete, DeletesTheRangeWhicheverDateComesFirst) {
  TestHome h;
  registerDay(h, "20050312", "D");
  registerDay(h, "20050313", "D");
  registerDay(h, "20050319", "D");
  // No selection: the hint only.
  RecordingUi ui;
  EXPECT_EQ(DeletePast(ui, "", ""), Outcome::Cancelled);
  EXPECT_EQ(h.messages.back().text, "過去分データ一覧ウインドウにて削除範囲を指定してください。");
  // Cancel at the question deletes nothing.
  h.answers = {vbCancel};
  EXPECT_EQ(DeletePast(ui, "2005/03/12", "2005/03/13"), Outcome::Cancelled);
  EXPECT_EQ(h.messages.back().text, "過去分データ2005/03/13 ～ 2005/03/12の削除をしますか？");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from Dデータ一覧テーブル;"), "3\n");
  // A selection made upwards: the current row is the earlier date.
  EXPECT_EQ(DeletePast(ui, "2005/03/12", "2005/03/13"), Outcome::Done) << h.logText();
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select 年月日 from Dデータ一覧テーブル;"), "20050319\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select distinct 年月日 from D番組データ;"), "20050319\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select distinct substr(競走成績キー,9,8) from D競走馬データ;"), "20050319\n");
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D払戻情報データ where レースキー not in (select レースキー from D番組データ);"),
            "0\n");
  EXPECT_TRUE(ui.saw("D調教分析データ削除中( 6/10)"));
  EXPECT_TRUE(ui.saw("Dデータ一覧テーブル削除中(10/10)"));
  EXPECT_EQ(ui.statuses.back(), "削除処理完了しました");
  // The statements as written.
  auto s = DataDeleteStatements("20050313", "20050312");
  ASSERT_EQ(s.size(), 11u);
  EXPECT_EQ(s[7].sql, "delete from D成績データ where 年月日 between '20050312' and '20050313';");
}

TEST(DataDelete, ThisWeekAndALockedDatabase) {
  TestHome h;
  registerDay(h, "20050312", "T");
  registerDay(h, "20050313", "T");
  RecordingUi ui;
  EXPECT_EQ(DeleteThisWeek(ui, "2005/03/13", "2005/03/13"), Outcome::Done) << h.logText();
  EXPECT_EQ(h.messages.back().text, "今週分データ2005/03/13 ～ 2005/03/13の削除をしますか？");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select 年月日 from Tデータ一覧テーブル;"), "20050312\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select distinct substr(競走成績キー,9,8) from T競走馬データ;"), "20050312\n");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from Tオッズ単複 where レースキー not in (select レースキー from T番組データ);"),
            "0\n");
  // Locked by another program: nothing is deleted and the failure is logged
  // (the command's own handling, without the copy taken before it).
  SetIni("main", "BackupGenerations", "0");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((h.dbDir + "kova_this.mdb").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(DataDeleteThis(ui, "20050312", "20050312"), false);
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select 年月日 from Tデータ一覧テーブル;"), "20050312\n");
  EXPECT_NE(h.logText().find("DataDelete"), std::string::npos);
}

TEST(DBcompact, ReplacesTheFileWithTheCompactCopyEvenAfterALeftoverWorkCopy) {
  TestHome h;
  registerDay(h, "20050312", "D");
  h.sqlite("kova_data.mdb", "delete from D競走馬データ;");
  const std::string path = h.dbDir + "kova_data.mdb";
  const std::string rows = h.sqlite("kova_data.mdb", "select count(*) from D番組データ;");
  WriteFileBytes(CompactWorkCopy(), "left by a failed run");
  // Cancel leaves both files as they are.
  h.answers = {vbCancel};
  RecordingUi ui;
  EXPECT_EQ(DBcompact(ui, path), Outcome::Cancelled);
  EXPECT_EQ(ReadFileBytes(CompactWorkCopy()), "left by a failed run");
  const auto before = std::filesystem::file_size(path);
  EXPECT_EQ(DBcompact(ui, path), Outcome::Done) << h.logText();
  EXPECT_EQ(h.messages.front().text, path + "の最適化をしますか？");
  EXPECT_EQ(h.messages.back().text, path + "の最適化を完了しました。");
  EXPECT_EQ(h.messages.back().title, "DBの最適化");
  EXPECT_FALSE(FileExists(CompactWorkCopy()));
  EXPECT_LE(std::filesystem::file_size(path), before);
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D番組データ;"), rows);
  // A file that is not a database: logged, the file stays, no completion message.
  WriteFileBytes(h.dbDir + "bad.mdb", "not a database");
  h.messages.clear();
  EXPECT_EQ(DBcompact(ui, h.dbDir + "bad.mdb"), Outcome::Failed);
  EXPECT_EQ(ReadFileBytes(h.dbDir + "bad.mdb"), "not a database");
  for (const auto& m : h.messages) EXPECT_EQ(m.text.find("完了"), std::string::npos) << m.text;
  EXPECT_NE(h.logText().find("cmdDBcompact_Click"), std::string::npos);
}

namespace {
// Fetch stand-ins: the newest archive of a kind is "served" from a folder of
// generated archives; a kind without one is missing.
std::string g_served;
int serveNewest(const std::string& dataId) {
  std::string kind = dataId.substr(0, 2);
  for (const auto& name : ListFiles(g_served + "*.lzh"))
    if (name.rfind(kind, 0) == 0) {
      std::filesystem::copy_file(g_served + name, G().gDwnDir + name, std::filesystem::copy_options::overwrite_existing);
      G().gFetchResult = 1;
      return 0;
    }
  G().gFetchResult = -2;
  return 0;
}
int serveFile(const std::string&, const std::string& name) {
  if (!FileExists(g_served + name)) {
    G().gFetchResult = -2;
    return -1;
  }
  std::filesystem::copy_file(g_served + name, G().gDwnDir + name, std::filesystem::copy_options::overwrite_existing);
  G().gFetchResult = 1;
  return 0;
}
}  // namespace

TEST(MasterUpdate, RegistersTheNewestMastersOnlyWhenTheLastFetchSucceeded) {
  TestHome h;
  g_served = h.work + "served/";
  MakeDirAll(g_served);
  fx::RaceDay day;
  std::vector<std::string> kinds;
  for (const char* k : {"KZA", "CZA", "MZA"})
    if (reg::FindLayout(k)) kinds.push_back(k);
  ASSERT_FALSE(kinds.empty());
  fx::WriteDayArchives(g_served, kinds, day);
  SetFetchFunctions({serveNewest, serveFile});
  RecordingUi ui;
  // Cancel: nothing is fetched.
  h.answers = {vbCancel};
  EXPECT_EQ(MasterUpdate(ui), Outcome::Cancelled);
  EXPECT_EQ(CountFiles(G().gDwnDir + "*.lzh"), 0);
  // MZ_ missing: nothing registered, the fetched archives stay in the download folder.
  for (const auto& n : ListFiles(g_served + "MZ*.lzh")) std::filesystem::rename(g_served + n, h.work + n);
  h.messages.clear();
  EXPECT_EQ(MasterUpdate(ui), Outcome::Failed);
  EXPECT_EQ(h.messages.size(), 1u);
  EXPECT_GT(CountFiles(G().gDwnDir + "*.lzh"), 0);
  EXPECT_EQ(count(h, "kova_this.mdb", "T騎手マスタ"), "0\n");
  // All three there: registered and filed.
  for (const auto& n : ListFiles(h.work + "MZ*.lzh")) std::filesystem::rename(h.work + n, g_served + n);
  h.messages.clear();
  EXPECT_EQ(MasterUpdate(ui), Outcome::Done) << h.logText();
  EXPECT_EQ(h.messages.back().text, "データ登録完了しました。");
  EXPECT_EQ(CountFiles(G().gDwnDir + "*.lzh"), 0);
  EXPECT_GT(CountFiles(h.lzhDir + "*.lzh"), 0);
  EXPECT_NE(count(h, "kova_this.mdb", "T騎手マスタ"), "0\n");
  EXPECT_EQ(G().gFetchResult, 0);
  SetFetchFunctions({});
}

TEST(WeekChange, AWeekTableThatCannotBeEmptiedFailsTheChangeover) {
  TestHome h;
  registerDay(h, "20050312", "T");
  const std::string programmes = count(h, "kova_this.mdb", "T番組データ");
  h.sqlite("kova_this.mdb", "create trigger keep before delete on T番組データ begin select raise(abort, 'kept'); end;");
  RecordingUi ui;
  EXPECT_EQ(WeekChange(ui), Outcome::Failed);
  EXPECT_EQ(ui.statuses.back(), "週替わり処理異常終了！！！！！！");
  // The rows are in both tables; nothing after the failing family ran.
  EXPECT_EQ(count(h, "kova_this.mdb", "T番組データ"), programmes);
  EXPECT_EQ(count(h, "kova_data.mdb", "D番組データ"), programmes);
  EXPECT_EQ(count(h, "kova_data.mdb", "D成績データ"), "0\n");
  EXPECT_NE(count(h, "kova_this.mdb", "T基準オッズ単複"), "0\n");
  for (const auto& m : h.messages) EXPECT_NE(m.text, "週替わり処理完了しました");
  // Once the table can be emptied, the next run skips the copied rows and completes.
  h.sqlite("kova_this.mdb", "drop trigger keep;");
  h.messages.clear();
  RecordingUi again;
  EXPECT_EQ(WeekChange(again), Outcome::Done) << h.logText();
  EXPECT_EQ(count(h, "kova_this.mdb", "T番組データ"), "0\n");
  EXPECT_EQ(count(h, "kova_data.mdb", "D番組データ"), programmes);
}
