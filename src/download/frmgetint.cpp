#include "download/frmgetint.h"

#include <unistd.h>

#include <QDateTime>
#include <QGuiApplication>
#include <QHostInfo>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "common/error.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "common/text.h"
#include "download/catalogue.h"
#include "registration/driver.h"
#include "startup/pipe.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"

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

HttpFetch::HttpFetch(QObject* parent) : QObject(parent), nam_(new QNetworkAccessManager(this)) {}

HttpFetch::~HttpFetch() { abort(); }

void HttpFetch::raise(int state) {
  if (ended_) return;
  if (state == 11 || state == 12) ended_ = true;
  if (state <= 10) lastState_ = state;
  emit stateChanged(state);
}

// The request states follow one another: a signal that shows a later stage
// raises the stages before it that no signal showed.
void HttpFetch::raiseThrough(int state) {
  while (!ended_ && lastState_ < state) raise(lastState_ + 1);
}

void HttpFetch::start(const std::string& url, const std::string& user, const std::string& password) {
  abort();
  url_ = url;
  user_ = user;
  password_ = password;
  errorCode_ = 0;
  errorText_.clear();
  header_.clear();
  status_ = 0;
  length_.reset();
  body_.clear();
  complete_ = false;
  ended_ = false;
  lastState_ = 0;
  raiseThrough(1);
  QUrl u(QString::fromStdString(url));
  if (!u.isValid() || u.host().isEmpty() || (u.scheme() != "http" && u.scheme() != "https")) {
    errorCode_ = QNetworkReply::ProtocolUnknownError;
    errorText_ = "アドレスが正しくありません。[" + url + "]";
    raise(11);
    return;
  }
  lookupId_ = QHostInfo::lookupHost(u.host(), this, [this](const QHostInfo& info) {
    lookupId_ = -1;
    if (ended_) return;
    if (info.error() != QHostInfo::NoError) {
      errorCode_ = QNetworkReply::HostNotFoundError;
      errorText_ = info.errorString().toStdString();
      raise(11);
      return;
    }
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
  connect(reply_, &QNetworkReply::requestSent, this, [this]() { raiseThrough(6); });
  connect(reply_, &QNetworkReply::metaDataChanged, this, [this]() { raiseThrough(7); });
  connect(reply_, &QNetworkReply::readyRead, this, [this]() {
    if (!reply_) return;
    body_ += reply_->readAll();
    raiseThrough(7);
    emit received(body_.size());
  });
  connect(reply_, &QNetworkReply::finished, this, &HttpFetch::onFinished);
}

void HttpFetch::onFinished() {
  QNetworkReply* r = reply_;
  if (!r) return;
  reply_ = nullptr;
  r->deleteLater();
  if (ended_) return;
  body_ += r->readAll();
  QVariant st = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (!st.isValid()) {
    errorCode_ = static_cast<int>(r->error());
    errorText_ = r->errorString().toStdString();
    raise(11);
    return;
  }
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
  complete_ = r->error() == QNetworkReply::NoError;
  raiseThrough(10);
  raise(12);
}

void HttpFetch::abort() {
  ended_ = true;
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
}

FetchVerdict JudgeResponse(const HttpFetch& f) {
  FetchVerdict v;
  int s = f.statusCode();
  if (s == 401) return {FetchOutcome::Unauthorized, 0};
  if (s == 404) return {FetchOutcome::NotFound, 0};
  long long body = f.body().size();
  v.length = f.contentLength() ? *f.contentLength() : body;
  if (s < 200 || s > 299) v.outcome = FetchOutcome::BadStatus;
  else if (v.length == 0) v.outcome = FetchOutcome::Empty;
  else if (!f.bodyComplete() || body < v.length) v.outcome = FetchOutcome::Truncated;
  else v.outcome = FetchOutcome::Saved;
  return v;
}

// ---- the shared screen ----------------------------------------------------------------

FetchScreen::FetchScreen(const std::string& formName, const std::string& caption, const std::string& initialLog)
    : formName_(formName), log_(initialLog) {
  setObjectName(QString::fromStdString(formName));
  setWindowTitle(QString::fromStdString(caption));
  setModal(true);
  auto* lay = new QVBoxLayout(this);
  LblDataURL = new QLabel(this);
  LblDataURL->setObjectName("LblDataURL");
  LblDataURL->setTextInteractionFlags(Qt::TextSelectableByMouse);
  txtStatus = new QPlainTextEdit(this);
  txtStatus->setObjectName("txtStatus");
  txtStatus->setReadOnly(true);
  txtStatus->setPlainText(QString::fromStdString(log_).replace("\r\n", "\n"));
  Command2 = new QPushButton(QString::fromUtf8("キャンセル"), this);
  Command2->setObjectName("Command2");
  lay->addWidget(LblDataURL);
  lay->addWidget(txtStatus, 1);
  lay->addWidget(Command2, 0, Qt::AlignRight);
  resize(480, 260);
  Inet2 = new HttpFetch(this);
  connect(Inet2, &HttpFetch::stateChanged, this, &FetchScreen::onState);
}

void FetchScreen::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  // The request starts once the modal loop runs, so that a request ending at
  // once still closes the screen.
  QTimer::singleShot(0, this, [this]() { loadScreen(); });
}

void FetchScreen::centre() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  QRect g = s->geometry();
  move((g.width() - width()) / 2, (g.height() - height()) / 2);
}

