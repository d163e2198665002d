#include "screens/frmgetauto.h"

#include <unistd.h>

#include <QLayout>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

#include "common/error.h"
#include "common/func.h"
#include "common/msgbox.h"
#include "registration/driver.h"
#include "startup/mmain.h"
#include "startup/pipe.h"
#include "startup/platform/applog.h"
#include "startup/platform/db.h"
#include "startup/platform/writerlock.h"

namespace velmo {

frmGetAuto::frmGetAuto(QWidget* parent)
    : FetchScreen("frmGetAuto", "Velmo-自動データダウンロード＆登録", FetchSession::Style::Automatic) {
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

void frmGetAuto::onFinished(int result) {
  if (result != 1) {
    exitCode_ = result == -2 ? SilentExit::NotFound : result == 0 ? SilentExit::Cancelled : SilentExit::Failed;
    accept();
    return;
  }
  // Filing or registering runs from the screen's own loop, not from inside the
  // client's signal.
  QTimer::singleShot(0, this, [this]() { afterSaved(); });
}

void frmGetAuto::afterSaved() {
  exitCode_ = SilentExit::Failed;
  try {
    if (G().gDownOnly == 1) {
      DataIdoDir();
    } else {
      G().gStatusForm = this;
      // Writers to the database folder take turns; "END" still ends the wait.
      db::WriterLock::Options o;
      o.waitSeconds = db::WriterLock::defaultWaitSeconds();
      o.onWait = [this](const std::string& m) {
        WriteLog(ErrObject(0, m), "Inet2_StateChanged", false, true);
        setStatusText(m);
        refresh();
      };
      o.cancelled = []() { return ReadParentPipe().find("END") != std::string::npos; };
      try {
        db::WriterLock lock(G().gDBDir, o);
        regDataDir("T");
      } catch (const VelmoError& e) {
        if (e.number() != err::Cancelled) throw;
        MsgBox("Canselを受信しました\r\nプログラムを終了します", vbOKOnly, "");
        EndProgramAtOnce(SilentExit::Done);
      }
    }
    exitCode_ = registrationFailed_ ? SilentExit::Failed : SilentExit::Done;
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
    // An archive that did not register is not filed as if it were done; the
    // next run clears it from the download folder.
    if (regMain(dwn + names[i], mode, "J") != 0) {
      registrationFailed_ = true;
      WriteLog(ErrObject(0, "登録できなかったためデータ保存フォルダに移しません。[" + names[i] + "]"), "regDataDir", false, true);
      continue;
    }
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
    ws.rollbackTo(0);
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
