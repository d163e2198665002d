// The HTTP fetch of one file: the client Inet2 (an authenticated GET raising the
// state codes 1 to 12), the download screen frmGetInt and the automatic download
// screen frmGetAuto of the silent mode.
#pragma once
#include <QByteArray>
#include <QDialog>
#include <QObject>
#include <optional>
#include <string>

#include "common/globals.h"

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;

namespace velmo {

// The text logged for a state code (each ends with one blank); empty for others.
std::string InetStateText(int state);

// One GET with the member's user ID and password (Basic authentication). States:
// 1/2 looking up and found the host, 3/4 connecting and connected, 5/6 sending
// and sent, 7/8 receiving and received the response, 9/10 disconnecting and
// disconnected, 11 communication error (no response at all), 12 completed (a
// response arrived, whatever its status).
class HttpFetch : public QObject {
  Q_OBJECT
 public:
  explicit HttpFetch(QObject* parent = nullptr);
  ~HttpFetch() override;

  void start(const std::string& url, const std::string& user, const std::string& password);
  // Ends the request; no state is raised afterwards.
  void abort();

  // After state 11: the client's error code and text.
  int responseCode() const { return errorCode_; }
  const std::string& responseText() const { return errorText_; }
  // After state 12: the response header text (status line first, CR LF ends each
  // line), the status code, the "Content-Length" value (header names compared
  // without regard to letter case; the leading digits of the value), the body,
  // and whether the body arrived without a transfer error.
  const std::string& headerText() const { return header_; }
  int statusCode() const { return status_; }
  std::optional<long long> contentLength() const { return length_; }
  const QByteArray& body() const { return body_; }
  bool bodyComplete() const { return complete_; }

 signals:
  void stateChanged(int state);
  void received(long long bytes);

 private:
  void raise(int state);
  void raiseThrough(int state);
  void sendRequest();
  void onFinished();
  QNetworkAccessManager* nam_ = nullptr;
  QNetworkReply* reply_ = nullptr;
  std::string url_, user_, password_;
  int errorCode_ = 0;
  std::string errorText_;
  std::string header_;
  int status_ = 0;
  std::optional<long long> length_;
  QByteArray body_;
  bool complete_ = false;
  int lastState_ = 0;
  bool ended_ = false;
  int lookupId_ = -1;
};

// How a completed response is judged.
enum class FetchOutcome { Saved, Unauthorized, NotFound, BadStatus, Empty, Truncated };
struct FetchVerdict {
  FetchOutcome outcome = FetchOutcome::Empty;
  long long length = 0;  // bytes to write (the announced length, or the body size without one)
};
FetchVerdict JudgeResponse(const HttpFetch& f);

// What the two screens share: the progress log, the address label, the cancel
// button and the client; the request starts when the screen is shown.
class FetchScreen : public QDialog {
  Q_OBJECT
 public:
  QPlainTextEdit* txtStatus = nullptr;
  QLabel* LblDataURL = nullptr;
  QPushButton* Command2 = nullptr;
  HttpFetch* Inet2 = nullptr;
  // The progress log as text (lines joined by CR LF).
  const std::string& progressLog() const { return log_; }

 protected:
  FetchScreen(const std::string& formName, const std::string& caption, const std::string& initialLog);
  void showEvent(QShowEvent* e) override;
  // Loading steps: centre, show the address, start the request.
  virtual void loadScreen();
  void centre();
  void startRequest();
  void appendLine(const std::string& line, bool stamped);
  virtual void onError() = 0;      // state 11
  virtual void onCompleted() = 0;  // state 12
  // Writes the first length bytes of the body to gDataPath in one step: the
  // file appears only when every byte is written. Throws on failure.
  void saveBody(long long length);
  std::string fileName() const;  // the request address after its last "/"
  std::string formName_;

 private:
  void onState(int state);
  std::string log_;
  bool started_ = false;
};

// The download screen of every interactive download. Show it modally after
// setting gDataURL and gDataPath; gFetchResult holds the result afterwards.
class frmGetInt : public FetchScreen {
  Q_OBJECT
 public:
  explicit frmGetInt(QWidget* parent = nullptr);
  void reject() override;  // closing through the frame ends the request

 protected:
  void onError() override;
  void onCompleted() override;

 private:
  void cancelClicked();
  void fail(int result);
};

// Shows frmGetInt modally for gDataURL / gDataPath.
void ShowFetchScreen();

// The automatic download screen of the silent mode: fetches gDataURL into
// gDataPath reporting only to the log, then files the archive (gDownOnly = 1) or
// registers it into this week's database and files it, and closes. It watches
// the parent channel every 200 ms; "END" (or the cancel button) ends the program.
class frmGetAuto : public FetchScreen, public StatusSink {
  Q_OBJECT
 public:
  explicit frmGetAuto(QWidget* parent = nullptr);
  ~frmGetAuto() override;

  std::string statusText() const override;
  void setStatusText(const std::string& text) override;
  void refresh() override;

  // Registers every archive of the download folder and moves it into the data
  // storage folder.
  void regDataDir(const std::string& mode);
  // Moves every archive of the download folder into the data storage folder.
  void DataIdoDir();

  QStatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void loadScreen() override;
  void onError() override;
  void onCompleted() override;

 private:
  void afterSaved();
  void tick();
  void fail(long number, const std::string& description, int result);
  bool cancelling_ = false;
};

// Ends the process at once (cancel of the silent mode): the open transaction is
// rolled back, the databases closed, and nothing else runs.
[[noreturn]] void EndProgramAtOnce(int exitCode);

}  // namespace velmo
