// SQLite SQL from the tree of a Jet statement. Every name resolves against the
// tables and aliases the statement names (letter case and width folded); the
// emitted SQL names every table with its database's schema alias.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unordered_map>

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetast.h"
#include "startup/platform/jetfunctions.h"
#include "startup/platform/jetsql.h"

namespace velmo::db {

namespace {

using namespace jet;

std::string qi(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '"') r += '"';
    r += c;
  }
  return r + "\"";
}

std::string qs(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') r += '\'';
    r += c;
  }
  return r + "'";
}

[[noreturn]] void noTable(const std::string& name) {
  raise(err::NoSuchTable, name);
}

enum class Ty { Text, Num, Unknown };

bool isText(FieldType t) { return t == FieldType::Text || t == FieldType::Memo || t == FieldType::Unknown; }

// A table or sub-select of a FROM clause.
struct Bound {
  std::string key;       // folded name the statement refers to it by
  std::string keyReal;   // folded real table name (also accepted when there is no alias)
  std::string sqlAlias;  // alias in the emitted SQL
  std::string from;      // emitted source: "s"."T" AS "T" or (select …) AS "x"
  std::vector<std::string> cols;
  std::vector<Ty> types;
  std::unordered_map<std::string, int> byFold;
  int find(const std::string& name) const {
    auto it = byFold.find(text::foldName(name));
    return it == byFold.end() ? -1 : it->second;
  }
};

struct Scope {
  std::vector<Bound> b;
  const Scope* outer = nullptr;
  std::vector<std::pair<std::string, std::pair<std::string, Ty>>> aliases;  // folded alias -> emitted name, type
};

struct Emitted {
  std::string sql;
  Ty ty = Ty::Unknown;
  bool column = false;   // a plain column reference
  bool literal = false;  // a text literal
  std::string literalText;
  bool number = false;   // a numeric literal
  double numberValue = 0;
  bool aggregate = false;
};

class Emitter {
 public:
  Emitter(Database* db, const std::vector<std::string>* criteriaColumns) : db_(db), crit_(criteriaColumns) {}

  std::set<std::string> unknown;  // names no table of the statement has
  bool cacheable = true;

  void checkUnknown() const {
    if (unknown.empty()) return;
    std::string names;
    for (const auto& n : unknown) names += (names.empty() ? "" : "', '") + n;
    raise(err::TooFewParameters, names);
  }

  // ---- sources ----
  Bound bindTable(const std::string& name, const std::string& alias) {
    TableShape probe;
    std::string q = db_->resolveTable(name, &probe);
    if (q.empty()) noTable(name);
    const TableShape& sh = db_->shape(name);
    Bound b;
    b.keyReal = text::foldName(sh.name);
    b.key = text::foldName(alias.empty() ? name : alias);
    b.sqlAlias = alias.empty() ? sh.name : alias;
    b.from = q + " AS " + qi(b.sqlAlias);
    for (size_t i = 0; i < sh.fields.size(); ++i) {
      b.cols.push_back(sh.fields[i].name);
      b.types.push_back(isText(sh.fields[i].type) ? Ty::Text : Ty::Num);
      b.byFold.emplace(text::foldName(sh.fields[i].name), static_cast<int>(i));
    }
    return b;
  }

  // Binds the sources of a FROM list into the scope; returns the emitted FROM text.
  // ON conditions are emitted once every source is bound.
  void bindSources(const std::vector<SourceP>& from, Scope& sc) {
    for (const auto& s : from) bindSource(*s, sc);
  }

  void bindSource(const Source& s, Scope& sc) {
    switch (s.kind) {
      case Source::Kind::Table:
        sc.b.push_back(bindTable(s.name, s.alias));
        break;
      case Source::Kind::Sub: {
        std::vector<std::string> names;
        std::vector<Ty> types;
        std::string sub = select(*s.sub, nullptr, &names, &types);
        Bound b;
        b.sqlAlias = s.alias.empty() ? "Query" + std::to_string(++subCount_) : s.alias;
        b.key = text::foldName(b.sqlAlias);
        b.from = "(" + sub + ") AS " + qi(b.sqlAlias);
        b.cols = names;
        b.types = types;
        for (size_t i = 0; i < names.size(); ++i) b.byFold.emplace(text::foldName(names[i]), static_cast<int>(i));
        sc.b.push_back(std::move(b));
        break;
      }
      case Source::Kind::Join:
        bindSource(*s.left, sc);
        bindSource(*s.right, sc);
        break;
    }
  }

  std::string fromText(const Source& s, const Scope& sc, size_t& next) {
    if (s.kind != Source::Kind::Join) return sc.b[next++].from;
    std::string l = fromText(*s.left, sc, next);
    std::string r = fromText(*s.right, sc, next);
    std::string on = cond(*s.on, sc);
    std::string kw = s.joinType == "left" ? " LEFT JOIN " : s.joinType == "right" ? " RIGHT JOIN " : " INNER JOIN ";
    return "(" + l + kw + r + " ON " + on + ")";
  }

