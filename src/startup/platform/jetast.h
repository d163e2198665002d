// The tree of a parsed Jet statement (internal to the translator).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "startup/platform/db.h"
#include "startup/platform/jetsql.h"

namespace velmo::db::jet {

struct Select;
struct Expr;
using ExprP = std::unique_ptr<Expr>;

enum class EK { Num, Str, Null, Bool, Column, Star, Func, Unary, Binary, Between, In, InSelect, Like, IsNull, Exists, Sub };

struct Expr {
  EK k;
  std::string a;  // Num/Str: text; Column: qualifier; Func: name (lower case); Unary/Binary: operator
  std::string b;  // Column: name
  std::vector<ExprP> args;
  std::unique_ptr<Select> sub;
  bool negated = false;  // not between / not in / not like / is not null
  bool bracketed = false;  // a [name] (never a function or keyword)
  explicit Expr(EK kind) : k(kind) {}
  // Takes the tree apart without recursion: a chain of thousands of operators
  // is as deep as it is long.
  ~Expr();
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
};

struct Source {
  enum class Kind { Table, Sub, Join } kind = Kind::Table;
  std::string name;   // table name as written
  std::string alias;  // alias as written
  std::unique_ptr<Select> sub;
  std::string joinType;  // "inner", "left", "right", "cross"
  std::unique_ptr<Source> left, right;
  ExprP on;
};
using SourceP = std::unique_ptr<Source>;

struct SelItem {
  ExprP e;
  std::string alias;
};

struct OrderItem {
  ExprP e;
  bool desc = false;
};

struct Select {
  bool distinct = false, distinctRow = false;
  long top = -1;
  bool percent = false;
  std::vector<SelItem> items;
  std::string into;
  std::vector<SourceP> from;
  ExprP where;
  std::vector<ExprP> groupBy;
  ExprP having;
  std::vector<OrderItem> orderBy;  // of the whole union on the first select
  std::unique_ptr<Select> unionNext;
  bool unionAll = false;
  // transform … pivot
  ExprP transformAgg;
  ExprP pivot;
  std::vector<ExprP> pivotIn;
};

struct Statement {
  enum class Kind { Select, Insert, Update, Delete, CreateTable, AlterAdd, AlterDrop, AlterAddConstraint, CreateIndex, DropTable, DropIndex } kind;
  std::unique_ptr<Select> select;  // select, insert … select
  std::string table;
  std::vector<std::string> columns;             // insert column list
  std::vector<std::vector<ExprP>> values;        // insert … values
  std::vector<SourceP> from;                     // update / delete sources
  std::vector<std::pair<ExprP, ExprP>> sets;     // update
  ExprP where;
  std::string deleteTarget;                      // delete T.* from …
  TableDefSpec def;                              // create table
  FieldInfo field;                               // alter add / drop column
  IndexInfo index;                               // create index / constraint / drop index
};

// How deep expressions and sub-selects may nest (parentheses, function calls,
// unary operators, sub-selects); deeper is the engine's "too complex" error.
// A chain of binary operators at one level ("a and b and c …") is not nesting.
constexpr int kMaxExpressionDepth = 200;

// Parses one statement; throws VelmoError with the engine's numbers.
std::unique_ptr<Statement> parse(const std::string& sql);
// Parses a criteria expression.
ExprP parseExpression(const std::string& text);

}  // namespace velmo::db::jet
