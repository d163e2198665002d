// The download screen frmGetInt of every interactive download: a window over
// one FetchSession (download/httpfetch.h) showing its progress log, the address
// and a cancel button.
#pragma once
#include <QDialog>
#include <string>

#include "download/httpfetch.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmo {

// What the two download screens share: the progress log, the address label, the
// cancel button and the exchange; the request starts when the screen is shown.
class FetchScreen : public QDialog {
  Q_OBJECT
 public:
  QPlainTextEdit* txtStatus = nullptr;
  QLabel* LblDataURL = nullptr;
  QPushButton* Command2 = nullptr;
  FetchSession* session = nullptr;
  HttpFetch* Inet2 = nullptr;  // the session's client
  // The progress log as text (lines joined by CR LF).
  const std::string& progressLog() const { return session->progressLog(); }

 protected:
  FetchScreen(const std::string& formName, const std::string& caption, FetchSession::Style style);
  void showEvent(QShowEvent* e) override;
  // Loading steps: centre, start the request.
  virtual void loadScreen();
  void centre();
  void appendLine(const std::string& line, bool stamped) { session->appendLine(line, stamped); }
  // The exchange is over (gFetchResult set).
  virtual void onFinished(int result) = 0;
  std::string formName_;

 private:
  void showLog();
  bool started_ = false;
};

class frmGetInt : public FetchScreen {
  Q_OBJECT
 public:
  explicit frmGetInt(QWidget* parent = nullptr);
  void reject() override;  // closing through the frame ends the request

 protected:
  void onFinished(int result) override;
};

// Shows frmGetInt modally for gDataURL / gDataPath; returns gFetchResult.
int ShowFetchScreen();
// Makes every fetch of the program (RunFetch) show the download screen.
void InstallFetchScreen();

}  // namespace velmo