  std::string fromList(const std::vector<SourceP>& from, const Scope& sc) {
    std::string r;
    size_t next = 0;
    for (size_t i = 0; i < from.size(); ++i) r += (i ? ", " : "") + fromText(*from[i], sc, next);
    return r;
  }

  // ---- columns ----
  Emitted column(const Expr& e, const Scope& sc) {
    Emitted r;
    r.column = true;
    if (crit_) {
      std::string f = text::foldName(e.b);
      for (const auto& c : *crit_)
        if (text::foldName(c) == f) {
          r.sql = qi(c);
          return r;
        }
      unknown.insert(e.b);
      r.sql = "NULL";
      return r;
    }
    if (!e.a.empty()) {
      std::string q = text::foldName(e.a);
      for (const Scope* s = &sc; s; s = s->outer) {
        const Bound* hit = nullptr;
        for (const auto& b : s->b)
          if (b.key == q) hit = &b;
        if (!hit)
          for (const auto& b : s->b)
            if (b.keyReal == q && b.key == b.keyReal) hit = &b;
        if (!hit) continue;
        int i = hit->find(e.b);
        if (i < 0) break;
        r.sql = qi(hit->sqlAlias) + "." + qi(hit->cols[static_cast<size_t>(i)]);
        r.ty = hit->types[static_cast<size_t>(i)];
        return r;
      }
      unknown.insert(e.a + "." + e.b);
      r.sql = "NULL";
      return r;
    }
    for (const Scope* s = &sc; s; s = s->outer) {
      const Bound* hit = nullptr;
      int idx = -1;
      for (const auto& b : s->b) {
        int i = b.find(e.b);
        if (i < 0) continue;
        if (hit)
          raise(err::AmbiguousField, e.b);
        hit = &b;
        idx = i;
      }
      if (hit) {
        r.sql = qi(hit->sqlAlias) + "." + qi(hit->cols[static_cast<size_t>(idx)]);
        r.ty = hit->types[static_cast<size_t>(idx)];
        return r;
      }
      // A name given to a result column of this select.
      std::string f = text::foldName(e.b);
      for (const auto& [a, v] : s->aliases)
        if (a == f) {
          usedAlias_ = true;
          r.sql = v.first;
          r.ty = v.second;
          r.column = false;
          return r;
        }
    }
    unknown.insert(e.b);
    r.sql = "NULL";
    return r;
  }

  // ---- expressions ----
  std::string cond(const Expr& e, const Scope& sc) { return expr(e, sc).sql; }

  static bool needsFold(const Emitted& a, const Emitted& b) {
    if ((a.literal && foldable(a.literalText)) || (b.literal && foldable(b.literalText))) return true;
    // Two computed texts compare folded; two columns compare exactly so that joins keep their indexes.
    return a.ty == Ty::Text && b.ty == Ty::Text && !a.literal && !b.literal && !(a.column && b.column);
  }

