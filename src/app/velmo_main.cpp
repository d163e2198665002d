// velmo: the program. With no words it starts the screen mode; with three words
// (data ID, download-only flag, race date) it runs the silent mode for a parent
// program; with archive files (*.lzh) it opens the screen mode and offers to
// register them.
#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/error.h"
#include "common/func.h"
#include "common/globals.h"
#include "common/msgbox.h"
#include "download/catalogue.h"
#include "download/latest.h"
#include "maintenance/maintenance.h"
#include "screens/frmgetauto.h"
#include "screens/frmgetint.h"
#include "screens/frminiset.h"
#include "screens/frmmnt.h"
#include "screens/frmsettei.h"
#include "screens/qtmsgbox.h"
#include "mirror/autosync.h"
#include "startup/mmain.h"
#include "startup/pipe.h"
#include "startup/platform/applog.h"

using namespace velmo;

namespace {

class AppHooks : public StartupHooks {
 public:
  void showSettings(bool redStorageFolder, bool redDatabaseFolder) override {
    screens::frmSettei f;
    f.markRed(redStorageFolder, redDatabaseFolder);
    f.exec();
  }
  void showInitialSetup() override {
    screens::frmIniSet f;
    f.exec();
  }
  void showMainScreen() override {
    main_ = std::make_unique<screens::frmMnt>();
    G().gStatusForm = main_.get();
    main_->show();
    if (!archives.empty()) {
      screens::frmMnt* m = main_.get();
      QTimer::singleShot(0, m, [m, paths = archives] { m->openArchives(paths); });
    }
  }
  std::vector<std::string> archives;  // "Open with Velmo": offered once the main screen shows
  // The silent mode: one archive fetched from the catalogue's address and
  // registered into this week's database (or only filed, word 2 = 1).
  void openParentChannel() override {
    // Nobody answers a message box in the silent mode: each one is written to
    // the log and taken as answered with its first button, so the run never blocks.
    SetMsgBoxHandler([](const MsgRequest& r) {
      WriteLog(ErrObject(0, r.text), "MsgBox", false, true);
      return r.buttons == vbYesNo || r.buttons == vbYesNoCancel ? static_cast<int>(vbYes) : static_cast<int>(vbOK);
    });
    OpenParentPipe();
  }
  int silentResult() const override { return silentResult_; }
  void runSilent(const std::vector<std::string>& words) override {
    auto& g = G();
    const std::string name = ArchiveName(words[0], words[2]);
    // The words come from outside: the archive name must stay a bare file name.
    if (!IsPlainFileName(name))
      throw VelmoError(err::InvalidArgument, "プロシージャの呼び出し、または引数が不正です。[" + words[0] + " " + words[2] + "]");
    g.gDataURL = getServerAddress(words[0]) + name;
    g.gDataPath = g.gDwnDir + name;
    if (CountFiles(g.gDwnDir + "*.lzh") > 0) DeleteFiles(g.gDwnDir + "*.lzh");
    frmGetAuto screen;
    screen.exec();
    silentResult_ = screen.exitCode();
  }
  int silentResult_ = SilentExit::Failed;
  void closeParentChannel() override { CloseParentPipe(); }
  std::unique_ptr<screens::frmMnt> main_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  // Archives given by the desktop ("Open with Velmo") open the screen mode.
  std::vector<std::string> archives = ArchivesToOpen(std::vector<std::string>(argv + 1, argv + argc));
  if (!archives.empty()) line.clear();
  // A parent started from a scheduler has no display: use the offscreen platform.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName(kAppTitle);
  // Qt's own texts (the buttons of the message boxes, the file chooser) in Japanese.
  screens::InstallQtTranslations();
  screens::InstallQtMessageBoxes();
  InstallFetchScreen();
  // The master update and the data check fetch through the download screens.
  SetFetchFunctions({getNewFile, subFileDownload});
  // The server copy follows every command's commits (setting Mirror): a miss is
  // one line on standard error and on the main screen's status bar.
  mirror::InstallAutoSync([](const std::string& m) {
    std::fprintf(stderr, "velmo: %s\n", m.c_str());
    if (G().gStatusForm) G().gStatusForm->setStatusText(m);
  });
  AppHooks hooks;
  hooks.archives = archives;
  MainResult r = Main(line, hooks);
  if (!r.runEventLoop) return r.exitCode;
  int code = app.exec();
  G().gStatusForm = nullptr;
  return code;
}
