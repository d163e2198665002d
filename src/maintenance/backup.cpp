#include "maintenance/backup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"
#include "startup/platform/onlinebackup.h"
#include "startup/platform/writerlock.h"
#include "startup/settings.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {

const char* const kLocation = "BackupBefore";

std::string nowStamp() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

std::string commandWord(const std::string& command) {
  std::string w;
  for (unsigned char c : command) w += (std::isalnum(c) || c == '-') ? static_cast<char>(c) : '-';
  return w.empty() ? "command" : w;
}

std::string stemOf(const std::string& dbPath) {
  std::string n = FileNamePart(dbPath);
  size_t dot = n.rfind('.');
  return dot == std::string::npos ? n : n.substr(0, dot);
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

// Newest first: by time, then by sequence.
bool newer(const BackupEntry& a, const BackupEntry& b) {
  if (a.time != b.time) return a.time > b.time;
  return a.sequence > b.sequence;
}

long long fileBytes(const std::string& path) {
  std::error_code ec;
  auto n = fs::file_size(path, ec);
  return ec ? 0 : static_cast<long long>(n);
}

// Copies one database; the copy appears under its name only when complete.
std::string copyOne(const std::string& dbPath, const std::string& command, const std::string& dir) {
  const std::string stamp = nowStamp();
  // Further copies of the same database within one second are numbered, so
  // that the order of the copies stays known whatever their commands.
  int seq = 0;
  for (const auto& e : ListBackups())
    if (e.database == FileNamePart(dbPath) && e.time == stamp) seq = std::max(seq, e.sequence);
  std::string name = BackupName(dbPath, command, stamp);
  if (seq > 0) name = name.substr(0, name.size() - 4) + "-" + std::to_string(seq + 1) + ".mdb";
  // Room for the copy and a margin, checked before a byte is written.
  const long long needMB = fileBytes(dbPath) / (1024 * 1024) + 16;
  const long long freeMB = DriveFreeMB(dir);
  if (freeMB >= 0 && freeMB < needMB)
    throw VelmoError(err::CannotSave, "バックアップフォルダ「" + dir + "」の空き容量が足りません。(必要 " +
                                          std::to_string(needMB) + "MB、空き " + std::to_string(freeMB) + "MB)");
  const std::string part = dir + name + ".part";
  try {
    try {
      // A writer of another program is waited for as long as opening waits.
      db::OnlineBackup::copy(dbPath, part, 20.0 * WaitScale());
    } catch (const VelmoError& e) {
      // A file that is not (or no longer) a readable database is kept as it
      // stands: the command may be the very one that replaces it.
      if (e.number() != err::NotADatabase) throw;
      std::error_code ec;
      fs::copy_file(dbPath, part, fs::copy_options::overwrite_existing, ec);
      if (ec) throw VelmoError(err::CannotSave, "'" + part + "' に書き込めません。(" + ec.message() + ")");
      LogMilestone("データベースとして読めないためファイルのままコピーしました[" + FileNamePart(dbPath) + "]", kLocation);
    }
    std::error_code ec;
    fs::rename(part, dir + name, ec);
    if (ec) throw VelmoError(err::CannotSave, "'" + dir + name + "' に書き込めません。(" + ec.message() + ")");
  } catch (...) {
    std::error_code ec;
    fs::remove(part, ec);
    throw;
  }
  return name;
}

}  // namespace

bool StatementMayWrite(const std::string& sql) {
  // Words of the statement outside quoted texts and bracketed names, lower case.
  std::vector<std::string> words;
  std::string cur;
  char quote = 0;
  bool ended = false;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    else if (c == '[') quote = ']';
    else if (c == ';') ended = true;
    if (ended && std::isalnum(static_cast<unsigned char>(c))) return true;  // a second statement
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!cur.empty()) {
      words.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) words.push_back(cur);
  if (words.empty() || words[0] != "select") return true;
  return std::find(words.begin(), words.end(), "into") != words.end();
}

std::string BackupName(const std::string& dbPath, const std::string& command, const std::string& time) {
  return stemOf(dbPath) + "_" + commandWord(command) + "_" + time + ".mdb";
}

bool ParseBackupName(const std::string& name, BackupEntry& e) {
  if (name.size() < 5 || name.compare(name.size() - 4, 4, ".mdb") != 0) return false;
  std::string base = name.substr(0, name.size() - 4);
  size_t last = base.rfind('_');
  if (last == std::string::npos || last == 0) return false;
  size_t prev = base.rfind('_', last - 1);
  if (prev == std::string::npos || prev == 0 || prev + 1 == last) return false;
  std::string when = base.substr(last + 1);
  // yyyymmdd-HHMMSS, optionally -n
  if (when.size() < 15 || !allDigits(when.substr(0, 8)) || when[8] != '-' || !allDigits(when.substr(9, 6))) return false;
  int seq = 1;
  if (when.size() > 15) {
    if (when[15] != '-' || !allDigits(when.substr(16)) || when.size() > 20) return false;
    seq = std::stoi(when.substr(16));
  }
  e.name = name;
  e.database = base.substr(0, prev) + ".mdb";
  e.command = base.substr(prev + 1, last - prev - 1);
  e.time = when.substr(0, 15);
  e.sequence = seq;
  return true;
}