  Emitted expr(const Expr& e, const Scope& sc) {
    Emitted r;
    switch (e.k) {
      case EK::Num:
        r.sql = e.a;
        if (r.sql[0] == '.') r.sql = "0" + r.sql;
        r.ty = Ty::Num;
        r.number = true;
        r.numberValue = std::strtod(e.a.c_str(), nullptr);
        return r;
      case EK::Str:
        r.sql = qs(e.a);
        r.ty = Ty::Text;
        r.literal = true;
        r.literalText = e.a;
        return r;
      case EK::Null:
        r.sql = "NULL";
        return r;
      case EK::Bool:
        r.sql = e.a;
        r.ty = Ty::Num;
        return r;
      case EK::Column:
        return column(e, sc);
      case EK::Star:
        r.sql = "*";
        return r;
      case EK::Func:
        return func(e, sc);
      case EK::Unary: {
        Emitted x = expr(*e.args[0], sc);
        r.aggregate = x.aggregate;
        r.ty = Ty::Num;
        r.sql = e.a == "not" ? "(NOT " + x.sql + ")" : "(-" + x.sql + ")";
        return r;
      }
      case EK::Binary:
        return binary(e, sc);
      case EK::Between: {
        Emitted x = expr(*e.args[0], sc), lo = expr(*e.args[1], sc), hi = expr(*e.args[2], sc);
        r.ty = Ty::Num;
        r.aggregate = x.aggregate || lo.aggregate || hi.aggregate;
        bool fold = needsFold(x, lo) || needsFold(x, hi);
        std::string xs = fold ? x.sql + " COLLATE JETNOCASE" : x.sql;
        std::string los = lo.sql, his = hi.sql;
        // Jet takes the bounds in either order.
        if (lo.number && hi.number) {
          if (lo.numberValue > hi.numberValue) std::swap(los, his);
        } else if (lo.literal && hi.literal) {
          if (foldForCompare(lo.literalText) > foldForCompare(hi.literalText)) std::swap(los, his);
        } else {
          los = "min(" + lo.sql + ", " + hi.sql + ")";
          his = "max(" + lo.sql + ", " + hi.sql + ")";
        }
        r.sql = "(" + xs + (e.negated ? " NOT" : "") + " BETWEEN " + los + " AND " + his + ")";
        return r;
      }
      case EK::In: {
        Emitted x = expr(*e.args[0], sc);
        std::string list;
        bool fold = false;
        for (size_t i = 1; i < e.args.size(); ++i) {
          Emitted v = expr(*e.args[i], sc);
          fold = fold || needsFold(x, v);
          list += (i > 1 ? ", " : "") + v.sql;
        }
        r.ty = Ty::Num;
        r.aggregate = x.aggregate;
        r.sql = "(" + x.sql + (fold ? " COLLATE JETNOCASE" : "") + (e.negated ? " NOT" : "") + " IN (" + list + "))";
        return r;
      }
      case EK::InSelect: {
        Emitted x = expr(*e.args[0], sc);
        std::string sub = select(*e.sub, &sc, nullptr, nullptr);
        r.ty = Ty::Num;
        r.aggregate = x.aggregate;
        r.sql = "(" + x.sql + (e.negated ? " NOT" : "") + " IN (" + sub + "))";
        return r;
      }
      case EK::Like: {
        Emitted x = expr(*e.args[0], sc), p = expr(*e.args[1], sc);
        r.ty = Ty::Num;
        r.aggregate = x.aggregate;
        r.sql = std::string(e.negated ? "(NOT " : "(") + "jet_like(" + x.sql + ", " + p.sql + "))";
        return r;
      }
      case EK::IsNull: {
        Emitted x = expr(*e.args[0], sc);
        r.ty = Ty::Num;
        r.aggregate = x.aggregate;
        r.sql = "(" + x.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)");
        return r;
      }
      case EK::Exists:
        r.ty = Ty::Num;
        r.sql = "EXISTS (" + select(*e.sub, &sc, nullptr, nullptr) + ")";
        return r;
      case EK::Sub: {
        std::vector<Ty> types;
        r.sql = "(" + select(*e.sub, &sc, nullptr, &types) + ")";
        r.ty = types.empty() ? Ty::Unknown : types[0];
        return r;
      }
    }
    return r;
  }

  // Operators whose chains may be regrouped: "a and b and c and d" is emitted as
  // "((a AND b) AND (c AND d))", so that a long chain stays shallow for SQLite.
  static bool regroupable(const std::string& op) { return op == "and" || op == "or" || op == "&"; }

  // A chain of binary operators is walked along its left operands without
  // recursion; only the right operands (nested no deeper than the parser
  // allows) recurse.
  Emitted binary(const Expr& e, const Scope& sc) {
    if (regroupable(e.a)) {
      std::vector<const Expr*> rights;
      const Expr* cur = &e;
      while (cur->k == EK::Binary && cur->a == e.a) {
        rights.push_back(cur->args[1].get());
        cur = cur->args[0].get();
      }
      std::vector<Emitted> terms;
      terms.reserve(rights.size() + 1);
      terms.push_back(expr(*cur, sc));
      for (auto it = rights.rbegin(); it != rights.rend(); ++it) terms.push_back(expr(**it, sc));
      return grouped(e.a, terms, 0, terms.size());
    }
    std::vector<const Expr*> spine;
    const Expr* cur = &e;
    while (cur->k == EK::Binary && !regroupable(cur->a)) {
      spine.push_back(cur);
      cur = cur->args[0].get();
    }
    Emitted acc = expr(*cur, sc);
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) acc = combine((*it)->a, acc, expr(*(*it)->args[1], sc));
    return acc;
  }

  Emitted grouped(const std::string& op, const std::vector<Emitted>& terms, size_t from, size_t to) {
    if (to - from == 1) return terms[from];
    size_t mid = from + (to - from) / 2;
    return combine(op, grouped(op, terms, from, mid), grouped(op, terms, mid, to));
  }

  static Emitted combine(const std::string& op, const Emitted& a, const Emitted& b) {
    Emitted r;
    r.aggregate = a.aggregate || b.aggregate;
    if (op == "and" || op == "or") {
      r.ty = Ty::Num;
      r.sql = "(" + a.sql + (op == "and" ? " AND " : " OR ") + b.sql + ")";
    } else if (op == "xor") {
      r.ty = Ty::Num;
      r.sql = "((" + a.sql + " <> 0) <> (" + b.sql + " <> 0))";
    } else if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=") {
      r.ty = Ty::Num;
      r.sql = "(" + a.sql + " " + op + " " + b.sql + (needsFold(a, b) ? " COLLATE JETNOCASE)" : ")");
    } else if (op == "&") {
      r.ty = Ty::Text;
      r.sql = "jet_cat(" + a.sql + ", " + b.sql + ")";
    } else if (op == "+") {
      if (a.ty == Ty::Num && b.ty == Ty::Num) {
        r.ty = Ty::Num;
        r.sql = "(" + a.sql + " + " + b.sql + ")";
      } else {
        r.ty = a.ty == Ty::Text && b.ty == Ty::Text ? Ty::Text : Ty::Unknown;
        r.sql = "jet_plus(" + a.sql + ", " + b.sql + ")";
      }
    } else if (op == "-" || op == "*") {
      r.ty = Ty::Num;
      r.sql = "(" + a.sql + " " + op + " " + b.sql + ")";
    } else if (op == "/") {
      r.ty = Ty::Num;
      r.sql = "(CAST(" + a.sql + " AS REAL) / " + b.sql + ")";
    } else if (op == "\\") {
      r.ty = Ty::Num;
      r.sql = "jet_idiv(" + a.sql + ", " + b.sql + ")";
    } else if (op == "mod") {
      r.ty = Ty::Num;
      r.sql = "jet_mod(" + a.sql + ", " + b.sql + ")";
    } else if (op == "^") {
      r.ty = Ty::Num;
      r.sql = "jet_pow(" + a.sql + ", " + b.sql + ")";
    }
    return r;
  }

  Emitted func(const Expr& e, const Scope& sc) {
    const Function* f = findFunction(e.a);
    if (!f) raise(err::UndefinedFunction, e.a);
    int n = static_cast<int>(e.args.size());
    if (n < f->minArgs || n > f->maxArgs)
      raise(err::SyntaxError, e.a + "(…)");
    Emitted r;
    std::vector<Emitted> args;
    for (const auto& a : e.args) {
      if (a->k == EK::Star && e.a != "count") raise(err::SyntaxError, e.a + "(*)");
      args.push_back(expr(*a, sc));
      r.aggregate = r.aggregate || args.back().aggregate;
    }
    r.aggregate = r.aggregate || f->aggregate;
    r.ty = f->type == 'T' ? Ty::Text : f->type == 'N' ? Ty::Num : (args.empty() ? Ty::Unknown : args[0].ty);
    if (e.a == "iif") {
      r.ty = args[1].ty == args[2].ty ? args[1].ty : Ty::Unknown;
      r.sql = "(CASE WHEN " + args[0].sql + " THEN " + args[1].sql + " ELSE " + args[2].sql + " END)";
      return r;
    }
    r.sql = std::string(f->sql) + "(";
    for (size_t i = 0; i < args.size(); ++i) r.sql += (i ? ", " : "") + args[i].sql;
    r.sql += ")";
    return r;
  }

  // ---- select ----
  // Emits a select (with its union and order); fills the names and types of its columns.
  std::string select(const Select& s, const Scope* outer, std::vector<std::string>* names, std::vector<Ty>* types) {
    std::vector<std::string> n0;
    std::vector<Ty> t0;
    if (!names) names = &n0;
    if (!types) types = &t0;
    bool compound = static_cast<bool>(s.unionNext);
    std::string sql = core(s, outer, names, types, compound);
    for (const Select* u = &s; u->unionNext; u = u->unionNext.get()) {
      std::vector<std::string> n;
      std::vector<Ty> t;
      sql += u->unionAll ? " UNION ALL " : " UNION ";
      sql += core(*u->unionNext, outer, &n, &t, true);
    }
    if (!s.orderBy.empty()) {
      std::string order;
      if (compound) {
        // The terms of a union's order are its result columns.
        for (const auto& o : s.orderBy) {
          int pos = -1;
          if (o.e->k == EK::Column)
            for (size_t i = 0; i < names->size(); ++i)
              if (text::foldName((*names)[i]) == text::foldName(o.e->b)) pos = static_cast<int>(i) + 1;
          if (o.e->k == EK::Num) pos = std::atoi(o.e->a.c_str());
          if (pos < 1) raise(err::SyntaxError, "ORDER BY");
          order += (order.empty() ? "" : ", ") + std::to_string(pos) + (o.desc ? " DESC" : "");
        }
      } else {
        order = lastOrder_;
      }
      sql += " ORDER BY " + order;
    }
    if (!compound && !lastLimit_.empty()) sql += lastLimit_;
    return sql;
  }

  std::string core(const Select& s, const Scope* outer, std::vector<std::string>* names, std::vector<Ty>* types, bool wrapTop) {
    Scope sc;
    sc.outer = outer;
    bindSources(s.from, sc);
    std::string from = s.from.empty() ? "" : " FROM " + fromList(s.from, sc);
    std::string items;
    int exprNo = 0;
    bool distinct = s.distinct || (s.distinctRow && sc.b.size() > 1);
    auto addItem = [&](const std::string& sqlText, const std::string& name, Ty ty) {
      std::string t = sqlText;
      if (distinct && ty != Ty::Num) t += " COLLATE JETNOCASE";
      items += (items.empty() ? "" : ", ") + t + " AS " + qi(name);
      names->push_back(name);
      types->push_back(ty);
      sc.aliases.emplace_back(text::foldName(name), std::make_pair(qi(name), ty));
    };
    if (s.transformAgg) return crosstab(s, sc, from, names, types);
    for (const auto& it : s.items) {
      if (it.e->k == EK::Star) {
        bool any = false;
        std::string q = text::foldName(it.e->a);
        for (const auto& b : sc.b) {
          if (!it.e->a.empty() && b.key != q && !(b.keyReal == q && b.key == b.keyReal)) continue;
          any = true;
          for (size_t i = 0; i < b.cols.size(); ++i) addItem(qi(b.sqlAlias) + "." + qi(b.cols[i]), b.cols[i], b.types[i]);
        }
        if (!any) {
          if (it.e->a.empty()) raise(err::SyntaxError, "*");
          unknown.insert(it.e->a + ".*");
        }
        continue;
      }
      Emitted x = expr(*it.e, sc);
      std::string name = it.alias;
      if (name.empty()) name = it.e->k == EK::Column && x.column ? it.e->b : "Expr" + std::to_string(1000 + exprNo++);
      if (name == it.e->b && x.column && it.e->k == EK::Column) {
        // The real spelling of the column.
        size_t dot = x.sql.rfind("\".\"");
        std::string real = dot == std::string::npos ? x.sql : x.sql.substr(dot + 2);
        if (real.size() >= 2) name = real.substr(1, real.size() - 2);
        std::string un;
        for (size_t i = 0; i < name.size(); ++i) {
          un += name[i];
          if (name[i] == '"' && i + 1 < name.size() && name[i + 1] == '"') ++i;
        }
        name = un;
      }
      addItem(x.sql, name, x.ty);
    }
    std::string tail = from;
    if (s.where) tail += " WHERE " + cond(*s.where, sc);
    if (!s.groupBy.empty()) {
      tail += " GROUP BY ";
      for (size_t i = 0; i < s.groupBy.size(); ++i) {
        Emitted g = expr(*s.groupBy[i], sc);
        tail += (i ? ", " : "") + g.sql + (g.ty != Ty::Num ? " COLLATE JETNOCASE" : "");
      }
    }
    if (s.having) tail += " HAVING " + cond(*s.having, sc);
    std::string sql = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + items + tail;
    std::string order, limit;
    bool orderByTerms = true;  // every term an expression over the sources
    usedAlias_ = false;
    for (const auto& o : s.orderBy) {
      Emitted x = expr(*o.e, sc);
      std::string term = x.sql;
      if (o.e->k == EK::Num) {
        term = o.e->a;  // a column number
        orderByTerms = false;
      }
      order += (order.empty() ? "" : ", ") + term + (o.desc ? " DESC" : "");
    }
    orderByTerms = orderByTerms && !usedAlias_;
    // Jet's "top n" keeps every record tied with the n-th on the order-by terms:
    // the records ranked n or better. (A distinct select, a union member, or an
    // order by result names or numbers keeps a plain limit.)
    if (s.top >= 0 && !s.percent && !order.empty() && orderByTerms && !wrapTop && !distinct && distinctNames(*names)) {
      std::string cols;
      for (const auto& n : *names) cols += (cols.empty() ? "" : ", ") + qi(n);
      sql = "SELECT " + cols + " FROM (SELECT " + items + ", RANK() OVER (ORDER BY " + order + ") AS \"_jet_rank\"" + tail +
            ") WHERE \"_jet_rank\" <= " + std::to_string(s.top);
      lastOrder_ = "\"_jet_rank\"";
      lastLimit_.clear();
      return sql;
    }
    if (s.top >= 0) {
      if (s.percent) {
        limit = " LIMIT (SELECT CAST((COUNT(*) * " + std::to_string(s.top) + " + 99) / 100 AS INTEGER) FROM (" + sql + "))";
      } else {
        limit = " LIMIT " + std::to_string(s.top);
      }
    }
    if (wrapTop && !limit.empty()) {
      // In a union the limit binds to its own select.
      sql = "SELECT * FROM (" + sql + limit + ")";
      limit.clear();
    }
    lastOrder_ = order;
    lastLimit_ = limit;
    return sql;
  }

  static bool distinctNames(const std::vector<std::string>& names) {
    std::set<std::string> seen;
    for (const auto& n : names)
      if (!seen.insert(text::foldName(n)).second) return false;
    return true;
  }

  // transform AGG select … group by … pivot P [in (…)]
  std::string crosstab(const Select& s, Scope& sc, const std::string& from, std::vector<std::string>* names, std::vector<Ty>* types) {
    const Expr& agg = *s.transformAgg;
    if (agg.k != EK::Func || !findFunction(agg.a) || !findFunction(agg.a)->aggregate || agg.args.size() != 1)
      raise(err::SyntaxError, "TRANSFORM");
    std::string items;
    for (const auto& it : s.items) {
      Emitted x = expr(*it.e, sc);
      std::string name = it.alias.empty() ? (it.e->k == EK::Column ? it.e->b : "Expr" + std::to_string(1000 + names->size())) : it.alias;
      items += (items.empty() ? "" : ", ") + x.sql + " AS " + qi(name);
      names->push_back(name);
      types->push_back(x.ty);
    }
    std::string where = s.where ? " WHERE " + cond(*s.where, sc) : "";
    Emitted p = expr(*s.pivot, sc);
    std::vector<std::pair<std::string, std::string>> values;  // literal, heading
    if (!s.pivotIn.empty()) {
      for (const auto& v : s.pivotIn) {
        Emitted x = expr(*v, sc);
        values.emplace_back(x.sql, x.literal ? x.literalText : v->a);
      }
    } else {
      cacheable = false;  // the headings come from the data
      std::string q = "SELECT DISTINCT " + p.sql + from + where + " ORDER BY 1";
      sqlite3* c = Workspace::get().connection();
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) != SQLITE_OK)
        raiseSqlite(c, SQLITE_ERROR, "TRANSFORM");
      while (sqlite3_step(st) == SQLITE_ROW) {
        int t = sqlite3_column_type(st, 0);
        if (t == SQLITE_NULL) {
          values.emplace_back("NULL", "<>");
        } else if (t == SQLITE_TEXT) {
          std::string v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
          values.emplace_back(qs(v), v);
        } else {
          double d = sqlite3_column_double(st, 0);
          std::string v = text::formatNumber(d);
          values.emplace_back(v, v);
        }
      }
      sqlite3_finalize(st);
    }
    const Function* f = findFunction(agg.a);
    std::string arg = agg.args[0]->k == EK::Star ? "1" : expr(*agg.args[0], sc).sql;
    for (const auto& [lit, head] : values) {
      std::string test = lit == "NULL" ? p.sql + " IS NULL" : p.sql + " = " + lit;
      items += (items.empty() ? "" : ", ") + std::string(f->sql) + "(CASE WHEN " + test + " THEN " + arg + " END) AS " + qi(head);
      names->push_back(head);
      types->push_back(Ty::Unknown);
    }
    std::string sql = "SELECT " + items + from + where;
    if (!s.groupBy.empty()) {
      sql += " GROUP BY ";
      for (size_t i = 0; i < s.groupBy.size(); ++i) sql += (i ? ", " : "") + expr(*s.groupBy[i], sc).sql;
    }
    lastOrder_.clear();
    for (const auto& o : s.orderBy)
      lastOrder_ += (lastOrder_.empty() ? "" : ", ") + expr(*o.e, sc).sql + (o.desc ? " DESC" : "");
    lastLimit_.clear();
    return sql;
  }

  // A value written into a column: numbers stored into text columns are written as Jet writes them.
  static std::string into(const Emitted& v, Ty target) {
    if (target == Ty::Text && v.ty != Ty::Text) return "jet_totext(" + v.sql + ")";
    return v.sql;
  }

  JetStatement statement(const Statement& st) {
    JetStatement out;
    using K = Statement::Kind;
    switch (st.kind) {
      case K::Select: {
        const Select& s = *st.select;
        std::vector<Ty> types;
        std::string sql = select(s, nullptr, &out.columns, &types);
        checkUnknown();
        if (s.into.empty()) {
          out.kind = JetStatement::Kind::Select;
          out.sql = sql;
          return out;
        }
        if (!db_->resolveTable(s.into).empty())
          raise(err::TableExists, s.into);
        out.kind = JetStatement::Kind::MakeTable;
        out.table = s.into;
        out.sql = "CREATE TABLE " + qi(db_->alias()) + "." + qi(s.into) + " AS " + sql;
        return out;
      }
      case K::Insert: {
        Bound t = bindTable(st.table, "");
        std::vector<int> target;
        auto targetOf = [&](const std::string& c) {
          int i = t.find(c);
          if (i < 0) raise(err::UnknownInsertField, c);
          return i;
        };
        for (const auto& c : st.columns) target.push_back(targetOf(c));
        std::string cols;
        Scope empty;
        std::string body;
        if (st.select) {
          std::vector<std::string> names;
          std::vector<Ty> types;
          body = select(*st.select, nullptr, &names, &types);
          if (target.empty())
            for (const auto& n : names) target.push_back(targetOf(n));
          if (target.size() != names.size())
            raise(err::ValueCountMismatch);
          // Numbers written into text columns.
          bool wrap = false;
          for (size_t i = 0; i < target.size(); ++i)
            if (t.types[static_cast<size_t>(target[i])] == Ty::Text && types[i] != Ty::Text) wrap = true;
          if (wrap) {
            std::string sel;
            for (size_t i = 0; i < target.size(); ++i) {
              std::string c = "\"_src\"." + qi(names[i]);
              bool toText = t.types[static_cast<size_t>(target[i])] == Ty::Text && types[i] != Ty::Text;
              sel += (i ? ", " : "") + (toText ? "jet_totext(" + c + ")" : c);
            }
            body = "SELECT " + sel + " FROM (" + body + ") AS \"_src\"";
          }
        } else {
          if (target.empty())
            for (size_t i = 0; i < t.cols.size(); ++i) target.push_back(static_cast<int>(i));
          for (const auto& row : st.values) {
            if (row.size() != target.size()) raise(err::ValueCountMismatch);
            std::string vals;
            for (size_t i = 0; i < row.size(); ++i)
              vals += (i ? ", " : "") + into(expr(*row[i], empty), t.types[static_cast<size_t>(target[i])]);
            body += (body.empty() ? "VALUES (" : ", (") + vals + ")";
          }
        }
        checkUnknown();
        for (size_t i = 0; i < target.size(); ++i) cols += (i ? ", " : "") + qi(t.cols[static_cast<size_t>(target[i])]);
        std::string q = t.from.substr(0, t.from.rfind(" AS "));
        out.kind = JetStatement::Kind::Insert;
        out.sql = "INSERT INTO " + q + " (" + cols + ") " + body;
        return out;
      }
      case K::Update: {
        Scope sc;
        bindSources(st.from, sc);
        if (sc.b.empty()) raise(err::SyntaxInUpdate);
        // The table written is the one of the first column set.
        int targetIdx = -1;
        std::vector<std::pair<std::string, std::string>> sets;
        for (const auto& [lhs, rhs] : st.sets) {
          Emitted l = column(*lhs, sc);
          if (!unknown.empty()) break;
          std::string al = l.sql.substr(0, l.sql.find("\".\"") + 1);
          int idx = -1;
          for (size_t i = 0; i < sc.b.size(); ++i)
            if (qi(sc.b[i].sqlAlias) == al) idx = static_cast<int>(i);
          if (targetIdx < 0) targetIdx = idx;
          if (idx != targetIdx || idx < 0) raise(err::NotUpdatable);
          Emitted r = expr(*rhs, sc);
          sets.emplace_back(l.sql.substr(l.sql.find("\".\"") + 2), into(r, l.ty));
        }
        checkUnknown();
        const Bound& tb = sc.b[static_cast<size_t>(targetIdx)];
        std::string setText;
        for (const auto& [c, v] : sets) setText += (setText.empty() ? "" : ", ") + c + " = " + v;
        std::string where = st.where ? cond(*st.where, sc) : "";
        std::string sql = "UPDATE " + tb.from + " SET " + setText;
        if (sc.b.size() > 1) {
          // The other tables and the join conditions.
          std::string others, ons;
          for (size_t i = 0; i < sc.b.size(); ++i)
            if (static_cast<int>(i) != targetIdx) others += (others.empty() ? "" : ", ") + sc.b[i].from;
          collectOn(st.from, sc, ons);
          sql += " FROM " + others;
          std::string w = ons;
          if (!where.empty()) w += (w.empty() ? "" : " AND ") + where;
          if (!w.empty()) sql += " WHERE " + w;
        } else if (!where.empty()) {
          sql += " WHERE " + where;
        }
        checkUnknown();
        out.kind = JetStatement::Kind::Update;
        out.sql = sql;
        return out;
      }
      case K::Delete: {
        Scope sc;
        bindSources(st.from, sc);
        std::string where = st.where ? cond(*st.where, sc) : "";
        checkUnknown();
        out.kind = JetStatement::Kind::Delete;
        if (sc.b.size() == 1) {
          out.sql = "DELETE FROM " + sc.b[0].from + (where.empty() ? "" : " WHERE " + where);
          return out;
        }
        const Bound* tb = &sc.b[0];
        if (!st.deleteTarget.empty()) {
          tb = nullptr;
          std::string k = text::foldName(st.deleteTarget);
          for (const auto& b : sc.b)
            if (b.key == k) tb = &b;
          if (!tb) noTable(st.deleteTarget);
        }
        std::string q = tb->from.substr(0, tb->from.rfind(" AS "));
        out.sql = "DELETE FROM " + q + " WHERE rowid IN (SELECT " + qi(tb->sqlAlias) + ".rowid FROM " + fromList(st.from, sc) +
                  (where.empty() ? "" : " WHERE " + where) + ")";
        checkUnknown();
        return out;
      }
      case K::CreateTable: {
        if (!db_->resolveTable(st.def.name).empty())
          raise(err::TableExists, st.def.name);
        out.kind = JetStatement::Kind::CreateTable;
        out.def = st.def;
        out.table = st.def.name;
        for (const auto& ix : out.def.indexes)
          for (const auto& f : ix.fields) {
            bool ok = false;
            for (const auto& fd : out.def.fields) ok = ok || text::foldName(fd.name) == text::foldName(f);
            if (!ok) raise(err::NoSuchField, f);
          }
        return out;
      }
      case K::AlterAdd:
      case K::AlterDrop:
      case K::AlterAddConstraint:
      case K::CreateIndex:
      case K::DropTable:
      case K::DropIndex: {
        Bound t = bindTable(st.table, "");
        std::string schemaTable = t.from.substr(0, t.from.rfind(" AS "));
        std::string schema = schemaTable.substr(0, schemaTable.find("\".\"") + 1);
        out.table = db_->shape(st.table).name;
        if (st.kind == K::AlterAdd) {
          if (t.find(st.field.name) >= 0) raise(err::ObjectExists, st.field.name);
          out.kind = JetStatement::Kind::AddColumn;
          out.field = st.field;
        } else if (st.kind == K::AlterDrop) {
          int i = t.find(st.field.name);
          if (i < 0) raise(err::NoSuchField, st.field.name);
          out.kind = JetStatement::Kind::DropColumn;
          out.sql = "ALTER TABLE " + schemaTable + " DROP COLUMN " + qi(t.cols[static_cast<size_t>(i)]);
        } else if (st.kind == K::DropTable) {
          out.kind = JetStatement::Kind::DropTable;
        } else if (st.kind == K::DropIndex) {
          bool found = false;
          for (const auto& ix : db_->indexes(out.table)) found = found || ix.name == st.index.name;
          if (!found) raise(err::NoSuchField, st.index.name);
          out.kind = JetStatement::Kind::DropIndex;
          out.sql = "DROP INDEX " + schema + "." + qi(out.table + "." + st.index.name);
        } else {
          out.kind = JetStatement::Kind::CreateIndex;
          out.index = st.index;
          for (auto& f : out.index.fields) {
            int i = t.find(f);
            if (i < 0) raise(err::NoSuchField, f);
            f = t.cols[static_cast<size_t>(i)];
          }
        }
        return out;
      }
    }
    return out;
  }

  void collectOn(const std::vector<SourceP>& from, const Scope& sc, std::string& out) {
    for (const auto& s : from) collectOn(*s, sc, out);
  }
  void collectOn(const Source& s, const Scope& sc, std::string& out) {
    if (s.kind != Source::Kind::Join) return;
    collectOn(*s.left, sc, out);
    collectOn(*s.right, sc, out);
    out += (out.empty() ? "" : " AND ") + cond(*s.on, sc);
  }

 private:
  Database* db_;
  const std::vector<std::string>* crit_;
  int subCount_ = 0;
  std::string lastOrder_, lastLimit_;
  bool usedAlias_ = false;  // a name resolved to a result column of its select
};

