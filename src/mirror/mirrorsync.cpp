#include "mirror/mirrorsync.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

#include "common/func.h"
#include "common/globals.h"
#include "common/text.h"
#include "mirror/pgconnection.h"
#include "mirror/rowcodec.h"
#include "startup/platform/db.h"
#include "startup/platform/mirrorlog.h"
#include "startup/platform/writerlock.h"

namespace velmo::mirror {

namespace {

using db::FieldInfo;
using db::FieldType;
using db::IndexInfo;
using text::quoteSqlIdent;
using text::quoteSqlText;

// Keys replaced one by one up to this share of a table's keys; beyond it the
// table is emptied and copied whole.
constexpr double kWholeShare = 0.25;
// COPY data is sent in pieces of about this size.
constexpr size_t kCopyPiece = 1 << 20;

struct LocalTable {
  std::string name;
  std::vector<FieldInfo> fields;
  std::vector<IndexInfo> indexes;
  int keyColumn = -1;  // the first field of "PrimaryKey"
};

struct LocalFile {
  std::string file, schema;
  db::DatabasePtr d;
  std::vector<LocalTable> tables;
  std::string id;
  int64_t seq = 0;
  std::map<std::string, std::set<std::string>> notes;  // table -> keys ("*": whole)
};

sqlite3* conn() { return db::Workspace::get().connection(); }

bool localTableExists(const LocalFile& f, const std::string& name) {
  db::Stmt st(conn(), "SELECT 1 FROM " + f.d->alias() + ".sqlite_master WHERE type = 'table' AND name = ?");
  st.bind(1, std::string_view(name));
  return st.next();
}

std::string qualified(const LocalFile& f, const std::string& table) { return f.d->alias() + "." + quoteSqlIdent(table); }
std::string serverName(const std::string& schema, const std::string& table) {
  return quoteSqlIdent(schema) + "." + quoteSqlIdent(table);
}

std::string columnList(const LocalTable& t) {
  std::string s;
  for (size_t i = 0; i < t.fields.size(); ++i) s += (i ? ", " : "") + quoteSqlIdent(t.fields[i].name);
  return s;
}

// A server index or constraint name (names are unique per schema there, and at
// most 63 bytes long).
std::string indexName(const std::string& table, const std::string& index) {
  std::string n = table + "." + index;
  if (n.size() <= 63) return n;
  char h[20];
  std::snprintf(h, sizeof h, "~%08x", static_cast<unsigned>(RowHash(n)));
  size_t cut = 50;
  while (cut > 0 && (static_cast<unsigned char>(n[cut]) & 0xC0) == 0x80) --cut;
  return n.substr(0, cut) + h;
}

// Reads a file's tables, state and notes (inside the sync's transaction).
LocalFile readFile(const std::string& file, db::DatabasePtr d) {
  LocalFile f;
  f.file = file;
  f.schema = SchemaOf(file);
  f.d = std::move(d);
  for (const auto& name : f.d->tableNames()) {
    if (f.d->linkInfo(name)) continue;
    LocalTable t;
    t.name = name;
    t.fields = f.d->fields(name);
    t.indexes = f.d->indexes(name);
    for (const auto& ix : t.indexes) {
      if (!ix.primary || ix.fields.empty()) continue;
      for (size_t i = 0; i < t.fields.size(); ++i)
        if (t.fields[i].name == ix.fields[0]) t.keyColumn = static_cast<int>(i);
    }
    f.tables.push_back(std::move(t));
  }
  if (localTableExists(f, db::kMirrorState)) {
    db::Stmt st(conn(), "SELECT id, seq FROM " + qualified(f, db::kMirrorState));
    if (st.next()) {
      f.id = st.text(0);
      f.seq = st.int64(1);
    }
  }
  if (f.id.empty()) {
    std::random_device rd;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x%08x%08x", rd(), rd(), rd());
    f.id = buf;
  }
  if (localTableExists(f, db::kMirrorLog)) {
    db::Stmt st(conn(), "SELECT 表, キー FROM " + qualified(f, db::kMirrorLog));
    while (st.next()) f.notes[st.text(0)].insert(st.text(1));
  }
  return f;
}

// Writes one row of the statement (its columns in the table's field order).
void appendRow(std::string& out, const LocalTable& t, const db::Stmt& st) {
  for (size_t i = 0; i < t.fields.size(); ++i) {
    if (i) out += '\t';
    AppendValue(out, t.fields[i].type, st.column(static_cast<int>(i)));
  }
  out += '\n';
}

class Syncer {
 public:
  Syncer(PgConnection& pg, SyncReport& report) : pg_(pg), report_(report) {}

