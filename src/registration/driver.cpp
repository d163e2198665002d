#include "registration/driver.h"

#include <archive.h>
#include <archive_entry.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/ledger.h"
#include "registration/pipeline.h"
#include "registration/regkova.h"
#include "van/vandriver.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {
VanDriver& vanDriver() {
  static VanDriver d;
  return d;
}

// The horse basic data always goes to the this-week database: in mode "D" the
// session switches to kova_this.mdb for the file and back afterwards.
void inThisWeek(RegKOVA& s, const std::function<void()>& fn) {
  if (s.Mode() != "D") return fn();
  s.clsDB();
  s.Mode("T");
  s.conDB(G().gDBDir);
  fn();
  s.clsDB();
  s.Mode("D");
  s.conDB(G().gDBDir);
}

// Previous-run files register into this week's tables and then refresh the past
// results in kova_data.mdb.
void thenPast(RegKOVA& s, const std::function<void()>& pastFn) {
  s.clsDB();
  s.Mode("D");
  s.conDB(G().gDBDir);
  pastFn();
  s.clsDB();
  s.Mode("T");
  s.conDB(G().gDBDir);
}

using Act = std::function<void(RegKOVA&, const std::string&)>;
}  // namespace

const std::vector<DispatchRow>& DispatchTable() {
  static const std::vector<DispatchRow> table = {
      {{"BAA"}, false, [](RegKOVA& s, const std::string& f) { s.regBAA(f); }},
      {{"BAB"}, false, [](RegKOVA& s, const std::string& f) { s.regBAB(f); }},
      {{"BA"}, false, [](RegKOVA& s, const std::string& f) { s.regBA(f); }},
      {{"KAA"}, false, [](RegKOVA& s, const std::string& f) { s.regKAA(f); }},
      {{"KYC"}, false, [](RegKOVA& s, const std::string& f) { s.regKYC(f); }},
      {{"KYD"}, false, [](RegKOVA& s, const std::string& f) { s.regKYD(f); }},
      {{"KYE"}, false, [](RegKOVA& s, const std::string& f) { s.regKYE(f); }},
      {{"KYF"}, false, [](RegKOVA& s, const std::string& f) { s.regKYF(f); }},
      {{"KYG"}, false, [](RegKOVA& s, const std::string& f) { s.regKYG(f); }},
      {{"KTA"}, false, [](RegKOVA& s, const std::string& f) { s.regKTA(f); }},
      {{"KKA"}, true, [](RegKOVA& s, const std::string& f) { s.regKKA(f); }},
      {{"UKA"}, false, [](RegKOVA& s, const std::string& f) { inThisWeek(s, [&] { s.regUKA(f); }); }},
      {{"UKB"}, false, [](RegKOVA& s, const std::string& f) { inThisWeek(s, [&] { s.regUKB(f); }); }},
      {{"UKC"}, false, [](RegKOVA& s, const std::string& f) { inThisWeek(s, [&] { s.regUKC(f); }); }},
      {{"ZEB"}, true, [](RegKOVA& s, const std::string& f) { s.regZEB(f); thenPast(s, [&] { s.regSEBfromZEB(f); }); }},
      {{"ZEC"}, true, [](RegKOVA& s, const std::string& f) { s.regZEC(f); thenPast(s, [&] { s.regSECfromZEC(f); }); }},
      {{"ZKA"}, true, [](RegKOVA& s, const std::string& f) { s.regZKA(f); thenPast(s, [&] { s.regSKAfromZKA(f); }); }},
      {{"ZKB"}, true, [](RegKOVA& s, const std::string& f) { s.regZKB(f); thenPast(s, [&] { s.regSKBfromZKB(f); }); }},
      {{"JOA"}, false, [](RegKOVA& s, const std::string& f) { s.regJOA(f); }},
      {{"OZ"}, true, [](RegKOVA& s, const std::string& f) { s.regOZ(f); s.regOZ2(f); }},
      {{"OW"}, true, [](RegKOVA& s, const std::string& f) { s.regOW(f); s.regOW2(f); }},
      {{"OU"}, true, [](RegKOVA& s, const std::string& f) { s.regOU2(f); }},
      {{"OT"}, true, [](RegKOVA& s, const std::string& f) { s.regOT2(f); }},
      {{"OV"}, false, [](RegKOVA& s, const std::string& f) { s.regOV(f); }},
      {{"TYA"}, false, [](RegKOVA& s, const std::string& f) { s.regTYA(f); }},
      {{"TYB"}, false, [](RegKOVA& s, const std::string& f) { s.regTYB(f); }},
      {{"TY"}, false, [](RegKOVA& s, const std::string& f) { s.regTY(f); }},
      {{"HJA"}, false, [](RegKOVA& s, const std::string& f) { s.regHJA(f); }},
      {{"HJB"}, false, [](RegKOVA& s, const std::string& f) { s.regHJB(f); }},
      {{"HJC"}, false, [](RegKOVA& s, const std::string& f) { s.regHJC(f); }},
      {{"SEB"}, false, [](RegKOVA& s, const std::string& f) { s.regSEB(f); }},
      {{"SEC"}, false, [](RegKOVA& s, const std::string& f) { s.regSEC(f); }},
      {{"SKA"}, false, [](RegKOVA& s, const std::string& f) { s.regSKA(f); }},
      {{"SKB"}, false, [](RegKOVA& s, const std::string& f) { s.regSKB(f); }},
      {{"SRA"}, false, [](RegKOVA& s, const std::string& f) { s.regSRA(f); }},
      {{"CYA"}, false, [](RegKOVA& s, const std::string& f) { s.regCYA(f); }},
      {{"KZA", "KSA"}, true, [](RegKOVA& s, const std::string& f) { s.regKZA(f); }},
      {{"CZA", "CSA"}, true, [](RegKOVA& s, const std::string& f) { s.regCZA(f); }},
      {{"MZA", "MSA"}, true, [](RegKOVA& s, const std::string& f) { s.regMZA(f); }},
  };
  (void)inThisWeek;
  (void)thenPast;
  return table;
}

