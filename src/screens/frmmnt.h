// The main screen: the three data list grids, the commands of registration,
// changeover, deletion and master update, and the menus of the tools and setup
// screens.
#pragma once
#include <QMainWindow>

#include <string>
#include <vector>

#include "common/globals.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;

namespace velmo::screens {

class DataGrid;
class DataListModel;
class MasterModel;

class frmMnt : public QMainWindow, public StatusSink {
  Q_OBJECT
 public:
  explicit frmMnt(QWidget* parent = nullptr);
  ~frmMnt() override;

  // StatusSink: the status bar StatusBar1.
  std::string statusText() const override;
  void setStatusText(const std::string& text) override;
  void refresh() override;

  // The three fills.
  void fillGr1();
  void fillGr2();
  void fillGr3();

  // Registers every archive of the download folder into the mode's database and
  // files it in the data storage folder.
  void regDataDir(const std::string& mode);
  // Lets the user choose archive files and registers them where they are.
  void regDataFiles(const std::string& initialFolder, const std::string& mode, const std::string& source);
  // Registers the given archives (pack archives first) into the mode's database,
  // as the file registration does after its chooser.
  void registerArchives(std::vector<std::string> paths, const std::string& mode, const std::string& source);
  // The desktop's "Open with Velmo": asks whether, and into which database, the
  // archives are registered, then registers them.
  void openArchives(const std::vector<std::string>& paths);
  // Moves every archive of the download folder into the data storage folder.
  void DataIdoDir();

  // Command handlers, as the buttons and menu items call them.
  void internetRegister(const std::string& mode);
  // ツール → データ台帳: the ledger window; what it fetched is registered as the
  // internet registration's downloads are.
  void ledgerWindow();
  // After a fetch into the download folder: files or registers what arrived.
  void registerDownloads(const std::string& mode);
  void cmdDeleteThis_Click();
  void cmdDelete_Click();
  void cmdWeekChange_Click();
  void cmdMasterUpdate_Click();
  void cmdDBcompact_Click(const std::string& file);
  void cmdDataChk_Click();
  void cmdMakeItiran_Click();

  // Controls (object names as the screen's control names).
  QPushButton* cmdInternetT = nullptr;
  QPushButton* cmdFileInpT = nullptr;
  QPushButton* cmdFileInpTV = nullptr;
  QPushButton* cmdDeleteThis = nullptr;
  DataGrid* Gr1 = nullptr;
  QPushButton* cmdWeekChange = nullptr;
  QPushButton* cmdInternet = nullptr;
  QPushButton* CmdFileInp = nullptr;
  QPushButton* CmdFileInpV = nullptr;
  QPushButton* cmdDelete = nullptr;
  DataGrid* Gr2 = nullptr;
  QPushButton* cmdMasterUpdate = nullptr;
  DataGrid* Gr3 = nullptr;
  QPushButton* cmdExit = nullptr;
  QLabel* Label4 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QMenu* cmdFile = nullptr;
  QMenu* mnuTool = nullptr;
  QMenu* menHelp = nullptr;
  QAction* cmdEnd = nullptr;
  QAction* cmdLedger = nullptr;
  QAction* cmdDBcompact_this = nullptr;
  QAction* cmdDBcompact_data = nullptr;
  QAction* cmdDataChk = nullptr;
  QAction* cmdMakeItiran = nullptr;
  QAction* cmdVanDodeSaihenkan = nullptr;
  QAction* mnuLine1 = nullptr;
  QAction* cmdsettei = nullptr;
  QAction* cmdIniSet = nullptr;
  QAction* cmdSQLGamen = nullptr;
  QAction* cmdHelp = nullptr;
  QAction* cmdVirsion = nullptr;

  DataListModel* thisWeekModel() const { return m1_; }
  DataListModel* pastModel() const { return m2_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void buildMenus();
  QPushButton* commandButton(const char* name, const char* icon, const char* tip);
  void formLoad();
  QLabel* lblStatus_ = nullptr;  // the single text panel of StatusBar1
  DataListModel* m1_ = nullptr;
  DataListModel* m2_ = nullptr;
  MasterModel* m3_ = nullptr;
};

}  // namespace velmo::screens
