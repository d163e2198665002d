// Loading many archives on two cores: a decode thread unpacks the next archives
// and decodes their records while the writer thread registers the one in hand.
//
//   ArchivePipeline pipe(paths, {"J", "D"});
//   ArchiveBatch batch(G().gDBDir);
//   while (auto a = pipe.next()) { batch.begin(); regMain(a->path, "D", "J", a.get()); ... }
//
// The writer keeps everything that makes registration what it is: the order of
// the archives and of their files, one transaction per file, the batched
// commits, every log entry in its place (the decode thread's findings are
// written by the writer when it reaches them) and the only database connection.
// The decode thread never touches the engine; what needs a lookup in the
// database stays with the writer.
#pragma once
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/error.h"
#include "registration/decodedfiles.h"
#include "registration/driver.h"

namespace velmo {

// One archive made ready off the writer thread.
struct PreparedArchive {
  std::string path;
  std::string extension;  // of the data files unpacked: ".txt" or ".dat"
  bool exists = false;
  bool checked = false;  // CheckArchive ran (when asked for)
  bool readable = true;  // and what it said
  std::string why;
  std::unique_ptr<RunWorkFolder> work;  // null when the folder could not be made: the writer tries itself
  bool unpacked = false;                // the unpacking below ran into work
  bool unpackFailed = false;
  std::vector<ErrObject> unpackLog;  // Com_UnLzh's entries, not yet written
  reg::DecodedFiles decoded;
};

class ArchivePipeline {
 public:
  struct Options {
    std::string source = "J";  // "J" the provider's archives, "V" JRA-VAN archives
    std::string mode = "T";    // files of kinds the mode skips are not decoded
    bool check = false;        // run CheckArchive on each (velmo-cli reports it before registering)
    size_t ahead = 2;          // archives made ready and not yet taken, at most
  };
  ArchivePipeline(std::vector<std::string> paths, Options options);
  // Stops after the archive being prepared and waits for the thread.
  ~ArchivePipeline();
  ArchivePipeline(const ArchivePipeline&) = delete;
  ArchivePipeline& operator=(const ArchivePipeline&) = delete;

  // The next archive in the given order, waiting while it is prepared; nullptr after the last.
  std::unique_ptr<PreparedArchive> next();
  // Prepares one archive as the decode thread does (no thread; for tests and single runs).
  static std::unique_ptr<PreparedArchive> prepare(const std::string& path, const Options& options);

 private:
  void run();

  std::vector<std::string> paths_;
  Options options_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::unique_ptr<PreparedArchive>> ready_;
  size_t taken_ = 0;
  bool stop_ = false;
  bool inline_ = false;  // no thread could be started: next() prepares the archive itself
  std::thread thread_;
};

}  // namespace velmo
