// The HTTP exchange of one file, without any window: the client (an
// authenticated GET raising the state codes 1 to 12, the body streamed into the
// destination file), the judging of the response, the progress log and the
// messages of the two download screens, and a blocking fetch for commands that
// run without a display.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;

namespace velmo {

// The text logged for a state code (each ends with one blank); empty for others.
std::string InetStateText(int state);

// One GET with the member's user ID and password (Basic authentication). States:
// 1/2 looking up and found the host, 3/4 connecting and connected, 5/6 sending
// and sent, 7/8 receiving and received the response, 9/10 disconnecting and
// disconnected, 11 communication error (no response at all, a stall, the time
// limit, a body above the size limit, or the destination file could not be
// opened), 12 completed (a response arrived,
// whatever its status).
//
// The body of a 2xx response is written, as it arrives, into a file beside the
// output path; commit() renames it into place, and it is dropped otherwise. The
// body is never held in memory as a whole.
class HttpFetch : public QObject {
  Q_OBJECT
 public:
  explicit HttpFetch(QObject* parent = nullptr);
  ~HttpFetch() override;

  // Where the body goes. Without one the body is counted and dropped.
  void setOutputFile(const std::string& path) { outputPath_ = path; }
  // No byte for this many seconds (after the request starts) fails the fetch
  // with state 11. 0 or less: no limit.
  void setStallSeconds(int seconds) { stallSeconds_ = seconds; }
  // The whole fetch may take graceSeconds plus its size (the announced length,
  // or the bytes received when larger) over minBytesPerSecond; past that it
  // fails with state 11. A minimum of 0 or less: no time limit.
  void setTimeLimit(int graceSeconds, long long minBytesPerSecond) {
    graceSeconds_ = graceSeconds;
    minRate_ = minBytesPerSecond;
  }
  // A body (announced or received) above this many bytes fails the fetch with
  // state 11 as soon as it shows; 0 or less: no limit.
  void setSizeLimit(long long bytes) { sizeLimit_ = bytes; }

  void start(const std::string& url, const std::string& user, const std::string& password);
  // Ends the request; no state is raised afterwards; a partial file is dropped.
  void abort();

  // After state 11: the client's error code and text.
  int responseCode() const { return errorCode_; }
  const std::string& responseText() const { return errorText_; }
  bool stalled() const { return stalled_; }
  // The fetch was ended by one of its own limits: a stall, the time limit or the size limit.
  bool endedByLimit() const { return limitHit_; }
  // After state 12: the response header text (status line first, CR LF ends each
  // line), the status code, the "Content-Length" value (header names compared
  // without regard to letter case; the leading digits of the value), the number
  // of body bytes received, and whether the body arrived without a transfer error.
  const std::string& headerText() const { return header_; }
  int statusCode() const { return status_; }
  std::optional<long long> contentLength() const { return length_; }
  long long bodyBytes() const { return bodyBytes_; }
  bool bodyComplete() const { return complete_; }
  // Writing the body failed (disk full, folder missing …): the reason; empty when not.
  const std::string& writeError() const { return writeError_; }
  int writeErrorNumber() const { return writeErrorNumber_; }

  // Puts the written body (its first length bytes) in place at the output path.
  // Throws VelmoError when it cannot.
  void commit(long long length);

 signals:
  void stateChanged(int state);
  void received(long long bytes);

 private:
  void raise(int state);
  void raiseThrough(int state);
  void sendRequest();
  void onReadyRead();
  void onFinished();
  void complete(QNetworkReply* r, bool transferOk);
  void readHeader(QNetworkReply* r);
  void writeBody(const QByteArray& data);
  void dropFile();
  // Ends the host lookup or the request under way and drops the partial file.
  void stopRequest();
  void touch();
  void onStall();
  // Ends the request with state 11 for the reason given.
  void endByLimit(int code, const std::string& text);
  // Restarts the time limit's timer for the size known now; ends the fetch when it is past.
  void armDeadline();
  // True (and the fetch ended) when the body is above the size limit.
  bool overSizeLimit();
  QNetworkAccessManager* nam_ = nullptr;
  QNetworkReply* reply_ = nullptr;
  QTimer* stall_ = nullptr;
  QTimer* deadline_ = nullptr;
  QElapsedTimer clock_;
  std::unique_ptr<QSaveFile> file_;
  std::string url_, user_, password_, outputPath_;
  int stallSeconds_ = 60;
  int graceSeconds_ = 60;
  long long minRate_ = 0;
  long long sizeLimit_ = 0;
  bool limitHit_ = false;
  int errorCode_ = 0;
  std::string errorText_;
  bool stalled_ = false;
  std::string header_;
  bool headerRead_ = false;
  int status_ = 0;
  std::optional<long long> length_;
  long long bodyBytes_ = 0;
  long long written_ = 0;
  bool complete_ = false;
  std::string writeError_;
  int writeErrorNumber_ = 0;
  int lastState_ = 0;
  bool ended_ = false;
  int lookupId_ = -1;
};

// How a completed response is judged.
enum class FetchOutcome { Saved, Unauthorized, NotFound, BadStatus, Empty, Truncated, WriteFailed };
struct FetchVerdict {
  FetchOutcome outcome = FetchOutcome::Empty;
  long long length = 0;  // bytes to write (the announced length, or the body size without one)
};
FetchVerdict JudgeResponse(const HttpFetch& f);

// One fetch of gDataURL (moved onto the configured host) into gDataPath with the
// member's credentials, as the download screens run it: the progress log, the
// messages and log entries of each failure, and gFetchResult (1 saved, 0
// cancelled, -1 failed, -2 not found). Interactive is the download screen
// (failures in a message box, entries under "frmGetInt"); Automatic is the
// silent mode's screen (failures only in the log, under "Inet2_StateChanged").
class FetchSession : public QObject {
  Q_OBJECT
 public:
  enum class Style { Interactive, Automatic };
  explicit FetchSession(Style style, QObject* parent = nullptr);

  HttpFetch* client() const { return client_; }
  // The address fetched (after the host mapping) and the file name after its last "/".
  const std::string& address() const { return address_; }
  std::string fileName() const;
  // The progress log as text (lines joined by CR LF).
  const std::string& progressLog() const { return log_; }
  void appendLine(const std::string& line, bool stamped);

  void start();
  // Ends the request with result 0; nothing is written.
  void cancel();
  bool done() const { return done_; }
  int result() const { return result_; }

 signals:
  void logChanged();
  void addressChanged();
  void stateShown(int state);
  // The exchange is over; gFetchResult holds the result.
  void finished(int result);

 private:
  void onState(int state);
  void onError();
  void onCompleted();
  void fail(long number, const std::string& logText, const std::string& message, int result);
  void finish(int result);
  Style style_;
  HttpFetch* client_ = nullptr;
  std::string address_;
  std::string log_;
  bool done_ = false;
  int result_ = 0;
};

// Runs one fetch of gDataURL into gDataPath. With a fetch screen installed (the
// screen mode) the download screen shows it; otherwise it runs without a
// window in a local event loop, reporting as the download screen does (message
// boxes through the message-box service). Returns gFetchResult.
int RunFetch();
// Installs the face that shows a fetch (the download screen); nullptr removes it.
void SetFetchPresenter(std::function<int()> presenter);
// The headless fetch; `cancelled` is polled while it runs (nullptr: never).
int FetchWithoutWindow(const std::function<bool()>& cancelled = nullptr);

}  // namespace velmo
