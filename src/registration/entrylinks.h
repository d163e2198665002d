// The horse entry table's fields of a race's runners, for the files whose rows
// link to the entries (pre-race and training information).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "startup/platform/db.h"

namespace velmo::reg {

class EntryLinks {
 public:
  // Reads `columns` of prefix + "競走馬データ" (through its primary key).
  EntryLinks(db::Database& database, const std::string& prefix, const std::vector<std::string>& columns);
  ~EntryLinks();
  // The columns of the entry of (raceKey, horse), in the order asked for, or
  // nullptr when the race has no such runner. A race's runners are read with
  // one statement when it first comes, so a file in race order reads each race
  // once. The pointer holds until the next call.
  const db::Value* find(const db::Value& raceKey, const db::Value& horse);

 private:
  std::unique_ptr<db::Recordset> rs_;
  std::vector<int> columns_;  // the horse number first, then the columns asked for
  std::vector<db::Value> race_;
  bool loaded_ = false;
  std::vector<std::vector<db::Value>> runners_;
};

}  // namespace velmo::reg
