// Record layouts of the provider's fixed-record text files, written as tables
// (offset, length, column, rule per kind) and read by one upsert engine.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/platform/db.h"

namespace velmo::reg {

// Column value rules.
enum class RuleKind { Text, Head, TrimHead, Trim, BlankNull, Number, BlankNullNumber, Char, Fixed, Key, Custom };

struct Rule {
  RuleKind kind = RuleKind::Text;
  int k = 0;            // head k, char p
  std::string literal;  // fixed "x", custom rule name
};

// Parses a rule as the layouts write it: "text", "head 25", "trim head 9", "trim",
// "blank-null", "number", "blank-null number", "char 2", "fixed KAA", "key",
// "custom NAME". Throws on anything else.
Rule parseRule(std::string_view text);

// One record of a file: its bytes and the race date of the file.
class RecordView {
 public:
  RecordView(std::string_view bytes, const std::string& raceDate, long number)
      : bytes_(bytes), raceDate_(raceDate), number_(number) {}
  // The field's raw value: decoded Shift_JIS padded with blanks to n characters.
  std::string raw(int offset, int length) const;
  // The field's bytes as they stand.
  std::string_view bytes(int offset, int length) const;
  const std::string& raceDate() const { return raceDate_; }
  long number() const { return number_; }
  std::string_view all() const { return bytes_; }

 private:
  std::string_view bytes_;
  const std::string& raceDate_;
  long number_;
};

// Value of a field under a rule (Key and Custom are resolved by the family).
db::Value applyRule(const Rule& rule, const std::string& raw);
// The numeric reading of the "number" rule.
double readNumber(std::string_view raw);

struct FieldRow {
  int offset;
  int length;
  const char* column;
  std::vector<const char*> rules;  // one per kind of the family, "-" where the kind lacks it
};

// The status text the data list appends, from the last record read (nullptr for an empty file).
using StatusFn = std::function<std::string(const RecordView* last)>;

struct KindDef {
  const char* kind;        // kind code, e.g. "BAB"
  int recordLength;        // including CR LF
  StatusFn status = {};    // status text for the data list (empty when not set)
  bool feedsList = true;   // false: the kind leaves the data list members alone
};

using Composer = std::function<db::Value(const RecordView& rec, const std::string& column)>;
struct CompiledField {
  int offset;
  int length;
  std::string column;
  Rule rule;
  Composer compose = {};  // rules "key" and custom: resolved when the layout is compiled
};

class Family;

// What a reader does with one record before it is saved (row policies such as
// "update only" or "never older"); returns false to leave the row alone.
using RowFilter = std::function<bool(db::Recordset& rs, bool found, const RecordView& rec)>;
// Computes a composed key or a kind's own rule.
// A file family: one table, one seek key, and the field table of its kinds.
struct FamilyDef {
  const char* table;                    // base name without the mode prefix
  std::vector<const char*> seekKey;     // index "PrimaryKey" columns, in order
  std::vector<KindDef> kinds;
  std::vector<FieldRow> rows;
  std::map<std::string, Composer> composers;  // by column (rule "key") or by custom rule name
};

// A compiled layout for one kind.
struct Layout {
  std::string kind;
  std::string table;
  int recordLength = 0;
  std::vector<std::string> seekKey;
  std::vector<CompiledField> fields;
  std::map<std::string, Composer> composers;
  // Computes the value of field i of the record.
  db::Value value(size_t i, const RecordView& rec) const;
  // The seek values of the record, in key order.
  std::vector<db::Value> keyValues(const RecordView& rec) const;
  // The index of the field that writes `column` (the first one); throws when none does.
  size_t fieldIndex(const std::string& column) const;
  std::vector<int> keyFieldIndex;  // field index giving each key column
  StatusFn status;
  bool feedsList = true;
};

// Compiles every kind of a family; throws when a rule does not parse.
std::vector<Layout> compileFamily(const FamilyDef& def);

// The registry of all layouts: one layout set per data source, by kind code.
// Source "J" holds the provider's files (filled from BuiltinFamilies), "V" the
// JRA-VAN files (filled from VanFamilies).
const Layout& LayoutFor(const std::string& kind, const std::string& source = "J");
const Layout* FindLayout(const std::string& kind, const std::string& source = "J");
std::vector<const Layout*> AllLayouts(const std::string& source = "J");

// Adds a family to a source's layout set.
void RegisterFamily(const FamilyDef* def, const std::string& source = "J");

struct UpsertOptions {
  RowFilter filter;     // optional row policy
  bool addMissing = true;  // false: update only rows that exist
  bool undated = false;    // the file's name carries no race date (code conversion lists)
  // A stored row is replaced only when its value of this column (Null taken as
  // empty text) is not above the record's; new rows are always added.
  std::string keepNewerBy;
  // With addMissing false: a record whose row is missing is decoded no further
  // than its key. Only for a file an earlier pass has decoded whole, whose bytes
  // are known to be good.
  bool decodedBefore = false;
  // Columns written after the layout's fields. `complete` gives their values
  // for every record (and may change the layout's, which come first in
  // `values`). With extraAddOnly a stored row keeps its own values of them.
  std::vector<std::string> extraColumns;
  bool extraAddOnly = false;
  std::function<void(const RecordView& rec, std::vector<db::Value>& values)> complete;
};

// The record-upsert loop: opens prefix + table with index "PrimaryKey", reads the
// file record by record, seeks the key, adds or edits the row, assigns every
// column of the layout by its rule and saves. Returns the number of records and
// leaves the last record's bytes in lastRecord (empty when the file was empty).
long UpsertFile(db::Database& database, const std::string& prefix, const Layout& layout, const std::string& path,
                const UpsertOptions& options, std::string* lastRecord = nullptr);

// Reads a provider file's records: checks the record length (CR LF at the end of
// every whole record) and yields each record. The count follows the rounding rule:
// a trailing fragment shorter than half a record is ignored; a fragment that lacks
// only its CR LF counts as a record; any other fragment is a truncated record and
// an error.
void ForEachRecord(const std::string& path, int recordLength, const std::string& raceDate,
                   const std::function<void(const RecordView&)>& fn);

// Race date of a provider file from its name: the last 13 characters of the path,
// 6 characters from the 4th of them, widened by the century rule.
std::string RaceDateFromPath(const std::string& path);

}  // namespace velmo::reg
