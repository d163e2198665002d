// The registration record and the data ledger: what each archive brought, the
// states of the ledger's cells against a host publishing a week of race days,
// the update of what is missing, and its resumption after a kill.
#include <gtest/gtest.h>

#include <signal.h>

#include <QProcess>
#include <QTableWidget>
#include <QTreeWidget>
#include <QLabel>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "download/ledgerview.h"
#include "maintenance/maintenance.h"
#include "registration/driver.h"
#include "screens/frmledger.h"
#include "startup/platform/daofunc.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"
#include "tests/testhttp.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

fx::RaceDay smallDay(const std::string& date = "20050312") {
  fx::RaceDay d;
  d.date = date;
  d.courses = {"06"};
  d.races = 2;
  d.runners = 4;
  return d;
}

std::string joined(const std::vector<std::string>& records) {
  std::string all;
  for (const auto& r : records) all += r;
  return all;
}

db::LedgerRow recordOf(const std::string& mode, const std::string& archive) {
  db::DatabasePtr d = OpenModeDatabase(G().gDBDir, mode);
  auto rows = db::LedgerTable::read(*d, "19000101", "29991231");
  d->close();
  for (auto& r : rows)
    if (r.archive == archive) return r;
  return {};
}

LedgerState offlineState(const std::string& mode, const std::string& id, const std::string& date) {
  LedgerRequest q;
  q.mode = mode;
  q.kinds = {id};
  q.from = q.to = date;
  q.offline = true;
  LedgerReport r = BuildLedger(q, nullptr, nullptr);
  const LedgerCell* c = r.cell(date, id);
  return c ? c->state : LedgerState::Unknown;
}

}  // namespace

// Each case is one archive SEC050312.lzh registered in mode T, with what the
// record and the ledger must then say.
TEST(LedgerRecord, CountsEachFileAndJudgesTheArchive) {
  const fx::RaceDay day = smallDay();
  const std::vector<std::string> sec = fx::DayRecords("SEC", day);
  const size_t L = sec.front().size();
  const std::string whole = joined(sec);
  struct Case {
    const char* what;
    std::vector<fx::ArchiveEntry> entries;  // empty: not an archive at all
    std::string outcome;
    int64_t held, registered, skipped;
    LedgerState state;
    std::string inFiles;  // a part of the per-file record
    std::string inError;
  };
  const int64_t n = static_cast<int64_t>(sec.size());
  const std::vector<Case> cases = {
      {"whole", {{"SEC050312.txt", whole}}, "registered", n, n, 0, LedgerState::Complete, "\"skipped\":{}", ""},
      {"cut under half a record: the fragment rule",
       {{"SEC050312.txt", whole.substr(0, whole.size() - (L - 10))}},
       "registered", n, n - 1, 1, LedgerState::Complete, "\"fragment\":1", ""},
      {"a file no reader reads", {{"SEC050312.txt", whole}, {"XYZ050312.txt", "a\r\nb\r\nc\r\n"}}, "registered", n + 3, n,
       0, LedgerState::Partial, "\"file\":\"XYZ050312.txt\",\"held\":3,\"read\":0", ""},
      {"cut past half a record", {{"SEC050312.txt", whole.substr(0, whole.size() - 20)}}, "failed", 0, 0, 0,
       LedgerState::Failed, "", "途中で切れています"},
      {"not an archive", {}, "failed", 0, 0, 0, LedgerState::Failed, "", "解凍できない"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestHome h;
    const std::string arch = h.work + "SEC050312.lzh";
    if (c.entries.empty()) WriteFileBytes(arch, "LZH? no, just some bytes");
    else fx::WriteLzh(arch, c.entries);
    const bool failed = regMainKOVA(arch, "T");
    EXPECT_EQ(failed, c.outcome == "failed");
    const db::LedgerRow r = recordOf("T", "SEC050312.lzh");
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.dataId, "SEC");
    EXPECT_EQ(r.raceDate, "20050312");
    EXPECT_EQ(r.mode, "T");
    EXPECT_EQ(r.held, c.held);
    EXPECT_EQ(r.registered, c.registered);
    EXPECT_EQ(r.skipped, c.skipped);
    EXPECT_NE(r.files.find(c.inFiles), std::string::npos) << r.files;
    EXPECT_NE(r.error.find(c.inError), std::string::npos) << r.error;
    if (c.outcome == "registered") {
      // The rows written are the table's rows (and the data list's), checkable by anyone.
      EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T成績データ;"), std::to_string(c.registered) + "\n");
      EXPECT_GE(r.rows, c.registered);
      EXPECT_EQ(r.at.size(), 19u);
    }
    EXPECT_EQ(offlineState("T", "SEC", "20050312"), c.state);
  }
}

