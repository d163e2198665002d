#include "startup/platform/textlink.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <vector>

#include "common/error.h"
#include "common/func.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/stmt.h"

namespace velmo::db {

namespace {
bool looksInteger(const std::string& v) {
  if (v.empty()) return false;
  size_t i = (v[0] == '-' || v[0] == '+') ? 1 : 0;
  if (i >= v.size()) return false;
  for (; i < v.size(); ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return v.size() < 16;
}
}  // namespace

std::string TextLinks::tableFor(sqlite3* cn, const std::string& folder, const std::string& file, bool& reloaded) {
  reloaded = false;
  std::string name = file;
  // The text driver also accepts "name#txt" for "name.txt".
  if (name.find('.') == std::string::npos) {
    size_t h = name.rfind('#');
    if (h != std::string::npos) name[h] = '.';
  }
  std::string path = AddPathSep(folder) + name;
  struct stat stt {};
  if (stat(path.c_str(), &stt) != 0) raise(err::ObjectNotFound, name, "[" + path + "]");
  auto& tt = tables_[path];
  if (!tt.name.empty() && tt.mtime == static_cast<int64_t>(stt.st_mtime) && tt.size == static_cast<int64_t>(stt.st_size))
    return "\"temp\"." + text::quoteSqlIdent(tt.name);
  auto rows = text::parseCsv(text::decodeCp932(ReadFileBytes(path)));
  if (rows.empty()) raise(err::ObjectNotFound, name, "(列名の行がありません) [" + path + "]");
  std::vector<std::string> header;
  for (auto& h : rows[0]) header.push_back(h.value_or(""));
  for (size_t i = 0; i < header.size(); ++i)
    if (header[i].empty()) header[i] = "F" + std::to_string(i + 1);
  // Like the text driver, a column whose every value is a whole number is numeric.
  std::vector<bool> numeric(header.size(), true);
  for (size_t r = 1; r < rows.size(); ++r)
    for (size_t c = 0; c < header.size(); ++c)
      if (c < rows[r].size() && rows[r][c] && !looksInteger(*rows[r][c])) numeric[c] = false;
  if (tt.name.empty()) tt.name = "velmo_text_" + std::to_string(next_++);
  const std::string table = text::quoteSqlIdent(tt.name);
  exec(cn, "DROP TABLE IF EXISTS temp." + table, path);
  std::string sql = "CREATE TEMP TABLE " + table + "(";
  for (size_t c = 0; c < header.size(); ++c) sql += (c ? "," : "") + text::quoteSqlIdent(header[c]) + (numeric[c] ? " INTEGER" : " TEXT");
  exec(cn, sql + ")", path);
  sql = "INSERT INTO temp." + table + " VALUES(";
  for (size_t c = 0; c < header.size(); ++c) sql += c ? ",?" : "?";
  Stmt st(cn, sql + ")", path);
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c = 0; c < header.size(); ++c) {
      int p = static_cast<int>(c + 1);
      if (c < rows[r].size() && rows[r][c]) {
        if (numeric[c]) st.bind(p, Value{static_cast<int64_t>(std::stoll(*rows[r][c]))});
        else st.bind(p, std::string_view(*rows[r][c]));
      } else {
        st.bind(p, Value{});
      }
    }
    st.run(path);
    st.reset();
  }
  tt.mtime = static_cast<int64_t>(stt.st_mtime);
  tt.size = static_cast<int64_t>(stt.st_size);
  reloaded = true;
  return "\"temp\"." + table;
}

}  // namespace velmo::db