void FetchScreen::loadScreen() {
  centre();
  startRequest();
}

void FetchScreen::startRequest() {
  auto& g = G();
  std::string url = FetchAddress(g.gDataURL, g.gUserID);
  LblDataURL->setText(QString::fromStdString(url));
  Inet2->start(url, g.gUserID, g.gPasswd);
}

std::string FetchScreen::fileName() const { return UrlFileName(LblDataURL->text().toStdString()); }

void FetchScreen::appendLine(const std::string& line, bool stamped) {
  log_ += "\r\n";
  if (stamped)
    log_ += "[" + QDateTime::currentDateTime().toString("yyyy/MM/dd H:mm:ss").toStdString() + "] ";
  log_ += line;
  txtStatus->setPlainText(QString::fromStdString(log_).replace("\r\n", "\n"));
  txtStatus->moveCursor(QTextCursor::End);
  txtStatus->repaint();
}

void FetchScreen::onState(int state) {
  update();
  appendLine(InetStateText(state), true);
  if (state == 11) onError();
  else if (state == 12) onCompleted();
}

void FetchScreen::saveBody(long long length) {
  const std::string& path = G().gDataPath;
  QSaveFile f(QString::fromStdString(path));
  f.setDirectWriteFallback(false);
  if (!f.open(QIODevice::WriteOnly))
    throw VelmoError(75, "パス名が無効です。ファイルを書き込めません。[" + path + "] " + f.errorString().toStdString());
  if (f.write(Inet2->body().constData(), length) != length || !f.commit()) {
    std::string why = f.errorString().toStdString();
    f.cancelWriting();
    throw VelmoError(61, "ファイルを書き込めません。[" + path + "] " + why);
  }
}

// ---- frmGetInt ------------------------------------------------------------------------

frmGetInt::frmGetInt(QWidget* parent) : FetchScreen("frmGetInt", "Velmo-データダウンロード", "") {
  if (parent) setParent(parent, windowFlags());
  connect(Command2, &QPushButton::clicked, this, [this]() { cancelClicked(); });
}

void frmGetInt::cancelClicked() {
  G().gFetchResult = 0;
  Inet2->abort();
  accept();
}

void frmGetInt::reject() {
  Inet2->abort();
  QDialog::reject();
}

void frmGetInt::fail(int result) {
  G().gFetchResult = result;
  Inet2->abort();
  accept();
}

void frmGetInt::onError() {
  MsgBox("ErrorCode: " + std::to_string(Inet2->responseCode()) + " : " + Inet2->responseText(), vbOKOnly, "");
  fail(-1);
}

void frmGetInt::onCompleted() {
  appendLine(text::headChars(Inet2->headerText(), 12), false);
  FetchVerdict v = JudgeResponse(*Inet2);
  const std::string file = fileName();
  if (v.outcome == FetchOutcome::Unauthorized) {
    MsgBox("ユーザＩＤ，あるいは、パスワードが無効です。", vbOKOnly, "");
    return fail(-1);
  }
  if (v.outcome == FetchOutcome::NotFound) {
    MsgBox("指定されたデータはありません。", vbOKOnly, "");
    WriteLog(ErrObject(0, "指定されたデータはありません。[" + file + "]"), "frmGetInt", false, true);
    return fail(-2);
  }
  appendLine(file + " " + std::to_string(v.length) + "バイト", true);
  if (v.outcome != FetchOutcome::Saved) {
    MsgBox("データ受信が正常でありません", vbOKOnly, "");
    WriteLog(ErrObject(0, "ダウンロード失敗[" + file + "]"), "frmGetInt", false, true);
    return fail(-1);
  }
  try {
    if (FileExists(G().gDataPath)) std::remove(G().gDataPath.c_str());
    saveBody(v.length);
  } catch (const VelmoError& e) {
    MsgBox(e.description(), vbOKOnly, "");
    WriteLog(ErrObject(e.number(), "ダウンロード失敗[" + file + "] " + e.description()), "frmGetInt", false, true);
    return fail(-1);
  }
  G().gFetchResult = 1;
  Inet2->abort();
  accept();
}

void ShowFetchScreen() {
  frmGetInt f;
  f.exec();
}

// ---- frmGetAuto -----------------------------------------------------------------------

