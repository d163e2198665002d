// The PostgreSQL copy of the databases against a real server: the throw-away
// server of scripts/pg-test-server.sh that the ctest fixture starts (its state
// file in VELMO_PG_STATE). Every test works in a database of its own there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/func.h"
#include "mirror/pgconnection.h"
#include "startup/platform/db.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

std::string stateFile() {
  const char* s = std::getenv("VELMO_PG_STATE");
  return s ? s : "";
}

std::string line(const std::string& file, int n) {
  std::ifstream in(file);
  std::string l;
  for (int i = 0; i <= n && std::getline(in, l); ++i) {
  }
  return l;
}

std::string shell(const std::string& cmd, int* rc = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (rc) *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string shq(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// A server database of the test's own on the fixture's server (or on `state`'s).
class ServerDb {
 public:
  explicit ServerDb(const std::string& name, const std::string& state = stateFile()) {
    base_ = line(state, 0);
    conninfo = base_;
    conninfo.replace(conninfo.find("dbname=velmo"), 12, "dbname=" + name);
    shell("psql -X -q " + shq(base_) + " -c 'DROP DATABASE IF EXISTS " + name + "' -c 'CREATE DATABASE " + name + "' >/dev/null 2>&1");
  }
  std::string psql(const std::string& sql, int* rc = nullptr) const { return psqlOn(conninfo, sql, rc); }
  static std::string psqlOn(const std::string& c, const std::string& sql, int* rc = nullptr) {
    return shell("psql -X -q -At -F '|' " + shq(c) + " -v ON_ERROR_STOP=1 -c " + shq(sql) + " 2>&1", rc);
  }
  std::string conninfo;

 private:
  std::string base_;
};

struct CliRun {
  int rc = -1;
  std::string out, err;
};

CliRun cli(const TestHome& h, const std::string& args) {
  std::string cmd = "VELMO_HOME='" + h.program + "' VELMO_CONFIG_DIR='" + h.config + "' " + test::BuildHome() + "velmo-cli " +
                    args + " </dev/null 2>'" + h.root + "err.txt' >'" + h.root + "out.txt'";
  CliRun r;
  int status = std::system(cmd.c_str());
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFileBytes(h.root + "out.txt");
  r.err = ReadFileBytes(h.root + "err.txt");
  return r;
}

void writeIni(const TestHome& h, const std::string& mirror) {
  std::ofstream(h.config + "kova.ini") << "[main]\r\nDBDir=" << h.dbDir << "\r\nLzhDir=" << h.lzhDir << "\r\nMirror=" << mirror
                                       << "\r\n";
}

std::vector<std::string> dayArchives(const TestHome& h, const std::string& date, int runners = 4, uint32_t seed = 1) {
  fx::RaceDay day;
  day.date = date;
  day.courses = {"06"};
  day.races = 2;
  day.runners = runners;
  day.seed = seed;
  std::string dir = h.work + date + "-" + std::to_string(runners) + "-" + std::to_string(seed) + "/";
  MakeDirAll(dir);
  return fx::WriteDayArchives(dir, {"BAB", "KYG", "SEC", "HJC", "KZA"}, day);
}

std::string join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += " '" + x + "'";
  return s;
}

// Every table of the three files, by its row count in the file and on the
// server (sqlite3 and psql, independent of Velmo), and `mirror verify`.
void expectSame(const TestHome& h, const ServerDb& s, const std::string& when) {
  for (const char* file : {"kova_this", "kova_data", "kova_code"}) {
    std::string names = h.sqlite(std::string(file) + ".mdb",
                                 "select name from sqlite_master where type='table' and name not like 'MSysVelmo%' and name not like "
                                 "'sqlite%' order by name;");
    std::istringstream in(names);
    std::string t;
    int tables = 0;
    while (std::getline(in, t)) {
      if (t.empty()) continue;
      ++tables;
      std::string local = h.sqlite(std::string(file) + ".mdb", "select count(*) from \"" + t + "\";");
      std::string server = s.psql("select count(*) from " + std::string(file) + ".\"" + t + "\"");
      EXPECT_EQ(local, server) << when << ": " << file << "." << t;
    }
    std::string serverTables = s.psql("select count(*) from information_schema.tables where table_schema = '" + std::string(file) + "'");
    EXPECT_EQ(serverTables, std::to_string(tables) + "\n") << when << ": " << file;
  }
  CliRun v = cli(h, "mirror verify --json");
  EXPECT_EQ(v.rc, 0) << when << ": " << v.out << v.err;
  EXPECT_NE(v.out.find("\"equal\":true"), std::string::npos) << when << ": " << v.out;
}

bool skipWithoutServer() { return stateFile().empty() || line(stateFile(), 0).empty(); }

#define NEED_SERVER() \
  if (skipWithoutServer()) GTEST_SKIP() << "no test server (run through ctest: fixture velmo_pg)"

}  // namespace