const DispatchRow* DispatchFor(const std::string& name) {
  for (const auto& row : DispatchTable())
    for (const auto& p : row.prefixes)
      if (name.compare(0, p.size(), p) == 0) return &row;
  return nullptr;
}

std::vector<std::string> PendingKinds() {
  std::vector<std::string> r;
  for (const auto& row : DispatchTable())
    if (!row.action) r.push_back(row.prefixes[0]);
  return r;
}

void SetVanDriver(VanDriver driver) { vanDriver() = std::move(driver); }

long regMain(const std::string& archivePath, const std::string& mode, const std::string& source, PreparedArchive* prep) {
  if (source == "J") return regMainKOVA(archivePath, mode, prep) ? -1 : 0;
  if (source == "V") {
    if (!vanDriver()) return regMainVAN(archivePath, mode, prep) != 0 ? -1 : 0;
    return vanDriver()(archivePath, mode) ? -1 : 0;
  }
  return 0;
}

void SortPairs(std::vector<std::string>& a) {
  size_t n = a.size();
  for (size_t gap = n / 2; gap >= 1; gap /= 2) {
    for (size_t i = gap; i < n; ++i) {
      std::string t = a[i];
      size_t j = i;
      while (j >= gap && a[j - gap] > t) {
        a[j] = a[j - gap];
        j -= gap;
      }
      a[j] = t;
    }
    if (gap == 1) break;
  }
}

void OrderArchives(std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i)
    if (paths[i].empty()) {
      paths.resize(i);
      break;
    }
  if (paths.size() > 2001) paths.resize(2001);
  std::vector<std::string> packs, others;
  for (auto& p : paths) (text::startsWith(FileNamePart(p), "KO") ? packs : others).push_back(p);
  std::sort(packs.begin(), packs.end(), [](const std::string& a, const std::string& b) { return FileNamePart(a) < FileNamePart(b); });
  std::sort(others.begin(), others.end());
  paths = packs;
  paths.insert(paths.end(), others.begin(), others.end());
}

// ---- unpacking --------------------------------------------------------------------

namespace {
// True when an entry name stays inside the destination folder.
bool safeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() > 1 && name[1] == ':') return false;  // drive letter
  std::string n = name;
  for (char& c : n)
    if (c == '\\') c = '/';
  for (const auto& part : text::split(n, '/'))
    if (part == "..") return false;
  return true;
}
}  // namespace