  void file(LocalFile& f, bool compare) {
    pg_.exec("CREATE SCHEMA IF NOT EXISTS " + quoteSqlIdent(f.schema));
    // The server's tables and their columns.
    std::map<std::string, std::vector<std::string>> server;
    for (auto& r : pg_.query("SELECT table_name FROM information_schema.tables WHERE table_schema = $1 AND table_type = 'BASE TABLE'",
                             {f.schema}))
      server[r[0]];
    for (auto& r : pg_.query("SELECT table_name, column_name, data_type, character_maximum_length FROM information_schema.columns "
                             "WHERE table_schema = $1 ORDER BY table_name, ordinal_position",
                             {f.schema}))
      server[r[0]].push_back(r[1] + ":" + (r[2] == "character varying" ? r[2] + "(" + r[3] + ")" : r[2]));
    std::set<std::string> local;
    for (auto& t : f.tables) {
      local.insert(t.name);
      std::vector<std::string> want;
      for (const auto& fi : t.fields) want.push_back(fi.name + ":" + ServerTypeName(fi));
      auto it = server.find(t.name);
      if (it == server.end() || it->second != want) {
        create(f, t);
        continue;
      }
      if (compare) {
        compareTable(f, t);
        continue;
      }
      auto n = f.notes.find(t.name);
      if (n == f.notes.end()) continue;
      if (n->second.count(db::kWholeTable) || t.keyColumn < 0)
        copyWhole(f, t);
      else
        replaceKeys(f, t, n->second);
    }
    for (auto& [name, cols] : server) {
      if (local.count(name)) continue;
      pg_.exec("DROP TABLE " + serverName(f.schema, name));
      ++report_.tablesDropped;
    }
  }

  // Every row of a table, compared by the first key field's value.
  void compareTable(LocalFile& f, const LocalTable& t) {
    std::unordered_map<std::string, RowSum> mine, theirs;
    std::string line;
    {
      db::Stmt st(conn(), "SELECT " + columnList(t) + " FROM " + qualified(f, t.name), t.name);
      while (st.next(t.name)) {
        line.clear();
        appendRow(line, t, st);
        mine[t.keyColumn < 0 ? std::string(db::kWholeTable) : KeyText(st.column(t.keyColumn))].add(RowHash(line));
      }
    }
    serverSums(f.schema, t, [&](std::string key, uint64_t h) { theirs[std::move(key)].add(h); });
    std::set<std::string> differ;
    for (auto& [k, s] : mine) {
      auto it = theirs.find(k);
      if (it == theirs.end() || !(it->second == s)) differ.insert(k);
    }
    for (auto& [k, s] : theirs)
      if (!mine.count(k)) differ.insert(k);
    if (differ.empty()) return;
    if (t.keyColumn < 0 || differ.size() > kWholeShare * static_cast<double>(mine.size() + 1))
      copyWhole(f, t);
    else
      replaceKeys(f, t, differ);
  }

  // The server's rows of a table: each row's key text and hash.
  void serverSums(const std::string& schema, const LocalTable& t, const std::function<void(std::string, uint64_t)>& row) {
    std::string norm;
    pg_.copyOut("COPY " + serverName(schema, t.name) + " (" + columnList(t) + ") TO STDOUT", [&](std::string_view l) {
      norm.clear();
      std::string key = t.keyColumn < 0 ? std::string(db::kWholeTable) : std::string();
      size_t col = 0, start = 0;
      for (size_t i = 0; i <= l.size(); ++i) {
        if (i < l.size() && l[i] != '\t') continue;
        std::string_view field = l.substr(start, i - start);
        FieldType ty = col < t.fields.size() ? t.fields[col].type : FieldType::Text;
        if (col) norm += '\t';
        AppendServerField(norm, ty, field);
        if (static_cast<int>(col) == t.keyColumn)
          key = (ty == FieldType::Text || ty == FieldType::Memo) ? Unescape(field) : std::string(field);
        ++col;
        start = i + 1;
      }
      norm += '\n';
      row(std::move(key), RowHash(norm));
    });
  }

  void create(LocalFile& f, const LocalTable& t) {
    const std::string name = serverName(f.schema, t.name);
    std::string sql = "DROP TABLE IF EXISTS " + name + "; CREATE TABLE " + name + " (";
    for (size_t i = 0; i < t.fields.size(); ++i) {
      const auto& fi = t.fields[i];
      sql += (i ? ", " : "") + quoteSqlIdent(fi.name) + " " + ServerType(fi);
      if (fi.type == FieldType::Text || fi.type == FieldType::Memo) sql += " COLLATE \"C\"";
    }
    pg_.exec(sql + ")");
    copyRows(f, t, "");
    // Indexes after the rows: much faster than keeping them up row by row.
    for (const auto& ix : t.indexes) {
      std::string cols;
      for (size_t i = 0; i < ix.fields.size(); ++i) cols += (i ? ", " : "") + quoteSqlIdent(ix.fields[i]);
      if (ix.primary)
        pg_.exec("ALTER TABLE " + name + " ADD CONSTRAINT " + quoteSqlIdent(indexName(t.name, ix.name)) + " PRIMARY KEY (" + cols + ")");
      else
        pg_.exec(std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX " + quoteSqlIdent(indexName(t.name, ix.name)) +
                 " ON " + name + " (" + cols + ")");
    }
    ++report_.tablesCreated;
  }

