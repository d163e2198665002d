// Jet statements into a tree: a small lexer and a recursive-descent parser.
#include <cstdlib>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "startup/platform/errortable.h"
#include "startup/platform/jetast.h"

namespace velmo::db::jet {

Expr::~Expr() {
  std::vector<ExprP> pending;
  for (auto& a : args) pending.push_back(std::move(a));
  while (!pending.empty()) {
    ExprP e = std::move(pending.back());
    pending.pop_back();
    for (auto& a : e->args) pending.push_back(std::move(a));
    e->args.clear();
  }
}

namespace {

enum class T { Name, Bracket, Str, Date, Num, Op, End };

struct Tok {
  T kind;
  std::string text;
  std::string lower;  // bare names and operators in lower case
};

bool identStart(unsigned char c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool identChar(unsigned char c) { return identStart(c) || (c >= '0' && c <= '9') || c == '$'; }

[[noreturn]] void syntax(long number, const std::string& near) {
  if (number == err::SyntaxError || number == err::InvalidStatement || number == err::CharactersAfterEnd) raise(number, near);
  raise(number, near.empty() ? std::string() : " ('" + near + "' の付近)");
}

std::vector<Tok> lex(const std::string& s) {
  std::vector<Tok> out;
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == 0xE3 && i + 2 < n && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
               static_cast<unsigned char>(s[i + 2]) == 0x80) {
      i += 3;  // an ideographic space between words
    } else if (c == '\'' || c == '"') {
      char q = static_cast<char>(c);
      std::string v;
      ++i;
      bool closed = false;
      while (i < n) {
        if (s[i] == q) {
          if (i + 1 < n && s[i + 1] == q) {
            v += q;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        v += s[i++];
      }
      if (!closed) syntax(err::SyntaxError, std::string(1, q) + v);
      out.push_back({T::Str, v, ""});
    } else if (c == '[') {
      size_t e = s.find(']', i);
      if (e == std::string::npos) syntax(err::SyntaxError, s.substr(i));
      out.push_back({T::Bracket, s.substr(i + 1, e - i - 1), ""});
      i = e + 1;
    } else if (c == '#') {
      size_t e = s.find('#', i + 1);
      if (e == std::string::npos) syntax(err::SyntaxError, s.substr(i));
      out.push_back({T::Date, text::trimBlanks(s.substr(i + 1, e - i - 1)), ""});
      i = e + 1;
    } else if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9')) {
      size_t b = i;
      while (i < n && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.')) ++i;
      if (i < n && (s[i] == 'e' || s[i] == 'E') && i + 1 < n &&
          ((s[i + 1] >= '0' && s[i + 1] <= '9') || ((s[i + 1] == '-' || s[i + 1] == '+') && i + 2 < n && s[i + 2] >= '0' && s[i + 2] <= '9'))) {
        i += 2;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
      }
      if (i < n && identStart(static_cast<unsigned char>(s[i]))) {
        // A name such as 1着賞金 starts with digits.
        while (i < n && identChar(static_cast<unsigned char>(s[i]))) ++i;
        std::string t = s.substr(b, i - b);
        out.push_back({T::Name, t, text::toLowerAscii(t)});
      } else {
        out.push_back({T::Num, s.substr(b, i - b), ""});
      }
    } else if (identStart(c)) {
      size_t b = i;
      while (i < n && identChar(static_cast<unsigned char>(s[i]))) {
        // Stop at an ideographic space.
        if (static_cast<unsigned char>(s[i]) == 0xE3 && i + 2 < n && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
            static_cast<unsigned char>(s[i + 2]) == 0x80)
          break;
        ++i;
      }
      std::string t = s.substr(b, i - b);
      out.push_back({T::Name, t, text::toLowerAscii(t)});
    } else {
      if (i + 1 < n) {
        std::string two = s.substr(i, 2);
        if (two == "<>" || two == "<=" || two == ">=" || two == "!=") {
          out.push_back({T::Op, two == "!=" ? "<>" : two, two == "!=" ? "<>" : two});
          i += 2;
          continue;
        }
      }
      std::string one(1, static_cast<char>(c));
      if (std::string("=<>+-*/\\&^(),.;!").find(static_cast<char>(c)) == std::string::npos) syntax(err::SyntaxError, one);
      out.push_back({T::Op, one, one});
      ++i;
    }
  }
  out.push_back({T::End, "", ""});
  return out;
}

bool reserved(const std::string& w) {
  static const char* const words[] = {"select", "from",   "where",  "and",   "or",     "not",    "as",    "on",
                                      "inner",  "left",   "right",  "outer", "join",   "group",  "by",    "order",
                                      "having", "union",  "into",   "values", "set",   "in",     "between", "like",
                                      "is",     "xor",    "mod",    "eqv",   "imp",    "distinct", "distinctrow",
                                      "top",    "all",    "asc",    "desc",  "pivot",  "transform", "exists"};
  for (const char* k : words)
    if (w == k) return true;
  return false;
}

class Parser {
 public:
  explicit Parser(const std::string& sql) : t_(lex(sql)) {}

  std::unique_ptr<Statement> statement() {
    auto st = std::make_unique<Statement>();
    const std::string& w = peek().lower;
    if (isWord("select") || isWord("transform") || isOp("(")) {
      st->kind = Statement::Kind::Select;
      st->select = isWord("transform") ? transform() : selectWithUnion();
    } else if (w == "insert") {
      insertStmt(*st);
    } else if (w == "update") {
      updateStmt(*st);
    } else if (w == "delete") {
      deleteStmt(*st);
    } else if (w == "create") {
      createStmt(*st);
    } else if (w == "alter") {
      alterStmt(*st);
    } else if (w == "drop") {
      dropStmt(*st);
    } else {
      syntax(err::InvalidStatement, peek().text);
    }
    finish();
    return st;
  }

  ExprP criteria() {
    ExprP e = expr();
    if (peek().kind != T::End) syntax(err::SyntaxError, peek().text);
    return e;
  }

 private:
  std::vector<Tok> t_;
  size_t p_ = 0;
  int depth_ = 0;

  // One level of nesting for the length of a scope; past the limit the
  // statement is refused before the stack runs out.
  struct Nest {
    explicit Nest(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxExpressionDepth) raise(err::QueryTooComplex);
    }
    ~Nest() { --p_.depth_; }
    Parser& p_;
  };

  const Tok& peek(size_t k = 0) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
  const Tok& next() { return t_[p_ < t_.size() - 1 ? p_++ : p_]; }
  bool isWord(const char* w, size_t k = 0) const { return peek(k).kind == T::Name && peek(k).lower == w; }
  bool isOp(const char* o, size_t k = 0) const { return peek(k).kind == T::Op && peek(k).text == o; }
  bool takeWord(const char* w) {
    if (!isWord(w)) return false;
    ++p_;
    return true;
  }
  bool takeOp(const char* o) {
    if (!isOp(o)) return false;
    ++p_;
    return true;
  }
  void needWord(const char* w, long errNo = err::SyntaxError) {
    if (!takeWord(w)) syntax(errNo, peek().text);
  }
  void needOp(const char* o, long errNo = err::SyntaxError) {
    if (!takeOp(o)) syntax(errNo, peek().text);
  }
  // One statement: a trailing ";" is fine, anything after it is not.
  void finish() {
    if (takeOp(";")) {
      if (peek().kind != T::End) syntax(err::CharactersAfterEnd, peek().text);
      return;
    }
    if (peek().kind != T::End) syntax(err::SyntaxError, peek().text);
  }
  // A table, column or alias name.
  std::string name(long errNo = err::SyntaxError) {
    const Tok& k = peek();
    if (k.kind == T::Bracket || (k.kind == T::Name && !reserved(k.lower))) {
      ++p_;
      return k.text;
    }
    syntax(errNo, k.text);
  }
  bool atName() const { return peek().kind == T::Bracket || (peek().kind == T::Name && !reserved(peek().lower)); }

  // ---- select ----
  std::unique_ptr<Select> selectWithUnion() {
    Nest nest(*this);
    std::unique_ptr<Select> first;
    if (takeOp("(")) {
      first = selectWithUnion();
      needOp(")");
    } else {
      first = selectCore();
    }
    Select* last = first.get();
    while (takeWord("union")) {
      last->unionAll = takeWord("all");
      if (takeOp("(")) {
        last->unionNext = selectWithUnion();
        needOp(")");
      } else {
        last->unionNext = selectCore();
      }
      last = last->unionNext.get();
      while (last->unionNext) last = last->unionNext.get();
    }
    if (isWord("order") && isWord("by", 1)) {
      p_ += 2;
      first->orderBy = orderList();
    }
    return first;
  }

  std::vector<OrderItem> orderList() {
    std::vector<OrderItem> r;
    do {
      OrderItem o;
      o.e = expr();
      if (takeWord("desc")) o.desc = true;
      else takeWord("asc");
      r.push_back(std::move(o));
    } while (takeOp(","));
    return r;
  }

  std::unique_ptr<Select> selectCore() {
    needWord("select");
    auto s = std::make_unique<Select>();
    for (;;) {
      if (takeWord("distinct")) s->distinct = true;
      else if (takeWord("distinctrow")) s->distinctRow = true;
      else if (takeWord("all")) {
      } else if (isWord("top") && peek(1).kind == T::Num) {
        ++p_;
        s->top = std::atol(next().text.c_str());
        if (takeWord("percent")) s->percent = true;
      } else {
        break;
      }
    }
    do {
      SelItem it;
      it.e = expr();
      if (takeWord("as")) it.alias = name();
      s->items.push_back(std::move(it));
    } while (takeOp(","));
    if (takeWord("into")) s->into = name();
    if (takeWord("from")) s->from = sourceList();
    if (takeWord("where")) s->where = expr();
    if (isWord("group") && isWord("by", 1)) {
      p_ += 2;
      do s->groupBy.push_back(expr());
      while (takeOp(","));
    }
    if (takeWord("having")) s->having = expr();
    return s;
  }

  std::unique_ptr<Select> transform() {
    needWord("transform");
    ExprP agg = expr();
    // The aggregate may carry a name ("transform count(*) as n"); the pivoted
    // columns are named by their headings, so the name is not used.
    if (takeWord("as")) name();
    auto s = selectCore();
    s->transformAgg = std::move(agg);
    if (isWord("order") && isWord("by", 1)) {
      p_ += 2;
      s->orderBy = orderList();
    }
    needWord("pivot");
    s->pivot = catExpr();
    if (takeWord("in")) {
      needOp("(");
      do s->pivotIn.push_back(expr());
      while (takeOp(","));
      needOp(")");
    }
    return s;
  }

  std::vector<SourceP> sourceList() {
    std::vector<SourceP> r;
    do r.push_back(joined());
    while (takeOp(","));
    return r;
  }

  SourceP joined() {
    SourceP left = sourcePrimary();
    for (;;) {
      std::string type;
      if (isWord("inner") && isWord("join", 1)) {
        type = "inner";
        p_ += 2;
      } else if ((isWord("left") || isWord("right")) && (isWord("join", 1) || (isWord("outer", 1) && isWord("join", 2)))) {
        type = peek().lower;
        p_ += isWord("outer", 1) ? 3 : 2;
      } else if (isWord("join")) {
        syntax(err::SyntaxInFrom, "join");  // Jet wants the kind of join
      } else {
        break;
      }
      auto j = std::make_unique<Source>();
      j->kind = Source::Kind::Join;
      j->joinType = type;
      j->left = std::move(left);
      j->right = sourcePrimary();
      needWord("on", err::SyntaxInFrom);
      j->on = expr();
      left = std::move(j);
    }
    return left;
  }

  SourceP sourcePrimary() {
    auto s = std::make_unique<Source>();
    if (takeOp("(")) {
      Nest nest(*this);
      if (isWord("select")) {
        s->kind = Source::Kind::Sub;
        s->sub = selectWithUnion();
        needOp(")", err::SyntaxInFrom);
      } else {
        s = joined();
        needOp(")", err::SyntaxInFrom);
        return s;
      }
    } else {
      s->name = name(err::SyntaxInFrom);
      // Jet also writes a database-qualified name as [file].[table]; only plain names here.
    }
    if (takeWord("as")) s->alias = name(err::SyntaxInFrom);
    else if (atName()) s->alias = name(err::SyntaxInFrom);
    return s;
  }

  // ---- expressions ----
  ExprP bin(const std::string& op, ExprP l, ExprP r) {
    auto e = std::make_unique<Expr>(EK::Binary);
    e->a = op;
    e->args.push_back(std::move(l));
    e->args.push_back(std::move(r));
    return e;
  }

  ExprP expr() {
    Nest nest(*this);
    return orExpr();
  }
  ExprP orExpr() {
    ExprP l = xorExpr();
    while (takeWord("or")) l = bin("or", std::move(l), xorExpr());
    return l;
  }
  ExprP xorExpr() {
    ExprP l = andExpr();
    while (takeWord("xor")) l = bin("xor", std::move(l), andExpr());
    return l;
  }
  ExprP andExpr() {
    ExprP l = notExpr();
    while (takeWord("and")) l = bin("and", std::move(l), notExpr());
    return l;
  }
  ExprP notExpr() {
    if (takeWord("not")) {
      Nest nest(*this);
      auto e = std::make_unique<Expr>(EK::Unary);
      e->a = "not";
      e->args.push_back(notExpr());
      return e;
    }
    return cmpExpr();
  }
  ExprP cmpExpr() {
    ExprP l = catExpr();
    for (;;) {
      const Tok& k = peek();
      if (k.kind == T::Op && (k.text == "=" || k.text == "<>" || k.text == "<" || k.text == ">" || k.text == "<=" || k.text == ">=")) {
        std::string op = next().text;
        l = bin(op, std::move(l), catExpr());
        continue;
      }
      bool neg = false;
      if (isWord("not") && (isWord("like", 1) || isWord("between", 1) || isWord("in", 1))) {
        neg = true;
        ++p_;
      }
      if (takeWord("like")) {
        auto e = std::make_unique<Expr>(EK::Like);
        e->negated = neg;
        e->args.push_back(std::move(l));
        e->args.push_back(catExpr());
        l = std::move(e);
      } else if (takeWord("between")) {
        auto e = std::make_unique<Expr>(EK::Between);
        e->negated = neg;
        e->args.push_back(std::move(l));
        e->args.push_back(catExpr());
        needWord("and");
        e->args.push_back(catExpr());
        l = std::move(e);
      } else if (takeWord("in")) {
        needOp("(");
        if (isWord("select")) {
          auto e = std::make_unique<Expr>(EK::InSelect);
          e->negated = neg;
          e->args.push_back(std::move(l));
          e->sub = selectWithUnion();
          l = std::move(e);
        } else {
          auto e = std::make_unique<Expr>(EK::In);
          e->negated = neg;
          e->args.push_back(std::move(l));
          do e->args.push_back(expr());
          while (takeOp(","));
          l = std::move(e);
        }
        needOp(")");
      } else if (takeWord("is")) {
        auto e = std::make_unique<Expr>(EK::IsNull);
        e->negated = takeWord("not");
        if (!isWord("null")) syntax(err::SyntaxError, peek().text);
        ++p_;
        e->args.push_back(std::move(l));
        l = std::move(e);
      } else {
        if (neg) syntax(err::SyntaxError, "not");
        return l;
      }
    }
  }
  ExprP catExpr() {
    ExprP l = addExpr();
    while (takeOp("&")) l = bin("&", std::move(l), addExpr());
    return l;
  }
  ExprP addExpr() {
    ExprP l = modExpr();
    for (;;) {
      if (takeOp("+")) l = bin("+", std::move(l), modExpr());
      else if (takeOp("-")) l = bin("-", std::move(l), modExpr());
      else return l;
    }
  }
  ExprP modExpr() {
    ExprP l = idivExpr();
    while (takeWord("mod")) l = bin("mod", std::move(l), idivExpr());
    return l;
  }
  ExprP idivExpr() {
    ExprP l = mulExpr();
    while (takeOp("\\")) l = bin("\\", std::move(l), mulExpr());
    return l;
  }
  ExprP mulExpr() {
    ExprP l = negExpr();
    for (;;) {
      if (takeOp("*")) l = bin("*", std::move(l), negExpr());
      else if (takeOp("/")) l = bin("/", std::move(l), negExpr());
      else return l;
    }
  }
  ExprP negExpr() {
    if (takeOp("-")) {
      Nest nest(*this);
      auto e = std::make_unique<Expr>(EK::Unary);
      e->a = "-";
      e->args.push_back(negExpr());
      return e;
    }
    if (takeOp("+")) {
      Nest nest(*this);
      return negExpr();
    }
    return powExpr();
  }
  ExprP powExpr() {
    ExprP l = primary();
    while (takeOp("^")) l = bin("^", std::move(l), primary());
    return l;
  }

  ExprP primary() {
    const Tok k = peek();
    switch (k.kind) {
      case T::Num: {
        ++p_;
        auto e = std::make_unique<Expr>(EK::Num);
        e->a = k.text;
        return e;
      }
      case T::Str: {
        ++p_;
        auto e = std::make_unique<Expr>(EK::Str);
        e->a = k.text;
        return e;
      }
      case T::Date: {
        ++p_;
        auto e = std::make_unique<Expr>(EK::Func);
        e->a = "cdate";
        auto s = std::make_unique<Expr>(EK::Str);
        s->a = k.text;
        e->args.push_back(std::move(s));
        return e;
      }
      case T::Op:
        if (k.text == "(") {
          ++p_;
          if (isWord("select")) {
            auto e = std::make_unique<Expr>(EK::Sub);
            e->sub = selectWithUnion();
            needOp(")");
            return e;
          }
          ExprP e = expr();
          needOp(")");
          return e;
        }
        if (k.text == "*") {
          ++p_;
          return std::make_unique<Expr>(EK::Star);
        }
        syntax(err::SyntaxError, k.text);
      case T::Name:
        if (k.lower == "null") {
          ++p_;
          return std::make_unique<Expr>(EK::Null);
        }
        if (k.lower == "true" || k.lower == "false") {
          ++p_;
          auto e = std::make_unique<Expr>(EK::Bool);
          e->a = k.lower == "true" ? "-1" : "0";
          return e;
        }
        if (k.lower == "exists" && isOp("(", 1)) {
          p_ += 2;
          auto e = std::make_unique<Expr>(EK::Exists);
          e->sub = selectWithUnion();
          needOp(")");
          return e;
        }
        if (isOp("(", 1)) {
          p_ += 2;
          auto e = std::make_unique<Expr>(EK::Func);
          e->a = k.lower;
          if (!e->a.empty() && e->a.back() == '$') e->a.pop_back();
          if (!takeOp(")")) {
            do e->args.push_back(expr());
            while (takeOp(","));
            needOp(")");
          }
          return e;
        }
        if (reserved(k.lower)) syntax(err::SyntaxError, k.text);
        [[fallthrough]];
      case T::Bracket: {
        ++p_;
        std::string first = k.text;
        if ((isOp(".") || isOp("!"))) {
          ++p_;
          if (takeOp("*")) {
            auto e = std::make_unique<Expr>(EK::Star);
            e->a = first;
            return e;
          }
          auto e = std::make_unique<Expr>(EK::Column);
          e->a = first;
          e->b = name();
          e->bracketed = true;
          return e;
        }
        auto e = std::make_unique<Expr>(EK::Column);
        e->b = first;
        e->bracketed = k.kind == T::Bracket;
        return e;
      }
      default:
        syntax(err::SyntaxError, k.text);
    }
  }

  // ---- insert, update, delete ----
  void insertStmt(Statement& st) {
    st.kind = Statement::Kind::Insert;
    needWord("insert");
    needWord("into", err::SyntaxInInsert);
    st.table = name(err::SyntaxInInsert);
    if (isOp("(") && !isWord("select", 1)) {
      ++p_;
      do st.columns.push_back(name(err::SyntaxInInsert));
      while (takeOp(","));
      needOp(")", err::SyntaxInInsert);
    }
    if (takeWord("values")) {
      do {
        needOp("(", err::SyntaxInInsert);
        std::vector<ExprP> row;
        do row.push_back(expr());
        while (takeOp(","));
        needOp(")", err::SyntaxInInsert);
        st.values.push_back(std::move(row));
      } while (takeOp(","));  // several rows at once (beyond Jet, harmless)
    } else if (isWord("select") || isOp("(")) {
      st.select = selectWithUnion();
    } else {
      syntax(err::SyntaxInInsert, peek().text);
    }
  }

  void updateStmt(Statement& st) {
    st.kind = Statement::Kind::Update;
    needWord("update");
    st.from = sourceList();
    needWord("set", err::SyntaxInUpdate);
    do {
      ExprP target = primary();
      if (target->k != EK::Column) syntax(err::SyntaxInUpdate, target->b);
      needOp("=", err::SyntaxInUpdate);
      st.sets.emplace_back(std::move(target), expr());
    } while (takeOp(","));
    if (takeWord("where")) st.where = expr();
  }

  void deleteStmt(Statement& st) {
    st.kind = Statement::Kind::Delete;
    needWord("delete");
    if (takeOp("*")) {
    } else if (atName() && (isOp(".", 1) || isOp("!", 1)) && isOp("*", 2)) {
      st.deleteTarget = name();
      p_ += 2;
    }
    needWord("from", err::SyntaxInFrom);
    st.from = sourceList();
    if (takeWord("where")) st.where = expr();
  }

  // ---- definitions ----
  FieldInfo fieldDef(bool& notNull, bool& primary) {
    FieldInfo f;
    f.name = name(err::SyntaxInTableDef);
    if (peek().kind != T::Name) syntax(err::SyntaxInTableDef, peek().text);
    std::string ty = next().lower;
    if (ty == "text" || ty == "char" || ty == "varchar" || ty == "string" || ty == "nvarchar" || ty == "alphanumeric") {
      f.type = FieldType::Text;
    } else if (ty == "memo" || ty == "longtext" || ty == "note" || ty == "ntext") {
      f.type = FieldType::Memo;
    } else if (ty == "byte" || ty == "tinyint") {
      f.type = FieldType::Byte;
    } else if (ty == "short" || ty == "smallint" || ty == "integer2" || ty == "yesno" || ty == "bit" || ty == "logical") {
      f.type = FieldType::Integer;
    } else if (ty == "long" || ty == "int" || ty == "integer" || ty == "integer4" || ty == "counter" || ty == "autoincrement") {
      f.type = FieldType::Long;
    } else if (ty == "single" || ty == "real" || ty == "float4") {
      f.type = FieldType::Single;
    } else if (ty == "double" || ty == "float" || ty == "float8" || ty == "number" || ty == "numeric" || ty == "currency" ||
               ty == "money" || ty == "decimal") {
      f.type = FieldType::Double;
    } else if (ty == "datetime" || ty == "date" || ty == "time" || ty == "timestamp") {
      f.type = FieldType::Text;
      f.size = 19;
    } else {
      syntax(err::SyntaxInTableDef, ty);
    }
    if (takeOp("(")) {
      if (peek().kind != T::Num) syntax(err::SyntaxInTableDef, peek().text);
      int n = std::atoi(next().text.c_str());
      if (takeOp(",") && peek().kind == T::Num) ++p_;
      needOp(")", err::SyntaxInTableDef);
      if (f.type == FieldType::Text) f.size = n;
    }
    notNull = primary = false;
    for (;;) {
      if (isWord("not") && isWord("null", 1)) {
        p_ += 2;
        notNull = true;
      } else if (takeWord("null")) {
      } else if (isWord("primary") && isWord("key", 1)) {
        p_ += 2;
        primary = true;
      } else if (takeWord("unique")) {
      } else {
        break;
      }
    }
    return f;
  }

  std::vector<std::string> nameList() {
    std::vector<std::string> r;
    needOp("(", err::SyntaxInTableDef);
    do {
      r.push_back(name(err::SyntaxInTableDef));
      if (!takeWord("asc")) takeWord("desc");
    } while (takeOp(","));
    needOp(")", err::SyntaxInTableDef);
    return r;
  }

  // CONSTRAINT name PRIMARY KEY (cols) | UNIQUE (cols)
  IndexInfo constraint() {
    IndexInfo ix;
    ix.name = name(err::SyntaxInTableDef);
    if (isWord("primary") && isWord("key", 1)) {
      p_ += 2;
      ix.primary = ix.unique = ix.required = true;
    } else if (takeWord("unique")) {
      ix.unique = true;
    } else {
      syntax(err::SyntaxInTableDef, peek().text);
    }
    ix.fields = nameList();
    return ix;
  }

  void createStmt(Statement& st) {
    needWord("create");
    if (takeWord("table")) {
      st.kind = Statement::Kind::CreateTable;
      st.def.name = name(err::SyntaxInTableDef);
      needOp("(", err::SyntaxInTableDef);
      do {
        if (takeWord("constraint")) {
          st.def.indexes.push_back(constraint());
          continue;
        }
        bool notNull, primary;
        FieldInfo f = fieldDef(notNull, primary);
        if (primary) {
          IndexInfo ix;
          ix.name = "PrimaryKey";
          ix.primary = ix.unique = ix.required = true;
          ix.fields = {f.name};
          st.def.indexes.push_back(ix);
        }
        st.def.fields.push_back(f);
      } while (takeOp(","));
      needOp(")", err::SyntaxInTableDef);
      return;
    }
    st.kind = Statement::Kind::CreateIndex;
    bool unique = takeWord("unique");
    needWord("index", err::SyntaxInTableDef);
    st.index.name = name(err::SyntaxInTableDef);
    st.index.unique = unique;
    needWord("on", err::SyntaxInTableDef);
    st.table = name(err::SyntaxInTableDef);
    st.index.fields = nameList();
    if (takeWord("with")) {
      do {
        if (takeWord("primary")) st.index.primary = st.index.unique = st.index.required = true;
        else if (isWord("disallow") && isWord("null", 1)) {
          p_ += 2;
          st.index.required = true;
        } else if (isWord("ignore") && isWord("null", 1)) {
          p_ += 2;
          st.index.ignoreNulls = true;
        } else {
          syntax(err::SyntaxInTableDef, peek().text);
        }
      } while (!isOp(";") && peek().kind != T::End);
    }
  }

  void alterStmt(Statement& st) {
    needWord("alter");
    needWord("table", err::SyntaxInTableDef);
    st.table = name(err::SyntaxInTableDef);
    if (takeWord("add")) {
      if (takeWord("constraint")) {
        st.kind = Statement::Kind::AlterAddConstraint;
        st.index = constraint();
        return;
      }
      takeWord("column");
      st.kind = Statement::Kind::AlterAdd;
      bool notNull, primary;
      st.field = fieldDef(notNull, primary);
      return;
    }
    if (takeWord("drop")) {
      if (takeWord("constraint")) {
        st.kind = Statement::Kind::DropIndex;
        st.index.name = name(err::SyntaxInTableDef);
        return;
      }
      takeWord("column");
      st.kind = Statement::Kind::AlterDrop;
      st.field.name = name(err::SyntaxInTableDef);
      return;
    }
    syntax(err::SyntaxInTableDef, peek().text);
  }

  void dropStmt(Statement& st) {
    needWord("drop");
    if (takeWord("table")) {
      st.kind = Statement::Kind::DropTable;
      st.table = name(err::SyntaxInTableDef);
      return;
    }
    needWord("index", err::SyntaxInTableDef);
    st.kind = Statement::Kind::DropIndex;
    st.index.name = name(err::SyntaxInTableDef);
    needWord("on", err::SyntaxInTableDef);
    st.table = name(err::SyntaxInTableDef);
  }
};

}  // namespace

std::unique_ptr<Statement> parse(const std::string& sql) { return Parser(sql).statement(); }

ExprP parseExpression(const std::string& text) { return Parser(text).criteria(); }

}  // namespace velmo::db::jet