namespace {
archive* openLha(const std::string& path, int& rc) {
  archive* a = archive_read_new();
  archive_read_support_format_lha(a);
  archive_read_support_filter_none(a);
  rc = archive_read_open_filename(a, path.c_str(), 65536);
  return a;
}
}  // namespace

namespace {
// Free space kept on the work folder's disk after unpacking.
constexpr unsigned long long kFreeSpaceMargin = 32ULL << 20;
// No provider file compresses better than this; a bigger ratio is a bomb.
constexpr unsigned long long kMaxRatio = 1000;

unsigned long long fileSizeOf(const std::string& path) {
  std::error_code ec;
  auto n = fs::file_size(path, ec);
  return ec ? 0 : static_cast<unsigned long long>(n);
}

// The entry's size and name checked against the limits; empty when fine.
std::string entryLimitProblem(const std::string& name, long long size, unsigned long long archiveSize) {
  const long long limit = G().gUnpackEntryLimit;
  if (limit > 0 && size > limit)
    return "展開後のサイズ(" + std::to_string(size) + "バイト)が上限(" + std::to_string(limit) + "バイト)を超えています: " + name;
  if (size > (1LL << 20) && static_cast<unsigned long long>(size) > archiveSize * kMaxRatio)
    return "圧縮率が異常です(" + std::to_string(size) + "バイト/書庫" + std::to_string(archiveSize) + "バイト): " + name;
  return {};
}
}  // namespace

