// The data ledger window (ツール → データ台帳): a month calendar of the ledger,
// each day coloured by the worst state of its kinds; a day picked shows its
// kinds with their records, rows, time and error; the days picked can have what
// is missing fetched through the download screen, for the main screen to
// register as it registers the internet registration's downloads.
#pragma once
#include <QDate>
#include <QDialog>
#include <string>

#include "download/ledgerview.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTreeWidget;

namespace velmo::screens {

class frmLedger : public QDialog {
  Q_OBJECT
 public:
  explicit frmLedger(QWidget* parent = nullptr);

  // "T" this week's database, "D" the past database.
  std::string mode() const;
  void setMode(const std::string& mode);
  void showMonth(const QDate& anyDayOfMonth);
  // Builds the month's ledger: offline from the kept lists, or with the lists fetched.
  void loadLedger(bool online);
  // Picks the days (the calendar's selection).
  void pickDays(const std::vector<std::string>& yyyymmdd);
  // Fetches what the picked days miss through the download screen; the number fetched.
  int cmdFetch_Click();
  int fetchedCount() const { return fetched_; }
  const LedgerReport& report() const { return report_; }

  QRadioButton* optThis = nullptr;
  QRadioButton* optPast = nullptr;
  QPushButton* cmdPrev = nullptr;
  QPushButton* cmdNext = nullptr;
  QLabel* lblMonth = nullptr;
  QTableWidget* grdCalendar = nullptr;
  QTreeWidget* lstKinds = nullptr;
  QLabel* lblSummary = nullptr;
  QPushButton* cmdCheck = nullptr;
  QPushButton* cmdFetch = nullptr;
  QPushButton* cmdClose = nullptr;

 private:
  void paintCalendar();
  void showDay(const std::string& yyyymmdd);
  std::vector<std::string> pickedDays() const;
  QDate month_;
  LedgerReport report_;
  int fetched_ = 0;
};

// The Japanese name of a ledger state, as the window shows it.
std::string LedgerStateText(LedgerState s);

}  // namespace velmo::screens