TEST(Mirror, FollowsRegistrationChangeoverDeletionReRegistrationSqlAndRestore) {
  NEED_SERVER();
  TestHome h;
  ServerDb s("m_follow");
  writeIni(h, s.conninfo);
  // Past days and this week's day; each command syncs after its commits.
  CliRun r = cli(h, "register --mode D" + join(dayArchives(h, "20050226")) + join(dayArchives(h, "20050305")));
  ASSERT_EQ(r.rc, 0) << r.err;
  r = cli(h, "register --mode T" + join(dayArchives(h, "20050312")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err.find("Mirror"), std::string::npos) << r.err;
  EXPECT_NE(s.psql("select count(*) from kova_data.\"D番組データ\""), "0\n");
  expectSame(h, s, "registered");

  r = cli(h, "changeover --yes");
  ASSERT_EQ(r.rc, 0) << r.err;
  expectSame(h, s, "changeover");
  r = cli(h, "delete --db data --from 20050226 --to 20050226 --yes");
  ASSERT_EQ(r.rc, 0) << r.err;
  expectSame(h, s, "deletion");
  // The same day again with other values (more runners, other seed).
  r = cli(h, "register --mode D" + join(dayArchives(h, "20050305", 6, 7)));
  ASSERT_EQ(r.rc, 0) << r.err;
  expectSame(h, s, "re-registration");
  r = cli(h, "sql --db data \"update D番組データ set レース名 = 'ミラー記念' where 年月日 = '20050305'\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(s.psql("select count(*) from kova_data.\"D番組データ\" where \"レース名\" = 'ミラー記念'"), "2\n");
  expectSame(h, s, "sql update");
  // Back to the copy taken before the deletion.
  r = cli(h, "backup list");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string name;
  {
    std::istringstream in(r.out);
    std::string l;
    while (std::getline(in, l))
      if (l.rfind("kova_data_delete_", 0) == 0) name = l.substr(0, l.find_first_of(" \t"));
  }
  ASSERT_FALSE(name.empty()) << r.out;
  r = cli(h, "backup restore " + name + " --yes");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err.find("Mirror"), std::string::npos) << r.err;
  // The copy holds the deleted rows; the server follows the restored file.
  EXPECT_EQ(s.psql("select count(*) from kova_data.\"D番組データ\" where \"レース名\" = 'ミラー記念'"),
            h.sqlite("kova_data.mdb", "select count(*) from D番組データ where レース名 = 'ミラー記念';"));
  expectSame(h, s, "restore");
}

TEST(Mirror, LayoutTypesKeysNullAndEmptyTextAndSchemaChanges) {
  NEED_SERVER();
  TestHome h;
  ServerDb s("m_layout");
  writeIni(h, s.conninfo);
  ASSERT_EQ(cli(h, "register --mode T" + join(dayArchives(h, "20050312"))).rc, 0);
  // Types from the field definitions; names as the files have them; no engine tables.
  struct Case {
    const char* table;
    const char* column;
    const char* type;
  } cases[] = {
      {"T番組データ", "レース名", "character varying|50"},
      {"T番組データ", "年月日", "character varying|8"},
      {"JRAコード変換", "種類", nullptr},
  };
  for (const auto& c : cases) {
    if (!c.type) continue;
    EXPECT_EQ(s.psql(std::string("select data_type, character_maximum_length from information_schema.columns where table_name = '") +
                     c.table + "' and column_name = '" + c.column + "'"),
              std::string(c.type) + "\n")
        << c.table << "." << c.column;
  }
  EXPECT_EQ(s.psql("select count(*) from information_schema.tables where table_name like 'MSysVelmo%'"), "0\n");
  EXPECT_EQ(s.psql("select string_agg(a.attname, ',' order by k.ord) from pg_index i join pg_class c on c.oid = i.indrelid "
                   "join pg_namespace n on n.oid = c.relnamespace cross join unnest(i.indkey) with ordinality k(attnum, ord) "
                   "join pg_attribute a on a.attrelid = c.oid and a.attnum = k.attnum "
                   "where n.nspname = 'kova_this' and c.relname = 'T番組データ' and i.indisprimary"),
            "レースキー\n");
  EXPECT_EQ(s.psql("select count(*) from pg_indexes where schemaname = 'kova_this' and tablename = 'T番組データ'"), "2\n");
  // Null and the empty text stay apart.
  ASSERT_EQ(cli(h, "sql \"update T番組データ set レース名 = Null where mid(レースキー,7,2) = '01'\"").rc, 0);
  ASSERT_EQ(cli(h, "sql \"update T番組データ set レース名 = '' where mid(レースキー,7,2) = '02'\"").rc, 0);
  EXPECT_EQ(s.psql("select count(*) filter (where \"レース名\" is null), count(*) filter (where \"レース名\" = '') from "
                   "kova_this.\"T番組データ\""),
            "1|1\n");
  // A column and a table that a statement adds appear; a dropped table goes.
  CliRun r = cli(h, "sql \"alter table T番組データ add column 予想 long\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  r = cli(h, "sql \"create table ミラー表 (コード text(4), 値 double)\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  r = cli(h, "sql \"insert into ミラー表 values ('A', 0.1)\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(s.psql("select data_type from information_schema.columns where table_name = 'T番組データ' and column_name = '予想'"),
            "integer\n");
  EXPECT_EQ(s.psql("select \"値\" from kova_this.\"ミラー表\""), "0.1\n");
  expectSame(h, s, "schema changes");
  r = cli(h, "sql \"drop table ミラー表\"");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(s.psql("select count(*) from information_schema.tables where table_name = 'ミラー表'"), "0\n");
}

