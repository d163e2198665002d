// The download selection screen: data kinds of the catalogue and a race date or
// a range of dates; fetches the archives into the download folder. It registers
// nothing: the main screen does that after it closes.
#pragma once
#include <QDialog>

#include <string>

class QCheckBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTreeWidget;

namespace velmo::screens {

// Whether a list line names an archive dated first..last (yyyymmdd, both ends included).
bool isInDateRange(const std::string& line, const std::string& first, const std::string& last);

class frmInt : public QDialog {
  Q_OBJECT
 public:
  explicit frmInt(QWidget* parent = nullptr);

  std::string gstrTDM = "T??";   // catalogue "TDM" pattern: "T??" this week, "?D?" past
  std::string gstrSet = "通常";  // catalogue "セット"

  // Set by the opener: the range first..last, or one date (the range off).
  void setRange(const std::string& firstYmd, const std::string& lastYmd);
  void setSingle(const std::string& ymd);
  bool rangeOn() const;

  void loadDataKinds();
  int getMultiFile(const std::string& dataId, const std::string& first, const std::string& last);
  void getSingleFile(const std::string& dataId);
  // ダウンロード開始.
  void cmdDown_Click();

  QRadioButton* optDataSet[3] = {};
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label6 = nullptr;
  QDateEdit* DTPicker1 = nullptr;
  QDateEdit* DTPicker2 = nullptr;
  QPushButton* cmdHani = nullptr;
  QPushButton* ComdYesterday = nullptr;
  QPushButton* cmdTomorrow = nullptr;
  QTreeWidget* ListView1 = nullptr;
  QCheckBox* chkDownOnly = nullptr;
  QPushButton* cmdDown = nullptr;
  QLabel* LblDataURL = nullptr;
  QLabel* LblDataFile = nullptr;
  QStatusBar* StatusBar1 = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  void done(int r) override;

 private:
  void formLoad();
  void fetch(const std::string& url, const std::string& path);
  void setStatus(const std::string& text);
  bool loaded_ = false;
};

}  // namespace velmo::screens
