// A stretch of record writes whose checks the recordset makes itself.
#pragma once

namespace velmo::db {

class Recordset;

// While a scope is alive, SQLite does not evaluate the tables' CHECK
// constraints; the recordset the scope is made for checks every field it
// writes (Recordset::update) exactly as those constraints would, in a fraction
// of the time SQLite takes to run one length() check per column of every row.
// Inside a scope only recordsets on such tables write (checksItself()): any
// statement that adds or changes rows belongs outside it. A scope made for a
// recordset whose table's checks it does not know does nothing. Scopes nest.
class RecordWriteScope {
 public:
  explicit RecordWriteScope(const Recordset& rs);
  ~RecordWriteScope();
  RecordWriteScope(const RecordWriteScope&) = delete;
  RecordWriteScope& operator=(const RecordWriteScope&) = delete;

 private:
  bool active_ = false;
};

}  // namespace velmo::db
