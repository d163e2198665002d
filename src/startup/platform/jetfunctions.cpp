// The functions and the collation the emitted SQL calls, registered on the
// workspace's connection: Jet's text, date, conversion and aggregate functions.
#include "startup/platform/jetfunctions.h"

#include <sqlite3.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/text.h"
#include "startup/platform/jetsql.h"

namespace velmo::db::jet {

namespace {

const Function kFunctions[] = {
    // text
    {"mid", "substr", 2, 3, false, 'T'},
    {"left", "jet_left", 2, 2, false, 'T'},
    {"right", "jet_right", 2, 2, false, 'T'},
    {"len", "jet_len", 1, 1, false, 'N'},
    {"ucase", "jet_ucase", 1, 1, false, 'T'},
    {"lcase", "jet_lcase", 1, 1, false, 'T'},
    {"trim", "jet_trim", 1, 1, false, 'T'},
    {"ltrim", "jet_ltrim", 1, 1, false, 'T'},
    {"rtrim", "jet_rtrim", 1, 1, false, 'T'},
    {"instr", "jet_instr", 2, 4, false, 'N'},
    {"replace", "jet_replace", 3, 6, false, 'T'},
    {"format", "jet_format", 1, 2, false, 'T'},
    {"strconv", "jet_strconv", 2, 2, false, 'T'},
    {"space", "jet_space", 1, 1, false, 'T'},
    {"string", "jet_string", 2, 2, false, 'T'},
    {"chr", "jet_chr", 1, 1, false, 'T'},
    {"asc", "unicode", 1, 1, false, 'N'},
    {"str", "jet_str", 1, 1, false, 'T'},
    // dates
    {"date", "jet_date", 0, 0, false, 'T'},
    {"now", "jet_now", 0, 0, false, 'T'},
    {"time", "jet_time", 0, 0, false, 'T'},
    {"dateserial", "jet_dateserial", 3, 3, false, 'T'},
    {"dateadd", "jet_dateadd", 3, 3, false, 'T'},
    {"datediff", "jet_datediff", 3, 3, false, 'N'},
    {"datepart", "jet_datepart", 2, 2, false, 'N'},
    {"year", "jet_year", 1, 1, false, 'N'},
    {"month", "jet_month", 1, 1, false, 'N'},
    {"day", "jet_day", 1, 1, false, 'N'},
    {"hour", "jet_hour", 1, 1, false, 'N'},
    {"minute", "jet_minute", 1, 1, false, 'N'},
    {"second", "jet_second", 1, 1, false, 'N'},
    {"weekday", "jet_weekday", 1, 2, false, 'N'},
    {"cdate", "jet_cdate", 1, 1, false, 'T'},
    {"datevalue", "jet_cdate", 1, 1, false, 'T'},
    // conversions
    {"cstr", "jet_totext", 1, 1, false, 'T'},
    {"clng", "jet_cint", 1, 1, false, 'N'},
    {"cint", "jet_cint", 1, 1, false, 'N'},
    {"cdbl", "jet_cdbl", 1, 1, false, 'N'},
    {"csng", "jet_cdbl", 1, 1, false, 'N'},
    {"ccur", "jet_cdbl", 1, 1, false, 'N'},
    {"int", "jet_int", 1, 1, false, 'N'},
    {"fix", "jet_fix", 1, 1, false, 'N'},
    {"abs", "abs", 1, 1, false, 'N'},
    {"sgn", "jet_sgn", 1, 1, false, 'N'},
    {"sqr", "jet_sqr", 1, 1, false, 'N'},
    {"round", "jet_round", 1, 2, false, 'N'},
    {"iif", "iif", 3, 3, false, '?'},
    {"nz", "jet_nz", 1, 2, false, '?'},
    {"val", "jet_val", 1, 1, false, 'N'},
    {"isnull", "jet_isnull", 1, 1, false, 'N'},
    {"isnumeric", "jet_isnumeric", 1, 1, false, 'N'},
    // aggregates
    {"count", "count", 1, 1, true, 'N'},
    {"sum", "sum", 1, 1, true, 'N'},
    {"avg", "avg", 1, 1, true, 'N'},
    {"min", "min", 1, 1, true, '?'},
    {"max", "max", 1, 1, true, '?'},
    {"first", "jet_first", 1, 1, true, '?'},
    {"last", "jet_last", 1, 1, true, '?'},
    {"stdev", "jet_stdev", 1, 1, true, 'N'},
    {"stdevp", "jet_stdevp", 1, 1, true, 'N'},
    {"var", "jet_var", 1, 1, true, 'N'},
    {"varp", "jet_varp", 1, 1, true, 'N'},
};

char32_t foldCp(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
  if (c >= 'A' && c <= 'Z') c += 32;
  return c;
}

// ---- values ----
std::string argText(sqlite3_value* v) {
  if (sqlite3_value_type(v) == SQLITE_FLOAT) return text::formatNumber(sqlite3_value_double(v));
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}
bool isNullV(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }
void resultText(sqlite3_context* c, const std::string& s) {
  sqlite3_result_text(c, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}
void mismatch(sqlite3_context* c) { sqlite3_result_error(c, "jet_type_mismatch", -1); }

// Parses a number written as text (blanks around allowed); false when it is not one.
bool parseNumber(const std::string& s, double& out) {
  std::string t = text::trimBlanks(s);
  if (t.empty()) return false;
  char* end = nullptr;
  out = std::strtod(t.c_str(), &end);
  return end && *end == 0;
}

// A number from a value: text must hold a number.
bool numberOf(sqlite3_value* v, double& out) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      out = sqlite3_value_double(v);
      return true;
    case SQLITE_NULL:
      return false;
    default:
      return parseNumber(argText(v), out);
  }
}

double bankers(double d) {
  std::fesetround(FE_TONEAREST);
  return std::nearbyint(d);
}

// ---- dates: days since 1899-12-30 as Jet counts them ----
long daysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 1970-01-01 is day 25569
}
void civilFromDays(long z, long& y, long& m, long& d) {
  z -= 25569;
  z += 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y += m <= 2;
}

struct DateTime {
  long days = 0;   // Jet day number
  long secs = 0;   // seconds into the day
  bool hasTime = false;
};

