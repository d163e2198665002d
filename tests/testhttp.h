// A small HTTP/1.1 server for the download tests: it listens on 127.0.0.1 only
// (a free port), asks for Basic authentication, serves the files it is given,
// answers 401 for wrong credentials and 404 for missing files, and can omit or
// misstate the length, write the header name in lower case, or send slowly. It
// lives in the test's thread (served while the test runs an event loop) and
// closes itself after two minutes at the latest.
#pragma once
#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/testenv.h"

namespace velmo::test {

// The widgets application the fetch screens need (offscreen, created once).
inline void EnsureQtApp() {
  if (QCoreApplication::instance()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "velmo_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

struct Route {
  std::string body;
  int status = 200;
  bool omitLength = false;       // no Content-Length: the body ends when the connection closes
  bool lowerCaseHeader = false;  // "content-length:"
  long long announce = -1;       // Content-Length to state (default: the body's size)
  int chunk = 0;                 // send this many bytes per step ...
  int delayMs = 0;               // ... this far apart
};

class TestHttpServer {
 public:
  TestHttpServer(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {
    EnsureQtApp();
    server_ = std::make_unique<QTcpServer>();
    if (!server_->listen(QHostAddress::LocalHost, 0)) std::abort();
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this]() { accept(); });
    QTimer::singleShot(120000, server_.get(), [this]() { server_->close(); });
  }

  int port() const { return server_->serverPort(); }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port()) + "/"; }

  std::map<std::string, Route> routes;  // by request path, e.g. "/data/kyc/KYC050312.lzh"
  std::vector<std::string> requests;    // every request path, in order
  std::vector<std::string> methods;     // the method of each request ("GET", "HEAD")
  std::function<void(const std::string& path)> onSlowSend;  // called when a slow body starts

 private:
  void accept() {
    while (QTcpSocket* s = server_->nextPendingConnection()) {
      auto buf = std::make_shared<QByteArray>();
      QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, buf]() {
        *buf += s->readAll();
        int end = buf->indexOf("\r\n\r\n");
        if (end < 0) return;
        QByteArray head = buf->left(end);
        buf->clear();
        answer(s, head);
      });
    }
  }

  void answer(QTcpSocket* s, const QByteArray& head) {
    QList<QByteArray> lines = head.split('\n');
    QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    std::string path = first.value(1).toStdString();
    const bool headOnly = first.value(0) == "HEAD";
    requests.push_back(path);
    methods.push_back(first.value(0).toStdString());
    QByteArray auth;
    for (const auto& l : lines) {
      int c = l.indexOf(':');
      if (c > 0 && l.left(c).trimmed().toLower() == "authorization") auth = l.mid(c + 1).trimmed();
    }
    QByteArray want = "Basic " + QByteArray::fromStdString(user_ + ":" + password_).toBase64();
    if (auth != want) return send(s, 401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"kova\""}, "unauthorized");
    auto it = routes.find(path);
    if (it == routes.end()) return send(s, 404, "Not Found", {}, "not found");
    const Route& r = it->second;
    std::vector<std::string> extra;
    if (!r.omitLength) {
      long long n = r.announce >= 0 ? r.announce : static_cast<long long>(r.body.size());
      extra.push_back(std::string(r.lowerCaseHeader ? "content-length" : "Content-Length") + ": " + std::to_string(n));
    }
    writeHead(s, r.status, r.status == 200 ? "OK" : "Error", extra);
    if (r.chunk <= 0 || headOnly) {
      if (headOnly) return s->disconnectFromHost();
      s->write(r.body.data(), static_cast<qint64>(r.body.size()));
      s->disconnectFromHost();
      return;
    }
    if (onSlowSend) onSlowSend(path);
    auto pos = std::make_shared<size_t>(0);
    auto* t = new QTimer(s);
    std::string body = r.body;
    int chunk = r.chunk;
    QObject::connect(t, &QTimer::timeout, s, [s, t, pos, body, chunk]() {
      size_t n = std::min(body.size() - *pos, static_cast<size_t>(chunk));
      s->write(body.data() + *pos, static_cast<qint64>(n));
      *pos += n;
      if (*pos >= body.size()) {
        t->stop();
        s->disconnectFromHost();
      }
    });
    t->start(r.delayMs);
  }

  void writeHead(QTcpSocket* s, int status, const std::string& reason, const std::vector<std::string>& extra) {
    std::string h = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& e : extra) h += e + "\r\n";
    h += "Connection: close\r\n\r\n";
    s->write(h.data(), static_cast<qint64>(h.size()));
  }

  void send(QTcpSocket* s, int status, const std::string& reason, std::vector<std::string> extra, const std::string& body) {
    extra.push_back("Content-Length: " + std::to_string(body.size()));
    writeHead(s, status, reason, extra);
    s->write(body.data(), static_cast<qint64>(body.size()));
    s->disconnectFromHost();
  }

  std::string user_, password_;
  std::unique_ptr<QTcpServer> server_;
};

// Runs the event loop until the condition holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

struct CliRun {
  int rc = -1;  // -1 when it did not end by itself (killed, or out of time)
  std::string out, err;
};

// Runs the built velmo-cli while this thread serves the test server; `started`
// gets the process once it runs (a test may stop or kill it from a server hook).
inline CliRun RunCliServing(const QStringList& args, QProcess** started = nullptr) {
  QProcess p;
  p.start(QString::fromStdString(BuildHome() + "velmo-cli"), args);
  if (started) *started = &p;
  CliRun r;
  const bool ended = PumpUntil([&] { return p.state() == QProcess::NotRunning; }, 90000);
  if (started) *started = nullptr;
  if (!ended) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.rc = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace velmo::test
