// Test environment: a temporary program folder, settings folder and database
// folder, so tests never touch the real home; message boxes are answered and
// recorded; retry waits are shortened.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msgbox.h"

namespace velmo::test {

class TestHome {
 public:
  // Copies the built program folder's data files and initial databases.
  explicit TestHome(bool withDatabases = true);
  ~TestHome();
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  std::string root;     // ends in "/"
  std::string program;  // program folder (VELMO_HOME)
  std::string config;   // settings folder (VELMO_CONFIG_DIR)
  std::string dbDir;    // database folder (gDBDir)
  std::string lzhDir;   // data storage folder
  std::string work;     // scratch folder for generated files

  std::vector<MsgRequest> messages;   // every message box shown
  std::vector<int> answers;           // answers given in order (default: first button)
  std::string logText() const;        // VelmoLog.dat
  // Runs sqlite3 on a database of the database folder and returns its output.
  std::string sqlite(const std::string& dbFile, const std::string& sql) const;

 private:
  MsgBoxHandler previous_;
};

// The built program folder (executables, data files, initDB).
std::string BuildHome();

}  // namespace velmo::test