bool parseDate(const std::string& raw, DateTime& dt) {
  std::string s = text::trimBlanks(raw);
  int y = 0, m = 0, d = 0, hh = 0, nn = 0, ss = 0;
  char sep1 = 0, sep2 = 0;
  int used = 0;
  if (s.size() == 8 && std::strspn(s.c_str(), "0123456789") == 8) {
    y = std::atoi(s.substr(0, 4).c_str());
    m = std::atoi(s.substr(4, 2).c_str());
    d = std::atoi(s.substr(6, 2).c_str());
    used = 8;
  } else if (std::sscanf(s.c_str(), "%d%c%d%c%d%n", &y, &sep1, &m, &sep2, &d, &used) == 5 && sep1 == sep2 &&
             (sep1 == '/' || sep1 == '-' || sep1 == '.')) {
    if (y < 100) y += y < 30 ? 2000 : 1900;
  } else if (std::sscanf(s.c_str(), "%d:%d%n", &hh, &nn, &used) == 2) {
    // A time alone.
    std::string rest = s.substr(static_cast<size_t>(used));
    if (!rest.empty() && rest[0] == ':') ss = std::atoi(rest.c_str() + 1);
    if (hh > 23 || nn > 59 || ss > 59) return false;
    dt.days = 0;
    dt.secs = hh * 3600 + nn * 60 + ss;
    dt.hasTime = true;
    return true;
  } else {
    return false;
  }
  if (m < 1 || m > 12 || d < 1 || d > 31 || y < 100 || y > 9999) return false;
  long days = daysFromCivil(y, m, d);
  long cy, cm, cd;
  civilFromDays(days, cy, cm, cd);
  if (cd != d) return false;  // 2月30日
  dt.days = days;
  dt.secs = 0;
  std::string rest = text::trimBlanks(s.substr(static_cast<size_t>(used)));
  if (!rest.empty()) {
    int u2 = 0;
    if (std::sscanf(rest.c_str(), "%d:%d%n", &hh, &nn, &u2) != 2) return false;
    if (u2 < static_cast<int>(rest.size()) && rest[static_cast<size_t>(u2)] == ':') ss = std::atoi(rest.c_str() + u2 + 1);
    if (hh > 23 || nn > 59 || ss > 59) return false;
    dt.secs = hh * 3600 + nn * 60 + ss;
    dt.hasTime = dt.secs != 0;
  }
  return true;
}

bool dateOf(sqlite3_value* v, DateTime& dt) {
  int t = sqlite3_value_type(v);
  if (t == SQLITE_NULL) return false;
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
    double x = sqlite3_value_double(v);
    dt.days = static_cast<long>(std::floor(x));
    dt.secs = static_cast<long>(std::lround((x - std::floor(x)) * 86400));
    if (dt.secs >= 86400) {
      dt.secs -= 86400;
      ++dt.days;
    }
    dt.hasTime = dt.secs != 0;
    return true;
  }
  return parseDate(argText(v), dt);
}

std::string dateText(const DateTime& dt) {
  long y, m, d;
  civilFromDays(dt.days, y, m, d);
  char b[40];
  if (dt.days == 0 && dt.hasTime) {
    std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", dt.secs / 3600, dt.secs / 60 % 60, dt.secs % 60);
  } else if (dt.secs != 0) {
    std::snprintf(b, sizeof b, "%04ld/%02ld/%02ld %ld:%02ld:%02ld", y, m, d, dt.secs / 3600, dt.secs / 60 % 60, dt.secs % 60);
  } else {
    std::snprintf(b, sizeof b, "%04ld/%02ld/%02ld", y, m, d);
  }
  return b;
}

DateTime nowLocal() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTime dt;
  dt.days = daysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  dt.secs = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  dt.hasTime = true;
  return dt;
}

// ---- format ----
std::string lowerAscii(std::string s) { return text::toLowerAscii(s); }

std::string formatDate(const DateTime& dt, const std::string& pat) {
  long y, m, d;
  civilFromDays(dt.days, y, m, d);
  long hh = dt.secs / 3600, nn = dt.secs / 60 % 60, ss = dt.secs % 60;
  int wd = static_cast<int>(((dt.days % 7) + 7 + 6) % 7);  // 0 = Sunday (day 0 was a Saturday)
  static const char* const jp[] = {"日", "月", "火", "水", "木", "金", "土"};
  static const char* const en3[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const en[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  std::string out;
  bool afterHour = false;
  char b[32];
  for (size_t i = 0; i < pat.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pat[i])));
    size_t run = 1;
    while (i + run < pat.size() && std::tolower(static_cast<unsigned char>(pat[i + run])) == c) ++run;
    if (pat[i] == '\\' && i + 1 < pat.size()) {
      out += pat[i + 1];
      i += 2;
      continue;
    }
    if (pat[i] == '"') {
      size_t e = pat.find('"', i + 1);
      if (e == std::string::npos) e = pat.size();
      out += pat.substr(i + 1, e - i - 1);
      i = e + 1;
      continue;
    }
    switch (c) {
      case 'y':
        if (run >= 4) std::snprintf(b, sizeof b, "%04ld", y);
        else if (run >= 2) std::snprintf(b, sizeof b, "%02ld", y % 100);
        else std::snprintf(b, sizeof b, "%ld", dt.days - daysFromCivil(y, 1, 1) + 1);
        out += b;
        break;
      case 'm':
        if (afterHour && run <= 2) {
          std::snprintf(b, sizeof b, run == 2 ? "%02ld" : "%ld", nn);
        } else {
          std::snprintf(b, sizeof b, run >= 2 ? "%02ld" : "%ld", m);
        }
        out += b;
        break;
      case 'd':
        if (run >= 4) out += en[wd];
        else if (run == 3) out += en3[wd];
        else {
          std::snprintf(b, sizeof b, run == 2 ? "%02ld" : "%ld", d);
          out += b;
        }
        break;
      case 'a':
        if (run >= 3) {
          out += jp[wd];
          if (run >= 4) out += "曜日";
        } else {
          out.append(pat, i, run);
        }
        break;
      case 'h':
        std::snprintf(b, sizeof b, run >= 2 ? "%02ld" : "%ld", hh);
        out += b;
        afterHour = true;
        i += run;
        continue;
      case 'n':
        std::snprintf(b, sizeof b, run >= 2 ? "%02ld" : "%ld", nn);
        out += b;
        break;
      case 's':
        std::snprintf(b, sizeof b, run >= 2 ? "%02ld" : "%ld", ss);
        out += b;
        break;
      default:
        out.append(pat, i, run);
        i += run;
        continue;
    }
    if (c != ':' ) afterHour = afterHour && (c == 'h');
    i += run;
  }
  return out;
}

