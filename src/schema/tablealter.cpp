#include "schema/tablealter.h"

#include <cstdlib>

#include "common/error.h"
#include "common/globals.h"
#include "common/text.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"

namespace velmo {

namespace {

const char* const kLink = "テーブル定義";

db::FieldType typeFromName(const std::string& t) {
  if (t == "ﾃｷｽﾄ型") return db::FieldType::Text;
  if (t == "数値型 (長整数)") return db::FieldType::Long;
  if (t == "数値型 (整数)") return db::FieldType::Integer;
  if (t == "数値型 (ﾊﾞｲﾄ)") return db::FieldType::Byte;
  if (t == "数値型 (単精度浮動小数点)") return db::FieldType::Single;
  if (t == "数値型 (倍精度浮動小数点)") return db::FieldType::Double;
  if (t == "ﾒﾓ型") return db::FieldType::Memo;
  return db::FieldType::Unknown;
}

bool toBool(const std::string& v) {
  std::string s = text::toLowerAscii(text::trimBlanks(v));
  if (s == "true" || s == "yes" || s == "はい" || s == "on") return true;
  if (s == "false" || s == "no" || s == "いいえ" || s == "off" || s.empty()) return false;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  return end && *end == '\0' && d != 0;
}

std::string txt(const db::QueryResult& q, const char* col) { return db::toText(q.get(col)); }

// The database opened by the last TableAlter call stays open until the next call.
db::DatabasePtr& alterDb() {
  static db::DatabasePtr d;
  return d;
}

}  // namespace

bool TableAlter(const std::string& definitionFile, const std::string& databasePath) {
  bool linked = false;
  auto& d = alterDb();
  try {
    if (d) d->close();
    d = db::Workspace::get().openDatabase(databasePath);
    if (d->hasTable(kLink)) d->deleteTable(kLink);
    std::string folder = ProgramDir();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    d->createLink(kLink, "Text;DATABASE=" + folder, definitionFile);
    linked = true;
    auto tables = d->openQuery(std::string("select * from ") + kLink + " where [ParentID]=0;");
    for (tables->moveFirst(); !tables->eof(); tables->moveNext()) {
      std::string name = txt(*tables, "Name");
      long id = static_cast<long>(db::toNumber(tables->get("id")));
      bool exists = d->hasTable(name);
      db::TableDefSpec def;
      def.name = name;
      std::vector<std::string> have;
      std::vector<std::string> haveIdx;
      if (exists) {
        for (const auto& f : d->fields(name)) have.push_back(f.name);
        for (const auto& ix : d->indexes(name)) haveIdx.push_back(ix.name);
      }
      auto contains = [](const std::vector<std::string>& v, const std::string& s) {
        for (const auto& x : v)
          if (x == s) return true;
        return false;
      };
      // Fields.
      auto fields = d->openQuery("select * from [テーブル定義] where [ParentID]=" + std::to_string(id) +
                                 " and [Object Type] = 'ﾌｨｰﾙﾄﾞ';");
      for (fields->moveFirst(); !fields->eof(); fields->moveNext()) {
        std::string fname = txt(*fields, "Name");
        if (contains(have, fname)) continue;
        db::FieldInfo f;
        f.name = fname;
        f.type = typeFromName(txt(*fields, "Extra2"));
        std::string size = txt(*fields, "Extra3");
        f.size = size == "-" ? 0 : std::atoi(size.c_str());
        if (exists) d->appendField(name, f);
        else def.fields.push_back(f);
        have.push_back(fname);
      }
      // Indexes.
      auto idx = d->openQuery("select * from [テーブル定義] where [ParentID]=" + std::to_string(id) +
                              " and [Object Type] = 'ｲﾝﾃﾞｯｸｽ';");
      for (idx->moveFirst(); !idx->eof(); idx->moveNext()) {
        std::string iname = txt(*idx, "Name");
        if (contains(haveIdx, iname)) continue;
        long iid = static_cast<long>(db::toNumber(idx->get("id")));
        db::IndexInfo ix;
        ix.name = iname;
        auto props = d->openQuery("select * from [テーブル定義] where [ParentID]=" + std::to_string(iid) +
                                  " and [Object Type] = 'ﾌﾟﾛﾊﾟﾃｨ';");
        for (props->moveFirst(); !props->eof(); props->moveNext()) {
          std::string label = txt(*props, "Name");
          std::string v = txt(*props, "Extra1");
          if (label == "名前:") ix.name = v;
          else if (label == "主ｷｰ:") ix.primary = toBool(v);
          else if (label == "Null無視:") ix.ignoreNulls = toBool(v);
          else if (label == "Required:") ix.required = toBool(v);
        }
        auto ifields = d->openQuery("select * from [テーブル定義] where [ParentID]=" + std::to_string(iid) +
                                    " and [Object Type] = 'ｲﾝﾃﾞｯｸｽ ﾌｨｰﾙﾄﾞ';");
        for (ifields->moveFirst(); !ifields->eof(); ifields->moveNext()) ix.fields.push_back(txt(*ifields, "Name"));
        if (exists) d->appendIndex(name, ix);
        else def.indexes.push_back(ix);
        haveIdx.push_back(iname);
      }
      if (!exists) d->createTable(def);
    }
    d->deleteTable(kLink);
    return true;
  } catch (const std::exception& ex) {
    ErrObject e = ErrObject::from(ex);
    if (linked && d) {
      try {
        d->deleteTable(kLink);
      } catch (const std::exception&) {
      }
    }
    WriteLog(e, "TableAlter", false, false);
    return false;
  }
}

bool TableDelete(const std::string& tableName, const std::string& databasePath) {
  try {
    db::DatabasePtr d = db::Workspace::get().openDatabase(databasePath);
    if (d->hasTable(tableName)) d->deleteTable(tableName);
    d->close();
    return true;
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "TableDelete", false, false);
    return false;
  }
}

}  // namespace velmo
