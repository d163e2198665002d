#include "registration/driver.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "registration/regkova.h"
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

long regMain(const std::string& archivePath, const std::string& mode, const std::string& source) {
  if (source == "J") return regMainKOVA(archivePath, mode) ? -1 : 0;
  if (source == "V") {
    if (!vanDriver()) return 0;
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

// First pass over an archive: every entry readable and its name inside the folder.
static bool scanArchive(const std::string& archivePath, std::string& why, long& number) {
  int rc;
  archive* a = openLha(archivePath, rc);
  if (rc != ARCHIVE_OK) {
    number = archive_errno(a) ? archive_errno(a) : 1;
    why = archive_error_string(a) ? archive_error_string(a) : "LZH書庫として読めません";
    archive_read_free(a);
    return false;
  }
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
    archive_read_data_skip(a);
  }
  if (rc != ARCHIVE_EOF) {
    number = archive_errno(a) ? archive_errno(a) : 2;
    why = archive_error_string(a) ? archive_error_string(a) : "書庫が壊れています";
    archive_read_free(a);
    return false;
  }
  archive_read_free(a);
  return true;
}

bool CheckArchive(const std::string& archivePath, std::string& why) {
  long n = 0;
  return scanArchive(archivePath, why, n);
}

bool Com_UnLzh(const std::string& archivePath, const std::string& destFolder) {
  auto fail = [&](const std::string& description, long n) {
    WriteLog(ErrObject(n, description), "Com_UnLzh", false, true);
    return true;
  };
  std::string why;
  long number = 0;
  if (!scanArchive(archivePath, why, number))
    return fail("解凍エラー[" + std::to_string(number) + "] " + why + " [" + archivePath + "]", number);
  int rc;
  archive_entry* e = nullptr;
  archive* a = nullptr;
  // Second pass: extract.
  a = openLha(archivePath, rc);
  if (rc != ARCHIVE_OK) {
    archive_read_free(a);
    return fail("解凍エラー[1] [" + archivePath + "]", 1);
  }
  bool failed = false;
  std::string failMsg;
  while ((rc = archive_read_next_header(a, &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
    std::string name = archive_entry_pathname(e);
    for (char& c : name)
      if (c == '\\') c = '/';
    fs::path target = fs::path(destFolder) / name;
    if (archive_entry_filetype(e) == AE_IFDIR) {
      MakeDirAll(target.string());
      continue;
    }
    MakeDirAll(target.parent_path().string());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
      failed = true;
      failMsg = "書き込めません: " + target.string();
      break;
    }
    const void* buf;
    size_t size;
    la_int64_t off;
    while ((rc = archive_read_data_block(a, &buf, &size, &off)) == ARCHIVE_OK)
      out.write(static_cast<const char*>(buf), static_cast<std::streamsize>(size));
    if (rc != ARCHIVE_EOF) {
      failed = true;
      failMsg = archive_error_string(a) ? archive_error_string(a) : "data error";
      out.close();
      std::error_code ec;
      fs::remove(target, ec);  // no partial file
      break;
    }
  }
  if (!failed && rc != ARCHIVE_EOF) {
    failed = true;
    failMsg = archive_error_string(a) ? archive_error_string(a) : "header error";
  }
  long n = archive_errno(a) ? archive_errno(a) : 3;
  archive_read_free(a);
  if (failed) return fail("解凍エラー[" + std::to_string(n) + "] " + failMsg + " [" + archivePath + "]", n);
  return false;
}

// ---- driver -----------------------------------------------------------------------

bool regMainKOVA(const std::string& archivePath, const std::string& mode) {
  const std::string loc = "regMainKOVA";
  auto& g = G();
  std::string current;
  auto session = std::make_unique<RegKOVA>();
  auto& ws = db::Workspace::get();
  int depthAtStart = ws.transDepth();
  try {
    LogMilestone("regMainKOVA開始", loc);
    session->Mode(mode);
    session->conDB(g.gDBDir);
    LogMilestone("データベースに接続完了", loc);
    if (CountFiles(g.gTmpDir + "*.txt") > 0) DeleteFiles(g.gTmpDir + "*.txt");
    LogMilestone("解凍ワークをクリア完了", loc);
    Com_UnLzh(archivePath, g.gTmpDir);
    LogMilestone("解凍ＤＬＬを呼ぶ完了[" + archivePath + "]", loc);
    std::vector<std::string> files;
    for (const auto& name : ListFiles(g.gTmpDir + "*.txt")) {
      current = name;
      // Only names ending in ".txt" as such; the lookup itself ignores case.
      if (files.size() >= 32)
        throw VelmoError(err::TooManyFiles, "インデックスが有効範囲にありません。(書庫のテキストファイルが32個を超えています)");
      files.push_back(name);
    }
    current.clear();
    SortPairs(files);
    std::string base = g.gStatusForm ? g.gStatusForm->statusText() : std::string();
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
      if (row && row->action && !(row->thisWeekOnly && mode == "D")) row->action(*session, g.gTmpDir + current);
      if (!session->g_Nengappi.empty()) session->regItiran();
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
    LogMilestone("データ読込完了[" + archivePath + "]", loc);
    session->clsDB();
    return false;
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    // The failing file's transaction is never committed.
    while (ws.transDepth() > depthAtStart) {
      try {
        ws.rollback();
      } catch (const std::exception&) {
        break;
      }
    }
    bool second = g.gSilent == "1";
    WriteLog(e, loc, false, second);
    WriteLog(ErrObject(e.number, "エラーファイル[" + current + "]"), loc, false, second);
    session->clsDB();
    return true;
  }
}

}  // namespace velmo