std::string groupThousands(const std::string& digits) {
  std::string r;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    r += digits[static_cast<size_t>(i)];
    int left = n - i - 1;
    if (left > 0 && left % 3 == 0) r += ',';
  }
  return r;
}

std::string formatNumberPattern(double v, std::string pat) {
  // Sections: positive;negative;zero.
  std::vector<std::string> sec;
  {
    std::string cur;
    bool q = false;
    for (char ch : pat) {
      if (ch == '"') q = !q;
      if (ch == ';' && !q) {
        sec.push_back(cur);
        cur.clear();
      } else {
        cur += ch;
      }
    }
    sec.push_back(cur);
  }
  bool neg = v < 0;
  if (v == 0 && sec.size() >= 3 && !sec[2].empty()) pat = sec[2];
  else if (neg && sec.size() >= 2 && !sec[1].empty()) {
    pat = sec[1];
    v = -v;
    neg = false;
  } else pat = sec[0];
  if (pat.find('%') != std::string::npos) v *= 100;
  double a = std::fabs(v);
  size_t dot = std::string::npos;
  for (size_t i = 0; i < pat.size(); ++i)
    if (pat[i] == '.') {
      dot = i;
      break;
    }
  std::string ip = dot == std::string::npos ? pat : pat.substr(0, dot);
  std::string fp = dot == std::string::npos ? "" : pat.substr(dot + 1);
  int fz = 0, fh = 0;
  for (char ch : fp) {
    if (ch == '0') ++fz;
    else if (ch == '#') ++fh;
  }
  int decimals = fz + fh;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, a + (a == 0 ? 0 : 1e-9 * std::pow(10.0, -decimals)));
  std::string num = buf;
  std::string idig = num.substr(0, num.find('.'));
  std::string fdig = decimals ? num.substr(num.find('.') + 1) : "";
  if (idig == "0") idig.clear();
  bool thousands = false;
  int izeros = 0;
  {
    bool seenPh = false;
    for (size_t i = 0; i < ip.size(); ++i) {
      if (ip[i] == '0' || ip[i] == '#') {
        seenPh = true;
        if (ip[i] == '0') ++izeros;
      } else if (ip[i] == ',' && seenPh && i + 1 < ip.size() && (ip[i + 1] == '0' || ip[i + 1] == '#')) {
        thousands = true;
      }
    }
  }
  // Leading zeros a "0" placeholder asks for.
  int zerosFromFirst = 0;
  {
    size_t first0 = ip.find('0');
    if (first0 != std::string::npos)
      for (size_t i = first0; i < ip.size(); ++i)
        if (ip[i] == '0' || ip[i] == '#') ++zerosFromFirst;
  }
  while (static_cast<int>(idig.size()) < zerosFromFirst) idig = "0" + idig;
  std::string intOut;
  if (thousands) {
    std::string pre, post;
    size_t f = ip.find_first_of("0#"), l = ip.find_last_of("0#");
    pre = ip.substr(0, f);
    post = ip.substr(l + 1);
    intOut = pre + groupThousands(idig) + post;
  } else {
    // Fill the placeholders from the right; literals stand where digits reach.
    std::string r;
    int di = static_cast<int>(idig.size()) - 1;
    int lastPh = -1;
    for (int i = static_cast<int>(ip.size()) - 1; i >= 0; --i) {
      char ch = ip[static_cast<size_t>(i)];
      if (ch == '0' || ch == '#') {
        lastPh = i;
        if (di >= 0) r.insert(r.begin(), idig[static_cast<size_t>(di--)]);
      } else {
        bool more = di >= 0 || ip.find('0') < static_cast<size_t>(i);
        if (more || ip.find_first_of("0#") > static_cast<size_t>(i) || lastPh < 0) r.insert(0, 1, ch);
      }
    }
    if (di >= 0) {
      // Digits beyond the placeholders go before the first one.
      std::string extra = idig.substr(0, static_cast<size_t>(di) + 1);
      size_t first = ip.find_first_of("0#");
      size_t pos = first == std::string::npos ? r.size() : first;
      r.insert(std::min(pos, r.size()), extra);
    }
    intOut = r;
  }
  // Fraction: "#" places drop trailing zeros.
  std::string fracOut;
  if (decimals) {
    int keep = decimals;
    while (keep > fz && fdig[static_cast<size_t>(keep - 1)] == '0') --keep;
    int k = 0;
    for (char ch : fp) {
      if (ch == '0' || ch == '#') {
        if (k < keep) fracOut += fdig[static_cast<size_t>(k)];
        ++k;
      } else {
        fracOut += ch;
      }
    }
  } else {
    fracOut = fp;
  }
  std::string r = intOut;
  if (dot != std::string::npos && (!fracOut.empty() || fz > 0)) r += "." + fracOut;
  bool allZero = r.find_first_of("123456789") == std::string::npos;
  if (neg && !allZero) r = "-" + r;
  return r;
}

void fnFormat(sqlite3_context* c, int n, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  if (n < 2 || isNullV(a[1]) || argText(a[1]).empty()) return resultText(c, argText(a[0]));
  std::string pat = argText(a[1]);
  std::string lp = lowerAscii(pat);
  DateTime dt;
  if (lp == "short date" || lp == "long date" || lp == "general date" || lp == "long time" || lp == "short time") {
    if (!dateOf(a[0], dt)) return resultText(c, argText(a[0]));
    if (lp == "short date") return resultText(c, formatDate(dt, "yyyy/mm/dd"));
    if (lp == "long date") return resultText(c, formatDate(dt, "yyyy年m月d日"));
    if (lp == "long time") return resultText(c, formatDate(dt, "h:nn:ss"));
    if (lp == "short time") return resultText(c, formatDate(dt, "hh:nn"));
    return resultText(c, dateText(dt));
  }
  double v = 0;
  if (lp == "general number") return numberOf(a[0], v) ? resultText(c, text::formatNumber(v)) : resultText(c, argText(a[0]));
  if (lp == "fixed") pat = "0.00";
  else if (lp == "standard") pat = "#,##0.00";
  else if (lp == "percent") pat = "0.00%";
  bool numberPattern = pat.find_first_of("0#") != std::string::npos;
  if (!numberPattern && lp.find_first_of("ymdhnsa") != std::string::npos) {
    if (!dateOf(a[0], dt)) return resultText(c, argText(a[0]));
    return resultText(c, formatDate(dt, pat));
  }
  if (!numberOf(a[0], v)) return resultText(c, argText(a[0]));
  resultText(c, formatNumberPattern(v, pat));
}

