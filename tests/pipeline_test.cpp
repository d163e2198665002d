// Loading many archives with a decode thread ahead of the writer: the same
// rows, the same per-file rollback, the same log and the same results as the
// one-thread loop, for batches with failing files in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/batch.h"
#include "registration/driver.h"
#include "registration/pipeline.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"
#include "tools/fixture/van.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

std::string joined(const std::vector<std::string>& records) {
  std::string s;
  for (const auto& r : records) s += r;
  return s;
}

fx::RaceDay smallDay(const std::string& date, int races, int runners) {
  fx::RaceDay d;
  d.date = date;
  d.courses = {"06"};
  d.races = races;
  d.runners = runners;
  return d;
}

std::string fileOf(const std::string& kind, const std::string& date, int races = 2) {
  return joined(fx::DayRecords(kind, smallDay(date, races, 8)));
}

// Bytes that are not Shift_JIS over a stretch of the second record's fields.
std::string withBadBytes(std::string all, size_t recordLength) {
  for (size_t i = recordLength + 10; i < recordLength + 60; ++i) all[i] = '\xff';
  return all;
}

// The archives of a case, written into a home's work folder.
using Archives = std::function<std::vector<std::string>(const std::string& work)>;

struct Loaded {
  std::vector<long> results;
  std::string thisWeek, past, log;
  std::vector<std::string> messages;
};

// Each line of the log without its time, the home's folder named alike.
std::string normalizedLog(const std::string& log, const std::string& root) {
  std::istringstream in(log);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    size_t tab = line.find('\t');
    line = tab == std::string::npos ? line : line.substr(tab + 1);
    for (size_t p; (p = line.find(root)) != std::string::npos;) line.replace(p, root.size(), "HOME/");
    out += line + "\n";
  }
  return out;
}

// Loads the archives as one batch (as velmo-cli register and the registration
// from files do), through the pipeline or one archive after another.
Loaded load(const Archives& make, const std::string& source, const std::string& mode, bool pipelined) {
  TestHome h;
  G().gSilent = "1";
  std::vector<std::string> paths = make(h.work);
  Loaded out;
  {
    ArchiveBatch batch(G().gDBDir, 3600);
    if (pipelined) {
      ArchivePipeline::Options o;
      o.source = source;
      o.mode = mode;
      ArchivePipeline pipe(paths, o);
      while (auto prep = pipe.next()) {
        batch.begin();
        out.results.push_back(regMain(prep->path, mode, source, prep.get()));
      }
    } else {
      for (const auto& a : paths) {
        batch.begin();
        out.results.push_back(regMain(a, mode, source));
      }
    }
    EXPECT_TRUE(batch.commit());
  }
  // The registration record says when each archive was registered (the times
  // differ) and names the run's folders.
  for (const char* f : {"kova_this.mdb", "kova_data.mdb"}) h.sqlite(f, "update MSysVelmoLedger set registered_at = null;");
  auto dump = [&](const char* f) {
    std::string d = h.sqlite(f, ".dump");
    for (size_t p; (p = d.find(h.root)) != std::string::npos;) d.replace(p, h.root.size(), "HOME/");
    return d;
  };
  out.thisWeek = dump("kova_this.mdb");
  out.past = dump("kova_data.mdb");
  out.log = normalizedLog(h.logText(), h.root);
  for (const auto& m : h.messages) out.messages.push_back(m.text);
  return out;
}

void expectSame(const Loaded& one, const Loaded& two) {
  EXPECT_EQ(one.results, two.results);
  EXPECT_TRUE(one.thisWeek == two.thisWeek) << "kova_this.mdb differs";
  EXPECT_TRUE(one.past == two.past) << "kova_data.mdb differs";
  EXPECT_EQ(one.log, two.log);
  EXPECT_EQ(one.messages, two.messages);
}

