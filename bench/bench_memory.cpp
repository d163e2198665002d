// Peak memory of registering a large provider file and of downloading a large
// body, against a plain SQLite loop over the same file. Each measured step runs
// in a child process of its own, so its peak resident size (ru_maxrss) is its
// alone. Usage: velmo-bench-memory [MEGABYTES] [--years N]   (default 500 MB; with
// --years, also the peak of registering N years of past race days from D archives)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "bench/common.h"
#include "common/func.h"
#include "common/globals.h"
#include "download/httpfetch.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using namespace velmo::bench;
namespace fs = std::filesystem;

namespace {

struct Run {
  int status = -1;
  long peakKb = 0;
  double sec = 0;
};

// Runs fn in a child process; its exit status, peak resident size and time.
Run inChild(const std::function<int()>& fn) {
  std::fflush(nullptr);  // nothing buffered is written twice
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    std::fflush(nullptr);
    _exit(rc);
  }
  Run r;
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  r.sec = seconds(t0, Clock::now());
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.peakKb = ru.ru_maxrss;
  return r;
}

// The plain loop: the file read in blocks, each record inserted with one prepared statement.
int plainLoop(const std::string& file, int recordLength, const std::string& dbFile) {
  sqlite3* db = nullptr;
  sqlite3_open(dbFile.c_str(), &db);
  sqlite3_exec(db, "create table r (k text primary key, v blob); begin;", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "insert or replace into r values (?, ?)", -1, &st, nullptr);
  std::ifstream in(file, std::ios::binary);
  std::string block(static_cast<size_t>(recordLength) * 8192, '\0');
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    size_t n = static_cast<size_t>(in.gcount()) / static_cast<size_t>(recordLength);
    for (size_t i = 0; i < n; ++i) {
      const char* rec = block.data() + i * static_cast<size_t>(recordLength);
      sqlite3_bind_text(st, 1, rec, 16, SQLITE_STATIC);
      sqlite3_bind_blob(st, 2, rec, recordLength, SQLITE_STATIC);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}

// A one-request HTTP server on 127.0.0.1 sending bytes of body in 1 MB writes.
int serveBody(int listenFd, long long bytes) {
  int c = accept(listenFd, nullptr, nullptr);
  if (c < 0) return 1;
  char buf[4096];
  std::string req;
  while (req.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = read(c, buf, sizeof buf);
    if (n <= 0) return 1;
    req.append(buf, static_cast<size_t>(n));
  }
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes) + "\r\nConnection: close\r\n\r\n";
  if (write(c, head.data(), head.size()) < 0) return 1;
  std::string chunk(1 << 20, 'x');
  for (long long sent = 0; sent < bytes;) {
    size_t n = static_cast<size_t>(std::min<long long>(bytes - sent, static_cast<long long>(chunk.size())));
    ssize_t w = write(c, chunk.data(), n);
    if (w <= 0) return 1;
    sent += w;
  }
  close(c);
  return 0;
}

}  // namespace

// Registers `years` of generated past race days from D archives, loaded as
// velmo-cli register loads them (the next archives unpacked and decoded on a
// second thread, committed a couple of seconds at a time); a year's archives
// are generated before it is loaded and removed after.
int loadPastYears(int years) {
  const std::vector<std::string> kinds = kindsFor("D");
  ArchiveBatch batch(G().gDBDir);
  for (int y = 0; y < years; ++y) {
    const std::string work = g_root + "years-archives/";
    fs::remove_all(work);
    std::vector<std::string> archives;
    const std::vector<std::string> days = raceDays(2000 + y);
    for (size_t i = 0; i < days.size(); ++i) {
      std::vector<std::string> day = fixture::WriteDayArchives(work, kinds, dayOf(days[i], static_cast<int>(i)));
      OrderArchives(day);
      archives.insert(archives.end(), day.begin(), day.end());
    }
    ArchivePipeline::Options ahead;
    ahead.mode = "D";
    ArchivePipeline pipe(archives, ahead);
    while (auto prep = pipe.next()) {
      batch.begin();
      if (regMain(prep->path, "D", "J", prep.get()) != 0) return 1;
      if (batch.due() && !batch.commit()) return 1;
    }
  }
  return batch.commit() ? 0 : 1;
}

