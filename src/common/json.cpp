#include "common/json.h"

#include <cstdio>

namespace velmo::text {

std::string quoteJson(std::string_view s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

}  // namespace velmo::text
