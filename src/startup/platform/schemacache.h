// What the layer knows of the tables of an attached file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "startup/platform/value.h"

namespace velmo::db {

// The layer's own table of the engine types and sizes of native-typed tables.
inline constexpr const char* kFieldTypes = "MSysVelmoFields";

// Column layout of one table as the engine holds it.
struct TableShape {
  std::string schema;    // alias of the database that stores the table
  std::string name;      // real table name
  std::vector<FieldInfo> fields;
  std::unordered_map<std::string, int> byFolded;  // folded name -> column index
  // Made by this layer as a native-typed table: its only checks are the field
  // sizes, and the types and sizes above are the engine's own.
  bool native = false;
  int find(const std::string& column) const;
};

// What the layer knows of one attached file's schema; kept while the file stays
// attached and rebuilt when the schema changes.
struct SchemaCache {
  uint64_t namesGen = 0;
  std::unordered_map<std::string, std::string> tablesFolded;    // folded -> real name
  std::unordered_map<std::string, LinkInfo> links;               // real name -> link
  std::unordered_map<std::string, std::shared_ptr<const TableShape>> shapes;  // shared with open recordsets
  std::unordered_map<std::string, std::vector<IndexInfo>> indexes;
};

}  // namespace velmo::db
