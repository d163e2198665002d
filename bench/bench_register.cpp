// Registration benchmark: programme records per second of the registration
// driver against a plain SQLite loop that inserts the same rows into the same
// table with one prepared statement in one transaction (the practical limit).
//   velmo-bench [--records N]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common.h"
#include "tools/fixture/fixture.h"

using namespace velmo;
using namespace velmo::bench;

namespace {

// Programme records with distinct race keys: course, kai and day digits vary.
std::vector<std::string> programmeRecords(const std::string& kind, long n, const std::string& date) {
  std::vector<std::string> out;
  long made = 0;
  for (int course = 1; course <= 99 && made < n; ++course)
    for (int kai = 1; kai <= 9 && made < n; ++kai)
      for (int day = 1; day <= 9 && made < n; ++day)
        for (int race = 1; race <= 12 && made < n; ++race, ++made) {
          char key[16];
          std::snprintf(key, sizeof key, "%02d%s%d%d%02d", course, date.substr(2, 2).c_str(), kai, day, race);
          out.push_back(fixture::MakeRecord(kind, {{"レースキー", key}, {"年月日", date}}, static_cast<uint32_t>(made + 1)));
        }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  long n = 12000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--records") n = std::atol(argv[i + 1]);
  Setup();
  const std::string date = "20050312";
  std::vector<Result> results;
  results.push_back(benchKind("BAB", programmeRecords("BAB", n, date), date));
  std::printf("Registration benchmark (%ld programme records, stored LZH archive)\n", n);
  report(results);
  Teardown();
  return 0;
}
