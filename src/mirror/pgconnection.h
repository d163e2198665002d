// One connection to the server of the copy (libpq), with a time limit for the
// whole of its use: past the deadline its socket is shut, so that a stopped or
// slow server ends every call at once with an error instead of holding the
// command. The connection string is never part of a message; a password in it
// is blanked out of the server's and libpq's messages.
#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace velmo::mirror {

// What went wrong when connecting, for the settings screen's test.
enum class ConnectProblem { None, Setting, Unreachable, Authentication, NoDatabase, Other };

class MirrorError : public std::runtime_error {
 public:
  MirrorError(const std::string& what, ConnectProblem p = ConnectProblem::Other) : std::runtime_error(what), problem(p) {}
  ConnectProblem problem;
};

class PgConnection {
 public:
  // Connects; seconds <= 0: no time limit. Throws MirrorError.
  PgConnection(const std::string& conninfo, double seconds);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs statements that return no rows (or ignores them).
  void exec(const std::string& sql);
  // Runs a query; the rows as text (Null as an empty optional).
  std::vector<std::vector<std::string>> query(const std::string& sql, const std::vector<std::string>& params = {});
  // COPY … FROM STDIN: `produce` is called until it returns false; each call
  // appends data to the buffer it is given, which is then sent.
  void copyIn(const std::string& sql, const std::function<bool(std::string& buffer)>& produce);
  // COPY … TO STDOUT: each line (without its newline) to `line`.
  void copyOut(const std::string& sql, const std::function<void(std::string_view line)>& line);

  // "host=… port=… dbname=… user=…" of a connection string, without a password.
  static std::string describe(const std::string& conninfo);
  // A message with the password of the connection string blanked out.
  std::string clean(const std::string& message) const;

 private:
  [[noreturn]] void fail(const std::string& what, pg_result* r = nullptr);
  pg_conn* conn_ = nullptr;
  std::string password_;
  struct Watchdog;
  std::unique_ptr<Watchdog> watchdog_;
};

}  // namespace velmo::mirror
