#include "startup/platform/jetsql.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/text.h"
#include "startup/platform/db.h"

namespace velmo::db {

namespace {

enum class K { Space, Ident, Bracket, Str, Num, Op, Done };

struct Tok {
  K kind;
  std::string text;  // for Ident/Bracket: the name; Str: the content (unquoted); others: verbatim
};

bool isIdentStart(unsigned char c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool isIdentChar(unsigned char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

std::vector<Tok> tokenize(const std::string& s) {
  std::vector<Tok> out;
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      size_t b = i;
      while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
      out.push_back({K::Space, s.substr(b, i - b)});
    } else if (c == '\'' || c == '"') {
      char q = static_cast<char>(c);
      std::string v;
      ++i;
      while (i < n) {
        if (s[i] == q) {
          if (i + 1 < n && s[i + 1] == q) {
            v += q;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v += s[i++];
      }
      out.push_back({K::Str, v});
    } else if (c == '[') {
      size_t e = s.find(']', i);
      if (e == std::string::npos) e = n;
      out.push_back({K::Bracket, s.substr(i + 1, e - i - 1)});
      i = e + 1;
    } else if (c == '#') {
      size_t e = s.find('#', i + 1);
      if (e == std::string::npos) e = n;
      out.push_back({K::Str, s.substr(i + 1, e - i - 1)});
      i = e + 1;
    } else if (c >= '0' && c <= '9') {
      size_t b = i;
      while (i < n && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.')) ++i;
      // A name such as 1着賞金 starts with a digit.
      if (i < n && static_cast<unsigned char>(s[i]) >= 0x80) {
        while (i < n && isIdentChar(static_cast<unsigned char>(s[i]))) ++i;
        out.push_back({K::Ident, s.substr(b, i - b)});
      } else {
        out.push_back({K::Num, s.substr(b, i - b)});
      }
    } else if (isIdentStart(c)) {
      size_t b = i;
      while (i < n && isIdentChar(static_cast<unsigned char>(s[i]))) ++i;
      out.push_back({K::Ident, s.substr(b, i - b)});
    } else {
      // Two-character operators.
      if (i + 1 < n) {
        std::string two = s.substr(i, 2);
        if (two == "<>" || two == "<=" || two == ">=" || two == "||" || two == "!=") {
          out.push_back({K::Op, two});
          i += 2;
          continue;
        }
      }
      out.push_back({K::Op, std::string(1, static_cast<char>(c))});
      ++i;
    }
  }
  return out;
}

const std::unordered_set<std::string>& keywords() {
  static const std::unordered_set<std::string> k = {
      "select", "from",  "where",  "and",    "or",     "not",    "as",     "on",     "inner",  "left",
      "right",  "outer", "join",   "group",  "by",     "order",  "having", "distinct", "distinctrow",
      "top",    "insert", "into",  "values", "update", "set",    "delete", "in",     "between", "like",
      "is",     "null",  "asc",    "desc",   "union",  "all",    "exists", "case",   "when",   "then",
      "else",   "end",   "true",   "false",  "create", "table",  "drop",   "alter",  "add",    "column",
      "index",  "primary", "key",  "unique", "cross",  "limit",  "mod",    "escape", "glob",   "cast",
      "default", "vacuum", "pragma", "with", "natural", "using", "offset", "collate", "replace", "ignore"};
  return k;
}

const std::unordered_map<std::string, std::string>& functionMap() {
  static const std::unordered_map<std::string, std::string> m = {
      {"mid", "substr"},      {"left", "jet_left"},     {"right", "jet_right"},  {"iif", "iif"},
      {"first", "jet_first"}, {"last", "jet_last"},     {"nz", "jet_nz"},        {"len", "length"},
      {"ucase", "upper"},     {"lcase", "lower"},       {"val", "jet_val"},      {"cstr", "jet_cstr"},
      {"cint", "jet_cint"},   {"clng", "jet_cint"},     {"cdbl", "jet_val"},     {"csng", "jet_val"},
      {"isnull", "jet_isnull"}, {"int", "jet_int"},     {"fix", "jet_fix"},      {"space", "jet_space"},
      {"now", "jet_now"},     {"date", "jet_date"},     {"format", "jet_format"}, {"sgn", "sign"},
      {"instr", "instr"},     {"trim", "trim"},         {"ltrim", "ltrim"},      {"rtrim", "rtrim"},
      {"count", "count"},     {"max", "max"},           {"min", "min"},          {"sum", "sum"},
      {"avg", "avg"},         {"abs", "abs"},           {"round", "round"},      {"strconv", "jet_strconv"},
  };
  return m;
}

std::string quoteIdent(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '"') r += '"';
    r += c;
  }
  return r + "\"";
}

std::string quoteStr(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') r += '\'';
    r += c;
  }
  return r + "'";
}

// Output token: its SQL text and whether it is a value-like piece (for "&").
struct Out {
  K kind;
  std::string sql;
  std::string lower;  // lower-case text for keywords and operators
};

std::string likePattern(const std::string& jet) {
  std::string r;
  for (char c : jet) {
    if (c == '*') r += '%';
    else if (c == '?') r += '_';
    else r += c;
  }
  return r;
}

size_t prevNonSpace(const std::vector<Out>& v, size_t i) {
  while (i > 0) {
    --i;
    if (v[i].kind != K::Space) return i;
  }
  return std::string::npos;
}

size_t nextNonSpace(const std::vector<Out>& v, size_t i) {
  for (++i; i < v.size(); ++i)
    if (v[i].kind != K::Space) return i;
  return std::string::npos;
}

size_t matchForward(const std::vector<Out>& v, size_t open) {
  int depth = 0;
  for (size_t i = open; i < v.size(); ++i) {
    if (v[i].kind == K::Op && v[i].sql == "(") ++depth;
    if (v[i].kind == K::Op && v[i].sql == ")" && --depth == 0) return i;
  }
  return v.size() - 1;
}

size_t matchBackward(const std::vector<Out>& v, size_t close) {
  int depth = 0;
  for (size_t i = close + 1; i-- > 0;) {
    if (v[i].kind == K::Op && v[i].sql == ")") ++depth;
    if (v[i].kind == K::Op && v[i].sql == "(" && --depth == 0) return i;
  }
  return 0;
}

bool isValueTok(const Out& o) { return o.kind == K::Ident || o.kind == K::Bracket || o.kind == K::Str || o.kind == K::Num || o.kind == K::Done; }

std::string join(const std::vector<Out>& v, size_t b, size_t e) {
  std::string r;
  for (size_t i = b; i <= e && i < v.size(); ++i) r += v[i].sql;
  return r;
}

// Replaces "a & b" with a concatenation in which Null counts as empty text.
void rewriteConcat(std::vector<Out>& v) {
  for (;;) {
    size_t amp = std::string::npos;
    for (size_t i = 0; i < v.size(); ++i)
      if (v[i].kind == K::Op && v[i].sql == "&") {
        amp = i;
        break;
      }
    if (amp == std::string::npos) return;
    // Left operand.
    size_t le = prevNonSpace(v, amp);
    if (le == std::string::npos) return;
    size_t lb = le;
    if (v[le].kind == K::Op && v[le].sql == ")") {
      lb = matchBackward(v, le);
      size_t f = prevNonSpace(v, lb);
      if (f != std::string::npos && (v[f].kind == K::Ident)) lb = f;
    } else {
      while (true) {
        size_t d = prevNonSpace(v, lb);
        if (d != std::string::npos && v[d].kind == K::Op && v[d].sql == ".") {
          size_t q = prevNonSpace(v, d);
          if (q == std::string::npos) break;
          lb = q;
        } else {
          break;
        }
      }
    }
    // Right operand.
    size_t rb = nextNonSpace(v, amp);
    if (rb == std::string::npos) return;
    size_t re = rb;
    if (v[rb].kind == K::Op && v[rb].sql == "(") {
      re = matchForward(v, rb);
    } else {
      size_t nx = nextNonSpace(v, re);
      if (v[rb].kind == K::Ident && nx != std::string::npos && v[nx].sql == "(") {
        re = matchForward(v, nx);
      } else {
        while (true) {
          size_t d = nextNonSpace(v, re);
          if (d != std::string::npos && v[d].kind == K::Op && v[d].sql == ".") {
            size_t q = nextNonSpace(v, d);
            if (q == std::string::npos) break;
            re = q;
          } else {
            break;
          }
        }
      }
    }
    Out o{K::Done, "(ifnull(" + join(v, lb, le) + ",'') || ifnull(" + join(v, rb, re) + ",''))", ""};
    v.erase(v.begin() + static_cast<long>(lb), v.begin() + static_cast<long>(re) + 1);
    v.insert(v.begin() + static_cast<long>(lb), o);
  }
}

// "update A inner join B on c set x = y where w" -> "update A set x = y from B where (c) and (w)".
void rewriteUpdateJoin(std::vector<Out>& v) {
  size_t first = nextNonSpace(v, static_cast<size_t>(-1));
  if (first == std::string::npos || v[first].lower != "update") return;
  int depth = 0;
  size_t joinAt = std::string::npos, onAt = std::string::npos, setAt = std::string::npos, whereAt = std::string::npos;
  size_t joinStart = std::string::npos;
  for (size_t i = first + 1; i < v.size(); ++i) {
    if (v[i].kind == K::Op && v[i].sql == "(") ++depth;
    if (v[i].kind == K::Op && v[i].sql == ")") --depth;
    if (depth != 0 || v[i].kind != K::Ident) continue;
    const std::string& w = v[i].lower;
    if (w == "join" && joinAt == std::string::npos) joinAt = i;
    else if (w == "on" && onAt == std::string::npos && joinAt != std::string::npos) onAt = i;
    else if (w == "set" && setAt == std::string::npos) setAt = i;
    else if (w == "where" && setAt != std::string::npos && whereAt == std::string::npos) whereAt = i;
    if ((w == "inner" || w == "left" || w == "right") && joinStart == std::string::npos && setAt == std::string::npos)
      joinStart = i;
  }
  if (joinAt == std::string::npos || onAt == std::string::npos || setAt == std::string::npos || onAt > setAt) return;
  if (joinStart == std::string::npos || joinStart > joinAt) joinStart = joinAt;
  std::string target = join(v, first + 1, joinStart - 1);
  std::string other = join(v, joinAt + 1, onAt - 1);
  std::string cond = join(v, onAt + 1, setAt - 1);
  size_t setEnd = whereAt == std::string::npos ? v.size() - 1 : whereAt - 1;
  // Strip a trailing ";" from the set list or the where clause.
  std::string tail = whereAt == std::string::npos ? "" : join(v, whereAt + 1, v.size() - 1);
  // Assignments: drop the table qualifier of each target column.
  std::string sets;
  depth = 0;
  bool atTarget = true;
  size_t lastIdent = std::string::npos;
  std::vector<Out> targetToks;
  for (size_t i = setAt + 1; i <= setEnd; ++i) {
    const Out& o = v[i];
    if (o.kind == K::Op && o.sql == "(") ++depth;
    if (o.kind == K::Op && o.sql == ")") --depth;
    if (atTarget) {
      if (o.kind == K::Op && o.sql == "=" && depth == 0) {
        sets += " " + (lastIdent != std::string::npos ? v[lastIdent].sql : std::string()) + " =";
        atTarget = false;
      } else if (o.kind == K::Ident || o.kind == K::Bracket || o.kind == K::Done) {
        lastIdent = i;
      }
      continue;
    }
    if (o.kind == K::Op && o.sql == "," && depth == 0) {
      sets += ",";
      atTarget = true;
      lastIdent = std::string::npos;
      continue;
    }
    sets += o.sql;
  }
  auto trimSemi = [](std::string s) {
    while (!s.empty() && (s.back() == ';' || s.back() == ' ' || s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  };
  sets = trimSemi(sets);
  tail = trimSemi(tail);
  std::string sql = "UPDATE " + target + " SET" + sets + " FROM " + other + " WHERE (" + cond + ")";
  if (!tail.empty()) sql += " AND (" + tail + ")";
  v.clear();
  v.push_back({K::Done, sql, ""});
}

}  // namespace

std::string translateJetSql(const std::string& sql, Database& db) {
  std::vector<Tok> toks = tokenize(sql);
  std::vector<Out> out;
  out.reserve(toks.size());
  const auto& kw = keywords();
  const auto& fm = functionMap();
  bool afterLike = false;
  std::string topN;
  for (size_t i = 0; i < toks.size(); ++i) {
    const Tok& t = toks[i];
    // Neighbouring significant tokens.
    size_t nx = i + 1;
    while (nx < toks.size() && toks[nx].kind == K::Space) ++nx;
    const Tok* next = nx < toks.size() ? &toks[nx] : nullptr;
    const Out* prev = nullptr;
    for (size_t p = out.size(); p-- > 0;)
      if (out[p].kind != K::Space) {
        prev = &out[p];
        break;
      }
    switch (t.kind) {
      case K::Space:
        out.push_back({K::Space, t.text, t.text});
        continue;
      case K::Num:
        out.push_back({K::Num, t.text, t.text});
        break;
      case K::Op: {
        if (t.text == "*" && prev && prev->lower == "delete") break;  // "delete * from"
        out.push_back({K::Op, t.text, t.text});
        break;
      }
      case K::Str: {
        std::string v = afterLike ? likePattern(t.text) : t.text;
        out.push_back({K::Str, quoteStr(v), ""});
        break;
      }
      case K::Ident:
      case K::Bracket: {
        std::string lower = text::toLowerAscii(t.text);
        bool bare = t.kind == K::Ident;
        if (bare && kw.count(lower)) {
          if (lower == "distinctrow") {
            out.push_back({K::Ident, "DISTINCT", "distinct"});
          } else if (lower == "top" && next && next->kind == K::Num) {
            topN = next->text;
            i = nx;  // drop "top n"
          } else if (lower == "mod") {
            out.push_back({K::Op, "%", "%"});
          } else if (lower == "left" && next && next->kind == K::Op && next->text == "(") {
            out.push_back({K::Ident, "jet_left", "jet_left"});
          } else if (lower == "right" && next && next->kind == K::Op && next->text == "(") {
            out.push_back({K::Ident, "jet_right", "jet_right"});
          } else {
            out.push_back({K::Ident, t.text, lower});
          }
          afterLike = lower == "like";
          continue;
        }
        if (bare && next && next->kind == K::Op && next->text == "(") {
          auto it = fm.find(lower);
          out.push_back({K::Ident, it != fm.end() ? it->second : t.text, lower});
          break;
        }
        bool qualifiedPart = prev && prev->kind == K::Op && prev->sql == ".";
        if (!qualifiedPart) {
          std::string table = db.resolveTable(t.text);
          if (!table.empty()) {
            out.push_back({K::Bracket, table, lower});
            break;
          }
        }
        std::string col = db.resolveColumn(t.text);
        out.push_back({K::Bracket, quoteIdent(col.empty() ? t.text : col), lower});
        break;
      }
      default:
        break;
    }
    afterLike = false;
  }
  rewriteConcat(out);
  rewriteUpdateJoin(out);
  std::string r;
  for (const auto& o : out) r += o.sql;
  if (!topN.empty()) {
    while (!r.empty() && (r.back() == ';' || r.back() == ' ' || r.back() == '\n' || r.back() == '\r')) r.pop_back();
    r += " LIMIT " + topN;
  }
  return r;
}

// ---- SQL functions ------------------------------------------------------------

namespace {

std::string argText(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? reinterpret_cast<const char*>(t) : "";
}

void fnLeft(sqlite3_context* c, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(c);
  std::string s = text::headChars(argText(a[0]), static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_value_int64(a[1]))));
  sqlite3_result_text(c, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void fnRight(sqlite3_context* c, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(c);
  std::string s = text::tailChars(argText(a[0]), static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_value_int64(a[1]))));
  sqlite3_result_text(c, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void fnNz(sqlite3_context* c, int n, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) != SQLITE_NULL) return sqlite3_result_value(c, a[0]);
  if (n > 1) return sqlite3_result_value(c, a[1]);
  sqlite3_result_text(c, "", 0, SQLITE_STATIC);
}

double parseLeadingNumber(const std::string& s) {
  std::string digits;
  bool seenDigit = false, seenPoint = false, seenSign = false;
  for (char ch : s) {
    if (ch == ' ' || ch == '\t') continue;
    if ((ch == '-' || ch == '+') && !seenDigit && !seenSign && !seenPoint) {
      seenSign = true;
      digits += ch;
    } else if (ch >= '0' && ch <= '9') {
      seenDigit = true;
      digits += ch;
    } else if (ch == '.' && !seenPoint) {
      seenPoint = true;
      digits += ch;
    } else {
      break;
    }
  }
  if (!seenDigit) return 0;
  return std::strtod(digits.c_str(), nullptr);
}

void fnVal(sqlite3_context* c, int, sqlite3_value** a) {
  int t = sqlite3_value_type(a[0]);
  if (t == SQLITE_NULL) return sqlite3_result_null(c);
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_result_value(c, a[0]);
  sqlite3_result_double(c, parseLeadingNumber(argText(a[0])));
}

void fnCstr(sqlite3_context* c, int, sqlite3_value** a) {
  int t = sqlite3_value_type(a[0]);
  if (t == SQLITE_NULL) return sqlite3_result_null(c);
  std::string s = (t == SQLITE_FLOAT || t == SQLITE_INTEGER) ? text::formatNumber(sqlite3_value_double(a[0])) : argText(a[0]);
  sqlite3_result_text(c, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void fnCint(sqlite3_context* c, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(c);
  double d = sqlite3_value_type(a[0]) == SQLITE_TEXT ? parseLeadingNumber(argText(a[0])) : sqlite3_value_double(a[0]);
  sqlite3_result_int64(c, static_cast<sqlite3_int64>(std::nearbyint(d)));
}

void fnInt(sqlite3_context* c, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(c);
  sqlite3_result_double(c, std::floor(sqlite3_value_double(a[0])));
}

void fnFix(sqlite3_context* c, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(c);
  sqlite3_result_double(c, std::trunc(sqlite3_value_double(a[0])));
}

void fnIsNull(sqlite3_context* c, int, sqlite3_value** a) { sqlite3_result_int(c, sqlite3_value_type(a[0]) == SQLITE_NULL ? -1 : 0); }

void fnSpace(sqlite3_context* c, int, sqlite3_value** a) {
  std::string s(static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_value_int64(a[0]))), ' ');
  sqlite3_result_text(c, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void fnNow(sqlite3_context* c, int, sqlite3_value**) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y/%m/%d %H:%M:%S", &tm);
  sqlite3_result_text(c, b, -1, SQLITE_TRANSIENT);
}

void fnDate(sqlite3_context* c, int, sqlite3_value**) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y/%m/%d", &tm);
  sqlite3_result_text(c, b, -1, SQLITE_TRANSIENT);
}

void fnFormat(sqlite3_context* c, int, sqlite3_value** a) { sqlite3_result_value(c, a[0]); }
void fnStrconv(sqlite3_context* c, int, sqlite3_value** a) { sqlite3_result_value(c, a[0]); }

struct FirstState {
  sqlite3_value* v;
  bool set;
};

void firstStep(sqlite3_context* c, int, sqlite3_value** a) {
  auto* st = static_cast<FirstState*>(sqlite3_aggregate_context(c, sizeof(FirstState)));
  if (!st || st->set) return;
  st->v = sqlite3_value_dup(a[0]);
  st->set = true;
}

void lastStep(sqlite3_context* c, int, sqlite3_value** a) {
  auto* st = static_cast<FirstState*>(sqlite3_aggregate_context(c, sizeof(FirstState)));
  if (!st) return;
  if (st->set) sqlite3_value_free(st->v);
  st->v = sqlite3_value_dup(a[0]);
  st->set = true;
}

void firstFinal(sqlite3_context* c) {
  auto* st = static_cast<FirstState*>(sqlite3_aggregate_context(c, 0));
  if (!st || !st->set) return sqlite3_result_null(c);
  sqlite3_result_value(c, st->v);
  sqlite3_value_free(st->v);
}

}  // namespace

void registerJetFunctions(void* conn) {
  auto* db = static_cast<sqlite3*>(conn);
  const int f = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "jet_left", 2, f, nullptr, fnLeft, nullptr, nullptr);
  sqlite3_create_function(db, "jet_right", 2, f, nullptr, fnRight, nullptr, nullptr);
  sqlite3_create_function(db, "jet_nz", 1, f, nullptr, fnNz, nullptr, nullptr);
  sqlite3_create_function(db, "jet_nz", 2, f, nullptr, fnNz, nullptr, nullptr);
  sqlite3_create_function(db, "jet_val", 1, f, nullptr, fnVal, nullptr, nullptr);
  sqlite3_create_function(db, "jet_cstr", 1, f, nullptr, fnCstr, nullptr, nullptr);
  sqlite3_create_function(db, "jet_cint", 1, f, nullptr, fnCint, nullptr, nullptr);
  sqlite3_create_function(db, "jet_int", 1, f, nullptr, fnInt, nullptr, nullptr);
  sqlite3_create_function(db, "jet_fix", 1, f, nullptr, fnFix, nullptr, nullptr);
  sqlite3_create_function(db, "jet_isnull", 1, f, nullptr, fnIsNull, nullptr, nullptr);
  sqlite3_create_function(db, "jet_space", 1, f, nullptr, fnSpace, nullptr, nullptr);
  sqlite3_create_function(db, "jet_now", 0, SQLITE_UTF8, nullptr, fnNow, nullptr, nullptr);
  sqlite3_create_function(db, "jet_date", 0, SQLITE_UTF8, nullptr, fnDate, nullptr, nullptr);
  sqlite3_create_function(db, "jet_format", -1, f, nullptr, fnFormat, nullptr, nullptr);
  sqlite3_create_function(db, "jet_strconv", -1, f, nullptr, fnStrconv, nullptr, nullptr);
  sqlite3_create_function(db, "jet_first", 1, SQLITE_UTF8, nullptr, nullptr, firstStep, firstFinal);
  sqlite3_create_function(db, "jet_last", 1, SQLITE_UTF8, nullptr, nullptr, lastStep, firstFinal);
}

}  // namespace velmo::db
