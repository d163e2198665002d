// The local time as text.
#pragma once
#include <string>

namespace velmo {

// Now, in local time, formatted by strftime's `format` (at most 63 characters).
std::string LocalTimeText(const char* format);

}  // namespace velmo