// First pass over an archive: every entry readable, its name inside the folder
// and its size within the limits; total is the size of everything unpacked.
static bool scanArchive(const std::string& archivePath, std::string& why, long& number, unsigned long long* total = nullptr) {
  int rc;
  archive* a = openLha(archivePath, rc);
  if (rc != ARCHIVE_OK) {
    number = archive_errno(a) ? archive_errno(a) : 1;
    why = archive_error_string(a) ? archive_error_string(a) : "LZH書庫として読めません";
    archive_read_free(a);
    return false;
  }
  const unsigned long long archiveSize = fileSizeOf(archivePath);
  unsigned long long sum = 0;
  archive_entry* e = nullptr;
  while ((rc = archive_read_next_header(a, &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
    const char* p = archive_entry_pathname(e);
    std::string name = p ? p : "";
    bool isLink = archive_entry_filetype(e) == AE_IFLNK || archive_entry_hardlink(e) != nullptr;
    if (!safeEntryName(name) || isLink) {
      archive_read_free(a);
      number = err::UnsafeArchive;
      why = "書庫の外に出るファイル名があるため展開しません: " + name;
      return false;
    }
    long long size = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
    std::string problem = entryLimitProblem(name, size, archiveSize);
    if (!problem.empty()) {
      archive_read_free(a);
      number = err::UnpackFailed;
      why = problem;
      return false;
    }
    if (size > 0) sum += static_cast<unsigned long long>(size);
    // The data is read, not skipped, so that a CRC error or a cut archive shows here.
    const void* buf;
    size_t n;
    la_int64_t off;
    while ((rc = archive_read_data_block(a, &buf, &n, &off)) == ARCHIVE_OK) {
    }
    if (rc != ARCHIVE_EOF) break;
  }
  if (rc != ARCHIVE_EOF) {
    number = archive_errno(a) ? archive_errno(a) : 2;
    why = archive_error_string(a) ? archive_error_string(a) : "書庫が壊れています";
    archive_read_free(a);
    return false;
  }
  archive_read_free(a);
  if (total) *total = sum;
  return true;
}

bool CheckArchive(const std::string& archivePath, std::string& why) {
  long n = 0;
  return scanArchive(archivePath, why, n);
}

bool Com_UnLzh(const std::string& archivePath, const std::string& destFolder, const std::string& extension) {
  std::vector<ErrObject> entries;
  const bool failed = UnpackArchive(archivePath, destFolder, extension, entries);
  WriteUnpackLog(entries);
  return failed;
}

void WriteUnpackLog(const std::vector<ErrObject>& entries) {
  for (const auto& e : entries) WriteLog(e, "Com_UnLzh", false, true);
}

bool UnpackArchive(const std::string& archivePath, const std::string& destFolder, const std::string& extension,
                   std::vector<ErrObject>& entries) {
  // The fixed entry with the number, then one with the reason and the archive.
  auto fail = [&](long n, const std::string& why) {
    entries.emplace_back(n, "解凍エラー[" + std::to_string(n) + "]");
    entries.emplace_back(n, why + " [" + archivePath + "]");
    return true;
  };
  int rc;
  archive* a = openLha(archivePath, rc);
  if (rc != ARCHIVE_OK) {
    long n = archive_errno(a) ? archive_errno(a) : 1;
    std::string why = archive_error_string(a) ? archive_error_string(a) : "LZH書庫として読めません";
    archive_read_free(a);
    return fail(n, why);
  }
  // One pass: each entry is checked (name inside the folder, size within the
  // limits and the free space) before it is written, and its data is read
  // whole, so that a CRC error or a cut archive shows; on any failure the files
  // written so far are removed, and the archive unpacks to nothing.
  std::error_code ec;
  fs::space_info space = fs::space(destFolder, ec);
  const bool knowSpace = !ec;
  const unsigned long long archiveSize = fileSizeOf(archivePath);
  unsigned long long sum = 0;
  std::vector<fs::path> written;
  std::vector<std::string> skipped;  // logged once the archive has unpacked whole
  bool failed = false;
  std::string failMsg;
  long failNumber = 0;
  archive_entry* e = nullptr;
  auto stop = [&](long number, std::string why) {
    failed = true;
    failNumber = number;
    failMsg = std::move(why);
  };
  auto drain = [&]() {
    const void* buf;
    size_t n;
    la_int64_t off;
    while ((rc = archive_read_data_block(a, &buf, &n, &off)) == ARCHIVE_OK) {
    }
    return rc == ARCHIVE_EOF;
  };
  while ((rc = archive_read_next_header(a, &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
    const char* p = archive_entry_pathname(e);
    const std::string raw = p ? p : "";
    bool isLink = archive_entry_filetype(e) == AE_IFLNK || archive_entry_hardlink(e) != nullptr;
    if (!safeEntryName(raw) || isLink) {
      stop(err::UnsafeArchive, "書庫の外に出るファイル名があるため展開しません: " + raw);
      break;
    }
    const long long size = archive_entry_size_is_set(e) ? archive_entry_size(e) : 0;
    std::string problem = entryLimitProblem(raw, size, archiveSize);
    if (!problem.empty()) {
      stop(err::UnpackFailed, problem);
      break;
    }
    if (size > 0) sum += static_cast<unsigned long long>(size);
    if (knowSpace && space.available < sum + kFreeSpaceMargin) {
      stop(err::UnpackFailed, "作業フォルダの空き容量が足りません(空き" + std::to_string(space.available) + "バイト、必要" +
                std::to_string(sum + kFreeSpaceMargin) + "バイト以上): " + destFolder);
      break;
    }
    std::string name = raw;
    for (char& c : name)
      if (c == '\\') c = '/';
    const bool dir = archive_entry_filetype(e) == AE_IFDIR;
    // Only the provider's text files at the top of the archive are registered.
    std::string skip;
    if (!dir && name.find('/') != std::string::npos)
      skip = "サブフォルダのファイルは登録しません。[" + name + "] [" + archivePath + "]";
    else if (!dir && !text::endsWith(text::toLowerAscii(name), extension))
      skip = "テキストファイルでないため登録しません。[" + name + "] [" + archivePath + "]";
    if (dir || !skip.empty()) {
      if (!drain()) break;
      if (!skip.empty()) skipped.push_back(skip);
      continue;
    }
    fs::path target = fs::path(destFolder) / name;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
      failed = true;
      failMsg = "書き込めません: " + target.string();
      break;
    }
    written.push_back(target);
    const void* buf;
    size_t n;
    la_int64_t off;
    long long got = 0;
    while ((rc = archive_read_data_block(a, &buf, &n, &off)) == ARCHIVE_OK) {
      got += static_cast<long long>(n);
      // A header that understates the size is held to the same limits.
      std::string late = entryLimitProblem(name, got, archiveSize);
      if (!late.empty()) {
        stop(err::UnpackFailed, late);
        break;
      }
      if (!out.write(static_cast<const char*>(buf), static_cast<std::streamsize>(n))) break;
    }
    if (failed) break;
    if (rc != ARCHIVE_EOF && rc != ARCHIVE_OK) break;  // the archive's own error, below
    out.close();
    if (!out) {
      stop(61, "書き込めません(ディスクの空きがないか、書き込みが拒否されました): " + target.string());
      break;
    }
  }
  if (!failed && rc != ARCHIVE_EOF) {
    failed = true;
    failMsg = archive_error_string(a) ? archive_error_string(a) : "書庫が壊れています";
  }
  long number = failNumber ? failNumber : (archive_errno(a) ? archive_errno(a) : 3);
  archive_read_free(a);
  if (failed) {
    for (const auto& f : written) fs::remove(f, ec);  // no partial unpacking
    return fail(number, failMsg);
  }
  for (const auto& m : skipped) entries.emplace_back(0, m);
  return false;
}

namespace {

// The start of this process's run folder names.
std::string ownRunPrefix() { return "run" + std::to_string(static_cast<long>(getpid())) + "_"; }

// The run folders this process made and has emptied again, kept for its next
// runs (making and removing a folder costs more than the registration of a
// small file); removed when the process ends.
struct SparedFolders {
  std::mutex m;
  std::vector<std::string> paths;
  ~SparedFolders() {
    // Only this process's own (a child that ends must not take its parent's).
    const std::string mine = ownRunPrefix();
    std::error_code ec;
    for (const auto& p : paths)
      if (fs::path(p).parent_path().filename().string().rfind(mine, 0) == 0) fs::remove_all(p, ec);
  }
};
SparedFolders& spared() {
  static SparedFolders s;
  return s;
}

}  // namespace

RunWorkFolder::RunWorkFolder(const std::string& tmp) {
  static int counter = 0;
  // Folders left by runs that died are cleared once per work folder and process.
  static std::string swept;
  std::error_code ec;
  auto& pool = spared();
  std::lock_guard<std::mutex> lock(pool.m);
  const std::string prefix = AddPathSep(tmp) + ownRunPrefix();
  for (size_t i = pool.paths.size(); i-- > 0;) {
    if (pool.paths[i].rfind(prefix, 0) != 0) continue;
    path_ = pool.paths[i];
    pool.paths.erase(pool.paths.begin() + static_cast<long>(i));
    if (fs::is_directory(path_, ec)) return;
  }
  if (swept != tmp) {
    for (const auto& d : fs::directory_iterator(tmp, ec)) {
      std::string n = d.path().filename().string();
      if (n.rfind("run", 0) != 0 || !d.is_directory(ec)) continue;
      long pid = std::atol(n.c_str() + 3);
      if (pid > 0 && pid != static_cast<long>(getpid()) && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        fs::remove_all(d.path(), ec);
    }
    swept = tmp;
  }
  path_ = prefix + std::to_string(++counter) + "/";
  fs::remove_all(path_, ec);
  if (!MakeDirAll(path_)) throw VelmoError(err::PathNotFound, "作業フォルダを作れません。[" + path_ + "]");
}

RunWorkFolder::~RunWorkFolder() {
  // Emptied now, kept for the next run of this process.
  std::error_code ec;
  bool empty = true;
  for (const auto& d : fs::directory_iterator(path_, ec)) {
    std::error_code one;
    fs::remove_all(d.path(), one);
    if (one) empty = false;
  }
  if (ec || !empty) {
    fs::remove_all(path_, ec);
    return;
  }
  auto& pool = spared();
  std::lock_guard<std::mutex> lock(pool.m);
  pool.paths.push_back(path_);
}

// ---- driver -----------------------------------------------------------------------

RunWorkFolder& RunFolderFor(PreparedArchive* prep, const std::string& archivePath, std::unique_ptr<RunWorkFolder>& own) {
  if (prep && prep->path == archivePath && prep->work) return *prep->work;
  own = std::make_unique<RunWorkFolder>(G().gTmpDir);
  return *own;
}

bool UnpackForRun(PreparedArchive* prep, const std::string& archivePath, const RunWorkFolder& work, const std::string& extension) {
  if (prep && prep->work.get() == &work && prep->unpacked && prep->extension == extension) {
    WriteUnpackLog(prep->unpackLog);
    return prep->unpackFailed;
  }
  return Com_UnLzh(archivePath, work.path(), extension);
}

bool regMainKOVA(const std::string& archivePath, const std::string& mode, PreparedArchive* prep) {
  const std::string loc = "regMainKOVA";
  auto& g = G();
  std::string current;
  auto session = std::make_unique<RegKOVA>();
  ArchiveRecord record(archivePath, mode);
  auto& ws = db::Workspace::get();
  int depthAtStart = ws.transDepth();
  try {
    LogMilestone("regMainKOVA開始", loc);
    session->Mode(mode);
    session->conDB(g.gDBDir);
    LogMilestone("データベースに接続完了", loc);
    std::unique_ptr<RunWorkFolder> ownFolder;
    const RunWorkFolder& work = RunFolderFor(prep, archivePath, ownFolder);
    const std::string tmp = work.path();
    LogMilestone("解凍ワークをクリア完了", loc);
    // An archive that does not unpack whole registers nothing.
    if (UnpackForRun(prep, archivePath, work, ".txt"))
      throw VelmoError(err::UnpackFailed, "解凍できないため登録しません。[" + archivePath + "]");
    LogMilestone("解凍ＤＬＬを呼ぶ完了[" + archivePath + "]", loc);
    std::vector<std::string> files;
    for (const auto& name : ListFiles(tmp + "*.txt")) {
      current = name;
      // Only names ending in ".txt" as such; the lookup itself ignores case.
      if (files.size() >= 32)
        throw VelmoError(err::TooManyFiles, "インデックスが有効範囲にありません。(書庫のテキストファイルが32個を超えています)");
      files.push_back(name);
    }
    current.clear();
    SortPairs(files);
    std::string base = g.gStatusForm ? g.gStatusForm->statusText() : std::string();
    // The files' records decoded ahead, taken by the readers as they come to them.
    reg::DecodedFiles::Use decodedAhead(prep && prep->work.get() == &work ? &prep->decoded : nullptr);
    const size_t n = files.size();
    for (size_t k = 0; k < n; ++k) {
      current = files[k];
      if (g.gStatusForm) {
        g.gStatusForm->setStatusText(base + " " + current + "登録中(" + std::to_string(k + 1) + "/" + std::to_string(n) + ")");
        g.gStatusForm->refresh();
      }
      DoEvents();
      // One transaction per file: a file that fails leaves nothing behind.
      db::Transaction fileTrans(ws);
      const DispatchRow* row = DispatchFor(current);
      record.beginFile(tmp + current);
      if (!row || !row->action)
        WriteLog(ErrObject(0, "登録できない種類のファイルです。[" + current + "]"), loc, false, true);
      else if (fileSizeOf(tmp + current) == 0)
        WriteLog(ErrObject(0, "空のファイルです。[" + current + "]"), loc, false, true);
      if (row && row->action && !(row->thisWeekOnly && mode == "D")) row->action(*session, tmp + current);
      if (!session->g_Nengappi.empty()) session->regItiran();
      const bool keyUpdates = text::startsWith(FileNamePart(archivePath), "KOVA") || text::startsWith(FileNamePart(archivePath), "CYA");
      record.fileDone(session->db(), row && row->action, row && row->thisWeekOnly && mode == "D", k + 1 == n && !keyUpdates);
      fileTrans.commit();
    }
    current.clear();
    std::string archiveName = FileNamePart(archivePath);
    if (text::startsWith(archiveName, "KOVA")) {
      if (mode == "T") session->upKK_Key();
      session->upCYKey();
    } else if (text::startsWith(archiveName, "CYA")) {
      session->upCYKey();
    }
    record.archiveDone(session->db());
    LogMilestone("データ読込完了[" + archivePath + "]", loc);
    session->clsDB();
    return false;
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    // A lock that outlasted the wait names the database it is on.
    if (e.number == err::CannotLock && e.description.find(".mdb") == std::string::npos)
      e.description += " [" + g.gDBDir + (mode == "D" ? "kova_data.mdb" : "kova_this.mdb") + "]";
    // The failing file's transaction is never committed.
    ws.rollbackTo(depthAtStart);
    record.archiveFailed(g.gDBDir, e.description);
    bool second = g.gSilent == "1";
    WriteLog(e, loc, false, second);
    WriteLog(ErrObject(e.number, "エラーファイル[" + current + "]"), loc, false, second);
    session->clsDB();
    return true;
  }
}

}  // namespace velmo
