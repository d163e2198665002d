#include "common/clock.h"
#include "maintenance/backup.h"

#include <sqlite3.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "maintenance/writerturn.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"
#include "startup/platform/onlinebackup.h"
#include "startup/platform/rowcopy.h"
#include "startup/platform/userstatement.h"
#include "startup/platform/writerlock.h"
#include "startup/settings.h"

namespace fs = std::filesystem;

namespace velmo {

namespace {

const char* const kLocation = "BackupBefore";

std::string nowStamp() { return LocalTimeText("%Y%m%d-%H%M%S"); }

std::string commandWord(const std::string& command) {
  std::string w;
  for (unsigned char c : command) w += (std::isalnum(c) || c == '-') ? static_cast<char>(c) : '-';
  return w.empty() ? "command" : w;
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

std::string canonicalPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

// Newest first: by sequence, then by time.
bool newer(const BackupEntry& a, const BackupEntry& b) {
  if (a.sequence != b.sequence) return a.sequence > b.sequence;
  return a.time > b.time;
}

long long fileBytes(const std::string& path) {
  std::error_code ec;
  auto n = fs::file_size(path, ec);
  return ec ? 0 : static_cast<long long>(n);
}

std::string kindOf(const BackupEntry& e) {
  if (db::RowCopy::isRowCopy(e.path)) return "rows";
  return e.command == "compact" ? "original" : "full";
}

int nextSequence(const std::string& dir) {
  int seq = 0;
  for (const auto& n : ListFiles(dir + "*.mdb")) {
    BackupEntry e;
    if (ParseBackupName(n, e)) seq = std::max(seq, e.sequence);
  }
  return seq + 1;
}

// A name of its own for each copy being written: ".<pid>-<n>.part", so that
// copies taken in the same second never share one, and one left by a process
// that died is known.
std::string partPath(const std::string& dir, const std::string& dbPath) {
  static std::atomic<int> counter{0};
  return dir + BackupDatabaseName(dbPath) + "." + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".part";
}

// Copies get the mode of their database.
void takeMode(const std::string& dbPath, const std::string& copy) {
  struct stat st {};
  if (::stat(dbPath.c_str(), &st) == 0) ::chmod(copy.c_str(), st.st_mode & 07777);
}

// Puts a finished part under the next free copy name (never over another copy)
// and syncs the folder; returns the name.
std::string publish(const std::string& part, const std::string& dir, const std::string& dbPath, const std::string& command) {
  const std::string stamp = nowStamp();
  for (int seq = nextSequence(dir), tries = 0; tries < 1000; ++seq, ++tries) {
    const std::string name = BackupName(dbPath, command, stamp, seq);
    if (::link(part.c_str(), (dir + name).c_str()) == 0) {
      ::unlink(part.c_str());
      db::OnlineBackup::syncFolder(dir);
      return name;
    }
    if (errno != EEXIST) {
      // A file system without hard links: a rename that may replace nothing
      // since the name was free a moment ago under the writer lock.
      std::error_code ec;
      if (fs::exists(dir + name, ec)) continue;
      fs::rename(part, dir + name, ec);
      if (ec) throw VelmoError(err::CannotSave, "'" + dir + name + "' に書き込めません。(" + ec.message() + ")");
      db::OnlineBackup::syncFolder(dir);
      return name;
    }
  }
  throw VelmoError(err::CannotSave, "バックアップフォルダ「" + dir + "」に名前を付けられません。");
}

void checkRoom(const std::string& dir, long long bytes) {
  const long long needMB = bytes / (1024 * 1024) + 16;
  const long long freeMB = DriveFreeMB(dir);
  if (freeMB >= 0 && freeMB < needMB)
    throw VelmoError(err::CannotSave, "バックアップフォルダ「" + dir + "」の空き容量が足りません。(必要 " +
                                          std::to_string(needMB) + "MB、空き " + std::to_string(freeMB) + "MB)");
}

// Writes a copy into its part with `write`, then publishes it; the part goes
// when anything fails.
std::string makeCopy(const std::string& dbPath, const std::string& command, const std::string& dir,
                     const std::function<void(const std::string& part)>& write) {
  const std::string part = partPath(dir, dbPath);
  try {
    write(part);
    takeMode(dbPath, part);
    return publish(part, dir, dbPath, command);
  } catch (...) {
    std::error_code ec;
    fs::remove(part, ec);
    fs::remove(part + "-journal", ec);
    throw;
  }
}

// Copies one database whole.
std::string copyWhole(const std::string& dbPath, const std::string& command, const std::string& dir) {
  // Room for the copy and a margin, checked before a byte is written.
  checkRoom(dir, fileBytes(dbPath));
  return makeCopy(dbPath, command, dir, [&](const std::string& part) {
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
      db::OnlineBackup::syncFile(part);
      LogMilestone("データベースとして読めないためファイルのままコピーしました[" + FileNamePart(dbPath) + "]", kLocation);
    }
  });
}

std::string folderOf(const std::string& path) {
  const std::string name = FileNamePart(path);
  return path.substr(0, path.size() - name.size());
}

// Runs `copy` for each database under its folder's writer lock, rotates, and
// reports a failure (the command then stops).
bool withCopies(const std::vector<std::string>& dbPaths, CommandUi& ui, const std::string& spare,
                const std::function<std::string(const std::string& dbPath, const std::string& dir)>& copy,
                bool workCopyInUse = false) {
  const int keep = BackupGenerations();
  for (const auto& path : dbPaths) {
    try {
      db::WriterLock turn(folderOf(path).empty() ? "./" : folderOf(path), WriterTurnOptions(ui));
      RemoveBackupLeftovers(!workCopyInUse);
      if (keep <= 0 || !FileExists(path)) continue;
      ui.setStatus(FileNamePart(path) + "をバックアップ中です");
      const std::string dir = BackupDir();
      if (!MakeDirAll(dir))
        throw VelmoError(err::PathNotFound, "バックアップフォルダ「" + dir + "」を作成できません。");
      std::string name = copy(path, dir);
      LogMilestone("バックアップ作成[" + name + "]", kLocation);
      RotateBackups(BackupDatabaseName(path), keep, spare);
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

// A copy of rows, or the whole file where a table has no key.
std::string rowsOrWhole(const std::string& dbPath, const std::string& command, const std::string& dir,
                        const std::function<void(db::RowCopy&)>& fill) {
  try {
    return makeCopy(dbPath, command, dir, [&](const std::string& part) {
      db::RowCopy copy(part, dbPath, command);
      fill(copy);
      copy.finish();
    });
  } catch (const VelmoError& e) {
    if (e.number() != err::EngineGeneric && e.number() != err::NoSuchTable) throw;
    LogMilestone("行のコピーを作れないためファイル全体をコピーします[" + FileNamePart(dbPath) + "] " + e.description(), kLocation);
    return copyWhole(dbPath, command, dir);
  }
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

bool StatementMayWrite(const std::string& sql, const std::string& dbPath) {
  if (!StatementMayWrite(sql)) return false;
  std::string first;
  for (char c : sql) {
    if (std::isalpha(static_cast<unsigned char>(c))) first += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    else if (!first.empty()) break;
  }
  // Definitions change the schema whatever their rows; only data statements
  // are tried first.
  if (first != "insert" && first != "update" && first != "delete") return true;
  auto& ws = db::Workspace::get();
  if (ws.transDepth() > 0 || !FileExists(dbPath)) return true;
  const int depth = ws.transDepth();
  try {
    db::WriterLock turn(folderOf(dbPath).empty() ? "./" : folderOf(dbPath));
    auto d = ws.openDatabase(dbPath);
    ws.beginTrans();
    const long long before = sqlite3_total_changes64(ws.connection());
    db::runUserStatement(*d, sql);
    const bool changed = sqlite3_total_changes64(ws.connection()) != before;
    ws.rollbackTo(depth);
    return changed;
  } catch (const VelmoError& e) {
    ws.rollbackTo(depth);
    // A statement that fails changes nothing; a busy file says nothing yet.
    return e.number() == err::CannotLock || e.number() == err::FileInUse || e.number() == err::DatabaseInUse;
  } catch (const std::exception&) {
    ws.rollbackTo(depth);
    return false;
  }
}

std::string BackupDatabaseName(const std::string& dbPath) {
  std::string n = FileNamePart(dbPath);
  size_t dot = n.rfind('.');
  std::string stem = dot == std::string::npos ? n : n.substr(0, dot);
  const std::string home = canonicalPath(G().gDBDir.empty() ? "." : G().gDBDir);
  const std::string full = canonicalPath(dbPath);
  if (canonicalPath(folderOf(full)) != home) {
    // FNV-1a of the full path.
    uint32_t h = 2166136261u;
    for (unsigned char c : full) h = (h ^ c) * 16777619u;
    char tag[16];
    std::snprintf(tag, sizeof tag, "@%08x", h);
    stem += tag;
  }
  return stem + ".mdb";
}

std::string BackupName(const std::string& dbPath, const std::string& command, const std::string& time, int sequence) {
  std::string db = BackupDatabaseName(dbPath);
  return db.substr(0, db.size() - 4) + "_" + commandWord(command) + "_" + time + "-" + std::to_string(sequence) + ".mdb";
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
    if (when[15] != '-' || !allDigits(when.substr(16)) || when.size() > 25) return false;
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
  for (auto& e : out) e.kind = kindOf(e);
  return out;
}

void RotateBackups(const std::string& database, int keep, const std::string& spare) {
  int kept = 0;
  std::map<std::string, bool> commandSeen;
  for (const auto& e : ListBackups()) {
    if (e.database != database) continue;
    const bool newestOfCommand = !commandSeen[e.command];
    commandSeen[e.command] = true;
    if (e.name == spare || kept < keep || newestOfCommand) {
      ++kept;
      continue;
    }
    std::error_code ec;
    fs::remove(e.path, ec);
    if (!ec) LogMilestone("バックアップ削除[" + e.name + "]", kLocation);
  }
}

void RemoveBackupLeftovers(bool workCopy) {
  std::error_code ec;
  const std::string work = AddPathSep(G().gDBDir) + "_wk.mdb";
  if (workCopy && !G().gDBDir.empty() && fs::exists(work, ec)) {
    fs::remove(work + "-journal", ec);
    if (fs::remove(work, ec)) LogMilestone("残っていた作業ファイルを削除しました[" + work + "]", kLocation);
  }
  const std::string dir = BackupDir();
  for (const auto& n : ListFiles(dir + "*.part")) {
    // "<database>.<pid>-<n>.part": kept while its process lives.
    const std::string stem = n.substr(0, n.size() - 5);
    const size_t dot = stem.rfind('.'), dash = stem.rfind('-');
    if (dot != std::string::npos && dash != std::string::npos && dash > dot) {
      const std::string pid = stem.substr(dot + 1, dash - dot - 1);
      if (allDigits(pid) && pid.size() < 10) {
        const pid_t p = static_cast<pid_t>(std::stol(pid));
        if (p == ::getpid() || ::kill(p, 0) == 0 || errno != ESRCH) continue;
      }
    }
    fs::remove(dir + n + "-journal", ec);
    if (fs::remove(dir + n, ec)) LogMilestone("残っていた書きかけのバックアップを削除しました[" + n + "]", kLocation);
  }
}

bool BackupBefore(const std::string& command, const std::vector<std::string>& dbPaths, CommandUi& ui) {
  return withCopies(dbPaths, ui, {}, [&](const std::string& path, const std::string& dir) {
    return copyWhole(path, command, dir);
  });
}

bool BackupRowsBefore(const std::string& command, const std::string& dbPath, const std::vector<RowsOfTable>& rows,
                      CommandUi& ui) {
  return withCopies({dbPath}, ui, {}, [&](const std::string& path, const std::string& dir) {
    return rowsOrWhole(path, command, dir, [&](db::RowCopy& copy) {
      for (const auto& r : rows) copy.addRows(r.table, r.condition);
    });
  });
}

bool BackupAddedRowsBefore(const std::string& command, const std::string& dbPath, const std::string& sourcePath,
                           const std::vector<RowsAdded>& tables, CommandUi& ui) {
  return withCopies({dbPath}, ui, {}, [&](const std::string& path, const std::string& dir) {
    return rowsOrWhole(path, command, dir, [&](db::RowCopy& copy) {
      for (const auto& t : tables) copy.addNewKeys(t.table, sourcePath, t.sourceTable);
    });
  });
}

bool KeepOriginalBefore(const std::string& command, const std::string& dbPath, CommandUi& ui) {
  return withCopies({dbPath}, ui, {}, [&](const std::string& path, const std::string& dir) {
    const std::string part = partPath(dir, path);
    if (::link(path.c_str(), part.c_str()) == 0) {
      // The same file under a second name: nothing is copied, and it keeps the
      // old contents once the compacted file is renamed over the database.
      try {
        return publish(part, dir, path, command);
      } catch (...) {
        ::unlink(part.c_str());
        throw;
      }
    }
    return copyWhole(path, command, dir);
  }, true);
}

bool RestoreBackup(const std::string& name, CommandUi& ui, std::string& error, const std::string& given) {
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
  const std::string target = given.empty() ? AddPathSep(G().gDBDir) + e.database : given;
  if ((given.empty() && e.database.find('@') != std::string::npos) || BackupDatabaseName(target) != e.database) {
    error = given.empty() ? "バックアップ「" + name + "」はデータベースフォルダ以外のデータベースのコピーです。--db で戻す先を指定してください。"
                          : "バックアップ「" + name + "」は " + given + " のコピーではありません。";
    return false;
  }
  ui.setStatus(name + "を検査中です");
  const std::string check = db::OnlineBackup::integrityCheck(copy);
  if (check != "ok") {
    error = "バックアップ「" + name + "」は壊れています。復元しません。(" + check.substr(0, 300) + ")";
    WriteLog(ErrObject(err::NotADatabase, error), "RestoreBackup", false, true);
    return false;
  }
  const bool rows = db::RowCopy::isRowCopy(copy);
  if (MsgBox(FileNamePart(target) + " をバックアップ「" + name + "」(" + e.time + ")の内容に戻します。\r\n" +
                 "現在の内容は失われます。よろしいですか？",
             vbOKCancel, kAppTitle) != vbOK) {
    error = "復元を取りやめました。";
    return false;
  }
  // No other writer works on the folder while its file is replaced.
  std::unique_ptr<db::WriterLock> lock;
  try {
    lock = std::make_unique<db::WriterLock>(folderOf(target).empty() ? "./" : folderOf(target), WriterTurnOptions(ui));
    db::Workspace::get().closeFile(target);
    db::OnlineBackup::recoverHotJournal(target, 20.0 * WaitScale());
  } catch (const std::exception& ex) {
    error = ErrObject::from(ex).description;
    return false;
  }
  // The current contents become a copy of their own first (of the rows the
  // restore touches, for a copy of rows); the copy being restored is never
  // rotated away by it.
  const bool saved = withCopies({target}, ui, name, [&](const std::string& path, const std::string& dir) {
    if (!rows) return copyWhole(path, "restore", dir);
    try {
      return makeCopy(path, "restore", dir,
                      [&](const std::string& part) { db::RowCopy::writeInverse(copy, path, part, "restore"); });
    } catch (const VelmoError& ex) {
      if (ex.number() != err::EngineGeneric && ex.number() != err::NoSuchTable) throw;
      return copyWhole(path, "restore", dir);
    }
  });
  if (!saved) {
    error = "現在のデータベースをバックアップできなかったため、復元しません。";
    return false;
  }
  ui.setStatus(FileNamePart(target) + "を復元中です");
  try {
    db::Workspace::get().closeFile(target);
    if (rows)
      db::RowCopy::apply(copy, target);
    else
      db::OnlineBackup::restore(copy, target, 20.0 * WaitScale());
    db::Workspace::get().closeFile(target);
  } catch (const std::exception& ex) {
    ErrObject eo = ErrObject::from(ex);
    WriteLog(eo, "RestoreBackup", false, true);
    error = "復元できませんでした。(" + eo.description + ")";
    return false;
  }
  LogMilestone("バックアップから復元[" + name + "]", "RestoreBackup");
  ui.setStatus(FileNamePart(target) + "を" + name + "から復元しました");
  return true;
}

}  // namespace velmo