  void copyWhole(LocalFile& f, const LocalTable& t) {
    pg_.exec("TRUNCATE " + serverName(f.schema, t.name));
    copyRows(f, t, "");
    ++report_.tablesCopied;
  }

  // Sends the rows of the statement's result (all rows when `where` is empty).
  void copyRows(LocalFile& f, const LocalTable& t, const std::string& where, const std::vector<std::string>* keys = nullptr) {
    db::Stmt st(conn(), "SELECT " + columnList(t) + " FROM " + qualified(f, t.name) + where, t.name);
    bool intKey = t.keyColumn >= 0 && isNumericType(t.fields[t.keyColumn].type) && t.fields[t.keyColumn].type != FieldType::Single &&
                  t.fields[t.keyColumn].type != FieldType::Double;
    size_t next = 0;
    bool started = false;
    pg_.copyIn("COPY " + serverName(f.schema, t.name) + " (" + columnList(t) + ") FROM STDIN", [&](std::string& buf) {
      for (;;) {
        if (keys && !started) {
          if (next >= keys->size()) return false;
          st.reset();
          const std::string& k = (*keys)[next++];
          if (intKey)
            st.bind(1, db::Value(static_cast<int64_t>(std::strtoll(k.c_str(), nullptr, 10))));
          else
            st.bind(1, std::string_view(k));
          started = true;
        }
        if (!st.next(t.name)) {
          if (!keys) return false;
          started = false;
          continue;
        }
        appendRow(buf, t, st);
        ++report_.rowsSent;
        if (buf.size() >= kCopyPiece) return true;
      }
    });
  }

  void replaceKeys(LocalFile& f, const LocalTable& t, const std::set<std::string>& keySet) {
    std::vector<std::string> keys(keySet.begin(), keySet.end());
    keys.erase(std::remove(keys.begin(), keys.end(), std::string(db::kWholeTable)), keys.end());
    if (!tempReady_) {
      pg_.exec("CREATE TEMP TABLE velmo_keys (k text) ON COMMIT DROP");
      tempReady_ = true;
    }
    pg_.exec("TRUNCATE velmo_keys");
    size_t next = 0;
    pg_.copyIn("COPY velmo_keys FROM STDIN", [&](std::string& buf) {
      while (next < keys.size() && buf.size() < kCopyPiece) {
        AppendEscaped(buf, keys[next++]);
        buf += '\n';
      }
      return next < keys.size();
    });
    const FieldInfo& kf = t.fields[t.keyColumn];
    std::string cast = kf.type == FieldType::Text || kf.type == FieldType::Memo ? "k COLLATE \"C\""
                       : kf.type == FieldType::Single || kf.type == FieldType::Double ? "k::double precision"
                                                                                      : "k::bigint";
    pg_.exec("DELETE FROM " + serverName(f.schema, t.name) + " WHERE " + quoteSqlIdent(kf.name) + " IN (SELECT " + cast +
             " FROM velmo_keys)");
    copyRows(f, t, " WHERE " + quoteSqlIdent(kf.name) + " = ?", &keys);
    report_.keysSynced += static_cast<long long>(keys.size());
  }