// ---- strconv ----
const char16_t kHalfKana[] = {0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3,
                              0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF,
                              0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8,
                              0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF,
                              0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF,
                              0x30F3, 0x309B, 0x309C};  // U+FF61 … U+FF9F

bool voicable(char32_t f) { return (f >= 0x30AB && f <= 0x30C8 && f != 0x30C3) || (f >= 0x30CF && f <= 0x30DB) || f == 0x30A6; }
bool semiVoicable(char32_t f) { return f >= 0x30CF && f <= 0x30DB && (f - 0x30CF) % 3 == 0; }

std::u32string toWide(const std::u32string& s) {
  std::u32string r;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c == ' ') r += 0x3000;
    else if (c >= 0x21 && c <= 0x7E) r += c + 0xFEE0;
    else if (c >= 0xFF61 && c <= 0xFF9F) {
      char32_t f = kHalfKana[c - 0xFF61];
      char32_t nx = i + 1 < s.size() ? s[i + 1] : 0;
      if (nx == 0xFF9E && voicable(f)) {
        r += f == 0x30A6 ? 0x30F4 : f + 1;
        ++i;
      } else if (nx == 0xFF9F && semiVoicable(f)) {
        r += f + 2;
        ++i;
      } else {
        r += f;
      }
    } else {
      r += c;
    }
  }
  return r;
}

std::u32string toNarrow(const std::u32string& s) {
  std::u32string r;
  for (char32_t c : s) {
    if (c == 0x3000) {
      r += ' ';
      continue;
    }
    if (c >= 0xFF01 && c <= 0xFF5E) {
      r += c - 0xFEE0;
      continue;
    }
    bool done = false;
    for (char32_t h = 0; h < sizeof kHalfKana / sizeof kHalfKana[0] && !done; ++h) {
      char32_t f = kHalfKana[h];
      if (c == f) {
        r += 0xFF61 + h;
        done = true;
      } else if (voicable(f) && c == (f == 0x30A6 ? 0x30F4 : f + 1)) {
        r += 0xFF61 + h;
        r += 0xFF9E;
        done = true;
      } else if (semiVoicable(f) && c == f + 2) {
        r += 0xFF61 + h;
        r += 0xFF9F;
        done = true;
      }
    }
    if (!done) r += c;
  }
  return r;
}

void fnStrconv(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  int conv = sqlite3_value_int(a[1]);
  std::u32string s = text::toU32(argText(a[0]));
  if (conv & 4) s = toWide(s);
  if (conv & 8) s = toNarrow(s);
  for (auto& ch : s) {
    if ((conv & 3) == 1) {
      if ((ch >= 'a' && ch <= 'z') || (ch >= 0xFF41 && ch <= 0xFF5A)) ch -= 32;
    } else if ((conv & 3) == 2) {
      if ((ch >= 'A' && ch <= 'Z') || (ch >= 0xFF21 && ch <= 0xFF3A)) ch += 32;
    }
    if ((conv & 16) && ch >= 0x3041 && ch <= 0x3096) ch += 0x60;
    else if ((conv & 32) && ch >= 0x30A1 && ch <= 0x30F6) ch -= 0x60;
  }
  if ((conv & 3) == 3) {
    bool start = true;
    for (auto& ch : s) {
      bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
      if (letter) {
        if (start && ch >= 'a') ch -= 32;
        else if (!start && ch <= 'Z') ch += 32;
      }
      start = ch == ' ' || ch == 0x3000;
    }
  }
  resultText(c, text::fromU32(s));
}

// ---- text ----
void fnLeft(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  resultText(c, text::headChars(argText(a[0]), static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_value_int64(a[1])))));
}
void fnRight(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  resultText(c, text::tailChars(argText(a[0]), static_cast<size_t>(std::max<sqlite3_int64>(0, sqlite3_value_int64(a[1])))));
}
void fnLen(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  sqlite3_result_int64(c, static_cast<sqlite3_int64>(text::charCount(argText(a[0]))));
}
void fnCase(sqlite3_context* c, int, sqlite3_value** a, bool upper) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  std::u32string s = text::toU32(argText(a[0]));
  for (auto& ch : s) {
    if (upper && ((ch >= 'a' && ch <= 'z') || (ch >= 0xFF41 && ch <= 0xFF5A))) ch -= 32;
    if (!upper && ((ch >= 'A' && ch <= 'Z') || (ch >= 0xFF21 && ch <= 0xFF3A))) ch += 32;
  }
  resultText(c, text::fromU32(s));
}
void fnUcase(sqlite3_context* c, int n, sqlite3_value** a) { fnCase(c, n, a, true); }
void fnLcase(sqlite3_context* c, int n, sqlite3_value** a) { fnCase(c, n, a, false); }

void trimWith(sqlite3_context* c, sqlite3_value* v, bool left, bool right) {
  if (isNullV(v)) return sqlite3_result_null(c);
  std::u32string s = text::toU32(argText(v));
  size_t b = 0, e = s.size();
  if (left)
    while (b < e && (s[b] == ' ' || s[b] == 0x3000)) ++b;
  if (right)
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == 0x3000)) --e;
  resultText(c, text::fromU32(s.substr(b, e - b)));
}
void fnTrim(sqlite3_context* c, int, sqlite3_value** a) { trimWith(c, a[0], true, true); }
void fnLtrim(sqlite3_context* c, int, sqlite3_value** a) { trimWith(c, a[0], true, false); }
void fnRtrim(sqlite3_context* c, int, sqlite3_value** a) { trimWith(c, a[0], false, true); }

