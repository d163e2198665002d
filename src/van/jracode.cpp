#include "van/jracode.h"

#include <set>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"

namespace velmo {

std::vector<JraCodeRow> ParseJraCodes(const std::string& text) {
  std::vector<JraCodeRow> rows;
  std::set<std::string> seen;
  int number = 0;
  for (std::string line : text::split(text, '\n')) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = text::trimBlanks(line);
    if (t.empty() || t[0] == '#') continue;
    std::vector<std::string> v;
    size_t i = 0;
    while (v.size() < 3) {
      size_t a = line.find('"', i);
      size_t b = a == std::string::npos ? a : line.find('"', a + 1);
      if (b == std::string::npos)
        throw VelmoError(err::InvalidArgument, "jracode: line " + std::to_string(number) + " needs three quoted values");
      v.push_back(line.substr(a + 1, b - a - 1));
      i = b + 1;
    }
    if (v[0].empty() || v[1].empty())
      throw VelmoError(err::InvalidArgument, "jracode: line " + std::to_string(number) + " has an empty kind or code");
    if (!seen.insert(v[0] + '\t' + v[1]).second)
      throw VelmoError(err::DuplicateKey, "jracode: line " + std::to_string(number) + " repeats " + v[0] + " " + v[1]);
    rows.push_back({v[0], v[1], v[2]});
  }
  return rows;
}

void LoadJraCodes(const std::string& file, db::Database& code) {
  std::vector<JraCodeRow> rows = ParseJraCodes(ReadFileBytes(file));
  code.execute("DELETE FROM CJRAコード変換;");
  auto rs = code.openTable("CJRAコード変換");
  int kind = rs->columnIndex("種類"), jra = rs->columnIndex("Jravan"), kova = rs->columnIndex("Kova");
  for (const auto& r : rows) {
    rs->addNew();
    rs->set(kind, r.kind);
    rs->set(jra, r.jravan);
    rs->set(kova, r.kova);
    rs->update();
  }
}

}  // namespace velmo
