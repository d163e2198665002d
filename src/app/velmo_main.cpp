// velmo: the program. With no words it starts the screen mode; with three words
// (data ID, download-only flag, race date) it runs the silent mode for a parent
// program.
#include <QApplication>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/globals.h"
#include "screens/frmmnt.h"
#include "screens/qtmsgbox.h"
#include "startup/mmain.h"

using namespace velmo;

namespace {

class AppHooks : public StartupHooks {
 public:
  void showSettings(bool, bool) override {}
  void showInitialSetup() override {}
  void showMainScreen() override {
    main_ = std::make_unique<screens::frmMnt>();
    G().gStatusForm = main_.get();
    main_->show();
  }
  void runSilent(const std::vector<std::string>&) override {}
  std::unique_ptr<screens::frmMnt> main_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  // A parent started from a scheduler has no display: use the offscreen platform.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName(kAppTitle);
  screens::InstallQtMessageBoxes();
  AppHooks hooks;
  MainResult r = Main(line, hooks);
  if (!r.runEventLoop) return r.exitCode;
  int code = app.exec();
  G().gStatusForm = nullptr;
  return code;
}
