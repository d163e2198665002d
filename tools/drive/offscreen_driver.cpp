// velmo-drive: a member at the screens of a velmo started offscreen, for the
// package check (scripts/package-test.sh). Loaded into the installed program
// with LD_PRELOAD, it goes through the initial setup as a new member does:
// the three steps with their proposed folders, every question answered with
// its default button, the settings screen with an ID and password; once the
// main screen shows, it closes it and the program ends. It knows the screens
// only by their object names. Built in the build folder only, never installed.
// VELMO_DRIVE_TIMEOUT (seconds, default 60) ends a stuck run with exit code 9.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QWidget* visible(const char* objectName) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == objectName) return w;
  return nullptr;
}

// A click after this timer tick: a click runs its own questions in a nested
// event loop, where this timer would not tick again until the click returned.
void later(QAbstractButton* b) { QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection); }

void click(QWidget* form, const char* name) {
  if (auto* b = form->findChild<QPushButton*>(name); b && b->isEnabled()) {
    std::fprintf(stderr, "velmo-drive: %s.%s\n", qPrintable(form->objectName()), name);
    later(b);
  }
}

void step() {
  static int setupStep = 0;
  static bool settingsDone = false;
  // A question or report: its default button, else its first one.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box || !box->isVisible()) continue;
    QAbstractButton* b = box->defaultButton();
    if (!b && !box->buttons().isEmpty()) b = box->buttons().first();
    std::fprintf(stderr, "velmo-drive: message \"%s\" -> %s\n", qPrintable(box->text().simplified()),
                 b ? qPrintable(b->text()) : "(none)");
    if (b) later(b);
    return;
  }
  if (QWidget* s = visible("frmSettei"); s && !settingsDone) {
    settingsDone = true;
    if (auto* id = s->findChild<QLineEdit*>("Text4"); id && id->text().isEmpty()) id->setText("member");
    if (auto* pw = s->findChild<QLineEdit*>("Text5"); pw && pw->text().isEmpty()) pw->setText("pass1234");
    click(s, "OKButton");
    return;
  }
  if (QWidget* f = visible("frmIniSet")) {
    static const char* const steps[] = {"cmdDB_OK", "cmdCopy", "cmdCopy_OK", "cmdLZH_OK", "cmdNextSet"};
    if (setupStep < 5) {
      auto* b = f->findChild<QPushButton*>(steps[setupStep]);
      if (b && b->isEnabled()) {
        ++setupStep;  // before the click: the click runs its own questions
        click(f, steps[setupStep - 1]);
      }
    }
    return;
  }
  if (QWidget* m = visible("frmMnt")) {
    std::fprintf(stderr, "velmo-drive: the main screen is shown; closing it\n");
    m->close();
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
  }
}

void start() {
  auto* timer = new QTimer(QCoreApplication::instance());
  QObject::connect(timer, &QTimer::timeout, step);
  timer->start(50);
  const char* t = std::getenv("VELMO_DRIVE_TIMEOUT");
  const int seconds = t && *t ? std::atoi(t) : 60;
  QTimer::singleShot(seconds * 1000, [] {
    std::fprintf(stderr, "velmo-drive: the run did not reach the main screen in time\n");
    std::_Exit(9);
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(start)