std::u32string foldU32(const std::u32string& s) {
  std::u32string r = s;
  for (auto& ch : r) ch = foldCp(ch);
  return r;
}

void fnInstr(sqlite3_context* c, int n, sqlite3_value** a) {
  // instr([start,] s1, s2 [, compare])
  int start = 1, i = 0;
  bool binary = false;
  if (n >= 3) {
    if (isNullV(a[0])) return sqlite3_result_null(c);
    start = sqlite3_value_int(a[0]);
    i = 1;
    if (n == 4) binary = sqlite3_value_int(a[3]) == 0;
  }
  if (start < 1) return sqlite3_result_error(c, "jet_invalid_argument", -1);
  if (isNullV(a[i]) || isNullV(a[i + 1])) return sqlite3_result_null(c);
  std::u32string s = text::toU32(argText(a[i])), f = text::toU32(argText(a[i + 1]));
  if (!binary) {
    s = foldU32(s);
    f = foldU32(f);
  }
  if (static_cast<size_t>(start) > s.size() + 1) return sqlite3_result_int(c, 0);
  size_t p = s.find(f, static_cast<size_t>(start - 1));
  sqlite3_result_int64(c, p == std::u32string::npos ? 0 : static_cast<sqlite3_int64>(p + 1));
}

void fnReplace(sqlite3_context* c, int n, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  std::u32string s = text::toU32(argText(a[0])), f = text::toU32(argText(a[1])), to = text::toU32(argText(a[2]));
  long start = n >= 4 ? sqlite3_value_int(a[3]) : 1;
  long count = n >= 5 ? sqlite3_value_int(a[4]) : -1;
  bool textCompare = n >= 6 && sqlite3_value_int(a[5]) == 1;
  if (start < 1) return sqlite3_result_error(c, "jet_invalid_argument", -1);
  s = static_cast<size_t>(start - 1) < s.size() ? s.substr(static_cast<size_t>(start - 1)) : std::u32string();
  if (f.empty() || count == 0) return resultText(c, text::fromU32(s));
  std::u32string hay = textCompare ? foldU32(s) : s, needle = textCompare ? foldU32(f) : f;
  std::u32string r;
  size_t p = 0;
  long done = 0;
  while (count < 0 || done < count) {
    size_t q = hay.find(needle, p);
    if (q == std::u32string::npos) break;
    r += s.substr(p, q - p);
    r += to;
    p = q + f.size();
    ++done;
  }
  r += s.substr(p);
  resultText(c, text::fromU32(r));
}

void fnSpace(sqlite3_context* c, int, sqlite3_value** a) {
  resultText(c, std::string(static_cast<size_t>(std::clamp<sqlite3_int64>(sqlite3_value_int64(a[0]), 0, 65535)), ' '));
}
void fnString(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[1])) return sqlite3_result_null(c);
  std::string ch;
  if (sqlite3_value_type(a[1]) == SQLITE_INTEGER) text::appendUtf8(ch, static_cast<char32_t>(sqlite3_value_int(a[1])));
  else ch = text::headChars(argText(a[1]), 1);
  std::string r;
  for (sqlite3_int64 i = 0; i < std::clamp<sqlite3_int64>(sqlite3_value_int64(a[0]), 0, 65535); ++i) r += ch;
  resultText(c, r);
}
void fnChr(sqlite3_context* c, int, sqlite3_value** a) {
  std::string r;
  text::appendUtf8(r, static_cast<char32_t>(sqlite3_value_int(a[0])));
  resultText(c, r);
}
void fnStr(sqlite3_context* c, int, sqlite3_value** a) {
  double v;
  if (isNullV(a[0])) return sqlite3_result_null(c);
  if (!numberOf(a[0], v)) return mismatch(c);
  resultText(c, (v >= 0 ? " " : "") + text::formatNumber(v));
}

