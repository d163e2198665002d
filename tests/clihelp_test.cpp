// The reference of velmo-cli: every command of the command table has its help,
// its section of the manual page and its completion words, and every option of a
// command's usage line is described (and no description is left of an option
// the command no longer has).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "common/func.h"
#include "common/text.h"
#include "tests/testenv.h"

using namespace velmo;

namespace {

// Runs the built velmo-cli; its standard output and exit code.
std::string Cli(const std::string& args, int* rc = nullptr) {
  std::string cmd = test::BuildHome() + "velmo-cli " + args + " 2>/dev/null </dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = pclose(p);
  if (rc) *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> w;
  std::istringstream in(s);
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

std::string Roff(std::string s) {
  std::string o;
  for (char c : s) o += c == '-' ? std::string("\\-") : std::string(1, c);
  return o;
}

struct CommandRow {
  std::string name;
  std::vector<std::string> usageOptions, options, words;
};

std::vector<CommandRow> CommandTable() {
  std::vector<CommandRow> rows;
  int rc = -1;
  std::istringstream in(Cli("help --commands", &rc));
  EXPECT_EQ(rc, 0);
  for (std::string line; std::getline(in, line);) {
    auto f = text::split(line, '\t');
    if (f.size() < 4) {
      ADD_FAILURE() << "bad line: " << line;
      continue;
    }
    rows.push_back({f[0], Words(f[1]), Words(f[2]), Words(f[3])});
  }
  return rows;
}

}  // namespace

TEST(CliHelp, EveryCommandHasItsHelpManualSectionAndCompletion) {
  const auto table = CommandTable();
  ASSERT_GE(table.size(), 10u);
  const std::string man = ReadFileBytes(std::string(VELMO_BUILD_DIR) + "/man/velmo-cli.1");
  const std::string completion = ReadFileBytes(std::string(VELMO_BUILD_DIR) + "/completion/velmo-cli");
  const std::string overview = Cli("--help");
  for (const auto& c : table) {
    SCOPED_TRACE(c.name);
    // The usage line's options and the described options are the same set.
    EXPECT_EQ(std::set<std::string>(c.usageOptions.begin(), c.usageOptions.end()),
              std::set<std::string>(c.options.begin(), c.options.end()))
        << "describe each option of the usage line in src/app/clidoc.cpp";
    EXPECT_NE(overview.find("velmo-cli " + c.name), std::string::npos);
    // help COMMAND and COMMAND --help.
    int rc = -1;
    const std::string help = Cli("help " + c.name, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Cli(c.name + " --help"), help);
    // The manual's section of the command, up to the next one.
    const std::string head = ".SS \"velmo\\-cli " + Roff(c.name) + "\"";
    const size_t at = man.find(head);
    ASSERT_NE(at, std::string::npos) << "no manual section";
    const std::string section = man.substr(at, man.find(".SS ", at + 1) - at);
    // The completion's case of the command.
    const size_t caseAt = completion.find("\n    " + c.name + ")\n");
    ASSERT_NE(caseAt, std::string::npos) << "no completion case";
    const size_t wordsAt = completion.find("words=\"", caseAt);
    const size_t optsAt = completion.find("opts=\"", caseAt);
    const auto completedWords = Words(completion.substr(wordsAt + 7, completion.find('"', wordsAt + 7) - wordsAt - 7));
    const auto completedOpts = Words(completion.substr(optsAt + 6, completion.find('"', optsAt + 6) - optsAt - 6));
    for (const auto& o : c.options) {
      EXPECT_NE(help.find("  " + o), std::string::npos) << o;
      EXPECT_NE(section.find("\\fB" + Roff(o) + "\\fR"), std::string::npos) << o;
      EXPECT_NE(std::find(completedOpts.begin(), completedOpts.end(), o), completedOpts.end()) << o;
    }
    EXPECT_EQ(completedWords, c.words);
    for (const auto& w : c.words) {
      EXPECT_NE(section.find("\\fB" + Roff(w) + "\\fR"), std::string::npos) << w;
      EXPECT_NE(help.find("  " + w), std::string::npos) << w;
    }
  }
}

TEST(CliHelp, VersionHelpAndBadCallsAnswerWithTheirExitCodes) {
  struct Case {
    const char* args;
    int rc;
    const char* has;
  } cases[] = {
      {"--version", 0, "velmo-cli " VELMO_VERSION_STRING "\n"},
      {"--help", 0, "usage: velmo-cli COMMAND"},
      {"help", 0, "usage: velmo-cli COMMAND"},
      {"help update", 0, "  --from yyyymmdd"},
      {"help no-such-command", 2, ""},
      {"no-such-command", 2, ""},
      {"", 2, ""},
      {"help --man velmo", 0, ".SH EXIT STATUS"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    int rc = -1;
    const std::string out = Cli(c.args, &rc);
    EXPECT_EQ(rc, c.rc);
    EXPECT_NE(out.find(c.has), std::string::npos) << out;
  }
}

TEST(CliHelp, TheManualPageOfVelmoHasEverySettingExitCodeAndFile) {
  const std::string man = ReadFileBytes(std::string(VELMO_BUILD_DIR) + "/man/velmo.1");
  for (const char* key : {"LzhDir", "DBDir", "UserID", "Passwd", "VANDir", "VAN", "KovaHost", "StallTimeout",
                          "UnpackEntryLimitMB", "WriterWaitSeconds", "BackupDir", "BackupGenerations"})
    EXPECT_NE(man.find(std::string("\\fB") + key + "\\fR"), std::string::npos) << key;
  for (const char* code : {"0", "1", "2", "3", "4"}) EXPECT_NE(man.find(std::string(".TP\n\\fB") + code + "\\fR"), std::string::npos);
  for (const char* file : {"VelmoLog.dat", "tmp/", "dwn/", "datacheckD_Result.txt", "topics.next", "Velmo.conf"})
    EXPECT_NE(man.find(file), std::string::npos) << file;
  EXPECT_NE(man.find("DATAID DOWNONLY yyyymmdd"), std::string::npos);
}