TEST(Mirror, ServerAwayNeverFailsTheCommandAndTheNextSyncCatchesUp) {
  NEED_SERVER();
  TestHome h;
  // A server of this test's own, since it is stopped.
  const std::string state = h.root + "pg.state";
  ASSERT_EQ(std::system(("bash '" VELMO_SOURCE_DIR "/scripts/pg-test-server.sh' start '" + state + "'").c_str()), 0);
  {
    ServerDb s("m_away", state);
    const std::string password = "pw-never-shown-4711";
    writeIni(h, s.conninfo + " password=" + password);
    ASSERT_EQ(cli(h, "register --mode D" + join(dayArchives(h, "20050305"))).rc, 0);
    ASSERT_EQ(std::system(("bash '" VELMO_SOURCE_DIR "/scripts/pg-test-server.sh' down '" + state + "'").c_str()), 0);
    CliRun r = cli(h, "register --mode D" + join(dayArchives(h, "20050312")));
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find("Mirror"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(password), std::string::npos);
    CliRun st = cli(h, "mirror status --json");
    EXPECT_EQ(st.rc, 0);
    EXPECT_EQ(st.out.find("\"pending\":0"), std::string::npos) << st.out;
    EXPECT_EQ(st.out.find("\"last_error\":null"), std::string::npos) << st.out;
    EXPECT_EQ(st.out.find(password), std::string::npos);
    EXPECT_EQ(h.logText().find(password), std::string::npos);
    EXPECT_EQ(cli(h, "mirror sync").rc, 1);
    ASSERT_EQ(std::system(("bash '" VELMO_SOURCE_DIR "/scripts/pg-test-server.sh' up '" + state + "'").c_str()), 0);
    r = cli(h, "mirror sync --json");
    EXPECT_EQ(r.rc, 0) << r.err;
    st = cli(h, "mirror status --json");
    EXPECT_NE(st.out.find("\"pending\":0"), std::string::npos) << st.out;
    EXPECT_NE(st.out.find("\"last_error\":null"), std::string::npos) << st.out;
    expectSame(h, s, "caught up");
  }
  std::system(("bash '" VELMO_SOURCE_DIR "/scripts/pg-test-server.sh' stop '" + state + "'").c_str());
}

