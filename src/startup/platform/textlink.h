// Tables linked to comma-separated text files ("Text;DATABASE=folder"): each file
// is read into a temporary table of the connection, again whenever it changes.
#pragma once
#include <cstdint>
#include <map>
#include <string>

struct sqlite3;

namespace velmo::db {

class TextLinks {
 public:
  // The qualified name ("temp"."velmo_text_N") of the table holding the file's
  // rows; true in `reloaded` when the table was (re)built.
  std::string tableFor(sqlite3* c, const std::string& folder, const std::string& file, bool& reloaded);
  void clear() { tables_.clear(); }

 private:
  struct Table {
    std::string name;
    int64_t mtime = 0;
    int64_t size = 0;
  };
  std::map<std::string, Table> tables_;  // file path -> table
  int next_ = 1;
};

}  // namespace velmo::db