TEST(LedgerRecord, AThisWeekKindInThePastDatabaseIsSkippedByRule) {
  TestHome h;
  const std::string arch = h.work + "ZEC050312.lzh";
  fx::WriteLzh(arch, {{"ZEC050312.txt", joined(fx::DayRecords("ZEC", smallDay()))}});
  ASSERT_FALSE(regMainKOVA(arch, "D"));
  const db::LedgerRow r = recordOf("D", "ZEC050312.lzh");
  EXPECT_EQ(r.outcome, "registered");
  EXPECT_EQ(r.registered, 0);
  EXPECT_EQ(r.skipped, r.held);
  EXPECT_NE(r.files.find("\"mode\":"), std::string::npos) << r.files;
  EXPECT_EQ(offlineState("D", "ZEC", "20050312"), LedgerState::Complete);
}

TEST(LedgerRecord, TheChangeoverMovesTheRecordAndADeletionRemovesIt) {
  TestHome h;
  const auto archives = fx::WriteDayArchives(h.work, {"SEC"}, smallDay());
  ASSERT_FALSE(regMainKOVA(archives.at(0), "T"));
  ASSERT_FALSE(recordOf("T", "SEC050312.lzh").archive.empty());
  ASSERT_EQ(WeekChange(NullCommandUi()), Outcome::Done);
  EXPECT_TRUE(recordOf("T", "SEC050312.lzh").archive.empty());
  EXPECT_EQ(recordOf("D", "SEC050312.lzh").outcome, "registered");
  EXPECT_EQ(offlineState("D", "SEC", "20050312"), LedgerState::Complete);

  // A deletion of other dates keeps it; one of its date removes it with the data.
  ASSERT_TRUE(DataDelete(NullCommandUi(), "20050313", "20050320"));
  EXPECT_EQ(recordOf("D", "SEC050312.lzh").outcome, "registered");
  ASSERT_TRUE(DataDelete(NullCommandUi(), "20050312", "20050301"));
  EXPECT_TRUE(recordOf("D", "SEC050312.lzh").archive.empty());
  EXPECT_EQ(h.sqlite("kova_data.mdb", "select count(*) from D成績データ;"), "0\n");
}

