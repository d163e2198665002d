// Field values and the definitions of tables, fields and indexes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmo::db {

// A field value: Null, a whole number, a double or text.
using Value = std::variant<std::monostate, int64_t, double, std::string>;
inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }
std::string toText(const Value& v);            // Null gives ""
std::optional<std::string> toOptText(const Value& v);
double toNumber(const Value& v);               // Null and text without a number give 0

// Field types, numbered as the original engine numbers them.
enum class FieldType { Unknown = 0, Byte = 2, Integer = 3, Long = 4, Single = 6, Double = 7, Text = 10, Memo = 12 };
bool isNumericType(FieldType t);

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
  bool ignoreNulls = false;  // rows whose key is all Null are left out of the index
  bool required = false;     // every key field must hold a value (a primary key always does)
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

// The declared SQLite type for an engine field type, and back.
std::string declaredType(const FieldInfo& f);
FieldInfo fieldFromDeclared(const std::string& name, const std::string& declared);

}  // namespace velmo::db
