// The settings screen's "接続テスト": connects to the server of a Mirror value
// and says what went wrong (never quoting the password).
#pragma once
#include <string>

#include "mirror/pgconnection.h"

namespace velmo::mirror {

struct ConnectionTestResult {
  bool ok = false;
  ConnectProblem problem = ConnectProblem::None;
  std::string message;  // for a message box
};

ConnectionTestResult TestConnection(const std::string& conninfo, double seconds = 5);

}  // namespace velmo::mirror
