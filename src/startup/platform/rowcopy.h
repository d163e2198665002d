// A copy of the rows a command changes, instead of the whole database file: the
// rows it is about to delete (put back by a restore) and the keys of the rows it
// is about to add (deleted again by a restore). The copy is an SQLite file of its
// own:
//   velmo_copy(key, value)          kind = "rows", database, command
//   velmo_copy_part(id, tbl, role, keycols, collations)
//   p<id>                            the rows ("rows") or the keys ("keys") of tbl
// Values keep their type and bytes (the part tables have no column types).
// Tables are matched by their unique key (the index "<table>.PrimaryKey", else
// the primary key, else the first unique index); a table without one cannot be
// copied this way (err::EngineGeneric, the caller copies the whole file).
#pragma once
#include <string>

#include "startup/platform/database.h"

namespace velmo::db {

class RowCopy {
 public:
  // Starts the copy file `path` (replaced when it exists) of changes to the
  // database file `database`, in a transaction of the workspace.
  RowCopy(const std::string& path, const std::string& database, const std::string& command);
  // Without finish() the file is removed.
  ~RowCopy();
  RowCopy(const RowCopy&) = delete;
  RowCopy& operator=(const RowCopy&) = delete;

  // The whole rows of `table` that a Jet condition ("where …") selects.
  void addRows(const std::string& table, const std::string& jetCondition);
  // The keys of the rows of `sourceTable` in the database file `source` whose
  // key `table` does not hold yet: the rows a copy of the one into the other adds.
  void addNewKeys(const std::string& table, const std::string& source, const std::string& sourceTable);
  // Commits the copy and syncs it to disk.
  void finish();

  // True when the file is a copy of rows (not a whole database).
  static bool isRowCopy(const std::string& path);
  // Writes to `inverse` the copy of `target` that undoes apply(copy, target):
  // the current rows of every key the copy touches, and the keys of the rows
  // it puts back.
  static void writeInverse(const std::string& copy, const std::string& target, const std::string& inverse,
                           const std::string& command);
  // Puts the database file `target` back as the copy recorded it, in one
  // transaction: the rows of the recorded keys are deleted, the recorded rows put
  // back (replacing rows of the same key).
  static void apply(const std::string& copy, const std::string& target);

 private:
  struct Key {
    std::string columns;  // "a","b"
    std::string match;    // t."a" = c."a" COLLATE x AND …  (t: the table, c: the part)
  };
  static Key keyOf(const std::string& alias, const std::string& table, bool required);
  int addPart(const std::string& table, const std::string& role, const Key& key, const std::string& columns);
  void addRowsOfKeys(const std::string& table, const std::string& partTable);
  void addKeysOf(const std::string& table, const std::string& partTable);

  std::string path_;
  DatabasePtr db_;
  DatabasePtr source_;
  std::string alias_;
  int parts_ = 0;
  bool open_ = false;
  bool finished_ = false;
  int depth_ = 0;
};

}  // namespace velmo::db
