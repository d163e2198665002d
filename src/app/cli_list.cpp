// velmo-cli list [--db this|data] [--json]
// Prints the data list of a database, newest date first: a table, or JSON (an
// array of objects, one per date) for scripts.
#include <cstdio>

#include "app/cli.h"
#include "app/cli_maint.h"
#include "common/json.h"
#include "common/text.h"

namespace velmo::cli {
namespace {


// Display width: East Asian wide characters take two columns.
size_t width(const std::string& s) {
  size_t w = 0;
  for (char32_t c : text::toU32(s)) w += (c >= 0x1100 && !(c >= 0xFF61 && c <= 0xFF9F)) ? 2 : 1;
  return w;
}

int run(const Args& given) {
  Args args = given;
  bool bad = false;
  std::string which = TakeOption(args, "--db", bad);
  const bool json = TakeFlag(args, "--json");
  if (which.empty()) which = "this";
  if (bad || !NoExtraWords(args) || (which != "this" && which != "data")) return Usage("list");
  if (!InitSettings("list")) return kExitFailed;
  DataListTable t;
  try {
    t = ReadDataList(which == "data" ? "D" : "T");
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "velmo-cli list: %s\n", ex.what());
    return kExitFailed;
  }
  std::string out;
  if (json) {
    out = "[";
    for (size_t r = 0; r < t.rows.size(); ++r) {
      out += r ? ",\n {" : "\n {";
      for (size_t c = 0; c < t.columns.size(); ++c)
        out += (c ? ", " : "") + text::quoteJson(t.columns[c]) + ": " + text::quoteJson(t.rows[r][c]);
      out += "}";
    }
    out += t.rows.empty() ? "]\n" : "\n]\n";
  } else {
    std::vector<size_t> w(t.columns.size());
    for (size_t c = 0; c < t.columns.size(); ++c) {
      w[c] = width(t.columns[c]);
      for (const auto& row : t.rows) w[c] = std::max(w[c], width(row[c]));
    }
    auto line = [&](const std::vector<std::string>& cells) {
      for (size_t c = 0; c < cells.size(); ++c) {
        out += cells[c];
        if (c + 1 < cells.size()) out += std::string(w[c] - width(cells[c]) + 2, ' ');
      }
      out += "\n";
    };
    line(t.columns);
    for (const auto& row : t.rows) line(row);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitOk;
}

const Registrar reg({"list", "list [--db this|data] [--json]",
                     "prints the data list of this week's (default) or the past database", run});

}  // namespace
}  // namespace velmo::cli
