// The version screen.
#pragma once
#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

namespace velmo::screens {

// "ﾊﾞｰｼﾞｮﾝ " + major.minor.revision.
std::string VersionText(int major, int minor, int revision);
// The same for the program's own version, defined once by the build.
std::string VersionText();
// Starts the system information program; false (after the notice) when there is none.
bool StartSysInfo();

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblDescription = nullptr;
  QLabel* lblDisclaimer = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdSysInfo = nullptr;
};

// Opens the help page (program folder + "Velmo.html") in the browser.
void ShowHelp();

}  // namespace velmo::screens
