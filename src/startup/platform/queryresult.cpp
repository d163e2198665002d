#include "startup/platform/queryresult.h"

#include <cctype>
#include <cstring>

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/database.h"
#include "startup/platform/errortable.h"

namespace velmo::db {

int QueryResult::columnIndex(const std::string& name) const {
  std::string f = text::foldName(name);
  for (size_t i = 0; i < columns.size(); ++i)
    if (text::foldName(columns[i]) == f) return static_cast<int>(i);
  raise(err::NoSuchField, name);
}

Value QueryResult::get(int column) const {
  if (pos_ >= rows.size()) raise(err::NoCurrentRecord);
  return rows[pos_][static_cast<size_t>(column)];
}

namespace {

// Where a clause that follows WHERE would end: the first ORDER BY, GROUP BY,
// HAVING or UNION at the top level of the statement (outside quotes, brackets
// and parentheses), or the end.
struct Clauses {
  size_t where = std::string::npos;  // position of the top-level WHERE keyword
  size_t tail = std::string::npos;   // first clause after the where clause
};

Clauses topLevelClauses(const std::string& s) {
  Clauses r;
  std::string lower = text::toLowerAscii(s);
  int depth = 0;
  auto wordAt = [&](size_t i, const char* w) {
    size_t n = std::strlen(w);
    if (lower.compare(i, n, w) != 0) return false;
    bool before = i == 0 || std::isspace(static_cast<unsigned char>(lower[i - 1])) || lower[i - 1] == ')';
    bool after = i + n >= lower.size() || std::isspace(static_cast<unsigned char>(lower[i + n])) || lower[i + n] == '(';
    return before && after;
  };
  for (size_t i = 0; i < lower.size(); ++i) {
    char c = lower[i];
    if (c == '\'' || c == '"') {
      size_t e = lower.find(c, i + 1);
      i = e == std::string::npos ? lower.size() : e;
    } else if (c == '[') {
      size_t e = lower.find(']', i + 1);
      i = e == std::string::npos ? lower.size() : e;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0) {
      if (r.where == std::string::npos && wordAt(i, "where")) r.where = i;
      else if (r.tail == std::string::npos &&
               (wordAt(i, "order") || wordAt(i, "group") || wordAt(i, "having") || wordAt(i, "union")))
        r.tail = i;
    }
  }
  return r;
}

}  // namespace

const std::vector<bool>& QueryResult::matches(const std::string& criteria) {
  auto it = found_.find(criteria);
  if (it != found_.end()) return it->second;
  auto db = db_.lock();
  if (!db || !db->isOpen()) raise(err::InvalidObject, {}, "(スナップショットのデータベースは閉じられています)");
  std::string sql = text::trimBlanks(source_);
  while (!sql.empty() && (sql.back() == ';' || sql.back() == ' ')) sql.pop_back();
  if (sql.find(' ') == std::string::npos) sql = "select * from [" + sql + "]";
  // The criteria joins the statement's own where clause, so its names are in scope.
  Clauses cl = topLevelClauses(sql);
  std::string head = cl.tail == std::string::npos ? sql : sql.substr(0, cl.tail);
  std::string tail = cl.tail == std::string::npos ? "" : " " + sql.substr(cl.tail);
  if (cl.where != std::string::npos && (cl.tail == std::string::npos || cl.where < cl.tail))
    head = head.substr(0, cl.where) + "where (" + head.substr(cl.where + 5) + ") and (" + criteria + ")";
  else
    head += " where (" + criteria + ")";
  auto q = db->openQuery(head + tail);
  std::map<std::vector<Value>, long> selected;
  for (auto& row : q->rows) ++selected[row];
  std::vector<bool> marks(rows.size(), false);
  for (size_t i = 0; i < rows.size(); ++i) {
    auto s = selected.find(rows[i]);
    if (s != selected.end() && s->second > 0) {
      marks[i] = true;
      --s->second;
    }
  }
  return found_.emplace(criteria, std::move(marks)).first->second;
}

bool QueryResult::find(const std::string& criteria, bool forward, bool fromCurrent) {
  const auto& m = matches(criteria);
  const long n = static_cast<long>(rows.size());
  long start;
  if (forward) start = fromCurrent ? (pos_ < rows.size() ? static_cast<long>(pos_) + 1 : n) : 0;
  else start = fromCurrent ? (pos_ < rows.size() ? static_cast<long>(pos_) - 1 : -1) : n - 1;
  for (long i = start; i >= 0 && i < n; i += forward ? 1 : -1) {
    if (m[static_cast<size_t>(i)]) {
      pos_ = static_cast<size_t>(i);
      bof_ = false;
      noMatch_ = false;
      return true;
    }
  }
  noMatch_ = true;
  return false;
}

bool QueryResult::findFirst(const std::string& criteria) { return find(criteria, true, false); }
bool QueryResult::findNext(const std::string& criteria) { return find(criteria, true, true); }
bool QueryResult::findLast(const std::string& criteria) { return find(criteria, false, false); }
bool QueryResult::findPrevious(const std::string& criteria) { return find(criteria, false, true); }

}  // namespace velmo::db