struct Cache {
  std::mutex m;
  uint64_t gen = 0;
  std::unordered_map<std::string, std::shared_ptr<const JetStatement>> map;
};

Cache& cache() {
  static Cache c;
  return c;
}

}  // namespace

std::shared_ptr<const JetStatement> translateJet(const std::string& sql, Database& db) {
  auto& ws = Workspace::get();
  std::string key = db.alias() + '\x1f' + sql;
  Cache& c = cache();
  {
    std::lock_guard<std::mutex> lock(c.m);
    if (c.gen != ws.schemaGeneration()) {
      c.map.clear();
      c.gen = ws.schemaGeneration();
    }
    auto it = c.map.find(key);
    if (it != c.map.end()) return it->second;
  }
  auto tree = jet::parse(sql);
  Emitter em(&db, nullptr);
  auto st = std::make_shared<JetStatement>(em.statement(*tree));
  if (em.cacheable) {
    std::lock_guard<std::mutex> lock(c.m);
    if (c.gen == ws.schemaGeneration()) {
      if (c.map.size() > 2000) c.map.clear();
      c.map.emplace(key, st);
    }
  }
  return st;
}

std::string translateJetCriteria(const std::string& criteria, const std::vector<std::string>& columns) {
  auto e = jet::parseExpression(criteria);
  Emitter em(nullptr, &columns);
  Scope sc;
  std::string r = em.cond(*e, sc);
  em.checkUnknown();
  return r;
}

std::string translateJetSql(const std::string& sql, Database& db) { return translateJet(sql, db)->sql; }

}  // namespace velmo::db