namespace {

// A host publishing the week 2005-03-12 .. 18 with race days on the 12th and 13th,
// for the kinds KOVA, SEC and HJC (list files) and TYBR (no list file).
class LedgerWeek : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    for (const char* d : {"20050312", "20050313"}) {
      const fx::RaceDay day = smallDay(d);
      const std::string yymmdd = std::string(d).substr(2);
      put("kova", "KOVA" + yymmdd, fx::WritePackArchive(h.work, {"KYG", "UKC"}, day));
      put("sec", "SEC" + yymmdd, fx::WriteDayArchives(h.work, {"SEC"}, day).at(0));
    }
    put("hjc", "HJC050312", fx::WriteDayArchives(h.work, {"HJC"}, smallDay()).at(0));
    put("tybr", "TYB050312", fx::WriteDayArchives(h.work, {"TYB"}, smallDay()).at(0));
    server.routes["/member/sec/SEC050313.lzh"].body = "LZH? no, just some bytes";  // does not unpack
    server.routes["/member/lst/kovalist.txt"].body = "KOVA050312.lzh\r\nKOVA050313.lzh\r\n";
    server.routes["/member/lst/seclist.txt"].body = "SEC050305.lzh\r\nSEC050312.lzh\r\nSEC050313.lzh\r\n";
    server.routes["/member/lst/hjclist.txt"].body = "HJC050312.lzh\r\n";  // none on the 13th
    std::ofstream f(h.config + "kova.ini");
    f << "[main]\nDBDir=" << h.dbDir << "\nLzhDir=" << h.lzhDir << "\nUserID=member\nPasswd=pass1234\nKovaHost="
      << server.base() << "\n";
  }
  void put(const std::string& folder, const std::string& name, const std::string& path) {
    server.routes["/member/" + folder + "/" + name + ".lzh"].body = ReadFileBytes(path);
  }
  test::CliRun cli(QStringList words, QProcess** started = nullptr) {
    words << "--kinds" << "KOVA,SEC,HJC,TYBR" << "--from" << "20050312" << "--to" << "20050318";
    return test::RunCliServing(words, started);
  }
  // "date id" -> state, from the JSON lines, and the summary line.
  std::map<std::string, std::string> states(const test::CliRun& r, std::string* summary = nullptr) {
    std::map<std::string, std::string> m;
    for (const auto& l : text::split(r.out, '\n')) {
      if (l.rfind("{\"summary\":", 0) == 0 && summary) *summary = l;
      if (l.rfind("{\"date\":", 0) != 0) continue;
      auto field = [&](const std::string& k) {
        const size_t p = l.find("\"" + k + "\":\"") + k.size() + 4;
        return l.substr(p, l.find('"', p) - p);
      };
      m[field("date") + " " + field("id")] = field("state");
    }
    return m;
  }
  // The archives fetched (GET) since request number `from`.
  std::vector<std::string> fetchedSince(size_t from) const {
    std::vector<std::string> got;
    for (size_t i = from; i < server.requests.size(); ++i)
      if (server.methods[i] == "GET" && server.requests[i].find("/lst/") == std::string::npos)
        got.push_back(server.requests[i].substr(server.requests[i].rfind('/') + 1));
    std::sort(got.begin(), got.end());
    return got;
  }
  std::string line(const test::CliRun& r, const std::string& date, const std::string& id) {
    for (const auto& l : text::split(r.out, '\n'))
      if (l.rfind("{\"date\":\"" + date + "\",\"id\":\"" + id + "\"", 0) == 0) return l;
    return {};
  }
  TestHome h;
  test::TestHttpServer server{"member", "pass1234"};
};

}  // namespace

