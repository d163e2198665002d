// The main screen.
#pragma once
#include <QMainWindow>
#include <QStatusBar>

#include "common/globals.h"

class QTableWidget;

namespace velmo::screens {

class frmMnt : public QMainWindow, public StatusSink {
  Q_OBJECT
 public:
  explicit frmMnt(QWidget* parent = nullptr);

  std::string statusText() const override;
  void setStatusText(const std::string& text) override;
  void refresh() override;
  // Refills the this-week list from "Tデータ一覧テーブル".
  void fillThisWeek();

 private:
  QTableWidget* grThis_ = nullptr;
};

}  // namespace velmo::screens
