// Rows in the text form of PostgreSQL's COPY, written the same way from a
// database file's values and from the server's own COPY output, so that a row
// of each side can be compared by a hash of its line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "startup/platform/value.h"

namespace velmo::mirror {

// The server's column type of an engine field.
std::string ServerType(const db::FieldInfo& f);
// information_schema's data_type (with the length of a varchar) of that type.
std::string ServerTypeName(const db::FieldInfo& f);

// Appends one value in COPY text form ("\N" for Null).
void AppendValue(std::string& out, db::FieldType type, const db::Value& v);
// Appends a text with COPY's escapes.
void AppendEscaped(std::string& out, std::string_view s);
// COPY's escapes undone.
std::string Unescape(std::string_view s);
// A field of the server's COPY output written as AppendValue writes the value.
void AppendServerField(std::string& out, db::FieldType type, std::string_view field);

// The hash of a row's line.
uint64_t RowHash(std::string_view line);

// The text a key value is noted under (as the engine's change log notes it).
std::string KeyText(const db::Value& v);

// Row count and order-free checksum (sum of row hashes) of a set of rows.
struct RowSum {
  uint64_t count = 0;
  uint64_t sum = 0;
  void add(uint64_t h) {
    ++count;
    sum += h;
  }
  bool operator==(const RowSum& o) const { return count == o.count && sum == o.sum; }
};

}  // namespace velmo::mirror
