// The settings screen: folders, the JRA-VAN option, the member's ID and password,
// the copies taken before a command rewrites data, and the database version upgrade.
#pragma once
#include <QDialog>

#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace velmo::screens {

// True when the folder (ending in "/") is one the program keeps for itself.
bool IsReservedFolder(const std::string& folderWithSep);
// The refusal of a reserved folder.
std::string ReservedFolderMessage(const std::string& folderWithSep);

class frmSettei : public QDialog {
  Q_OBJECT
 public:
  explicit frmSettei(QWidget* parent = nullptr);
  // Marks the data storage folder box or the database folder box red.
  void markRed(bool storageFolder, bool databaseFolder);

  void OKButton_Click();

  QGroupBox* fraDB = nullptr;
  QGroupBox* fraFolder = nullptr;
  QGroupBox* fraUser = nullptr;
  QGroupBox* fraBackup = nullptr;
  QPushButton* Command1 = nullptr;
  QLabel* lblDBVersion = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Text2 = nullptr;
  QPushButton* Command2 = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* Text3 = nullptr;
  QPushButton* Command3 = nullptr;
  QCheckBox* chkVAN = nullptr;
  QLineEdit* Text6 = nullptr;
  QPushButton* Command4 = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* Text4 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Text5 = nullptr;
  // Copies taken before a command deletes or rewrites data.
  QLabel* lblBackupDir = nullptr;
  QLineEdit* txtBackupDir = nullptr;
  QPushButton* cmdBackupDir = nullptr;
  QLabel* lblBackupGenerations = nullptr;
  QSpinBox* spnBackupGenerations = nullptr;
  // The PostgreSQL mirror (setting Mirror) and its connection test.
  QGroupBox* fraMirror = nullptr;
  QLineEdit* txtMirror = nullptr;
  QPushButton* cmdMirrorTest = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;

 private:
  void formLoad();
  void Command1_Click();
};

}  // namespace velmo::screens
