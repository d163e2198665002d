// Helpers of the reader tests: a connected session and query results as text.
#pragma once
#include <string>

#include "common/func.h"
#include "common/globals.h"
#include "registration/regkova.h"
#include "startup/platform/db.h"

// A namespace of their own: other test helpers of velmo::test have the same names.
namespace velmo::test::readers {

// Rows of a query, values joined by "|", one line per row; Null shows as <null>.
inline std::string RowsText(db::Database& d, const std::string& sql) {
  auto q = d.openQuery(sql);
  std::string out;
  for (q->moveFirst(); !q->eof(); q->moveNext()) {
    for (size_t c = 0; c < q->columns.size(); ++c) {
      if (c) out += "|";
      db::Value v = q->get(static_cast<int>(c));
      out += db::isNull(v) ? "<null>" : db::toText(v);
    }
    out += "\n";
  }
  return out;
}

// A registration session connected to the database of a mode.
struct Session {
  RegKOVA s;
  explicit Session(const std::string& mode = "T") {
    s.Mode(mode);
    s.conDB(G().gDBDir);
  }
  std::string rows(const std::string& sql) { return RowsText(s.db(), sql); }
  // Runs readers inside one transaction, as the driver does for each file.
  template <class F>
  void inTrans(F&& f) {
    db::Transaction t;
    f();
    t.commit();
  }
};

// Two-digit horse number.
inline std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace velmo::test::readers
