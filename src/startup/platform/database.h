// A database file open in the workspace: its statements, recordsets and schema.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "startup/platform/schemacache.h"
#include "startup/platform/value.h"
#include "startup/platform/workspace.h"

namespace velmo::db {

class Recordset;
class QueryResult;

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
  // A snapshot of a query's rows. It finds rows by criteria (findFirst …).
  // A query over a join is edited with one statement rather than a dynaset:
  // "update A inner join B on … set B.x = … where A.key = '…'" through
  // execute() changes the rows a dynaset's FindFirst/Edit/Update would.
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
  // Tables made by createTable are native-typed (SQLite STRICT: TEXT, INTEGER,
  // REAL); tables of databases made by earlier builds carry checks instead.
  bool isNativeTable(const std::string& table);
  // Rebuilds an old-style table in place as a native-typed one: rows, their
  // order and the indexes kept, in one transaction. A native table is left alone.
  void rebuildNative(const std::string& table);

  // Summary properties ("Subject").
  std::string getProperty(const std::string& name);     // 3270 when missing
  void setProperty(const std::string& name, const std::string& value);  // 3270 when missing
  void createProperty(const std::string& name, const std::string& value);

  // Resolution of names for statements and recordsets.
  // The schema-qualified SQL name of a table or link, or empty when unknown.
  std::string resolveTable(const std::string& name, TableShape* shape = nullptr);
  const TableShape& shape(const std::string& table) { return *sharedShape(table); }
  // The same, kept alive for a recordset past a change of the schema.
  std::shared_ptr<const TableShape> sharedShape(const std::string& table);

 private:
  void ensureOpen() const;
  void loadNames();
  std::vector<IndexInfo> readIndexes(const std::string& table);
  std::string path_;
  std::string alias_;
  bool open_ = true;
  std::shared_ptr<SchemaCache> sc_;       // names of the attached file, shared by its handles
  std::vector<std::string> linkedPaths_;  // databases attached for links
};

}  // namespace velmo::db
