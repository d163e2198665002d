// velmo-cli register [--source J|V] [--mode T|D] ARCHIVE...
// Registers the archives in the order the main screen uses (pack archives
// first) with the settings of kova.ini; one progress line per file on standard
// error; exit code 0 when every archive registered, 1 when any failed.
#include <cstdio>
#include <memory>

#include "app/cli.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
#include "startup/platform/applog.h"
#include "startup/platform/writerlock.h"
#include "van/vandriver.h"

namespace velmo::cli {
namespace {

int run(const Args& given) {
  Args args = given;
  bool bad = false;
  std::string mode = TakeOption(args, "--mode", bad);
  if (mode.empty()) mode = "T";
  // J: the provider's archives; V: archives of JRA-VAN data files.
  std::string source = TakeOption(args, "--source", bad);
  if (source.empty()) source = "J";
  if (bad || (mode != "T" && mode != "D") || (source != "J" && source != "V")) return Usage("register");
  for (const auto& a : args)
    if (a.rfind("--", 0) == 0) return Usage("register");
  std::vector<std::string> archives = args;
  if (archives.empty()) return Usage("register");
  if (!InitSettings("register")) return kExitFailed;
  OrderArchives(archives);
  // Writers to one database folder take turns for the whole command.
  std::unique_ptr<db::WriterLock> lock;
  try {
    db::WriterLock::Options o;
    o.waitSeconds = db::WriterLock::defaultWaitSeconds();
    o.onWait = [](const std::string& m) { std::fprintf(stderr, "velmo-cli register: %s\n", m.c_str()); };
    lock = std::make_unique<db::WriterLock>(G().gDBDir, o);
  } catch (const VelmoError& e) {
    WriteLog(ErrObject::from(e), "velmo-cli register", false, true);
    std::fprintf(stderr, "velmo-cli register: %s\n", e.description().c_str());
    return kExitFailed;
  }
  StderrUi status;
  G().gStatusForm = &status;
  // The reports of the registration (a stop rule's message …) are kept for the
  // archive's line; questions go on as before.
  std::vector<std::string> reports;
  MsgBoxHandler previous;
  previous = SetMsgBoxHandler([&reports, &previous](const MsgRequest& r) -> int {
    if (r.buttons != vbOKOnly) return previous(r);
    reports.push_back(r.text);
    return vbOK;
  });
  int failed = 0;
  // Archives are committed a few seconds' worth at a time; each is reported
  // registered once a commit holds it.
  ArchiveBatch batch(G().gDBDir);
  std::vector<std::string> pending;
  auto settle = [&]() -> bool {
    if (batch.commit()) {
      for (const auto& a : pending) std::fprintf(stderr, "velmo-cli: %s: registered\n", a.c_str());
      pending.clear();
      return true;
    } else {
      for (const auto& a : pending)
        std::fprintf(stderr, "velmo-cli: %s: not registered: the batch holding it could not be committed (see %s)\n",
                     a.c_str(), LogFilePath().c_str());
      failed += static_cast<int>(pending.size());
    }
    pending.clear();
    return false;
  };
  // The next archives are checked, unpacked and decoded on a second thread
  // while this one registers.
  ArchivePipeline::Options ahead;
  ahead.source = source;
  ahead.mode = mode;
  ahead.check = true;
  ArchivePipeline pipe(archives, ahead);
  for (size_t i = 0; i < archives.size(); ++i) {
    const std::string& a = archives[i];
    std::unique_ptr<PreparedArchive> prep = pipe.next();
    if (!prep->exists) {
      std::fprintf(stderr, "velmo-cli: %s: no such archive\n", a.c_str());
      ++failed;
      continue;
    }
    if (!prep->readable) {
      std::fprintf(stderr, "velmo-cli: %s: cannot be unpacked: %s\n", a.c_str(), prep->why.c_str());
      ++failed;
      continue;
    }
    // The driver appends " FILE登録中(k/n)" to the archive line.
    status.setBase("[" + std::to_string(i + 1) + "/" + std::to_string(archives.size()) + "] " + FileNamePart(a));
    batch.begin();
    reports.clear();
    long r = regMain(a, mode, source, prep.get());
    const bool stopped = r != 0 && source == "V" && !LastVanStopFile().empty();
    for (size_t k = 0; k + (stopped ? 1 : 0) < reports.size(); ++k)
      std::fprintf(stderr, "velmo-cli: %s: %s\n", a.c_str(), reports[k].c_str());
    if (stopped) {
      ++failed;
      // A stop rule ended the archive: the records before the stopping one are
      // kept, and said so once a commit holds them.
      const std::string file = LastVanStopFile();
      const std::string why = reports.empty() ? "登録できないデータがあるため中止しました。" : reports.back();
      const bool kept = settle();
      std::fprintf(stderr, "velmo-cli: %s: stopped at %s: %s%s\n", a.c_str(), file.c_str(), why.c_str(),
                   kept ? " (the records before it stay registered)" : " (not kept: the batch holding them could not be committed)");
    } else if (r != 0) {
      ++failed;
      std::fprintf(stderr, "velmo-cli: %s: registration stopped on an error (see %s)\n", a.c_str(),
                   LogFilePath().c_str());
    } else {
      pending.push_back(a);
    }
    if (batch.due()) settle();
  }
  settle();
  SetMsgBoxHandler(previous);
  G().gStatusForm = nullptr;
  return failed ? kExitFailed : kExitOk;
}

const Registrar reg({"register", "register [--source J|V] [--mode T|D] ARCHIVE...",
                     "registers provider (J) or JRA-VAN (V) archives (pack archives first) into this week's (T) or the past (D) database", run});

}  // namespace
}  // namespace velmo::cli
