#include "screens/frmgetint.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "common/globals.h"

namespace velmo {

// ---- the shared screen ----------------------------------------------------------------

FetchScreen::FetchScreen(const std::string& formName, const std::string& caption, FetchSession::Style style)
    : formName_(formName) {
  setObjectName(QString::fromStdString(formName));
  setWindowTitle(QString::fromStdString(caption));
  setModal(true);
  session = new FetchSession(style, this);
  Inet2 = session->client();
  auto* lay = new QVBoxLayout(this);
  LblDataURL = new QLabel(this);
  LblDataURL->setObjectName("LblDataURL");
  LblDataURL->setTextInteractionFlags(Qt::TextSelectableByMouse);
  txtStatus = new QPlainTextEdit(this);
  txtStatus->setObjectName("txtStatus");
  txtStatus->setReadOnly(true);
  Command2 = new QPushButton(QString::fromUtf8("キャンセル"), this);
  Command2->setObjectName("Command2");
  lay->addWidget(LblDataURL);
  lay->addWidget(txtStatus, 1);
  lay->addWidget(Command2, 0, Qt::AlignRight);
  resize(480, 260);
  showLog();
  connect(session, &FetchSession::logChanged, this, &FetchScreen::showLog);
  connect(session, &FetchSession::stateShown, this, [this]() { update(); });
  connect(session, &FetchSession::addressChanged, this,
          [this]() { LblDataURL->setText(QString::fromStdString(session->address())); });
  connect(session, &FetchSession::finished, this, [this](int r) { onFinished(r); });
}

void FetchScreen::showLog() {
  txtStatus->setPlainText(QString::fromStdString(session->progressLog()).replace("\r\n", "\n"));
  txtStatus->moveCursor(QTextCursor::End);
  txtStatus->repaint();
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
  session->start();
}

// ---- frmGetInt ------------------------------------------------------------------------

frmGetInt::frmGetInt(QWidget* parent) : FetchScreen("frmGetInt", "Velmo-データダウンロード", FetchSession::Style::Interactive) {
  if (parent) setParent(parent, windowFlags());
  connect(Command2, &QPushButton::clicked, this, [this]() {
    session->cancel();
    accept();
  });
}

void frmGetInt::reject() {
  session->cancel();
  QDialog::reject();
}

void frmGetInt::onFinished(int) { accept(); }

int ShowFetchScreen() {
  frmGetInt f;
  f.exec();
  return G().gFetchResult;
}

void InstallFetchScreen() { SetFetchPresenter([]() { return ShowFetchScreen(); }); }

}  // namespace velmo
