#include "common/clock.h"

#include <ctime>

namespace velmo {

std::string LocalTimeText(const char* format) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  return std::strftime(buf, sizeof buf, format, &tm) ? std::string(buf) : std::string();
}

}  // namespace velmo
