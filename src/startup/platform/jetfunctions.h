// The Jet functions a statement may call, and the SQLite function each becomes.
#pragma once
#include <string>

namespace velmo::db::jet {

struct Function {
  const char* name;   // Jet name, lower case, without "$"
  const char* sql;    // SQLite function registered on the connection (or built in)
  int minArgs, maxArgs;
  bool aggregate;
  char type;          // 'T' text, 'N' number, '?' as its argument
};

// The function of a lower-case Jet name, or null when Jet has no such function.
const Function* findFunction(const std::string& name);

// Folds a text for comparisons the way Jet compares: ASCII letters and full-width
// letters, digits and symbols fold to lower-case ASCII.
std::string foldForCompare(const std::string& s);
// True when folding can change the text (it holds letters or full-width forms).
bool foldable(const std::string& s);

}  // namespace velmo::db::jet