frmGetAuto::frmGetAuto(QWidget* parent)
    : FetchScreen("frmGetAuto", "Velmo-自動データダウンロード＆登録", "状態表示\r\n") {
  if (parent) setParent(parent, windowFlags());
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  layout()->addWidget(StatusBar1);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, [this]() { tick(); });
  Timer1->start();
  connect(Command2, &QPushButton::clicked, this, []() { EndProgramAtOnce(0); });
}

frmGetAuto::~frmGetAuto() {
  if (G().gStatusForm == this) G().gStatusForm = nullptr;
}

std::string frmGetAuto::statusText() const { return StatusBar1->currentMessage().toStdString(); }
void frmGetAuto::setStatusText(const std::string& t) { StatusBar1->showMessage(QString::fromStdString(t)); }
void frmGetAuto::refresh() { StatusBar1->repaint(); }

void frmGetAuto::loadScreen() {
  try {
    AppLog::instance().setFormName(formName_);
    FetchScreen::loadScreen();
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "Form_Load", false, false);
    EndProgramAtOnce(1);
  }
}

void frmGetAuto::tick() {
  if (cancelling_) return;
  std::string t = ReadParentPipe();
  if (t.find("END") == std::string::npos) return;
  cancelling_ = true;
  Timer1->stop();
  MsgBox("Canselを受信しました\r\nプログラムを終了します", vbOKOnly, "");
  EndProgramAtOnce(0);
}

void frmGetAuto::fail(long number, const std::string& description, int result) {
  WriteLog(ErrObject(number, description), "Inet2_StateChanged", false, true);
  G().gFetchResult = result;
  Inet2->abort();
  accept();
}

void frmGetAuto::onError() { fail(1, "インターネット通信エラー", -1); }

void frmGetAuto::onCompleted() {
  appendLine(text::headChars(Inet2->headerText(), 12), false);
  FetchVerdict v = JudgeResponse(*Inet2);
  const std::string file = fileName();
  if (v.outcome == FetchOutcome::Unauthorized) return fail(0, "ユーザＩＤ，あるいは、パスワードが無効です。", -1);
  if (v.outcome == FetchOutcome::NotFound) return fail(0, "指定されたデータはありません。[" + file + "]", -2);
  appendLine(file + " " + std::to_string(v.length) + "バイト", true);
  if (v.outcome != FetchOutcome::Saved) return fail(1, "データ受信が正常でありません", -1);
  try {
    saveBody(v.length);
  } catch (const VelmoError& e) {
    return fail(e.number(), e.description(), -1);
  }
  G().gFetchResult = 1;
  LogMilestone("ダウンロード完了", "Inet2_StateChanged");
  appendLine("ダウンロード完了", false);
  // Filing or registering runs from the screen's own loop, not from inside the
  // client's signal.
  QTimer::singleShot(0, this, [this]() { afterSaved(); });
}

void frmGetAuto::afterSaved() {
  try {
    if (G().gDownOnly == 1) {
      DataIdoDir();
    } else {
      G().gStatusForm = this;
      regDataDir("T");
    }
  } catch (const std::exception& ex) {
    WriteLog(ErrObject::from(ex), "Inet2_StateChanged", false, true);
  }
  accept();
}

namespace {
// The data storage folder an archive is filed into; never the root for an empty setting.
std::string storageFolder() {
  if (G().gLzhDir.empty()) throw VelmoError(err::PathNotFound, "データ保存フォルダが設定されていません。");
  return AddPathSep(G().gLzhDir);
}

std::vector<std::string> downloadedArchives() {
  std::vector<std::string> names = ListFiles(G().gDwnDir + "*.lzh");
  if (names.size() > 1000) names.resize(1000);
  return names;
}
}  // namespace

void frmGetAuto::regDataDir(const std::string& mode) {
  const std::string dwn = G().gDwnDir;
  std::vector<std::string> names = downloadedArchives();
  const size_t n = names.size();
  for (size_t i = 0; i < n; ++i) {
    setStatusText(names[i] + "を取り込み中です( " + std::to_string(i + 1) + "/ " + std::to_string(n) + ")");
    refresh();
    regMain(dwn + names[i], mode, "J");
    MoveFileOver(dwn + names[i], storageFolder() + names[i]);
  }
  setStatusText((n ? names.back() : std::string()) + "を取り込み完了しました(" + std::to_string(n) + "件)");
  refresh();
}

void frmGetAuto::DataIdoDir() {
  const std::string dwn = G().gDwnDir;
  for (const auto& name : downloadedArchives()) MoveFileOver(dwn + name, storageFolder() + name);
}

void EndProgramAtOnce(int exitCode) {
  auto& ws = db::Workspace::get();
  try {
    while (ws.transDepth() > 0) ws.rollback();
  } catch (...) {
  }
  try {
    ws.reset();
  } catch (...) {
  }
  std::fflush(nullptr);
  _exit(exitCode);
}

}  // namespace velmo