TEST(Mirror, ASyncKilledHalfWayLeavesTheServerAsItWasAndTheNextCompletes) {
  NEED_SERVER();
  TestHome h;
  ServerDb s("m_killed");
  writeIni(h, s.conninfo);
  ASSERT_EQ(cli(h, "register --mode T" + join(dayArchives(h, "20050312"))).rc, 0);
  const std::string before = s.psql("select count(*) from kova_this.\"T競走馬データ\"");
  // Without the server's copy following (no Mirror), a second day is registered.
  writeIni(h, "");
  ASSERT_EQ(cli(h, "register --mode T" + join(dayArchives(h, "20050313", 5, 3))).rc, 0);
  writeIni(h, s.conninfo);
  // The sync waits on the server's record of the files after the first file's
  // tables were changed, held by another session; there it is killed.
  FILE* holder = popen(("psql -X -q " + shq(s.conninfo) + " >/dev/null 2>&1").c_str(), "w");
  ASSERT_NE(holder, nullptr);
  std::fputs("BEGIN; LOCK TABLE velmo_mirror.files IN EXCLUSIVE MODE; SELECT 1;\n", holder);
  std::fflush(holder);
  // The other session holds the lock before the sync starts.
  bool held = false;
  for (int i = 0; i < 2400 && !held; ++i) {
    held = s.psql("select count(*) from pg_locks l join pg_class c on c.oid = l.relation join pg_namespace n on n.oid = c.relnamespace"
                  " where n.nspname = 'velmo_mirror' and c.relname = 'files' and l.mode = 'ExclusiveLock' and l.granted") == "1\n";
    if (!held) usleep(50000);
  }
  ASSERT_TRUE(held);
  pid_t child = fork();
  if (child == 0) {
    setenv("VELMO_HOME", h.program.c_str(), 1);
    setenv("VELMO_CONFIG_DIR", h.config.c_str(), 1);
    freopen("/dev/null", "w", stdout);
    std::string exe = test::BuildHome() + "velmo-cli";
    execl(exe.c_str(), exe.c_str(), "mirror", "sync", "--full", static_cast<char*>(nullptr));
    _exit(127);
  }
  bool waiting = false;
  for (int i = 0; i < 2400 && !waiting; ++i) {  // up to two minutes on a loaded machine
    waiting = s.psql("select count(*) from pg_stat_activity where application_name = 'velmo-mirror' and wait_event_type = 'Lock'") ==
              "1\n";
    if (!waiting) usleep(50000);
  }
  EXPECT_TRUE(waiting);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  std::fputs("COMMIT;\n\\q\n", holder);
  pclose(holder);
  // The server's copy is the one before the sync.
  EXPECT_EQ(s.psql("select count(*) from kova_this.\"T競走馬データ\""), before);
  // The second day was written without notes (no Mirror then), so it is found by comparing.
  CliRun r = cli(h, "mirror sync --full --json");
  EXPECT_EQ(r.rc, 0) << r.err;
  expectSame(h, s, "after the killed sync");
}

TEST(Mirror, VerifyFindsARowChangedOnTheServerAndFullSyncRepairsIt) {
  NEED_SERVER();
  TestHome h;
  ServerDb s("m_verify");
  writeIni(h, s.conninfo);
  ASSERT_EQ(cli(h, "register --mode D" + join(dayArchives(h, "20050305"))).rc, 0);
  EXPECT_EQ(cli(h, "mirror verify").rc, 0);
  s.psql("update kova_data.\"D成績データ\" set \"馬名\" = 'ちがう' where ctid = (select min(ctid) from kova_data.\"D成績データ\")");
  CliRun v = cli(h, "mirror verify");
  EXPECT_EQ(v.rc, 1);
  EXPECT_NE(v.out.find("DIFFERS\tkova_data.D成績データ"), std::string::npos) << v.out;
  EXPECT_NE(v.err.find("D成績データ"), std::string::npos) << v.err;
  // Following the notes finds nothing to do; comparing by key repairs it.
  CliRun r = cli(h, "mirror sync --full --json");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(cli(h, "mirror verify").rc, 0);
  EXPECT_EQ(cli(h, "mirror verify --bogus").rc, 2);
  EXPECT_EQ(cli(h, "mirror").rc, 2);
}

TEST(Mirror, ConnectionProblemsAreToldApartAndThePasswordIsNeverShown) {
  NEED_SERVER();
  const std::string base = line(stateFile(), 0);
  const std::string dir = line(stateFile(), 1), port = line(stateFile(), 2);
  struct Case {
    std::string conninfo;
    mirror::ConnectProblem problem;
  } cases[] = {
      {"host=" + dir + "/nowhere port=" + port + " dbname=velmo user=velmo", mirror::ConnectProblem::Unreachable},
      {"host=" + dir + " port=" + port + " dbname=velmo user=velmo_pw password=wrong-secret-99", mirror::ConnectProblem::Authentication},
      {"host=" + dir + " port=" + port + " dbname=no_such_db user=velmo", mirror::ConnectProblem::NoDatabase},
      {"postgresql://velmo:wrong-secret-99@[bad", mirror::ConnectProblem::Setting},
  };
  for (const auto& c : cases) {
    try {
      mirror::PgConnection conn(c.conninfo, 5);
      ADD_FAILURE() << "connected: " << mirror::PgConnection::describe(c.conninfo);
    } catch (const mirror::MirrorError& e) {
      EXPECT_EQ(static_cast<int>(e.problem), static_cast<int>(c.problem)) << e.what();
      EXPECT_EQ(std::string(e.what()).find("wrong-secret-99"), std::string::npos) << e.what();
    }
    EXPECT_EQ(mirror::PgConnection::describe(c.conninfo).find("wrong-secret-99"), std::string::npos);
  }
  mirror::PgConnection ok("host=" + dir + " port=" + port + " dbname=velmo user=velmo_pw password=right-pw", 5);
}