// A day's programme, a pack archive whose middle file is cut short (the files
// before it stay, the one after it is not reached), a damaged archive, a file
// whose bytes are not Shift_JIS, a file whose last record lacks its line end,
// then good archives again.
std::vector<std::string> providerBatch(const std::string& work) {
  std::string cut = fileOf("UKA", "20050312", 3);
  cut += cut.substr(0, 100);
  std::string noEnd = fileOf("SEC", "20050313");
  noEnd.resize(noEnd.size() - 2);
  const std::string bab = fileOf("BAB", "20050319");
  const size_t babLength = fx::DayRecords("BAB", smallDay("20050319", 1, 8)).at(0).size();
  std::vector<std::pair<std::string, std::vector<fx::ArchiveEntry>>> archives = {
      {"BA050312.lzh", {{"BA050312.txt", fileOf("BA", "20050312")}}},
      {"KOVA050312.lzh", {{"KAA050312.txt", fileOf("KAA", "20050312")}, {"UKA050312.txt", cut},
                          {"UKB050312.txt", fileOf("UKB", "20050312")}}},
      {"SEC050312.lzh", {{"SEC050312.txt", fileOf("SEC", "20050312")}}},
      {"BAB050319.lzh", {{"BAB050319.txt", withBadBytes(bab, babLength)}}},
      {"SEC050313.lzh", {{"SEC050313.txt", noEnd}}},
      {"KYG050312.lzh", {{"KYG050312.txt", fileOf("KYG", "20050312")}, {"notes.doc", "x"}}},
      {"TYB050312.lzh", {{"TYB050312.txt", fileOf("TYB", "20050312")}}},
  };
  std::vector<std::string> paths;
  for (const auto& [name, entries] : archives) {
    paths.push_back(work + name);
    fx::WriteLzh(paths.back(), entries);
  }
  WriteFileBytes(work + "BAB050320.lzh", "not an archive at all");
  paths.insert(paths.begin() + 3, work + "BAB050320.lzh");
  OrderArchives(paths);
  return paths;
}

}  // namespace

TEST(Pipeline, ProviderArchivesLoadAsOnOneThread) {
  for (const std::string mode : {"T", "D"}) {
    SCOPED_TRACE(mode);
    Loaded one = load(providerBatch, "J", mode, false);
    Loaded two = load(providerBatch, "J", mode, true);
    expectSame(one, two);
    // What the batch keeps: the files before the failing one, not it, not the
    // one after it; the archives after a failure register.
    const std::string& db = mode == "T" ? two.thisWeek : two.past;
    EXPECT_NE(db.find("開催データ\" VALUES"), std::string::npos);
    EXPECT_EQ(two.thisWeek.find("INSERT INTO \"T馬基本データ\" VALUES"), std::string::npos);
    EXPECT_NE(db.find("競走馬データ\" VALUES"), std::string::npos);
    EXPECT_NE(two.log.find("エラーファイル[UKA050312.txt]"), std::string::npos);
    EXPECT_NE(two.log.find("エラーファイル[BAB050319.txt]"), std::string::npos);
    EXPECT_NE(two.log.find("解凍エラー["), std::string::npos);
    EXPECT_NE(two.log.find("テキストファイルでないため登録しません。[notes.doc]"), std::string::npos);
    // KOVA (pack archives first), BA, BAB050319, BAB050320, KYG, SEC050312, SEC050313, TYB.
    EXPECT_EQ(two.results, (std::vector<long>{-1, 0, -1, -1, 0, 0, 0, 0}));
  }
}

