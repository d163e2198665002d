// JSON text for the command-line tools' output.
#pragma once
#include <string>
#include <string_view>

namespace velmo::text {

// A JSON string: "text" with quotes, backslashes and control characters escaped
// (other bytes, UTF-8 included, as they stand).
std::string quoteJson(std::string_view s);

}  // namespace velmo::text