std::vector<BackupEntry> ListBackups() {
  const std::string dir = BackupDir();
  std::vector<BackupEntry> out;
  for (const auto& n : ListFiles(dir + "*.mdb")) {
    BackupEntry e;
    if (!ParseBackupName(n, e)) continue;
    e.path = dir + n;
    e.bytes = fileBytes(e.path);
    out.push_back(e);
  }
  std::sort(out.begin(), out.end(), [](const BackupEntry& a, const BackupEntry& b) {
    if (a.database != b.database) return a.database < b.database;
    return newer(a, b);
  });
  return out;
}

void RotateBackups(const std::string& database, int keep, const std::string& spare) {
  int kept = 0;
  for (const auto& e : ListBackups()) {
    if (e.database != database) continue;
    if (e.name == spare || kept < keep) {
      ++kept;
      continue;
    }
    std::error_code ec;
    fs::remove(e.path, ec);
    if (!ec) LogMilestone("バックアップ削除[" + e.name + "]", kLocation);
  }
}

namespace {

bool backupAll(const std::string& command, const std::vector<std::string>& dbPaths, CommandUi& ui,
               const std::string& spare) {
  const int keep = BackupGenerations();
  if (keep <= 0) return true;
  const std::string dir = BackupDir();
  for (const auto& path : dbPaths) {
    if (!FileExists(path)) continue;
    ui.setStatus(FileNamePart(path) + "をバックアップ中です");
    try {
      if (!MakeDirAll(dir))
        throw VelmoError(err::PathNotFound, "バックアップフォルダ「" + dir + "」を作成できません。");
      std::string name = copyOne(path, command, dir);
      LogMilestone("バックアップ作成[" + name + "]", kLocation);
      RotateBackups(FileNamePart(path), keep, spare);
    } catch (const std::exception& ex) {
      ErrObject e = ErrObject::from(ex);
      WriteLog(e, kLocation, false, true);
      ui.setStatus("バックアップに失敗したため処理を中止しました");
      MsgBox("バックアップを作成できなかったため、処理を中止します。データは変更されていません。\r\n" + path + "\r\n" +
                 e.description,
             vbOKOnly, kAppTitle);
      return false;
    }
  }
  return true;
}

}  // namespace

bool BackupBefore(const std::string& command, const std::vector<std::string>& dbPaths, CommandUi& ui) {
  return backupAll(command, dbPaths, ui, {});
}

bool RestoreBackup(const std::string& name, CommandUi& ui, std::string& error) {
  BackupEntry e;
  if (name.find('/') != std::string::npos || !ParseBackupName(name, e)) {
    error = "「" + name + "」はバックアップの名前ではありません。";
    return false;
  }
  const std::string copy = BackupDir() + name;
  if (!FileExists(copy)) {
    error = "バックアップ「" + name + "」が " + BackupDir() + " にありません。";
    return false;
  }
  const std::string target = AddPathSep(G().gDBDir) + e.database;
  ui.setStatus(name + "を検査中です");
  const std::string check = db::OnlineBackup::integrityCheck(copy);
  if (check != "ok") {
    error = "バックアップ「" + name + "」は壊れています。復元しません。(" + check.substr(0, 300) + ")";
    WriteLog(ErrObject(err::NotADatabase, error), "RestoreBackup", false, true);
    return false;
  }
  if (MsgBox(e.database + " をバックアップ「" + name + "」(" + e.time + ")の内容に戻します。\r\n" +
                 "現在の内容は失われます。よろしいですか？",
             vbOKCancel, kAppTitle) != vbOK) {
    error = "復元を取りやめました。";
    return false;
  }
  // No other writer works on the folder while its file is replaced.
  std::unique_ptr<db::WriterLock> lock;
  try {
    db::WriterLock::Options o;
    o.waitSeconds = db::WriterLock::defaultWaitSeconds();
    o.onWait = [&ui](const std::string& message) { ui.setStatus(message); };
    o.cancelled = [&ui] { return ui.cancelRequested(); };
    lock = std::make_unique<db::WriterLock>(G().gDBDir, o);
  } catch (const std::exception& ex) {
    error = ErrObject::from(ex).description;
    return false;
  }
  // The current contents become a copy of their own first; the copy being
  // restored is never rotated away by it.
  if (!backupAll("restore", {target}, ui, name)) {
    error = "現在のデータベースをバックアップできなかったため、復元しません。";
    return false;
  }
  ui.setStatus(e.database + "を復元中です");
  try {
    db::Workspace::get().closeFile(target);
    db::OnlineBackup::restore(copy, target, 20.0 * WaitScale());
  } catch (const std::exception& ex) {
    ErrObject eo = ErrObject::from(ex);
    WriteLog(eo, "RestoreBackup", false, true);
    error = "復元できませんでした。(" + eo.description + ")";
    return false;
  }
  LogMilestone("バックアップから復元[" + name + "]", "RestoreBackup");
  ui.setStatus(e.database + "を" + name + "から復元しました");
  return true;
}

}  // namespace velmo