TEST_F(LedgerWeek, StatesFromListsStorageAndRecordThenUpdateMissing) {
  // Registered before: SEC of the 12th whole, HJC of the 12th from a copy with a file no reader reads.
  const std::string sec = fx::WriteDayArchives(h.work + "", {"SEC"}, smallDay()).at(0);
  const std::string hjcBad = h.work + "bad/HJC050312.lzh";
  MakeDirAll(h.work + "bad/");
  fx::WriteLzh(hjcBad, {{"HJC050312.txt", joined(fx::DayRecords("HJC", smallDay()))}, {"ZZZ050312.txt", "x\r\n"}});
  ASSERT_EQ(test::RunCliServing({"register", QString::fromStdString(sec), QString::fromStdString(hjcBad)}).rc, 0);

  // Offline with no list kept yet: what is not registered is unknown.
  test::CliRun r = cli({"ledger", "--json", "--offline"});
  EXPECT_EQ(r.rc, 1) << r.err;
  EXPECT_EQ(states(r), (std::map<std::string, std::string>{
                           {"20050312 KOVA", "unknown"}, {"20050312 SEC", "complete"},
                           {"20050312 HJC", "partial"}, {"20050312 TYBR", "unknown"}}));
  EXPECT_TRUE(fetchedSince(0).empty());
  EXPECT_TRUE(server.requests.empty());

  // Online: the lists, and a look without the body at the kind without a list.
  const std::string complete = line(r, "20050312", "SEC");
  EXPECT_NE(complete.find("\"archive\":\"SEC050312.lzh\",\"state\":\"complete\",\"records\":8,\"rows\":"),
            std::string::npos)
      << complete;
  EXPECT_NE(complete.find("\"error\":null}"), std::string::npos) << complete;
  std::string summary;
  r = cli({"ledger", "--json"});
  EXPECT_EQ(r.rc, 1) << r.err;
  EXPECT_EQ(states(r, &summary), (std::map<std::string, std::string>{{"20050312 KOVA", "missing"},
                                                                      {"20050312 SEC", "complete"},
                                                                      {"20050312 HJC", "partial"},
                                                                      {"20050312 TYBR", "missing"},
                                                                      {"20050313 KOVA", "missing"},
                                                                      {"20050313 SEC", "missing"},
                                                                      {"20050313 HJC", "unpublished"},
                                                                      {"20050313 TYBR", "unpublished"}}));
  EXPECT_EQ(summary, "{\"summary\":{\"complete\":1,\"missing\":4,\"failed\":0,\"partial\":1,\"unpublished\":2,\"unknown\":0}}");
  EXPECT_TRUE(fetchedSince(0).empty());  // nothing but lists fetched
  EXPECT_NE(std::find(server.methods.begin(), server.methods.end(), "HEAD"), server.methods.end());
  EXPECT_NE(line(r, "20050313", "SEC").find("\"records\":null,\"rows\":null,\"registered_at\":null,\"error\":null"),
            std::string::npos);

  // The first archive of the 13th arrives cut short.
  server.routes["/member/kova/KOVA050313.lzh"].announce =
      static_cast<long long>(server.routes["/member/kova/KOVA050313.lzh"].body.size()) + 500;
  size_t mark = server.requests.size();
  r = cli({"update", "--missing", "--json"});
  EXPECT_EQ(r.rc, 1) << r.err;
  EXPECT_EQ(fetchedSince(mark), (std::vector<std::string>{"HJC050312.lzh", "KOVA050312.lzh", "KOVA050313.lzh",
                                                          "SEC050313.lzh", "TYB050312.lzh"}));
  r = cli({"ledger", "--json", "--offline"});
  EXPECT_EQ(states(r, &summary), (std::map<std::string, std::string>{{"20050312 KOVA", "complete"},
                                                                      {"20050312 SEC", "complete"},
                                                                      {"20050312 HJC", "complete"},
                                                                      {"20050312 TYBR", "complete"},
                                                                      {"20050313 KOVA", "failed"},
                                                                      {"20050313 SEC", "failed"},
                                                                      {"20050313 HJC", "unpublished"},
                                                                      {"20050313 TYBR", "unknown"}}));
  EXPECT_NE(line(r, "20050313", "KOVA").find("\"error\":\"ダウンロードできませんでした\""), std::string::npos)
      << line(r, "20050313", "KOVA");
  EXPECT_NE(line(r, "20050313", "SEC").find("\"error\":\"解凍できません("), std::string::npos) << line(r, "20050313", "SEC");

  // Once the host sends it whole, only what is still not complete is fetched.
  server.routes["/member/kova/KOVA050313.lzh"].announce = -1;
  mark = server.requests.size();
  r = cli({"update", "--missing", "--json"});
  EXPECT_EQ(r.rc, 1) << r.err;  // the archive that does not unpack
  EXPECT_EQ(fetchedSince(mark), (std::vector<std::string>{"KOVA050313.lzh", "SEC050313.lzh"}));
  r = cli({"ledger", "--json"});
  EXPECT_EQ(r.rc, 1);
  states(r, &summary);
  EXPECT_EQ(summary, "{\"summary\":{\"complete\":5,\"missing\":0,\"failed\":1,\"partial\":0,\"unpublished\":2,\"unknown\":0}}");
  EXPECT_EQ(states(r)["20050313 SEC"], "failed");

  // The table: one mark per cell.
  r = cli({"ledger"});
  EXPECT_NE(r.out.find("date     KOVA SEC HJC TYBR\n20050312 o    o   o   o   \n20050313 o    x   .   .   \n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("complete 5  missing 0  failed 1  partial 0  unpublished 2  unknown 0\n"), std::string::npos);
  EXPECT_EQ(cli({"ledger", "--mode", "X"}).rc, 2);
}

TEST_F(LedgerWeek, UpdateMissingKilledDuringASlowDownloadResumes) {
  // The SEC archive of the 12th comes slowly; the process is killed while it does.
  test::Route& slow = server.routes["/member/sec/SEC050312.lzh"];
  slow.chunk = 64;
  slow.delayMs = 50;
  QProcess* running = nullptr;
  bool killed = false;
  server.onSlowSend = [&](const std::string&) {
    if (running) {
      ::kill(static_cast<pid_t>(running->processId()), SIGKILL);
      killed = true;
    }
  };
  test::CliRun r = cli({"update", "--missing", "--json"}, &running);
  ASSERT_TRUE(killed);
  EXPECT_EQ(r.rc, -1);
  // The pack archives, before it in the order, were registered whole.
  r = cli({"ledger", "--json", "--offline"});
  EXPECT_EQ(states(r)["20050312 KOVA"], "complete");
  EXPECT_EQ(states(r)["20050313 KOVA"], "complete");
  EXPECT_EQ(states(r)["20050312 HJC"], "complete");
  EXPECT_EQ(states(r)["20050312 SEC"], "missing");

  server.onSlowSend = nullptr;
  slow.chunk = 0;
  const size_t mark = server.requests.size();
  r = cli({"update", "--missing", "--json"});
  EXPECT_EQ(r.rc, 1) << r.err;  // SEC050313 does not unpack
  const auto again = fetchedSince(mark);
  EXPECT_EQ(again, (std::vector<std::string>{"SEC050312.lzh", "SEC050313.lzh", "TYB050312.lzh"}));
  r = cli({"ledger", "--json", "--offline"});
  EXPECT_EQ(states(r)["20050312 SEC"], "complete");
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T成績データ;"), "8\n");
}

TEST(LedgerWindow, ColoursEachDayByItsWorstKindAndShowsADaysKinds) {
  test::EnsureQtApp();
  TestHome h;
  ASSERT_FALSE(regMainKOVA(fx::WriteDayArchives(h.work, {"SEC"}, smallDay("20050312")).at(0), "T"));
  const std::string whole = joined(fx::DayRecords("SEC", smallDay("20050313")));
  fx::WriteLzh(h.work + "SEC050313.lzh", {{"SEC050313.txt", whole.substr(0, whole.size() - 20)}});
  ASSERT_TRUE(regMainKOVA(h.work + "SEC050313.lzh", "T"));

  screens::frmLedger f;
  f.setMode("T");
  f.showMonth(QDate(2005, 3, 20));
  f.loadLedger(false);
  EXPECT_EQ(f.lblMonth->text().toStdString(), "2005年3月");
  std::map<std::string, QTableWidgetItem*> days;
  for (int r = 0; r < f.grdCalendar->rowCount(); ++r)
    for (int c = 0; c < f.grdCalendar->columnCount(); ++c)
      if (auto* it = f.grdCalendar->item(r, c)) days[it->data(Qt::UserRole).toString().toStdString()] = it;
  ASSERT_EQ(days.size(), 31u);
  EXPECT_EQ(days["20050312"]->column(), 6);  // a Saturday
  EXPECT_EQ(days["20050312"]->text().toStdString(), "12\n登録済");
  EXPECT_EQ(days["20050313"]->text().toStdString(), "13\n失敗");
  EXPECT_EQ(days["20050314"]->text().toStdString(), "14");
  EXPECT_NE(days["20050312"]->background().color(), days["20050313"]->background().color());

  f.grdCalendar->setCurrentItem(days["20050313"]);
  QTreeWidgetItem* sec = nullptr;
  for (int i = 0; i < f.lstKinds->topLevelItemCount(); ++i)
    if (f.lstKinds->topLevelItem(i)->text(0) == "SEC") sec = f.lstKinds->topLevelItem(i);
  ASSERT_NE(sec, nullptr);
  EXPECT_EQ(sec->text(1).toStdString(), "SEC050313.lzh");
  EXPECT_EQ(sec->text(2).toStdString(), "失敗");
  EXPECT_NE(sec->text(6).toStdString().find("途中で切れています"), std::string::npos);

  // Nothing to fetch on a complete day: the member is told, nothing is fetched.
  f.pickDays({"20050312"});
  h.messages.clear();
  EXPECT_EQ(f.cmdFetch_Click(), 0);
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_EQ(h.messages[0].text, "選択した日に未取得のデータはありません。");
}
