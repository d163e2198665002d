// The busy window: what is being processed, a cancel request, and one topic of
// topics.txt with buttons to page through them.
#pragma once
#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;

namespace velmo::screens {

// Season test on two-digit month texts; a season may run across the year end.
bool isInSeason(const std::string& month, const std::string& from, const std::string& to);

class frmBusy : public QDialog {
  Q_OBJECT
 public:
  explicit frmBusy(QWidget* parent = nullptr);
  ~frmBusy() override;

  std::string mstrCancel = "0";  // "1" once the user asked for a cancel
  // End of processing: steady text, blinking arrow, the button closes.
  void syoriEnd();
  // True once syoriEnd has run (the button closes the window).
  bool ended() const;
  // Shows topic n of the file, passing over topics out of season.
  void showTopic();
  // Moves the topic number by step (+1 or -1) and writes it into the file header.
  void moveTopic(int step);
  int currentTopic() const { return n_; }
  // Month used by the season test (two digits); the current month by default.
  static void SetMonthForTests(const std::string& month);

  QLabel* lblSyori = nullptr;
  QLabel* lblYajirusi = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblDaimei = nullptr;
  QTextEdit* txtHonbun = nullptr;
  QLabel* img1 = nullptr;
  QPushButton* cmdPre = nullptr;
  QPushButton* cmdNext = nullptr;
  QTimer* timBlink = nullptr;

 protected:
  void hideEvent(QHideEvent* e) override;

 private:
  void blink();
  void cancelClicked();
  void loadPicture(const std::string& name);
  QLabel* blinkTarget_ = nullptr;
  int h_ = 0;
  int n_ = 0;
};

}  // namespace velmo::screens
