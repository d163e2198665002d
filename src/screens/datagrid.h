// The data list grids of the main screen: Gr1 (this week), Gr2 (past) and Gr3
// (jockey and trainer masters), views on table models over the engine's query
// results.
#pragma once
#include <QAbstractTableModel>
#include <QTableView>

#include <array>

#include <string>
#include <vector>

namespace velmo::screens {

// "yyyymmdd" shown as "yyyy/mm/dd"; an empty date gives "//".
std::string GridDate(const std::string& yyyymmdd);

// One row per race date of a data list table, newest first.
class DataListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  // Reads the whole table ("T" or "D" data list) of the database file; a failing
  // query raises to the caller and leaves the model empty.
  void fill(const std::string& databasePath, const std::string& table);
  void clear();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Rows are handed to the view in batches as it scrolls.
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Rows read, whether or not the view has fetched them yet.
  int totalRows() const { return static_cast<int>(rows_.size()); }
  // Column 0 of a row as shown (yyyy/mm/dd), "" outside the rows.
  std::string dateText(int row) const;

 private:
  // Per row: the date and the six shown cells (as read; formatting is lazy).
  std::vector<std::array<std::string, 7>> rows_;
  int shown_ = 0;
};

// Two rows: jockey master and trainer master, their latest data date and count.
class MasterModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void fill(const std::string& databasePath);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::array<std::array<std::string, 3>, 2> cells_{{{"騎手マスタ", "", ""}, {"調教師マスタ", "", ""}}};
};

// A read-only grid that selects whole rows in one contiguous block.
class DataGrid : public QTableView {
  Q_OBJECT
 public:
  explicit DataGrid(QWidget* parent = nullptr);
  // Column widths in twips, widened where a sample text of the column or the
  // header needs more in the screen's font.
  void setWidths(const std::vector<int>& twips, const std::vector<std::string>& samples = {});
  int columnsWidth() const;
  // Row where the selection started (the current row) and row where it ends
  // (the last one reached by a drag or shift-click); -1 without a selection.
  int anchorRow() const;
  int selectionEndRow() const;
  // Their dates as shown (yyyy/mm/dd), "" without. Reading the selection end
  // makes it the current row.
  std::string currentDate() const;
  std::string selectionEndDate();
  // Selects rows first..last as a user's click on first and shift-click on last.
  void selectRows(int first, int last);
};

}  // namespace velmo::screens