// ---- conversions ----
void fnToText(sqlite3_context* c, int, sqlite3_value** a) {
  int t = sqlite3_value_type(a[0]);
  if (t == SQLITE_NULL || t == SQLITE_TEXT) return sqlite3_result_value(c, a[0]);
  resultText(c, argText(a[0]));
}
void fnCint(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return mismatch(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  sqlite3_result_int64(c, static_cast<sqlite3_int64>(bankers(d)));
}
void fnCdbl(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return mismatch(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  sqlite3_result_double(c, d);
}
void numResult(sqlite3_context* c, double d) {
  if (std::fabs(d) < 9e15 && d == std::floor(d)) sqlite3_result_int64(c, static_cast<sqlite3_int64>(d));
  else sqlite3_result_double(c, d);
}
void fnInt(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  numResult(c, std::floor(d));
}
void fnFix(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  numResult(c, std::trunc(d));
}
void fnSgn(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  sqlite3_result_int(c, d > 0 ? 1 : d < 0 ? -1 : 0);
}
void fnSqr(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  double d;
  if (!numberOf(a[0], d) || d < 0) return mismatch(c);
  sqlite3_result_double(c, std::sqrt(d));
}
void fnRound(sqlite3_context* c, int n, sqlite3_value** a) {
  if (isNullV(a[0])) return sqlite3_result_null(c);
  double d;
  if (!numberOf(a[0], d)) return mismatch(c);
  int k = n > 1 ? sqlite3_value_int(a[1]) : 0;
  double f = std::pow(10.0, k);
  double scaled = d * f;
  // Round half to even on the decimal value shown, not on its binary neighbour.
  double nearest = std::round(scaled);
  if (std::fabs(std::fabs(scaled - std::trunc(scaled)) - 0.5) < 1e-9) nearest = bankers(std::trunc(scaled) + (scaled > 0 ? 0.5 : -0.5));
  double r = nearest / f;
  if (k <= 0) numResult(c, r);
  else sqlite3_result_double(c, r);
}
void fnNz(sqlite3_context* c, int n, sqlite3_value** a) {
  if (!isNullV(a[0])) return sqlite3_result_value(c, a[0]);
  if (n > 1) return sqlite3_result_value(c, a[1]);
  sqlite3_result_text(c, "", 0, SQLITE_STATIC);
}
void fnVal(sqlite3_context* c, int, sqlite3_value** a) {
  int t = sqlite3_value_type(a[0]);
  if (t == SQLITE_NULL) return mismatch(c);
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_result_value(c, a[0]);
  std::string s = argText(a[0]), digits;
  bool seenDigit = false, seenPoint = false, seenSign = false, seenExp = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char ch = s[i];
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') continue;
    if ((ch == '-' || ch == '+') && !seenDigit && !seenSign && !seenPoint) {
      seenSign = true;
      digits += ch;
    } else if (ch >= '0' && ch <= '9') {
      seenDigit = true;
      digits += ch;
    } else if (ch == '.' && !seenPoint && !seenExp) {
      seenPoint = true;
      digits += ch;
    } else if ((ch == 'e' || ch == 'E') && seenDigit && !seenExp && i + 1 < s.size() &&
               (std::isdigit(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '-' || s[i + 1] == '+')) {
      seenExp = true;
      digits += ch;
      digits += s[++i];
    } else {
      break;
    }
  }
  numResult(c, seenDigit ? std::strtod(digits.c_str(), nullptr) : 0.0);
}
void fnIsNull(sqlite3_context* c, int, sqlite3_value** a) { sqlite3_result_int(c, isNullV(a[0]) ? -1 : 0); }
void fnIsNumeric(sqlite3_context* c, int, sqlite3_value** a) {
  double d;
  sqlite3_result_int(c, !isNullV(a[0]) && numberOf(a[0], d) ? -1 : 0);
}

// ---- operators ----
void fnCat(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0]) && isNullV(a[1])) return sqlite3_result_null(c);
  resultText(c, argText(a[0]) + argText(a[1]));
}
void fnPlus(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0]) || isNullV(a[1])) return sqlite3_result_null(c);
  int t0 = sqlite3_value_type(a[0]), t1 = sqlite3_value_type(a[1]);
  if (t0 == SQLITE_TEXT && t1 == SQLITE_TEXT) return resultText(c, argText(a[0]) + argText(a[1]));
  if (t0 == SQLITE_INTEGER && t1 == SQLITE_INTEGER)
    return sqlite3_result_int64(c, sqlite3_value_int64(a[0]) + sqlite3_value_int64(a[1]));
  double x, y;
  if (!numberOf(a[0], x) || !numberOf(a[1], y)) return mismatch(c);
  numResult(c, x + y);
}
void fnIdiv(sqlite3_context* c, int, sqlite3_value** a) {
  double x, y;
  if (isNullV(a[0]) || isNullV(a[1])) return sqlite3_result_null(c);
  if (!numberOf(a[0], x) || !numberOf(a[1], y)) return mismatch(c);
  x = bankers(x);
  y = bankers(y);
  if (y == 0) return sqlite3_result_null(c);
  sqlite3_result_int64(c, static_cast<sqlite3_int64>(std::trunc(x / y)));
}
void fnMod(sqlite3_context* c, int, sqlite3_value** a) {
  double x, y;
  if (isNullV(a[0]) || isNullV(a[1])) return sqlite3_result_null(c);
  if (!numberOf(a[0], x) || !numberOf(a[1], y)) return mismatch(c);
  x = bankers(x);
  y = bankers(y);
  if (y == 0) return sqlite3_result_null(c);
  sqlite3_result_int64(c, static_cast<sqlite3_int64>(std::fmod(x, y)));
}
void fnPow(sqlite3_context* c, int, sqlite3_value** a) {
  double x, y;
  if (isNullV(a[0]) || isNullV(a[1])) return sqlite3_result_null(c);
  if (!numberOf(a[0], x) || !numberOf(a[1], y)) return mismatch(c);
  numResult(c, std::pow(x, y));
}

// like with * ? # [abc] [!abc] [a-z], letters compared folded.
bool likeMatch(const std::u32string& s, size_t si, const std::u32string& p, size_t pi) {
  while (pi < p.size()) {
    char32_t pc = p[pi];
    if (pc == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = si; k <= s.size(); ++k)
        if (likeMatch(s, k, p, pi)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    char32_t sc = s[si];
    if (pc == '?') {
    } else if (pc == '#') {
      if (!(sc >= '0' && sc <= '9')) return false;
    } else if (pc == '[') {
      size_t e = p.find(']', pi + 1);
      if (e == std::u32string::npos) return false;
      bool neg = pi + 1 < e && p[pi + 1] == '!';
      size_t b = pi + 1 + (neg ? 1 : 0);
      bool hit = false;
      if (b == e) {
        hit = false;  // [] matches nothing
      }
      for (size_t k = b; k < e; ++k) {
        if (k + 2 < e && p[k + 1] == '-') {
          if (sc >= p[k] && sc <= p[k + 2]) hit = true;
          k += 2;
        } else if (p[k] == sc) {
          hit = true;
        }
      }
      if (hit == neg) return false;
      pi = e + 1;
      ++si;
      continue;
    } else if (pc != sc) {
      return false;
    }
    ++pi;
    ++si;
  }
  return si == s.size();
}

void fnLike(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0]) || isNullV(a[1])) return sqlite3_result_null(c);
  auto* pat = static_cast<std::u32string*>(sqlite3_get_auxdata(c, 1));
  if (!pat) {
    pat = new std::u32string(foldU32(text::toU32(argText(a[1]))));
    sqlite3_set_auxdata(c, 1, pat, [](void* p) { delete static_cast<std::u32string*>(p); });
    pat = static_cast<std::u32string*>(sqlite3_get_auxdata(c, 1));
    if (!pat) {
      std::u32string local = foldU32(text::toU32(argText(a[1])));
      return sqlite3_result_int(c, likeMatch(foldU32(text::toU32(argText(a[0]))), 0, local, 0) ? 1 : 0);
    }
  }
  sqlite3_result_int(c, likeMatch(foldU32(text::toU32(argText(a[0]))), 0, *pat, 0) ? 1 : 0);
}

