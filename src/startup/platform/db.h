// The database engine layer. Databases are SQLite files (kova_this.mdb …) attached
// to one connection, so that a workspace transaction spans every open database.
// The rest of the program reaches SQLite only through this layer.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmo::db {

// A field value: Null, a whole number, a double or text.
using Value = std::variant<std::monostate, int64_t, double, std::string>;
inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }
std::string toText(const Value& v);            // Null gives ""
std::optional<std::string> toOptText(const Value& v);
double toNumber(const Value& v);               // Null and text without a number give 0

// Field types, numbered as the original engine numbers them.
enum class FieldType { Unknown = 0, Byte = 2, Integer = 3, Long = 4, Single = 6, Double = 7, Text = 10, Memo = 12 };

struct FieldInfo {
  std::string name;
  FieldType type = FieldType::Text;
  int size = 0;  // characters, for text fields (0: the default 255)
};

struct IndexInfo {
  std::string name;
  std::vector<std::string> fields;
  bool primary = false;
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;
};

struct TableDefSpec {
  std::string name;
  std::vector<FieldInfo> fields;
  std::vector<IndexInfo> indexes;
};

struct LinkInfo {
  std::string connect;  // ";DATABASE=file" or "Text;DATABASE=folder"
  std::string source;   // source table (or file name for text links)
};

class Database;
using DatabasePtr = std::shared_ptr<Database>;
struct SchemaCache;
class Recordset;
class QueryResult;

// A prepared statement owned by the workspace's cache.
class Stmt {
 public:
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return s_; }

 private:
  sqlite3_stmt* s_;
};

class Workspace {
 public:
  static Workspace& get();
  ~Workspace();

  // Opens a database file shared and writable (the file must exist).
  DatabasePtr openDatabase(const std::string& path);

  void beginTrans();
  void commitTrans();
  void rollback();
  int transDepth() const { return depth_; }

  // Writes a compacted copy of a (closed) database file to a new file.
  void compactDatabase(const std::string& source, const std::string& target);
  // Creates a new empty database file.
  void createDatabase(const std::string& path);

  // Closes every database and the connection (tests, end of process).
  void reset();

  sqlite3* connection();
  // Statements prepared once and reused; the cache is dropped on schema changes.
  sqlite3_stmt* prepareCached(const std::string& sql);
  void schemaChanged();
  uint64_t schemaGeneration() const { return schemaGen_; }
  // Changes whenever cached statements are finalized.
  uint64_t statementGeneration() const { return stmtGen_; }

  // Attachment bookkeeping (used by Database).
  std::string attach(const std::string& path);    // returns the schema alias
  void release(const std::string& path);
  std::string aliasOf(const std::string& path) const;
  std::shared_ptr<SchemaCache> schemaCacheOf(const std::string& alias) const;
  // Detaches a file no handle uses any more (before the file is replaced or removed).
  void closeFile(const std::string& path);
  std::string textTableFor(const std::string& folder, const std::string& file);

 private:
  Workspace() = default;
  void detachPending();
  void clearCache();
  struct Attachment {
    std::string alias;
    int refs = 0;
    uint64_t dev = 0, ino = 0;   // the file attached, to notice a replaced file
    uint64_t lastUse = 0;
    int64_t schemaVersion = -1;
    std::shared_ptr<SchemaCache> cache;
  };
  void detach(std::map<std::string, Attachment>::iterator it);
  void probeAttached(const std::string& key, const std::string& path);
  uint64_t useCounter_ = 0;
  sqlite3* conn_ = nullptr;
  std::map<std::string, Attachment> attached_;  // canonical path -> attachment
  int nextAlias_ = 1;
  int depth_ = 0;
  uint64_t schemaGen_ = 1;
  uint64_t stmtGen_ = 1;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> cache_;
  struct TextTable {
    std::string name;
    int64_t mtime = 0;
    int64_t size = 0;
  };
  std::map<std::string, TextTable> textTables_;
  int nextText_ = 1;
};

// Column layout of one table as the engine holds it.
struct TableShape {
  std::string schema;    // alias of the database that stores the table
  std::string name;      // real table name
  std::vector<FieldInfo> fields;
  std::unordered_map<std::string, int> byFolded;  // folded name -> column index
  int find(const std::string& column) const;
};

// What the layer knows of one attached file's schema; kept while the file stays
// attached and rebuilt when the schema changes.
struct SchemaCache {
  uint64_t namesGen = 0;
  std::unordered_map<std::string, std::string> tablesFolded;    // folded -> real name
  std::unordered_map<std::string, LinkInfo> links;               // real name -> link
  std::unordered_map<std::string, std::string> columnsFolded;   // folded -> real column name
  uint64_t columnsGen = 0;                                        // names generation columnsFolded belongs to
  std::unordered_map<std::string, std::unique_ptr<TableShape>> shapes;
  std::unordered_map<std::string, std::vector<IndexInfo>> indexes;
};

class Database : public std::enable_shared_from_this<Database> {
 public:
  Database(std::string path, std::string alias);
  ~Database();

