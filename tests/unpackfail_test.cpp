// Archives that do not unpack whole fail and register nothing; the limits of
// unpacking; what is said about files that are not registered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "registration/driver.h"
#include "tests/testenv.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using velmo::test::TestHome;
namespace fx = velmo::fixture;

namespace {

std::string fileOf(const std::string& kind, int races = 2) {
  fx::RaceDay day;
  day.courses = {"06"};
  day.races = races;
  std::string all;
  for (const auto& r : fx::DayRecords(kind, day)) all += r;
  return all;
}

long programmeRows(const TestHome& h) { return std::stol(h.sqlite("kova_this.mdb", "select count(*) from T番組データ;")); }

// No file left in the work folder or in a run's folder under it.
bool workFolderEmpty() {
  std::error_code ec;
  for (const auto& d : std::filesystem::recursive_directory_iterator(G().gTmpDir, ec))
    if (!d.is_directory(ec)) return false;
  return true;
}

}  // namespace

TEST(Unpacking, DamagedCutOrOversizedArchivesFailAndRegisterNothing) {
  TestHome h;
  G().gSilent = "1";
  const std::string good = h.work + "good.lzh";
  fx::WriteLzh(good, {{"BA050312.txt", fileOf("BA", 3)}, {"BAB050312.txt", fileOf("BAB", 3)}});
  const std::string bytes = ReadFileBytes(good);
  std::string crc = bytes;
  crc[crc.size() - 40] ^= 0x55;  // a byte of the second entry's data: its CRC no longer matches
  struct Case {
    const char* name;
    std::string archive;
    long long entryLimit;
  } cases[] = {
      {"CRC error", crc, 512LL << 20},
      {"cut short", bytes.substr(0, bytes.size() - 60), 512LL << 20},
      {"entry above the size limit", bytes, 100},
  };
  for (const auto& c : cases) {
    G().gUnpackEntryLimit = c.entryLimit;
    const std::string path = h.work + "BA050312.lzh";
    WriteFileBytes(path, c.archive);
    EXPECT_TRUE(regMainKOVA(path, "T")) << c.name;
    EXPECT_EQ(programmeRows(h), 0) << c.name;
    EXPECT_TRUE(workFolderEmpty()) << c.name;
    std::string why;
    EXPECT_FALSE(CheckArchive(path, why)) << c.name;
    // Unpacked on its own, the archive leaves none of its files, not even the
    // entries before the damage.
    EXPECT_TRUE(Com_UnLzh(path, G().gTmpDir)) << c.name;
    EXPECT_TRUE(workFolderEmpty()) << c.name;
  }
  G().gUnpackEntryLimit = 512LL << 20;
  std::string log = h.logText();
  EXPECT_NE(log.find("解凍エラー["), std::string::npos);
  EXPECT_NE(log.find("解凍できないため登録しません。"), std::string::npos);
  EXPECT_NE(log.find("上限(100バイト)を超えています"), std::string::npos);

  // The good archive registers, and its work folder is gone afterwards.
  EXPECT_FALSE(regMainKOVA(good, "T"));
  EXPECT_GT(programmeRows(h), 0);
  EXPECT_TRUE(workFolderEmpty());
}

TEST(Unpacking, HighlyCompressedEntryIsRefused) {
  TestHome h;
  const std::string path = h.work + "bomb.lzh";
  fx::WriteLzh(path, {{"BA050312.txt", std::string(8 << 20, ' ')}}, fx::Method::Compressed);
  if (std::filesystem::file_size(path) * 1000 > (8u << 20)) GTEST_SKIP() << "lh5 fixture not compressed (no lha)";
  EXPECT_TRUE(Com_UnLzh(path, G().gTmpDir));
  EXPECT_NE(h.logText().find("圧縮率が異常です"), std::string::npos);
  EXPECT_FALSE(FileExists(G().gTmpDir + "BA050312.txt"));
}

// A disk that fills while unpacking: a child process with a small file-size limit.
TEST(Unpacking, WriteFailureWhileUnpackingFailsTheArchive) {
  TestHome h;
  const std::string path = h.work + "BA050312.lzh";
  fx::WriteLzh(path, {{"BA050312.txt", std::string(64 * 1024, 'x')}});
  const std::string dest = h.work + "full/";
  MakeDirAll(dest);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &r);
    bool failed = Com_UnLzh(path, dest);
    _exit(failed ? 7 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_FALSE(FileExists(dest + "BA050312.txt"));  // no partial file left
}

TEST(Unpacking, FilesThatAreNotRegisteredAreNamedInTheLog) {
  TestHome h;
  G().gSilent = "1";
  std::string bab = fileOf("BAB", 2);
  const std::string path = h.work + "BAB050312.lzh";
  fx::WriteLzh(path, {{"BAB050312.txt", bab + "ab\r"},  // a trailing fragment under half a record
                      {"XYZ050312.txt", "unknown kind\r\n"},
                      {"BA050312.txt", ""},
                      {"sub/BA050312.txt", fileOf("BA", 1)},
                      {"readme.doc", "not a text file"}});
  EXPECT_FALSE(regMainKOVA(path, "T"));
  EXPECT_GT(programmeRows(h), 0);
  std::string log = h.logText();
  for (const char* text : {"最後の3バイトはレコード長", "読み飛ばしました。[BAB050312.txt]", "登録できない種類のファイルです。[XYZ050312.txt]",
                           "空のファイルです。[BA050312.txt]", "サブフォルダのファイルは登録しません。[sub/BA050312.txt]",
                           "テキストファイルでないため登録しません。[readme.doc]"})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  EXPECT_TRUE(workFolderEmpty());

  // A file whose name has no race date is refused, naming it; nothing of it is kept.
  const std::string undated = h.work + "BAB050319.lzh";
  fx::WriteLzh(undated, {{"BAB.txt", bab}});
  h.sqlite("kova_this.mdb", "delete from T番組データ;");
  EXPECT_TRUE(regMainKOVA(undated, "T"));
  EXPECT_EQ(programmeRows(h), 0);
  EXPECT_NE(h.logText().find("ファイル名に日付(yymmdd)がありません。[BAB.txt]"), std::string::npos);
}
