// Text helpers: UTF-8 strings inside the program, Shift_JIS (code page 932) outside.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::text {

// Number of characters (code points) in a UTF-8 string.
size_t charCount(std::string_view s);
// The first k characters of s.
std::string headChars(std::string_view s, size_t k);
// k characters starting at the 1-based character position start (Mid semantics).
std::string midChars(std::string_view s, size_t start, size_t k = std::string::npos);
// The last k characters.
std::string tailChars(std::string_view s, size_t k);
// Leading and trailing ASCII blanks removed.
std::string trimBlanks(std::string_view s);
std::string rtrimBlanks(std::string_view s);
// Decodes one code point at s[i], advances i. Invalid UTF-8 yields U+FFFD.
char32_t nextCodePoint(std::string_view s, size_t& i);
void appendUtf8(std::string& out, char32_t cp);
std::u32string toU32(std::string_view s);
std::string fromU32(std::u32string_view s);

// Name folding used for table and column lookup: ASCII letters to lower case and
// full-width letters, digits and symbols (U+FF01..U+FF5E) to their ASCII forms.
std::string foldName(std::string_view s);

// Shift_JIS decoding. Returns false when the bytes hold a sequence that is not
// valid code page 932; such bytes become U+FFFD in the output.
bool decodeCp932(std::string_view bytes, std::string& out);
std::string decodeCp932(std::string_view bytes);
// Encoding to Shift_JIS; characters without a code page 932 form become '?'.
// Returns false when any character had no form.
bool encodeCp932(std::string_view utf8, std::string& out);
std::string encodeCp932(std::string_view utf8);

// True when every byte of s is ASCII.
inline bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

std::vector<std::string> split(std::string_view s, char sep);
bool startsWith(std::string_view s, std::string_view prefix);
bool endsWith(std::string_view s, std::string_view suffix);
std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
// Formats a double the way the program shows numbers: no trailing zeros.
std::string formatNumber(double v);

// True when the text is empty or holds only ASCII blanks (the provider's
// fixed-width fields pad with blanks).
inline bool isBlank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

// An SQL text literal: 'text' with quotes inside doubled.
std::string quoteSqlText(std::string_view s);
// An SQL identifier: "name" with double quotes inside doubled.
std::string quoteSqlIdent(std::string_view s);

// Comma-separated values: one vector per line, a field in double quotes may hold
// commas, line ends and doubled quotes. An empty field without quotes is
// std::nullopt (Null), "" is an empty text. Blank lines give no row; "\r\n", "\n"
// and a lone "\r" end a line.
using CsvRow = std::vector<std::optional<std::string>>;
std::vector<CsvRow> parseCsv(std::string_view s);

}  // namespace velmo::text