  const std::string& path() const { return path_; }
  const std::string& alias() const { return alias_; }
  bool isOpen() const { return open_; }
  void close();

  // Runs one statement of the program's SQL dialect; returns the rows affected.
  long execute(const std::string& sql);
  // A table-type recordset (direct index access) on a table or linked table.
  std::unique_ptr<Recordset> openTable(const std::string& name);
  // A snapshot of a query's rows.
  std::unique_ptr<QueryResult> openQuery(const std::string& sql);

  // Schema.
  std::vector<std::string> tableNames();               // tables and links, no system tables
  bool hasTable(const std::string& name);              // exact comparison
  std::optional<LinkInfo> linkInfo(const std::string& name);
  std::vector<FieldInfo> fields(const std::string& table);
  std::vector<IndexInfo> indexes(const std::string& table);
  void createTable(const TableDefSpec& def);          // 3012 when the name exists
  void deleteTable(const std::string& name);           // 3265-like error when missing
  void appendField(const std::string& table, const FieldInfo& f);
  void appendIndex(const std::string& table, const IndexInfo& idx);
  void createLink(const std::string& name, const std::string& connect, const std::string& source);

  // Summary properties ("Subject").
  std::string getProperty(const std::string& name);     // 3270 when missing
  void setProperty(const std::string& name, const std::string& value);  // 3270 when missing
  void createProperty(const std::string& name, const std::string& value);

  // Resolution of names for statements and recordsets.
  // The schema-qualified SQL name of a table or link, or empty when unknown.
  std::string resolveTable(const std::string& name, TableShape* shape = nullptr);
  // The real name of a column of any table of this database, or empty.
  std::string resolveColumn(const std::string& name);
  const TableShape& shape(const std::string& table);

 private:
  void ensureOpen() const;
  void loadNames();
  void loadColumns();
  std::vector<IndexInfo> readIndexes(const std::string& table);
  std::string path_;
  std::string alias_;
  bool open_ = true;
  std::shared_ptr<SchemaCache> sc_;       // names of the attached file, shared by its handles
  std::vector<std::string> linkedPaths_;  // databases attached for links
};

// Table-type recordset: seek on an index, add-new or edit, set fields, update.
class Recordset {
 public:
  Recordset(DatabasePtr db, const TableShape& shape);
  ~Recordset();

  void setIndex(const std::string& name);
  // Seek "=" with the key values in the index's column order.
  void seek(const std::vector<Value>& keys);
  bool noMatch() const { return noMatch_; }

  void addNew();
  void edit();
  int columnIndex(const std::string& column) const;  // 3265 when missing
  void set(int column, Value v);
  void set(const std::string& column, Value v) { set(columnIndex(column), std::move(v)); }
  Value get(int column) const;
  Value get(const std::string& column) const { return get(columnIndex(column)); }
  void update();
  void cancelUpdate() { mode_ = Mode::None; }

  // Walking the table in the order of the current index.
  void moveFirst();
  void moveNext();
  bool eof() const { return pos_ >= rowids_.size(); }
  long recordCount();
  void deleteRow();
  void close() {}

  const TableShape& shape() const { return shape_; }

 private:
  void loadRow(int64_t rowid);
  // Statement of a slot (0 seek, 1 insert, 2 update), prepared once.
  sqlite3_stmt* cached(int slot, const std::string& sql);
  sqlite3_stmt* stmts_[3] = {nullptr, nullptr, nullptr};
  uint64_t stmtGen_ = 0;
  enum class Mode { None, Add, Edit };
  DatabasePtr db_;
  TableShape shape_;
  std::string qualified_;
  std::vector<std::string> indexCols_;
  std::vector<Value> row_;
  int64_t rowid_ = -1;
  bool current_ = false;
  bool noMatch_ = true;
  Mode mode_ = Mode::None;
  std::vector<int64_t> rowids_;
  size_t pos_ = 0;
  std::string seekSql_, insertSql_, updateSql_;
};

// Snapshot of a query: all rows read at open.
class QueryResult {
 public:
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;

  bool eof() const { return pos_ >= rows.size(); }
  bool bof() const { return pos_ == 0; }
  void moveFirst() { pos_ = 0; }
  void moveNext() {
    if (pos_ < rows.size()) ++pos_;
  }
  long recordCount() const { return static_cast<long>(rows.size()); }
  int columnIndex(const std::string& name) const;  // 3265 when missing
  Value get(int column) const;
  Value get(const std::string& name) const { return get(columnIndex(name)); }
  size_t position() const { return pos_; }

 private:
  size_t pos_ = 0;
};

// Raises the engine error of an SQLite failure (numbers of the engine's error table).
[[noreturn]] void raiseSqliteError(sqlite3* db, int rc, const std::string& context);

// The declared SQLite type for an engine field type, and back.
std::string declaredType(const FieldInfo& f);
FieldInfo fieldFromDeclared(const std::string& name, const std::string& declared);

}  // namespace velmo::db