TEST(Pipeline, VanArchivesLoadAsOnOneThread) {
  auto batch = [](const std::string& work) {
    std::vector<std::string> paths;
    auto day = [](const std::string& date) { return smallDay(date, 3, 6); };
    const std::vector<std::string> all = {"JracSei1.dat", "JracSeih.dat", "JracDen1.dat", "JracUmaj.dat"};
    paths.push_back(fx::WriteVanArchive(work + "1/", day("20050312"), all));
    // Refused: a race of 1991 in the results.
    auto sei = fx::VanRecords("JracSei1.dat", day("20050313"));
    sei[0].replace(0, 16, "1991031206010101");
    paths.push_back(work + "2/JV050313.lzh");
    MakeDirAll(work + "2/");
    fx::WriteLzh(paths.back(), {{"JracSei1.dat", joined(sei)}, {"JracDen1.dat", joined(fx::VanRecords("JracDen1.dat", day("20050313")))}});
    // A race card whose second record is not Shift_JIS.
    auto den = joined(fx::VanRecords("JracDen1.dat", day("20050319")));
    den.replace(1463 + 17, 4, "\x81\x20\xff\xff");
    paths.push_back(work + "3/JV050319.lzh");
    MakeDirAll(work + "3/");
    fx::WriteLzh(paths.back(), {{"JracSei1.dat", joined(fx::VanRecords("JracSei1.dat", day("20050319")))}, {"JracDen1.dat", den}});
    paths.push_back(fx::WriteVanArchive(work + "4/", day("20050320"), all));
    return paths;
  };
  for (const std::string mode : {"T", "D"}) {
    SCOPED_TRACE(mode);
    Loaded one = load(batch, "V", mode, false);
    Loaded two = load(batch, "V", mode, true);
    expectSame(one, two);
    EXPECT_EQ(two.results, (std::vector<long>{0, -1, -1, 0}));
    EXPECT_NE(two.log.find("エラーファイル[JracSei1.dat]"), std::string::npos);
    EXPECT_NE(two.log.find("エラーファイル[JracDen1.dat]"), std::string::npos);
  }
}

TEST(Pipeline, DecodesAheadOnlyWhatTheWriterWouldReadTheSame) {
  TestHome h;
  std::string cut = fileOf("KAA", "20050312");
  cut += cut.substr(0, 10);  // a fragment: the writer logs it
  const std::string bab = fileOf("BAB", "20050312");
  const size_t babLength = fx::DayRecords("BAB", smallDay("20050312", 1, 8)).at(0).size();
  std::string arch = h.work + "KOVA050312.lzh";
  fx::WriteLzh(arch, {{"BA050312.txt", fileOf("BA", "20050312")}, {"KAA050312.txt", cut},
                      {"BAB050312.txt", withBadBytes(bab, babLength)}, {"SEC050312.txt", fileOf("SEC", "20050312")},
                      {"OZ050312.txt", fileOf("OZ", "20050312")}});
  struct Case {
    std::string mode;
    size_t decoded;  // BA and SEC; OZ too in mode T, which registers it
  };
  for (const Case& c : {Case{"T", 3}, Case{"D", 2}}) {
    ArchivePipeline::Options o;
    o.mode = c.mode;
    auto prep = ArchivePipeline::prepare(arch, o);
    ASSERT_TRUE(prep->exists && prep->unpacked && !prep->unpackFailed);
    EXPECT_EQ(prep->decoded.size(), c.decoded) << c.mode;
    // The decoding wrote nothing to the log: its entries wait for the writer.
    EXPECT_EQ(h.logText().find("KAA050312"), std::string::npos);
  }
  // Missing and unreadable archives are found ahead and left to the caller to report.
  ArchivePipeline::Options checked;
  checked.check = true;
  WriteFileBytes(h.work + "bad.lzh", "not an archive");
  auto missing = ArchivePipeline::prepare(h.work + "none.lzh", checked);
  auto bad = ArchivePipeline::prepare(h.work + "bad.lzh", checked);
  EXPECT_FALSE(missing->exists);
  EXPECT_TRUE(bad->exists && bad->checked && !bad->readable && !bad->why.empty());
  EXPECT_EQ(h.logText().find("解凍エラー"), std::string::npos);
}

TEST(Pipeline, StopsEarlyWithoutLeavingWorkFolders) {
  TestHome h;
  std::vector<std::string> paths;
  for (int d = 12; d < 20; ++d) {
    paths.push_back(h.work + "BA0503" + std::to_string(d) + ".lzh");
    fx::WriteLzh(paths.back(), {{"BA0503" + std::to_string(d) + ".txt", fileOf("BA", "200503" + std::to_string(d))}});
  }
  {
    ArchivePipeline pipe(paths, {});
    auto first = pipe.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(regMain(first->path, "T", "J", first.get()), 0);
    // Cancelled here: the archives made ready and not taken go with the pipeline.
  }
  EXPECT_EQ(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;"), "2\n");
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(G().gTmpDir, ec))
    EXPECT_FALSE(e.is_regular_file()) << e.path();
}
