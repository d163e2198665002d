// velmo-cli schedule: the systemd user units it writes, the systemctl calls it
// makes when a user systemd answers (a recording stand-in for systemctl), and
// the crontab line without one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/func.h"
#include "tests/testenv.h"

using velmo::test::TestHome;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ScheduleRun {
  int rc;
  std::string out;
};

ScheduleRun schedule(const TestHome& h, const std::string& systemctl, const std::string& args) {
  const std::string out = h.work + "out.txt";
  std::string cmd = "XDG_CONFIG_HOME='" + h.root + "xdg' VELMO_SYSTEMCTL='" + systemctl + "' '" + velmo::test::BuildHome() +
                    "velmo-cli' schedule " + args + " >'" + out + "' 2>&1";
  int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readAll(out)};
}

}  // namespace

TEST(Schedule, WithoutSystemdWritesTheUnitsAndPrintsTheCrontabLine) {
  TestHome h;
  const std::string units = h.root + "xdg/systemd/user/";
  ScheduleRun r = schedule(h, "none", "install --at 06:45 --mode D --kinds SEC,KOVA");
  ASSERT_EQ(r.rc, 0) << r.out;
  const std::string service = readAll(units + "velmo-update.service");
  const std::string timer = readAll(units + "velmo-update.timer");
  EXPECT_NE(timer.find("OnCalendar=*-*-* 06:45:00\n"), std::string::npos) << timer;
  EXPECT_NE(timer.find("WantedBy=timers.target"), std::string::npos);
  EXPECT_NE(service.find("velmo-cli update --mode D --kinds SEC,KOVA --json\n"), std::string::npos) << service;
  EXPECT_NE(service.find("Environment=VELMO_CONFIG_DIR=" + h.config), std::string::npos) << service;
  EXPECT_NE(r.out.find("45 06 * * * VELMO_HOME="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("velmo-cli update --mode D --kinds SEC,KOVA --json >>"), std::string::npos) << r.out;

  r = schedule(h, "none", "status");
  EXPECT_EQ(r.rc, 0);
  EXPECT_NE(r.out.find("*-*-* 06:45:00"), std::string::npos) << r.out;
  EXPECT_EQ(schedule(h, "none", "remove").rc, 0);
  EXPECT_FALSE(velmo::FileExists(units + "velmo-update.timer"));
  EXPECT_FALSE(velmo::FileExists(units + "velmo-update.service"));
  EXPECT_EQ(schedule(h, "none", "status").rc, 1);

  for (const char* bad : {"install", "install --at 24:00", "install --at 6:45", "install --at 06:45 --mode X",
                          "install --at 06:45 --kinds 'SEC;rm'", "start"})
    EXPECT_EQ(schedule(h, "none", bad).rc, 2) << bad;
}

TEST(Schedule, WithAUserSystemdEnablesAndDisablesTheTimer) {
  TestHome h;
  const std::string fake = h.work + "systemctl";
  const std::string calls = h.work + "calls.txt";
  {
    std::ofstream f(fake);
    f << "#!/bin/sh\necho \"$*\" >> '" << calls << "'\nexit 0\n";
  }
  chmod(fake.c_str(), 0755);
  ASSERT_EQ(schedule(h, fake, "install --at 21:05").rc, 0);
  EXPECT_TRUE(velmo::FileExists(h.root + "xdg/systemd/user/velmo-update.timer"));
  EXPECT_EQ(schedule(h, fake, "remove").rc, 0);
  EXPECT_EQ(readAll(calls),
            "--user show-environment\n--user daemon-reload\n--user enable --now velmo-update.timer\n"
            "--user show-environment\n--user disable --now velmo-update.timer\n--user daemon-reload\n");

  // systemctl refusing to enable the timer is a failure.
  {
    std::ofstream f(fake);
    f << "#!/bin/sh\ncase \"$2\" in enable) exit 1;; esac\nexit 0\n";
  }
  EXPECT_EQ(schedule(h, fake, "install --at 21:05").rc, 1);
}

TEST(Schedule, ValuesAreQuotedForSystemdAndCronAndControlCharactersRefused) {
  TestHome h;
  const std::string units = h.root + "xdg/systemd/user/";
  // A program folder whose name systemd and cron would expand.
  const std::string odd = h.root + "a${HOME}b%c/";
  std::filesystem::create_directories(odd);
  std::filesystem::copy_file(velmo::test::BuildHome() + "velmo-cli", odd + "velmo-cli");
  chmod((odd + "velmo-cli").c_str(), 0755);
  const std::string out = h.work + "out.txt";
  auto run = [&](const std::string& home) {
    std::string cmd = "XDG_CONFIG_HOME='" + h.root + "xdg' VELMO_SYSTEMCTL=none VELMO_HOME=" + home + " '" + odd +
                      "velmo-cli' schedule install --at 05:10 >'" + out + "' 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  ASSERT_EQ(run("'" + odd + "'"), 0) << readAll(out);
  const std::string service = readAll(units + "velmo-update.service");
  EXPECT_NE(service.find("ExecStart=" + h.root + "a$${HOME}b%%c/velmo-cli update"), std::string::npos) << service;
  EXPECT_NE(service.find("Environment=VELMO_HOME=" + h.root + "a${HOME}b%%c/\n"), std::string::npos) << service;
  EXPECT_NE(service.find("TimeoutStartSec="), std::string::npos) << service;
  const std::string printed = readAll(out);
  EXPECT_NE(printed.find("'" + h.root + "a${HOME}b\\%c/velmo-cli' update"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("b%c"), std::string::npos) << printed;

  // A newline in a value would start a line of its own: nothing is written.
  std::filesystem::remove_all(units);
  for (const char* home : {"\"$(printf '/tmp/x\\nExecStartPre=/bin/true')\"", "\"$(printf '/tmp/x\\ty')\""}) {
    EXPECT_EQ(run(home), 1) << home << readAll(out);
    EXPECT_NE(readAll(out).find("control character"), std::string::npos) << readAll(out);
    EXPECT_FALSE(velmo::FileExists(units + "velmo-update.service"));
  }
}
