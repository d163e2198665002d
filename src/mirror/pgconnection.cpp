#include "mirror/pgconnection.h"

#include <libpq-fe.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmo::mirror {

// Shuts the connection's socket when the deadline passes.
struct PgConnection::Watchdog {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  int fd = -1;
  std::thread thread;
  Watchdog(std::chrono::steady_clock::time_point deadline) {
    thread = std::thread([this, deadline] {
      std::unique_lock<std::mutex> l(mu);
      if (!cv.wait_until(l, deadline, [this] { return done; }) && fd >= 0) ::shutdown(fd, SHUT_RDWR);
    });
  }
  void watch(int socket) {
    std::lock_guard<std::mutex> l(mu);
    fd = socket;
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> l(mu);
      done = true;
    }
    cv.notify_all();
    thread.join();
  }
};

namespace {

ConnectProblem classify(const std::string& m) {
  auto has = [&m](const char* s) { return m.find(s) != std::string::npos; };
  if (has("password authentication failed") || has("no password supplied") || has("authentication failed") ||
      has("Peer authentication") || has("no pg_hba.conf entry") || has("role \"") )
    return ConnectProblem::Authentication;
  if (has("database \"") && has("does not exist")) return ConnectProblem::NoDatabase;
  if (has("could not connect") || has("Connection refused") || has("timeout expired") || has("could not translate host") ||
      has("No such file or directory") || has("Network is unreachable") || has("No route to host") ||
      has("server closed the connection"))
    return ConnectProblem::Unreachable;
  return ConnectProblem::Other;
}

std::string trimEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

struct Result {
  PGresult* r;
  explicit Result(PGresult* p) : r(p) {}
  ~Result() { PQclear(r); }
};

}  // namespace

PgConnection::PgConnection(const std::string& conninfo, double seconds) {
  char* err = nullptr;
  PQconninfoOption* opts = PQconninfoParse(conninfo.c_str(), &err);
  if (!opts) {
    // libpq's message may quote the string; only its kind is said.
    if (err) PQfreemem(err);
    throw MirrorError("接続先の設定(Mirror)を読み取れません。libpq の接続文字列か URI で書いてください。", ConnectProblem::Setting);
  }
  for (PQconninfoOption* o = opts; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val) password_ = o->val;
  PQconninfoFree(opts);
  if (const char* env = std::getenv("PGPASSWORD")) {
    if (password_.empty()) password_ = env;
  }
  int timeout = seconds > 0 ? std::max(1, static_cast<int>(seconds)) : 0;
  std::string t = std::to_string(timeout);
  const char* keys[] = {"dbname", "connect_timeout", "application_name", "client_encoding", nullptr};
  const char* vals[] = {conninfo.c_str(), timeout ? t.c_str() : nullptr, "velmo-mirror", "UTF8", nullptr};
  if (!timeout) keys[1] = "fallback_application_name";  // a harmless stand-in
  if (!timeout) vals[1] = "velmo";
  if (seconds > 0)
    watchdog_ = std::make_unique<Watchdog>(std::chrono::steady_clock::now() +
                                           std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
  conn_ = PQconnectdbParams(keys, vals, 1);
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    std::string m = conn_ ? trimEnd(PQerrorMessage(conn_)) : "out of memory";
    ConnectProblem p = classify(m);
    if (p == ConnectProblem::Other && !m.empty() && m.find("missing \"=\"") != std::string::npos) p = ConnectProblem::Setting;
    PQfinish(conn_);
    conn_ = nullptr;
    throw MirrorError(clean(m), p);
  }
  if (watchdog_) watchdog_->watch(PQsocket(conn_));
  exec("SET DateStyle = ISO; SET extra_float_digits = 1; SET client_min_messages = warning");
}

PgConnection::~PgConnection() {
  watchdog_.reset();
  if (conn_) PQfinish(conn_);
}

std::string PgConnection::clean(const std::string& message) const {
  std::string m = message;
  if (password_.size() >= 1)
    for (size_t p; (p = m.find(password_)) != std::string::npos;) m.replace(p, password_.size(), "********");
  return m;
}

