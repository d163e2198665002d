// Jet SQL: statements are parsed into a tree, names are resolved against the
// tables and aliases the statement names, and SQLite SQL is emitted from the tree.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "startup/platform/db.h"

namespace velmo::err {
// An expression nested deeper than the translator and SQLite take ("クエリが複雑すぎます。").
constexpr long QueryTooComplex = 3360;
}  // namespace velmo::err

namespace velmo::db {

// One translated statement.
struct JetStatement {
  enum class Kind {
    Select,       // sql yields rows; columns are their names
    Insert,       // insert into … values / select
    Update,
    Delete,
    MakeTable,    // select … into: table is created, sql fills it
    CreateTable,  // def
    AddColumn,    // table, field
    DropColumn,   // table, sql
    CreateIndex,  // table, index
    DropTable,    // table
    DropIndex,    // table, sql
  };
  Kind kind = Kind::Select;
  std::string sql;                  // SQLite text (empty for operations done through the layer)
  std::vector<std::string> columns; // names of the result columns of a select
  std::string table;                // table created, altered or dropped
  TableDefSpec def;
  FieldInfo field;
  IndexInfo index;
  bool isAction() const { return kind == Kind::Insert || kind == Kind::Update || kind == Kind::Delete || kind == Kind::MakeTable; }
};

// Translates one Jet statement for the database it runs on. A trailing ";" is
// allowed; anything after it is error 3142. Unknown names are 3061, unknown
// tables 3078, unknown functions 3085, syntax errors 3075 and its relatives.
// Results are cached per database file and schema generation, so a statement
// repeated per row is parsed once.
std::shared_ptr<const JetStatement> translateJet(const std::string& sql, Database& db);

// False only for a statement that certainly changes nothing: a select (also a
// transform) without "into", or a text that does not parse (it is refused
// before anything runs). Decided from the text alone, before any database is
// opened, so that a writer can take the folder's writer lock first.
bool jetStatementMayWrite(const std::string& sql);

// Runs a translated action or definition statement; returns the records affected
// (rows inserted, updated or deleted; 0 for definitions). A select is 3065.
long runJetStatement(Database& db, const JetStatement& st);

// A criteria text ("名前 = 'a' and 頭数 > 3") as an SQLite expression over the
// given columns: names resolve against `columns` (case and width folded) and are
// emitted as quoted column names; unknown names are 3061.
std::string translateJetCriteria(const std::string& criteria, const std::vector<std::string>& columns);

// The SQLite text of a statement (select, insert, update, delete); kept for callers
// that only want the text.
std::string translateJetSql(const std::string& sql, Database& db);

// Registers the collation JETNOCASE and the functions the emitted SQL calls
// (jet_left, jet_format …) on a connection.
void registerJetFunctions(void* sqliteConnection);

}  // namespace velmo::db
