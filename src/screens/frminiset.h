// The initial setup: database folder, initial databases, data storage folder,
// then the settings screen for the member's ID and password.
#pragma once
#include <QDialog>

#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velmo::screens {

// Where the folders default to: the program folder, or the user's data folder
// ($XDG_DATA_HOME/Velmo, ~/.local/share/Velmo) when the program folder cannot be
// written (an installed program). Without a trailing "/".
std::string DefaultSetupBase();

class frmIniSet : public QDialog {
  Q_OBJECT
 public:
  explicit frmIniSet(QWidget* parent = nullptr);

  void cmdDB_OK_Click();
  void cmdCopy_Click();
  void cmdCopy_OK_Click();
  void cmdLZH_OK_Click();
  void cmdNextSet_Click();

  QGroupBox* fraStep1 = nullptr;
  QGroupBox* fraStep2 = nullptr;
  QGroupBox* fraStep3 = nullptr;
  QLineEdit* txtDBdir = nullptr;
  QPushButton* cmdDBdirGet = nullptr;
  QPushButton* cmdMakeDir = nullptr;
  QPushButton* cmdDB_OK = nullptr;
  QListWidget* File1 = nullptr;
  QPushButton* cmdCopy = nullptr;
  QPushButton* cmdCopy_OK = nullptr;
  QLineEdit* txtLZHdir = nullptr;
  QPushButton* cmdLZHdirGet = nullptr;
  QPushButton* cmdMakeDir2 = nullptr;
  QPushButton* cmdLZH_OK = nullptr;
  QPushButton* cmdNextSet = nullptr;

 private:
  bool makeFolder(const std::string& folder, const char* where);
  void refreshFiles();
  void enableStep(QGroupBox* step, bool on);
};

}  // namespace velmo::screens
