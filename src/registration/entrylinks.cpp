#include "registration/entrylinks.h"

#include "startup/platform/database.h"
#include "startup/platform/recordset.h"

namespace velmo::reg {

EntryLinks::EntryLinks(db::Database& database, const std::string& prefix, const std::vector<std::string>& columns)
    : rs_(database.openTable(prefix + "競走馬データ")), race_(1) {
  rs_->setIndex("PrimaryKey");
  columns_.push_back(rs_->columnIndex("馬番"));
  for (const auto& c : columns) columns_.push_back(rs_->columnIndex(c));
}

EntryLinks::~EntryLinks() = default;

const db::Value* EntryLinks::find(const db::Value& raceKey, const db::Value& horse) {
  if (!loaded_ || race_[0] != raceKey) {
    race_[0] = raceKey;
    rs_->readMatching(race_, columns_, runners_);
    loaded_ = true;
  }
  for (const auto& r : runners_)
    if (r[0] == horse) return r.data() + 1;
  return nullptr;
}

}  // namespace velmo::reg
