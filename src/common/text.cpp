#include "common/text.h"

#include <iconv.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace velmo::text {

size_t charCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

static size_t byteOffsetOfChar(std::string_view s, size_t k) {
  size_t i = 0, n = 0;
  while (i < s.size() && n < k) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++n;
  }
  return i;
}

std::string headChars(std::string_view s, size_t k) { return std::string(s.substr(0, byteOffsetOfChar(s, k))); }

std::string midChars(std::string_view s, size_t start, size_t k) {
  if (start < 1) start = 1;
  size_t b = byteOffsetOfChar(s, start - 1);
  std::string_view rest = s.substr(b);
  if (k == std::string::npos) return std::string(rest);
  return std::string(rest.substr(0, byteOffsetOfChar(rest, k)));
}

std::string tailChars(std::string_view s, size_t k) {
  size_t n = charCount(s);
  if (k >= n) return std::string(s);
  return midChars(s, n - k + 1);
}

std::string trimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string rtrimBlanks(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return std::string(s.substr(0, e));
}

char32_t nextCodePoint(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = (c >= 0xF0) ? 3 : (c >= 0xE0) ? 2 : (c >= 0xC0) ? 1 : -1;
  if (extra < 0) return 0xFFFD;
  char32_t cp = c & (0x3F >> extra);
  for (int j = 0; j < extra; ++j) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u32string toU32(std::string_view s) {
  std::u32string r;
  size_t i = 0;
  while (i < s.size()) r += nextCodePoint(s, i);
  return r;
}

std::string fromU32(std::u32string_view s) {
  std::string r;
  for (char32_t c : s) appendUtf8(r, c);
  return r;
}

std::string foldName(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char32_t cp = nextCodePoint(s, i);
    if (cp >= 0xFF01 && cp <= 0xFF5E) cp = cp - 0xFF01 + 0x21;
    if (cp == 0x3000) cp = ' ';
    if (cp >= 'A' && cp <= 'Z') cp = cp - 'A' + 'a';
    appendUtf8(r, cp);
  }
  return r;
}

// ---- code page 932 ----------------------------------------------------------

namespace {

struct Cp932Tables {
  std::array<char32_t, 256> single{};            // 0 = lead byte or invalid
  std::array<bool, 256> lead{};
  std::vector<char32_t> dbl;                     // (lead << 8 | trail) -> code point, 0 invalid
  std::unordered_map<char32_t, uint16_t> enc;    // code point -> bytes (1 or 2)

  Cp932Tables() : dbl(65536, 0) {
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    auto conv = [&](const char* in, size_t n) -> char32_t {
      char buf[16];
      char* ip = const_cast<char*>(in);
      char* op = buf;
      size_t il = n, ol = sizeof buf;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || (sizeof buf - ol) != 4) return 0;
      uint32_t v;
      std::memcpy(&v, buf, 4);
      return v;
    };
    for (int b = 0; b < 256; ++b) {
      bool isLead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
      lead[b] = isLead;
      if (isLead) continue;
      if (b < 0x80) {
        single[b] = static_cast<char32_t>(b);
      } else if (b >= 0xA1 && b <= 0xDF) {
        single[b] = 0xFF61 + (b - 0xA1);
      } else if (cd != reinterpret_cast<iconv_t>(-1)) {
        char c = static_cast<char>(b);
        single[b] = conv(&c, 1);
      }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      for (int l = 0x81; l <= 0xFC; ++l) {
        if (!lead[l]) continue;
        for (int t = 0x40; t <= 0xFC; ++t) {
          if (t == 0x7F) continue;
          char in[2] = {static_cast<char>(l), static_cast<char>(t)};
          dbl[(l << 8) | t] = conv(in, 2);
        }
      }
      iconv_close(cd);
    }
    // Encoding: the first (lowest) byte sequence of a code point wins, except that
    // the single-byte forms are always preferred.
    for (int l = 0xFC; l >= 0x81; --l)
      for (int t = 0xFC; t >= 0x40; --t)
        if (char32_t cp = dbl[(l << 8) | t]) enc[cp] = static_cast<uint16_t>((l << 8) | t);
    for (int b = 255; b >= 0; --b)
      if (!lead[b] && (single[b] || b == 0)) enc[single[b]] = static_cast<uint16_t>(b);
  }
};

