// The SQL screen: one statement on one database of the database folder; the
// member sees the affected count and commits or rolls back.
#pragma once
#include <QDialog>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace velmo::screens {

class frmSQL : public QDialog {
  Q_OBJECT
 public:
  explicit frmSQL(QWidget* parent = nullptr);
  void doSQL();

  QLabel* Label2 = nullptr;
  QListWidget* File1 = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* txtSQL = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;
};

}  // namespace velmo::screens
