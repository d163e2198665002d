// Column checks of the readers against records written field by field at the
// offsets of the provider's record descriptions (written out again in each test,
// independently of the record layouts the readers use): every field gets a value
// no other field has, so a wrong offset, length or rule shows as a wrong column.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "startup/platform/db.h"
#include "tools/fixture/fixture.h"

namespace velmo::test {

// One row of a description's field table: rules per kind ("-" where the kind
// does not store the column). Rules: text, trim, blank-null, number, blank-null
// number, head k, trim head k, char p, fixed X; "date" (the file's race date),
// "key" and "custom" (checked by the test itself; a custom field gets a text value).
struct FieldSpec {
  int offset;
  int length;
  const char* column;
  std::vector<const char*> rules;
};

inline std::string fullWidthDigits(const std::string& ascii) {
  std::string r;
  for (char c : ascii) text::appendUtf8(r, static_cast<char32_t>(0xFF10 + (c - '0')));
  return r;
}

inline std::string zeroPad(long v, size_t n) {
  std::string s = std::to_string(v);
  if (s.size() > n) s = s.substr(s.size() - n);
  return std::string(n - s.size(), '0') + s;
}

struct BuiltRecord {
  std::string bytes;
  std::map<std::string, db::Value> expected;  // by column; Null for the kind's absent columns
  std::map<std::string, std::string> put;     // the text put into each field
};

// A record of `length` bytes for rule column `kind` of the table: unused bytes are
// '#', every field a distinct value fitting its rule. `variant` shifts the values.
inline BuiltRecord BuildDistinct(int length, const std::vector<FieldSpec>& fields, size_t kind,
                                 const std::string& raceDate, int variant = 0) {
  fixture::RecordBuilder b(length);
  b.putBytes(0, std::string(static_cast<size_t>(length) - 2, '#'));
  BuiltRecord out;
  std::map<std::pair<int, int>, std::string> byRange;
  static const std::string ones = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!$%&*+<=>?@^_~";
  int t = 10 + variant * 7, single = variant * 5;
  for (const auto& f : fields) {
    const char* own = kind < f.rules.size() ? f.rules[kind] : f.rules[0];
    std::string rule = own;
    // The shape of the bytes: the kind's rule, or the first rule another kind has.
    std::string shape = rule;
    if (shape == "-")
      for (const char* r : f.rules)
        if (std::string(r) != "-") {
          shape = r;
          break;
        }
    std::string col = f.column;
    if (rule == "-") {
      out.expected[col] = std::monostate{};
    } else if (text::startsWith(rule, "fixed ")) {
      out.expected[col] = rule.substr(6);
      continue;
    } else if (rule == "date") {
      out.expected[col] = raceDate;
      continue;
    }
    if (shape == "key" || f.length == 0) continue;
    auto range = std::make_pair(f.offset, f.length);
    std::string v;
    if (byRange.count(range)) {
      v = byRange[range];
    } else {
      ++t;
      const size_t n = static_cast<size_t>(f.length);
      if (shape == "number" || shape == "blank-null number") {
        std::string digits = n == 1 ? std::to_string(t % 10) : std::to_string(t % static_cast<long>(std::pow(10, std::min<size_t>(n, 9))));
        v = std::string(n - digits.size(), ' ') + digits;
      } else if (text::startsWith(shape, "head ") || text::startsWith(shape, "trim head ")) {
        size_t k = static_cast<size_t>(std::atoi(shape.substr(shape.rfind(' ') + 1).c_str()));
        size_t room = std::min(k, n / 2);
        // "head k" keeps the padding: fill the k characters exactly; "trim head k"
        // gets a shorter text that the blanks around are trimmed from.
        if (text::startsWith(shape, "head ")) v = "記" + fullWidthDigits(zeroPad(t, room - 1));
        else v = "記" + fullWidthDigits(std::to_string(t % static_cast<long>(std::pow(10, std::min<size_t>(room - 1, 6)))));
      } else if (n == 1) {
        v = std::string(1, ones[static_cast<size_t>(single++) % ones.size()]);
      } else if (text::startsWith(shape, "char ")) {
        for (int k = 0; k < 3; ++k) v += ones[static_cast<size_t>(single++) % ones.size()];
      } else {
        v = std::string(1, static_cast<char>('A' + t % 26)) + zeroPad(t, n - 1);
      }
      byRange[range] = v;
      b.put(f.offset, f.length, v);
    }
    out.put[col] = v;
    if (rule == "-" || rule == "key") continue;
    if (rule == "number" || rule == "blank-null number") out.expected[col] = std::strtod(v.c_str(), nullptr);
    else if (text::startsWith(rule, "char ")) out.expected[col] = v.substr(static_cast<size_t>(std::atoi(rule.c_str() + 5) - 1), 1);
    else out.expected[col] = v;  // text, trim, blank-null, head k, trim head k, custom
  }
  out.bytes = b.bytes();
  return out;
}

inline std::string show(const db::Value& v) {
  if (db::isNull(v)) return "<Null>";
  if (auto* d = std::get_if<double>(&v)) return "number " + text::formatNumber(*d);
  return "\"" + db::toText(v) + "\"";
}

// The rows of a query as maps by column.
inline std::vector<std::map<std::string, db::Value>> Rows(db::Database& d, const std::string& sql) {
  auto q = d.openQuery(sql);
  std::vector<std::map<std::string, db::Value>> out;
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    std::map<std::string, db::Value> row;
    for (size_t c = 0; c < q->columns.size(); ++c) row[q->columns[c]] = q->get(static_cast<int>(c));
    out.push_back(std::move(row));
  }
  return out;
}

// Every column of the row: the expected value where the record gives one, Null
// for every other column of the table (a new row), except the columns the test
// checks itself.
inline void ExpectRow(const std::map<std::string, db::Value>& row, const std::map<std::string, db::Value>& expected,
                      const std::vector<std::string>& checkedByTest, const std::string& what) {
  for (const auto& [col, val] : row) {
    if (std::find(checkedByTest.begin(), checkedByTest.end(), col) != checkedByTest.end()) continue;
    auto it = expected.find(col);
    db::Value want = it == expected.end() ? db::Value{} : it->second;
    EXPECT_EQ(show(val), show(want)) << what << ": column " << col;
  }
  for (const auto& [col, val] : expected)
    EXPECT_TRUE(row.count(col)) << what << ": the table has no column " << col;
}

}  // namespace velmo::test
