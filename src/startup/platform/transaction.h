// A workspace transaction that rolls back unless it was committed.
#pragma once
#include "startup/platform/workspace.h"

namespace velmo::db {

class Transaction {
 public:
  explicit Transaction(Workspace& ws = Workspace::get()) : ws_(ws) {
    ws_.beginTrans();
    depth_ = ws_.transDepth();
  }
  ~Transaction() {
    if (committed_) return;
    try {
      // Only this transaction's level (and anything left open inside it).
      while (ws_.transDepth() >= depth_ && ws_.transDepth() > 0) ws_.rollback();
    } catch (...) {
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void commit() {
    ws_.commitTrans();
    committed_ = true;
  }
  void rollback() {
    committed_ = true;  // nothing left for the destructor
    ws_.rollback();
  }

 private:
  Workspace& ws_;
  int depth_ = 0;
  bool committed_ = false;
};

}  // namespace velmo::db