int main(int argc, char** argv) {
  const long long mb = argc > 1 && std::strcmp(argv[1], "--years") != 0 ? std::atoll(argv[1]) : 500;
  const int years = YearsOption(argc, argv, 0);  // 0: no --years, no such step
  Setup();
  const std::string date = "20050312";
  fixture::RaceDay day;
  std::vector<std::string> recs = fixture::DayRecords("BAB", day);
  const int L = static_cast<int>(recs.at(0).size());
  const std::string txt = g_root + fixture::FileName("BAB", date);
  const std::string archive = g_root + "BAB" + date.substr(2, 6) + ".lzh";
  // The files are made in a child, so that the parent (and every measured child
  // forked from it) stays small.
  Run gen = inChild([&]() {
    std::string all;
    all.reserve(static_cast<size_t>(mb) << 20);
    while (all.size() + static_cast<size_t>(L) <= static_cast<size_t>(mb) << 20)
      for (const auto& r : recs) all += r;
    WriteFileBytes(txt, all);
    fixture::WriteLzh(archive, {{fixture::FileName("BAB", date), all}}, fixture::Method::Stored);
    return 0;
  });
  if (gen.status != 0) return 1;
  const long long fileBytes = static_cast<long long>(fs::file_size(txt));
  std::printf("velmo-bench-memory: a %lld MB BAB file (%lld records of %d bytes); peak resident size of each step\n\n",
              fileBytes >> 20, fileBytes / L, L);
  std::printf("%-44s %12s %10s\n", "step", "peak MB", "seconds");

  G().gDBDir = freshDbFolder("velmo");
  Run reg = inChild([&]() { return regMainKOVA(archive, "T") ? 1 : 0; });
  std::printf("%-44s %12.1f %10.2f%s\n", "registration (unpack + upsert, velmo)", reg.peakKb / 1024.0, reg.sec,
              reg.status ? "  FAILED" : "");
  Run plain = inChild([&]() { return plainLoop(txt, L, g_root + "plain.db"); });
  std::printf("%-44s %12.1f %10.2f\n", "plain SQLite insert loop (blocks of records)", plain.peakKb / 1024.0, plain.sec);

  // Download of a body of the same size from a local server.
  int lf = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t alen = sizeof addr;
  if (bind(lf, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(lf, 1) != 0) return 1;
  getsockname(lf, reinterpret_cast<sockaddr*>(&addr), &alen);
  const int port = ntohs(addr.sin_port);
  std::fflush(nullptr);
  pid_t server = fork();
  if (server == 0) _exit(serveBody(lf, fileBytes));
  close(lf);
  Run dl = inChild([&]() {
    G().gDataURL = "http://127.0.0.1:" + std::to_string(port) + "/BAB050312.lzh";
    G().gDataPath = g_root + "download.lzh";
    return FetchWithoutWindow() == 1 ? 0 : 1;
  });
  waitpid(server, nullptr, 0);
  std::printf("%-44s %12.1f %10.2f%s\n", "download to a file (velmo, no window)", dl.peakKb / 1024.0, dl.sec,
              dl.status ? "  FAILED" : "");
  std::error_code ec;
  std::printf("\nThe downloaded file: %lld bytes\n", static_cast<long long>(fs::file_size(g_root + "download.lzh", ec)));
  int yearsStatus = 0;
  if (years > 0) {
    G().gDBDir = freshDbFolder("years");
    Run y = inChild([&]() { return loadPastYears(years); });
    yearsStatus = y.status;
    std::error_code sizeError;
    const double dbMB = static_cast<double>(fs::file_size(G().gDBDir + "kova_data.mdb", sizeError)) / 1048576.0;
    std::printf("\n%-44s %12s %10s\n", "step", "peak MB", "seconds");
    char what[96];
    std::snprintf(what, sizeof what, "register %d years of D archives (%.0f MB)", years, dbMB);
    std::printf("%-44s %12.1f %10.2f%s\n", what, y.peakKb / 1024.0, y.sec, y.status ? "  FAILED" : "");
    std::printf("target: under 100 MB\n");
  }
  Teardown();
  return reg.status || dl.status || yearsStatus;
}