void PgConnection::fail(const std::string& what, PGresult* r) {
  std::string m = r ? PQresultErrorMessage(r) : "";
  if (m.empty()) m = PQerrorMessage(conn_);
  if (PQstatus(conn_) != CONNECTION_OK && m.empty()) m = "サーバーとの接続が切れました。";
  throw MirrorError(clean(trimEnd(what.empty() ? m : what + ": " + m)), classify(m));
}

void PgConnection::exec(const std::string& sql) {
  Result r(PQexec(conn_, sql.c_str()));
  auto s = PQresultStatus(r.r);
  if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) fail("", r.r);
}

std::vector<std::vector<std::string>> PgConnection::query(const std::string& sql, const std::vector<std::string>& params) {
  std::vector<const char*> p;
  for (const auto& s : params) p.push_back(s.c_str());
  Result r(PQexecParams(conn_, sql.c_str(), static_cast<int>(p.size()), nullptr, p.data(), nullptr, nullptr, 0));
  auto s = PQresultStatus(r.r);
  if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) fail("", r.r);
  std::vector<std::vector<std::string>> rows;
  int n = PQntuples(r.r), f = PQnfields(r.r);
  rows.reserve(n);
  for (int i = 0; i < n; ++i) {
    std::vector<std::string> row;
    for (int j = 0; j < f; ++j) row.emplace_back(PQgetisnull(r.r, i, j) ? "" : PQgetvalue(r.r, i, j));
    rows.push_back(std::move(row));
  }
  return rows;
}

void PgConnection::copyIn(const std::string& sql, const std::function<bool(std::string& buffer)>& produce) {
  {
    Result r(PQexec(conn_, sql.c_str()));
    if (PQresultStatus(r.r) != PGRES_COPY_IN) fail("", r.r);
  }
  std::string buf;
  bool more = true;
  while (more) {
    buf.clear();
    more = produce(buf);
    if (!buf.empty() && PQputCopyData(conn_, buf.data(), static_cast<int>(buf.size())) != 1) fail("COPY");
  }
  if (PQputCopyEnd(conn_, nullptr) != 1) fail("COPY");
  Result r(PQgetResult(conn_));
  if (PQresultStatus(r.r) != PGRES_COMMAND_OK) fail("", r.r);
  while (PGresult* x = PQgetResult(conn_)) PQclear(x);
}

void PgConnection::copyOut(const std::string& sql, const std::function<void(std::string_view line)>& line) {
  {
    Result r(PQexec(conn_, sql.c_str()));
    if (PQresultStatus(r.r) != PGRES_COPY_OUT) fail("", r.r);
  }
  for (;;) {
    char* data = nullptr;
    int n = PQgetCopyData(conn_, &data, 0);
    if (n == -1) break;
    if (n == -2) fail("COPY");
    std::string_view v(data, static_cast<size_t>(n));
    if (!v.empty() && v.back() == '\n') v.remove_suffix(1);
    line(v);
    PQfreemem(data);
  }
  Result r(PQgetResult(conn_));
  if (PQresultStatus(r.r) != PGRES_COMMAND_OK) fail("", r.r);
  while (PGresult* x = PQgetResult(conn_)) PQclear(x);
}

std::string PgConnection::describe(const std::string& conninfo) {
  char* err = nullptr;
  PQconninfoOption* opts = PQconninfoParse(conninfo.c_str(), &err);
  if (!opts) {
    if (err) PQfreemem(err);
    return "(読み取れない接続文字列)";
  }
  std::string d;
  for (PQconninfoOption* o = opts; o->keyword; ++o) {
    std::string k = o->keyword;
    if (o->val && *o->val && (k == "host" || k == "hostaddr" || k == "port" || k == "dbname" || k == "user"))
      d += (d.empty() ? "" : " ") + k + "=" + o->val;
  }
  PQconninfoFree(opts);
  return d.empty() ? "(既定の接続先)" : d;
}

}  // namespace velmo::mirror