// ---- dates ----
void fnDate(sqlite3_context* c, int, sqlite3_value**) {
  DateTime d = nowLocal();
  d.secs = 0;
  d.hasTime = false;
  resultText(c, dateText(d));
}
void fnNow(sqlite3_context* c, int, sqlite3_value**) { resultText(c, dateText(nowLocal())); }
void fnTime(sqlite3_context* c, int, sqlite3_value**) {
  DateTime d = nowLocal();
  char b[32];
  std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", d.secs / 3600, d.secs / 60 % 60, d.secs % 60);
  resultText(c, b);
}
void fnCdate(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0])) return mismatch(c);
  DateTime d;
  if (!dateOf(a[0], d)) return mismatch(c);
  resultText(c, dateText(d));
}
long normYear(long y) { return y < 30 ? y + 2000 : y < 100 ? y + 1900 : y; }
void fnDateSerial(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[0]) || isNullV(a[1]) || isNullV(a[2])) return sqlite3_result_null(c);
  long y = normYear(sqlite3_value_int(a[0])), m = sqlite3_value_int(a[1]), d = sqlite3_value_int(a[2]);
  long m0 = m - 1;
  y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  m0 = ((m0 % 12) + 12) % 12;
  DateTime dt;
  dt.days = daysFromCivil(y, m0 + 1, 1) + d - 1;
  resultText(c, dateText(dt));
}
DateTime addMonths(DateTime dt, long months) {
  long y, m, d;
  civilFromDays(dt.days, y, m, d);
  long total = y * 12 + (m - 1) + months;
  y = total >= 0 ? total / 12 : -((11 - total) / 12);
  m = total - y * 12 + 1;
  long last = daysFromCivil(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1) - daysFromCivil(y, m, 1);
  dt.days = daysFromCivil(y, m, std::min(d, last));
  return dt;
}
void fnDateAdd(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[1]) || isNullV(a[2])) return sqlite3_result_null(c);
  std::string iv = lowerAscii(argText(a[0]));
  double nd;
  if (!numberOf(a[1], nd)) return mismatch(c);
  long n = static_cast<long>(std::trunc(nd));
  DateTime dt;
  if (!dateOf(a[2], dt)) return mismatch(c);
  if (iv == "yyyy") dt = addMonths(dt, n * 12);
  else if (iv == "q") dt = addMonths(dt, n * 3);
  else if (iv == "m") dt = addMonths(dt, n);
  else if (iv == "d" || iv == "y" || iv == "w") dt.days += n;
  else if (iv == "ww") dt.days += n * 7;
  else if (iv == "h" || iv == "n" || iv == "s") {
    long long t = static_cast<long long>(dt.days) * 86400 + dt.secs + n * (iv == "h" ? 3600LL : iv == "n" ? 60LL : 1LL);
    dt.days = static_cast<long>(t >= 0 ? t / 86400 : -((86399 - t) / 86400));
    dt.secs = static_cast<long>(t - static_cast<long long>(dt.days) * 86400);
    dt.hasTime = dt.secs != 0;
  } else {
    return sqlite3_result_error(c, "jet_invalid_argument", -1);
  }
  resultText(c, dateText(dt));
}
void fnDateDiff(sqlite3_context* c, int, sqlite3_value** a) {
  if (isNullV(a[1]) || isNullV(a[2])) return sqlite3_result_null(c);
  std::string iv = lowerAscii(argText(a[0]));
  DateTime d1, d2;
  if (!dateOf(a[1], d1) || !dateOf(a[2], d2)) return mismatch(c);
  long y1, m1, dd1, y2, m2, dd2;
  civilFromDays(d1.days, y1, m1, dd1);
  civilFromDays(d2.days, y2, m2, dd2);
  long long t1 = static_cast<long long>(d1.days) * 86400 + d1.secs, t2 = static_cast<long long>(d2.days) * 86400 + d2.secs;
  long long r = 0;
  if (iv == "yyyy") r = y2 - y1;
  else if (iv == "q") r = (y2 * 4 + (m2 - 1) / 3) - (y1 * 4 + (m1 - 1) / 3);
  else if (iv == "m") r = (y2 * 12 + m2) - (y1 * 12 + m1);
  else if (iv == "d" || iv == "y") r = d2.days - d1.days;
  else if (iv == "w") r = (d2.days - d1.days) / 7;
  else if (iv == "ww") {
    auto sunday = [](long days) { long wd = ((days % 7) + 7 + 6) % 7; return days - wd; };
    r = (sunday(d2.days) - sunday(d1.days)) / 7;
  } else if (iv == "h") r = t2 / 3600 - t1 / 3600;
  else if (iv == "n") r = t2 / 60 - t1 / 60;
  else if (iv == "s") r = t2 - t1;
  else return sqlite3_result_error(c, "jet_invalid_argument", -1);
  sqlite3_result_int64(c, r);
}
// part: 0 year, 1 month, 2 day, 3 hour, 4 minute, 5 second, 6 weekday
void datePart(sqlite3_context* c, sqlite3_value* v, int part, int firstDay = 1) {
  if (isNullV(v)) return sqlite3_result_null(c);
  DateTime dt;
  if (!dateOf(v, dt)) return mismatch(c);
  long y, m, d;
  civilFromDays(dt.days, y, m, d);
  long r = 0;
  switch (part) {
    case 0: r = y; break;
    case 1: r = m; break;
    case 2: r = d; break;
    case 3: r = dt.secs / 3600; break;
    case 4: r = dt.secs / 60 % 60; break;
    case 5: r = dt.secs % 60; break;
    default: {
      long wd = ((dt.days % 7) + 7 + 6) % 7;  // 0 Sunday
      r = ((wd - (firstDay - 1)) % 7 + 7) % 7 + 1;
    }
  }
  sqlite3_result_int64(c, r);
}
void fnYear(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 0); }
void fnMonth(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 1); }
void fnDay(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 2); }
void fnHour(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 3); }
void fnMinute(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 4); }
void fnSecond(sqlite3_context* c, int, sqlite3_value** a) { datePart(c, a[0], 5); }
void fnWeekday(sqlite3_context* c, int n, sqlite3_value** a) { datePart(c, a[0], 6, n > 1 && !isNullV(a[1]) ? std::max(1, sqlite3_value_int(a[1])) : 1); }
void fnDatePart(sqlite3_context* c, int, sqlite3_value** a) {
  std::string iv = lowerAscii(argText(a[0]));
  int part = iv == "yyyy" ? 0 : iv == "m" ? 1 : iv == "d" ? 2 : iv == "h" ? 3 : iv == "n" ? 4 : iv == "s" ? 5 : iv == "w" ? 6 : -1;
  if (part < 0) return sqlite3_result_error(c, "jet_invalid_argument", -1);
  datePart(c, a[1], part);
}

