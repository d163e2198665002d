#include "download/httpfetch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "startup/platform/applog.h"

namespace velmo {

std::string InetStateText(int state) {
  static const char* const texts[] = {
      "状態についての報告はありません。 ",
      "指定されたホスト コンピュータの IP アドレスを調べています。 ",
      "指定されたホスト コンピュータの IP アドレスを見つけました。 ",
      "ホスト コンピュータとの接続処理を行っています。 ",
      "ホスト コンピュータと正常に接続しました。 ",
      "ホスト コンピュータに要求を送信しています。 ",
      "要求を正常に送信しました。 ",
      "ホスト コンピュータからの応答を受信しています。 ",
      "ホスト コンピュータからの応答を正常に受信しました。 ",
      "ホスト コンピュータとの接続を解除しています。 ",
      "ホスト コンピュータとの接続を正常に解除しました。 ",
      "ホスト コンピュータとの通信中にエラーが発生しました。 ",
      "要求処理が完了し、すべてのデータが受信されました。 ",
  };
  if (state < 0 || state > 12) return {};
  return texts[state];
}

// ---- the client ---------------------------------------------------------------------

namespace {
// Bytes the network layer may hold before the body is written out.
constexpr qint64 kReadBuffer = 256 * 1024;
}  // namespace

HttpFetch::HttpFetch(QObject* parent)
    : QObject(parent), nam_(new QNetworkAccessManager(this)), stall_(new QTimer(this)), deadline_(new QTimer(this)) {
  stall_->setSingleShot(true);
  connect(stall_, &QTimer::timeout, this, &HttpFetch::onStall);
  deadline_->setSingleShot(true);
  deadline_->setTimerType(Qt::PreciseTimer);
  connect(deadline_, &QTimer::timeout, this, &HttpFetch::armDeadline);
}

HttpFetch::~HttpFetch() { abort(); }

void HttpFetch::raise(int state) {
  if (ended_) return;
  if (state == 11 || state == 12) {
    ended_ = true;
    stall_->stop();
    deadline_->stop();
  }
  if (state <= 10) lastState_ = state;
  emit stateChanged(state);
}

// The request states follow one another: a signal that shows a later stage
// raises the stages before it that no signal showed.
void HttpFetch::raiseThrough(int state) {
  while (!ended_ && lastState_ < state) raise(lastState_ + 1);
}

void HttpFetch::touch() {
  if (stallSeconds_ > 0 && !ended_) stall_->start(stallSeconds_ * 1000);
}

void HttpFetch::onStall() {
  if (ended_) return;
  stalled_ = true;
  endByLimit(QNetworkReply::TimeoutError,
             "サーバーからの応答が" + std::to_string(stallSeconds_) + "秒間ありません。[" + url_ + "]");
}

void HttpFetch::endByLimit(int code, const std::string& text) {
  if (ended_) return;
  limitHit_ = true;
  errorCode_ = code;
  errorText_ = text;
  stopRequest();
  raise(11);
}

// A server that keeps the connection alive with a trickle of bytes never
// stalls; the time limit ends it. The allowance grows with the size, so any
// real connection, however slow, stays inside it.
void HttpFetch::armDeadline() {
  if (ended_ || minRate_ <= 0) return;
  const long long size = std::max(length_.value_or(0), bodyBytes_);
  const long long allowedMs = std::max(graceSeconds_, 0) * 1000LL + size * 1000 / minRate_;
  const long long left = allowedMs - clock_.elapsed();
  if (left > 0) {
    deadline_->start(static_cast<int>(std::min<long long>(left, 1LL << 30)));
    return;
  }
  endByLimit(QNetworkReply::TimeoutError, "ダウンロードが制限時間(" + std::to_string((allowedMs + 500) / 1000) +
                                              "秒)を超えました。毎秒" + std::to_string(minRate_ / 1024) +
                                              "KBに届きません。[" + url_ + "]");
}

bool HttpFetch::overSizeLimit() {
  if (ended_ || sizeLimit_ <= 0) return ended_;
  const long long size = std::max(length_.value_or(0), bodyBytes_);
  if (size <= sizeLimit_) return false;
  endByLimit(QNetworkReply::UnknownContentError, "ファイルが大きすぎます(" + std::to_string(size) + "バイト、上限" +
                                                     std::to_string(sizeLimit_) + "バイト)。[" + url_ + "]");
  return true;
}

void HttpFetch::start(const std::string& url, const std::string& user, const std::string& password) {
  abort();
  url_ = url;
  user_ = user;
  password_ = password;
  errorCode_ = 0;
  errorText_.clear();
  stalled_ = false;
  limitHit_ = false;
  header_.clear();
  headerRead_ = false;
  status_ = 0;
  length_.reset();
  bodyBytes_ = 0;
  written_ = 0;
  complete_ = false;
  writeError_.clear();
  writeErrorNumber_ = 0;
  ended_ = false;
  lastState_ = 0;
  clock_.start();
  raiseThrough(1);
  QUrl u(QString::fromStdString(url));
  if (!u.isValid() || u.host().isEmpty() || (u.scheme() != "http" && u.scheme() != "https")) {
    errorCode_ = QNetworkReply::ProtocolUnknownError;
    errorText_ = "アドレスが正しくありません。[" + url + "]";
    raise(11);
    return;
  }
  touch();
  armDeadline();
  if (ended_) return;
  lookupId_ = QHostInfo::lookupHost(u.host(), this, [this](const QHostInfo& info) {
    lookupId_ = -1;
    if (ended_) return;
    if (info.error() != QHostInfo::NoError) {
      errorCode_ = QNetworkReply::HostNotFoundError;
      errorText_ = info.errorString().toStdString();
      raise(11);
      return;
    }
    touch();
    raiseThrough(2);
    sendRequest();
  });
}

void HttpFetch::sendRequest() {
  raiseThrough(3);
  QNetworkRequest req(QUrl(QString::fromStdString(url_)));
  // The credentials go with the first request; a redirect never carries them to
  // another host.
  req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
  QByteArray cred = QByteArray::fromStdString(user_ + ":" + password_).toBase64();
  req.setRawHeader("Authorization", "Basic " + cred);
  reply_ = nam_->get(req);
  reply_->setReadBufferSize(kReadBuffer);
  connect(reply_, &QNetworkReply::requestSent, this, [this]() {
    touch();
    raiseThrough(6);
  });
  connect(reply_, &QNetworkReply::metaDataChanged, this, [this]() {
    touch();
    if (reply_) readHeader(reply_);
    if (overSizeLimit()) return;
    armDeadline();
    raiseThrough(7);
  });
  connect(reply_, &QNetworkReply::readyRead, this, &HttpFetch::onReadyRead);
  connect(reply_, &QNetworkReply::finished, this, &HttpFetch::onFinished);
}

void HttpFetch::readHeader(QNetworkReply* r) {
  if (headerRead_) return;
  QVariant st = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (!st.isValid()) return;
  headerRead_ = true;
  status_ = st.toInt();
  // Qt does not tell HTTP/1.0 from HTTP/1.1; the status code is what is judged.
  std::string version = r->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool() ? "HTTP/2" : "HTTP/1.1";
  header_ = version + " " + std::to_string(status_) + " " +
            r->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString() + "\r\n";
  for (const auto& p : r->rawHeaderPairs()) header_ += p.first.toStdString() + ": " + p.second.toStdString() + "\r\n";
  header_ += "\r\n";
  if (r->hasRawHeader("Content-Length")) {  // header names match without regard to case
    std::string v = r->rawHeader("Content-Length").trimmed().toStdString();
    long long n = 0;
    for (char c : v) {
      if (c < '0' || c > '9') break;
      if (n > (1LL << 50)) break;
      n = n * 10 + (c - '0');
    }
    length_ = n;
  }
}

void HttpFetch::writeBody(const QByteArray& data) {
  if (data.isEmpty() || !writeError_.empty()) return;
  if (outputPath_.empty() || status_ < 200 || status_ > 299) return;  // an error page is never a file
  const QString path = QString::fromStdString(outputPath_);
  if (!file_) {
    file_ = std::make_unique<QSaveFile>(path);
    file_->setDirectWriteFallback(false);
    if (!file_->open(QIODevice::WriteOnly)) {
      writeErrorNumber_ = 75;
      writeError_ = "パス名が無効です。ファイルを書き込めません。[" + outputPath_ + "] " + file_->errorString().toStdString();
      file_.reset();
      return;
    }
  }
  qint64 n = data.size();
  if (length_) n = std::min<qint64>(n, *length_ - written_);  // no byte past the announced length
  if (n <= 0) return;
  if (file_->write(data.constData(), n) != n) {
    writeErrorNumber_ = 61;
    writeError_ = "ファイルを書き込めません。[" + outputPath_ + "] " + file_->errorString().toStdString();
    dropFile();
    return;
  }
  written_ += n;
}

void HttpFetch::onReadyRead() {
  QNetworkReply* r = reply_;
  if (!r || ended_) return;
  touch();
  readHeader(r);
  QByteArray data = r->readAll();
  bodyBytes_ += data.size();
  if (overSizeLimit()) return;
  writeBody(data);
  armDeadline();
  raiseThrough(7);
  if (!writeError_.empty()) {
    // The file cannot be written: the rest of the body is not fetched.
    reply_ = nullptr;
    r->disconnect(this);
    r->abort();
    r->deleteLater();
    complete(r, false);
    return;
  }
  emit received(bodyBytes_);
}

void HttpFetch::onFinished() {
  QNetworkReply* r = reply_;
  if (!r) return;
  reply_ = nullptr;
  r->deleteLater();
  if (ended_) return;
  readHeader(r);
  QByteArray data = r->readAll();
  bodyBytes_ += data.size();
  if (overSizeLimit()) return;
  writeBody(data);
  if (!headerRead_) {
    errorCode_ = static_cast<int>(r->error());
    errorText_ = r->errorString().toStdString();
    dropFile();
    raise(11);
    return;
  }
  complete(r, r->error() == QNetworkReply::NoError && writeError_.empty());
}

void HttpFetch::complete(QNetworkReply* r, bool transferOk) {
  readHeader(r);
  complete_ = transferOk;
  raiseThrough(10);
  raise(12);
}

void HttpFetch::commit(long long length) {
  if (length > written_ || !file_) {
    dropFile();
    throw VelmoError(61, "ファイルを書き込めません。[" + outputPath_ + "]");
  }
  std::unique_ptr<QSaveFile> f = std::move(file_);
  if (written_ > length && !f->resize(length)) {
    f->cancelWriting();
    throw VelmoError(61, "ファイルを書き込めません。[" + outputPath_ + "] " + f->errorString().toStdString());
  }
  if (!f->commit()) throw VelmoError(61, "ファイルを書き込めません。[" + outputPath_ + "] " + f->errorString().toStdString());
}

void HttpFetch::dropFile() {
  if (!file_) return;
  file_->cancelWriting();
  file_.reset();  // the file beside the output path is removed
}

void HttpFetch::abort() {
  ended_ = true;
  stall_->stop();
  deadline_->stop();
  stopRequest();
}

void HttpFetch::stopRequest() {
  if (lookupId_ >= 0) {
    QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
  }
  if (QNetworkReply* r = reply_) {
    reply_ = nullptr;
    r->disconnect(this);
    r->abort();
    r->deleteLater();
  }
  dropFile();
}

FetchVerdict JudgeResponse(const HttpFetch& f) {
  FetchVerdict v;
  int s = f.statusCode();
  if (s == 401) return {FetchOutcome::Unauthorized, 0};
  if (s == 404) return {FetchOutcome::NotFound, 0};
  long long body = f.bodyBytes();
  v.length = f.contentLength() ? *f.contentLength() : body;
  if (s < 200 || s > 299) v.outcome = FetchOutcome::BadStatus;
  else if (!f.writeError().empty()) v.outcome = FetchOutcome::WriteFailed;
  else if (v.length == 0) v.outcome = FetchOutcome::Empty;
  else if (!f.bodyComplete() || body < v.length) v.outcome = FetchOutcome::Truncated;
  else v.outcome = FetchOutcome::Saved;
  return v;
}

// ---- one fetch as the screens run it ----------------------------------------------------

FetchSession::FetchSession(Style style, QObject* parent)
    : QObject(parent), style_(style), client_(new HttpFetch(this)) {
  if (style == Style::Automatic) log_ = "状態表示\r\n";
  connect(client_, &HttpFetch::stateChanged, this, &FetchSession::onState);
}

std::string FetchSession::fileName() const { return UrlFileName(address_); }

void FetchSession::appendLine(const std::string& line, bool stamped) {
  log_ += "\r\n";
  if (stamped) log_ += "[" + QDateTime::currentDateTime().toString("yyyy/MM/dd H:mm:ss").toStdString() + "] ";
  log_ += line;
  emit logChanged();
}

void FetchSession::start() {
  auto& g = G();
  done_ = false;
  result_ = 0;
  address_ = FetchAddress(g.gDataURL, g.gUserID);
  emit addressChanged();
  client_->setOutputFile(g.gDataPath);
  client_->setStallSeconds(g.gStallSeconds);
  client_->setTimeLimit(2 * g.gStallSeconds, g.gFetchMinRate);
  // An archive may be as large as an entry may unpack; any other file the
  // program fetches (list and check files) is read as a whole and is kept small.
  client_->setSizeLimit(IsArchiveName(fileName()) ? g.gUnpackEntryLimit : g.gListFileLimit);
  client_->start(address_, g.gUserID, g.gPasswd);
}

void FetchSession::cancel() {
  if (done_) return;
  client_->abort();
  finish(0);
}

void FetchSession::finish(int result) {
  if (done_) return;
  done_ = true;
  result_ = result;
  G().gFetchResult = result;
  client_->abort();
  emit finished(result);
}

void FetchSession::onState(int state) {
  appendLine(InetStateText(state), true);
  emit stateShown(state);
  if (state == 11) onError();
  else if (state == 12) onCompleted();
}

void FetchSession::fail(long number, const std::string& logText, const std::string& message, int result) {
  if (style_ == Style::Interactive) {
    if (!message.empty()) MsgBox(message, vbOKOnly, "");
    if (!logText.empty()) WriteLog(ErrObject(number, logText), "frmGetInt", false, true);
  } else {
    WriteLog(ErrObject(number, logText), "Inet2_StateChanged", false, true);
  }
  finish(result);
}

void FetchSession::onError() {
  HttpFetch& c = *client_;
  if (style_ == Style::Interactive) {
    // A stall or a limit is also written to the log: nobody may be watching the screen.
    std::string logText = c.endedByLimit() ? "ダウンロード失敗[" + fileName() + "] " + c.responseText() : "";
    return fail(1, logText, "ErrorCode: " + std::to_string(c.responseCode()) + " : " + c.responseText(), -1);
  }
  // The reason goes into an entry of its own after the fixed one.
  WriteLog(ErrObject(1, "インターネット通信エラー"), "Inet2_StateChanged", false, true);
  fail(c.responseCode(), c.responseText(), "", -1);
}

void FetchSession::onCompleted() {
  HttpFetch& c = *client_;
  appendLine(text::headChars(c.headerText(), 12), false);
  FetchVerdict v = JudgeResponse(c);
  const std::string file = fileName();
  const bool screen = style_ == Style::Interactive;
  if (v.outcome == FetchOutcome::Unauthorized)
    return fail(0, screen ? "" : "ユーザＩＤ，あるいは、パスワードが無効です。", "ユーザＩＤ，あるいは、パスワードが無効です。", -1);
  if (v.outcome == FetchOutcome::NotFound)
    return fail(0, "指定されたデータはありません。[" + file + "]", "指定されたデータはありません。", -2);
  appendLine(file + " " + std::to_string(v.length) + "バイト", true);
  if (v.outcome == FetchOutcome::WriteFailed)
    return fail(c.writeErrorNumber(), screen ? "ダウンロード失敗[" + file + "] " + c.writeError() : c.writeError(),
                c.writeError(), -1);
  if (v.outcome != FetchOutcome::Saved)
    return fail(screen ? 0 : 1, screen ? "ダウンロード失敗[" + file + "]" : "データ受信が正常でありません",
                "データ受信が正常でありません", -1);
  try {
    c.commit(v.length);
  } catch (const VelmoError& e) {
    return fail(e.number(), screen ? "ダウンロード失敗[" + file + "] " + e.description() : e.description(),
                e.description(), -1);
  }
  if (!screen) {
    LogMilestone("ダウンロード完了", "Inet2_StateChanged");
    appendLine("ダウンロード完了", false);
  }
  finish(1);
}

// ---- running a fetch --------------------------------------------------------------------

namespace {
std::function<int()>& presenter() {
  static std::function<int()> p;
  return p;
}
}  // namespace

void SetFetchPresenter(std::function<int()> p) { presenter() = std::move(p); }

int RunFetch() {
  if (presenter()) return presenter()();
  return FetchWithoutWindow();
}

int FetchWithoutWindow(const std::function<bool()>& cancelled) {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "velmo";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
  }
  FetchSession s(FetchSession::Style::Interactive);
  QEventLoop loop;
  QObject::connect(&s, &FetchSession::finished, &loop, &QEventLoop::quit);
  QTimer poll;
  if (cancelled) {
    QObject::connect(&poll, &QTimer::timeout, &s, [&]() {
      if (cancelled()) s.cancel();
    });
    poll.start(100);
  }
  s.start();
  if (!s.done()) loop.exec();
  return s.result();
}

}  // namespace velmo