 private:
  PgConnection& pg_;
  SyncReport& report_;
  bool tempReady_ = false;
};

void ensureServerState(PgConnection& pg) {
  pg.exec("SELECT pg_advisory_xact_lock(7246115)");
  pg.exec("CREATE SCHEMA IF NOT EXISTS velmo_mirror; CREATE TABLE IF NOT EXISTS velmo_mirror.files (file text PRIMARY KEY, "
          "id text NOT NULL, seq bigint NOT NULL, synced_at timestamptz NOT NULL DEFAULT now())");
}

// The files of the database folder, attached (which cannot be done inside a transaction).
struct OpenFiles {
  std::vector<std::pair<std::string, db::DatabasePtr>> open;
  OpenFiles() {
    for (const auto& file : MirroredFiles())
      if (FileExists(G().gDBDir + file)) open.emplace_back(file, db::Workspace::get().openDatabase(G().gDBDir + file));
  }
  ~OpenFiles() {
    for (auto& [file, d] : open) d->close();
  }
  std::vector<LocalFile> read() {
    std::vector<LocalFile> files;
    for (auto& [file, d] : open) files.push_back(readFile(file, d));
    return files;
  }
};

}  // namespace

const std::vector<std::string>& MirroredFiles() {
  static const std::vector<std::string> f = {"kova_this.mdb", "kova_data.mdb", "kova_code.mdb"};
  return f;
}

std::string SchemaOf(const std::string& file) {
  auto dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

SyncReport Sync(const std::string& conninfo, const SyncOptions& options) {
  auto start = std::chrono::steady_clock::now();
  db::WriterLock lock(G().gDBDir);
  SyncReport report;
  PgConnection pg(conninfo, options.seconds);
  OpenFiles open;
  {
    // Notes of this process's autocommitted statements go into the files first.
    db::Transaction notes;
    notes.commit();
  }
  db::Transaction tx;  // one snapshot of the files for the whole sync
  std::vector<LocalFile> files = open.read();
  pg.exec("BEGIN");
  ensureServerState(pg);
  Syncer syncer(pg, report);
  for (auto& f : files) {
    auto rows = pg.query("SELECT id, seq FROM velmo_mirror.files WHERE file = $1", {f.file});
    bool same = !rows.empty() && rows[0][0] == f.id && rows[0][1] == std::to_string(f.seq);
    bool compare = options.full || !same;
    if (compare) report.comparedFiles.push_back(f.file);
    syncer.file(f, compare);
    pg.query("INSERT INTO velmo_mirror.files (file, id, seq) VALUES ($1, $2, $3) ON CONFLICT (file) DO UPDATE "
             "SET id = excluded.id, seq = excluded.seq, synced_at = now()",
             {f.file, f.id, std::to_string(f.seq + 1)});
  }
  pg.exec("COMMIT");
  // The server holds the files' rows: the notes are done with.
  sqlite3* c = conn();
  for (auto& f : files) {
    db::exec(c, "CREATE TABLE IF NOT EXISTS " + qualified(f, db::kMirrorState) + " (id TEXT NOT NULL, seq INTEGER NOT NULL)");
    db::exec(c, "DELETE FROM " + qualified(f, db::kMirrorState));
    db::exec(c, "INSERT INTO " + qualified(f, db::kMirrorState) + " VALUES (" + quoteSqlText(f.id) + ", " + std::to_string(f.seq + 1) + ")");
    if (!f.notes.empty()) db::exec(c, "DELETE FROM " + qualified(f, db::kMirrorLog));
  }
  tx.commit();
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return report;
}

std::vector<TableCheck> Verify(const std::string& conninfo, double seconds) {
  PgConnection pg(conninfo, seconds);
  OpenFiles open;
  db::Transaction tx;
  std::vector<LocalFile> files = open.read();
  std::vector<TableCheck> out;
  SyncReport unused;
  Syncer syncer(pg, unused);
  pg.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
  for (auto& f : files) {
    std::set<std::string> serverTables;
    for (auto& r : pg.query("SELECT table_name FROM information_schema.tables WHERE table_schema = $1 AND table_type = 'BASE TABLE'",
                            {f.schema}))
      serverTables.insert(r[0]);
    for (auto& t : f.tables) {
      TableCheck ch;
      ch.schema = f.schema;
      ch.table = t.name;
      RowSum mine, theirs;
      std::string line;
      db::Stmt st(conn(), "SELECT " + columnList(t) + " FROM " + qualified(f, t.name), t.name);
      while (st.next(t.name)) {
        line.clear();
        appendRow(line, t, st);
        mine.add(RowHash(line));
      }
      if (serverTables.erase(t.name)) {
        try {
          pg.exec("SAVEPOINT v");
          syncer.serverSums(f.schema, t, [&](std::string, uint64_t h) { theirs.add(h); });
          pg.exec("RELEASE v");
        } catch (const MirrorError&) {
          pg.exec("ROLLBACK TO v");  // columns that differ: the table differs
          theirs = RowSum{~0ull, 0};
        }
      }
      ch.localRows = mine.count;
      ch.serverRows = theirs.count == ~0ull ? 0 : theirs.count;
      ch.equal = mine == theirs;
      out.push_back(ch);
    }
    for (const auto& name : serverTables) {
      TableCheck ch;
      ch.schema = f.schema;
      ch.table = name;
      out.push_back(ch);
    }
  }
  pg.exec("COMMIT");
  tx.rollback();
  return out;
}

long long PendingNotes() {
  long long n = 0;
  for (const auto& file : MirroredFiles()) {
    if (!FileExists(G().gDBDir + file)) continue;
    auto d = db::Workspace::get().openDatabase(G().gDBDir + file);
    LocalFile f;
    f.d = d;
    if (localTableExists(f, db::kMirrorLog)) {
      db::Stmt st(conn(), "SELECT count(*) FROM " + qualified(f, db::kMirrorLog));
      if (st.next()) n += st.int64(0);
    }
    d->close();
  }
  return n;
}

}  // namespace velmo::mirror
