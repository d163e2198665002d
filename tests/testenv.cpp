#include "tests/testenv.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/func.h"
#include "common/globals.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"

namespace fs = std::filesystem;

namespace velmo::test {

std::string BuildHome() { return AddPathSep(VELMO_BUILD_HOME); }

TestHome::TestHome(bool withDatabases) {
  char tmpl[] = "/tmp/velmo-test-XXXXXX";
  root = AddPathSep(mkdtemp(tmpl));
  program = root + "home/";
  config = root + "config/";
  dbDir = root + "db/";
  lzhDir = root + "lzh/";
  work = root + "work/";
  for (const auto& d : {program, config, dbDir, lzhDir, work}) fs::create_directories(d);
  for (const auto& e : fs::directory_iterator(BuildHome())) {
    if (e.is_regular_file() && e.path().extension() == ".txt") fs::copy_file(e.path(), program + e.path().filename().string());
  }
  fs::create_directories(program + "initDB");
  for (const auto& e : fs::directory_iterator(BuildHome() + "initDB")) {
    fs::copy_file(e.path(), program + "initDB/" + e.path().filename().string());
    if (withDatabases) fs::copy_file(e.path(), dbDir + e.path().filename().string());
  }
  setenv("VELMO_HOME", program.c_str(), 1);
  setenv("VELMO_CONFIG_DIR", config.c_str(), 1);
  SetWaitScale(0.01);
  db::Workspace::get().reset();
  auto& g = G();
  g = Globals();
  g.gDBDir = dbDir;
  g.gLzhDir = lzhDir;
  g.gTmpDir = program + "tmp/";
  g.gDwnDir = program + "dwn/";
  g.gSilent = "0";
  MakeDirAll(g.gTmpDir);
  MakeDirAll(g.gDwnDir);
  AppLog::instance().setLogFile(program + "VelmoLog.dat");
  AppLog::instance().setFormName("");
  previous_ = SetMsgBoxHandler([this](const MsgRequest& r) {
    messages.push_back(r);
    if (!answers.empty()) {
      int a = answers.front();
      answers.erase(answers.begin());
      return a;
    }
    return r.buttons == vbYesNo || r.buttons == vbYesNoCancel ? static_cast<int>(vbYes) : static_cast<int>(vbOK);
  });
}

TestHome::~TestHome() {
  SetMsgBoxHandler(previous_);
  db::Workspace::get().reset();
  G() = Globals();
  std::error_code ec;
  if (!std::getenv("VELMO_KEEP_TEST_HOME")) fs::remove_all(root, ec);
}

std::string TestHome::logText() const {
  std::ifstream in(program + "VelmoLog.dat");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TestHome::sqlite(const std::string& dbFile, const std::string& sql) const {
  std::string sqlFile = root + "q.sql";
  {
    std::ofstream o(sqlFile);
    o << sql << "\n";
  }
  std::string cmd = "sqlite3 -batch '" + dbDir + dbFile + "' < '" + sqlFile + "' 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace velmo::test