const Cp932Tables& tables() {
  static const Cp932Tables t;
  return t;
}

}  // namespace

bool decodeCp932(std::string_view bytes, std::string& out) {
  const auto& t = tables();
  bool ok = true;
  out.reserve(out.size() + bytes.size() * 3 / 2);
  size_t i = 0, n = bytes.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    if (t.lead[b]) {
      if (i + 1 < n) {
        unsigned char tr = static_cast<unsigned char>(bytes[i + 1]);
        char32_t cp = t.dbl[(b << 8) | tr];
        if (cp) {
          appendUtf8(out, cp);
          i += 2;
          continue;
        }
      }
      appendUtf8(out, 0xFFFD);
      ok = false;
      ++i;
      continue;
    }
    char32_t cp = t.single[b];
    if (!cp) {
      appendUtf8(out, 0xFFFD);
      ok = false;
    } else {
      appendUtf8(out, cp);
    }
    ++i;
  }
  return ok;
}

std::string decodeCp932(std::string_view bytes) {
  std::string r;
  decodeCp932(bytes, r);
  return r;
}

bool encodeCp932(std::string_view utf8, std::string& out) {
  const auto& t = tables();
  bool ok = true;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t cp = nextCodePoint(utf8, i);
    auto it = t.enc.find(cp);
    if (it == t.enc.end()) {
      out += '?';
      ok = false;
    } else if (it->second > 0xFF) {
      out += static_cast<char>(it->second >> 8);
      out += static_cast<char>(it->second & 0xFF);
    } else {
      out += static_cast<char>(it->second);
    }
  }
  return ok;
}

std::string encodeCp932(std::string_view utf8) {
  std::string r;
  encodeCp932(utf8, r);
  return r;
}

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> r;
  size_t b = 0;
  for (;;) {
    size_t e = s.find(sep, b);
    if (e == std::string_view::npos) {
      r.emplace_back(s.substr(b));
      return r;
    }
    r.emplace_back(s.substr(b, e - b));
    b = e + 1;
  }
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool endsWith(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}

std::string toUpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string toLowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string formatNumber(double v) {
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

namespace {
std::string quoteWith(std::string_view s, char q) {
  std::string r(1, q);
  r.reserve(s.size() + 2);
  for (char c : s) {
    if (c == q) r += q;
    r += c;
  }
  r += q;
  return r;
}
}  // namespace

std::string quoteSqlText(std::string_view s) { return quoteWith(s, '\''); }
std::string quoteSqlIdent(std::string_view s) { return quoteWith(s, '"'); }

std::vector<CsvRow> parseCsv(std::string_view s) {
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string cur;
  bool quoted = false, inQuotes = false, any = false;
  auto endField = [&] {
    if (cur.empty() && !quoted) row.emplace_back(std::nullopt);
    else row.emplace_back(cur);
    cur.clear();
    quoted = false;
  };
  auto endLine = [&] {
    if (any || !cur.empty()) {
      endField();
      rows.push_back(std::move(row));
    }
    row.clear();
    any = false;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (inQuotes) {
      if (c == '"') {
        if (i + 1 < s.size() && s[i + 1] == '"') {
          cur += '"';
          ++i;
        } else {
          inQuotes = false;
        }
      } else {
        cur += c;
      }
      continue;
    }
    if (c == '"') {
      inQuotes = true;
      quoted = true;
      any = true;
    } else if (c == ',') {
      endField();
      any = true;
    } else if (c == '\r') {
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      endLine();
    } else if (c == '\n') {
      endLine();
    } else {
      cur += c;
      any = true;
    }
  }
  endLine();
  return rows;
}

}  // namespace velmo::text