// ---- aggregates ----
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

struct VarState {
  double n, mean, m2;
};
void varStep(sqlite3_context* c, int, sqlite3_value** a) {
  auto* st = static_cast<VarState*>(sqlite3_aggregate_context(c, sizeof(VarState)));
  double x;
  if (!st || isNullV(a[0]) || !numberOf(a[0], x)) return;
  st->n += 1;
  double d = x - st->mean;
  st->mean += d / st->n;
  st->m2 += d * (x - st->mean);
}
template <bool Sample, bool Root>
void varFinal(sqlite3_context* c) {
  auto* st = static_cast<VarState*>(sqlite3_aggregate_context(c, 0));
  double need = Sample ? 2 : 1;
  if (!st || st->n < need) return sqlite3_result_null(c);
  double v = st->m2 / (Sample ? st->n - 1 : st->n);
  sqlite3_result_double(c, Root ? std::sqrt(v) : v);
}

// ---- collation ----
int collateNoCase(void*, int n1, const void* p1, int n2, const void* p2) {
  std::string_view a(static_cast<const char*>(p1), static_cast<size_t>(n1)), b(static_cast<const char*>(p2), static_cast<size_t>(n2));
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
    char32_t cx, cy;
    if (x < 0x80) {
      cx = x;
      ++i;
    } else {
      cx = text::nextCodePoint(a, i);
    }
    if (y < 0x80) {
      cy = y;
      ++j;
    } else {
      cy = text::nextCodePoint(b, j);
    }
    cx = foldCp(cx);
    cy = foldCp(cy);
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

const Function* findFunction(const std::string& name) {
  for (const auto& f : kFunctions)
    if (name == f.name) return &f;
  return nullptr;
}

std::string foldForCompare(const std::string& s) { return text::fromU32(foldU32(text::toU32(s))); }

bool foldable(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    char32_t c = text::nextCodePoint(s, i);
    if (foldCp(c) != c || (c >= 'a' && c <= 'z')) return true;
  }
  return false;
}

}  // namespace velmo::db::jet

namespace velmo::db {

void registerJetFunctions(void* conn) {
  using namespace jet;
  auto* db = static_cast<sqlite3*>(conn);
  const int f = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  const int v = SQLITE_UTF8;  // varies with the clock
  struct Scalar {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    int flags;
  };
  const Scalar scalars[] = {
      {"jet_left", 2, fnLeft, f},           {"jet_right", 2, fnRight, f},         {"jet_len", 1, fnLen, f},
      {"jet_ucase", 1, fnUcase, f},         {"jet_lcase", 1, fnLcase, f},         {"jet_trim", 1, fnTrim, f},
      {"jet_ltrim", 1, fnLtrim, f},         {"jet_rtrim", 1, fnRtrim, f},         {"jet_instr", -1, fnInstr, f},
      {"jet_replace", -1, fnReplace, f},    {"jet_format", -1, fnFormat, f},      {"jet_strconv", 2, fnStrconv, f},
      {"jet_space", 1, fnSpace, f},         {"jet_string", 2, fnString, f},       {"jet_chr", 1, fnChr, f},
      {"jet_str", 1, fnStr, f},             {"jet_date", 0, fnDate, v},           {"jet_now", 0, fnNow, v},
      {"jet_time", 0, fnTime, v},           {"jet_dateserial", 3, fnDateSerial, f}, {"jet_dateadd", 3, fnDateAdd, f},
      {"jet_datediff", 3, fnDateDiff, f},   {"jet_datepart", 2, fnDatePart, f},   {"jet_year", 1, fnYear, f},
      {"jet_month", 1, fnMonth, f},         {"jet_day", 1, fnDay, f},             {"jet_hour", 1, fnHour, f},
      {"jet_minute", 1, fnMinute, f},       {"jet_second", 1, fnSecond, f},       {"jet_weekday", -1, fnWeekday, f},
      {"jet_cdate", 1, fnCdate, f},         {"jet_totext", 1, fnToText, f},       {"jet_cint", 1, fnCint, f},
      {"jet_cdbl", 1, fnCdbl, f},           {"jet_int", 1, fnInt, f},             {"jet_fix", 1, fnFix, f},
      {"jet_sgn", 1, fnSgn, f},             {"jet_sqr", 1, fnSqr, f},             {"jet_round", -1, fnRound, f},
      {"jet_nz", -1, fnNz, f},              {"jet_val", 1, fnVal, f},             {"jet_isnull", 1, fnIsNull, f},
      {"jet_isnumeric", 1, fnIsNumeric, f}, {"jet_cat", 2, fnCat, f},             {"jet_plus", 2, fnPlus, f},
      {"jet_idiv", 2, fnIdiv, f},           {"jet_mod", 2, fnMod, f},             {"jet_pow", 2, fnPow, f},
      {"jet_like", 2, fnLike, f},
  };
  for (const auto& s : scalars) sqlite3_create_function(db, s.name, s.args, s.flags, nullptr, s.fn, nullptr, nullptr);
  sqlite3_create_function(db, "jet_first", 1, SQLITE_UTF8, nullptr, nullptr, firstStep, firstFinal);
  sqlite3_create_function(db, "jet_last", 1, SQLITE_UTF8, nullptr, nullptr, lastStep, firstFinal);
  sqlite3_create_function(db, "jet_stdev", 1, f, nullptr, nullptr, varStep, varFinal<true, true>);
  sqlite3_create_function(db, "jet_stdevp", 1, f, nullptr, nullptr, varStep, varFinal<false, true>);
  sqlite3_create_function(db, "jet_var", 1, f, nullptr, nullptr, varStep, varFinal<true, false>);
  sqlite3_create_function(db, "jet_varp", 1, f, nullptr, nullptr, varStep, varFinal<false, false>);
  sqlite3_create_collation(db, "JETNOCASE", SQLITE_UTF8, nullptr, collateNoCase);
}

}  // namespace velmo::db
