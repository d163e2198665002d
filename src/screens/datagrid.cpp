#include "screens/datagrid.h"

#include <QHeaderView>
#include <algorithm>
#include <QItemSelectionModel>

#include "common/error.h"
#include "screens/screenutil.h"
#include "startup/platform/daofunc.h"

namespace velmo::screens {

namespace {
constexpr int kBatch = 256;
// Columns shown after the date, in their order, with their headers.
const char* const kListColumns[] = {"年月日", "KOVAデータ", "調教分析データ", "直前情報データ",
                                    "払戻情報データ", "成績データ", "成績拡張データ"};
const char* const kListHeaders[] = {"", "前日/KOVA", "調教/CY", "直前/TY", "払戻/HJ", "成績/SE", "成拡/SK"};
}  // namespace

std::string GridDate(const std::string& d) {
  auto part = [&](size_t at, size_t n) { return at < d.size() ? d.substr(at, n) : std::string(); };
  return part(0, 4) + "/" + part(4, 2) + "/" + part(6, 2);
}

void DataListModel::clear() {
  beginResetModel();
  rows_.clear();
  shown_ = 0;
  endResetModel();
}

void DataListModel::fill(const std::string& databasePath, const std::string& table) {
  beginResetModel();
  rows_.clear();
  shown_ = 0;
  struct Reset {
    DataListModel* m;
    ~Reset() { m->endResetModel(); }
  } reset{this};
  db::DatabasePtr d;
  if (!DAO_Open(d, databasePath)) throw VelmoError(err::CannotOpen, "データベースを開けません。[" + databasePath + "]");
  auto q = d->openQuery("SELECT * FROM " + table + " ORDER BY 年月日 DESC;");
  int idx[7];
  for (int c = 0; c < 7; ++c) idx[c] = q->columnIndex(kListColumns[c]);
  rows_.reserve(q->rows.size());
  for (const auto& r : q->rows) {
    std::array<std::string, 7> row;
    for (int c = 0; c < 7; ++c) row[c] = db::toText(r[idx[c]]);
    rows_.push_back(std::move(row));
  }
  d->close();
  shown_ = std::min<int>(kBatch, static_cast<int>(rows_.size()));
}

int DataListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }
int DataListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 7; }

QVariant DataListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_) return {};
  if (role == Qt::DisplayRole) {
    const std::string& v = rows_[index.row()][index.column()];
    return Q(index.column() == 0 ? GridDate(v) : v);
  }
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(index.column() == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter));
  return {};
}

QVariant DataListModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 7) return Q(kListHeaders[section]);
  return {};
}

bool DataListModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && shown_ < static_cast<int>(rows_.size());
}

void DataListModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid()) return;
  int more = std::min<int>(kBatch, static_cast<int>(rows_.size()) - shown_);
  if (more <= 0) return;
  beginInsertRows({}, shown_, shown_ + more - 1);
  shown_ += more;
  endInsertRows();
}

std::string DataListModel::dateText(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return "";
  return GridDate(rows_[row][0]);
}

void MasterModel::fill(const std::string& databasePath) {
  beginResetModel();
  struct Reset {
    MasterModel* m;
    ~Reset() { m->endResetModel(); }
  } reset{this};
  cells_ = {{{"騎手マスタ", "", ""}, {"調教師マスタ", "", ""}}};
  db::DatabasePtr d;
  if (!DAO_Open(d, databasePath)) throw VelmoError(err::CannotOpen, "データベースを開けません。[" + databasePath + "]");
  const char* const sql[2] = {
      "SELECT MAX(T騎手マスタ.データ年月日) AS データ年月日, Count(T騎手マスタ.騎手コード) AS 騎手コードのｶｳﾝﾄ"
      " From T騎手マスタ;",
      "SELECT MAX(T調教師マスタ.データ年月日) AS データ年月日, Count(T調教師マスタ.調教師コード) AS 調教師コードのｶｳﾝﾄ"
      " From T調教師マスタ;"};
  for (int r = 0; r < 2; ++r) {
    auto q = d->openQuery(sql[r]);
    if (!q->eof()) {
      cells_[r][1] = GridDate(db::toText(q->get("データ年月日")));
      cells_[r][2] = db::toText(q->get(1));
    }
  }
  d->close();
}

int MasterModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }
int MasterModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant MasterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return Q(cells_[index.row()][index.column()]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(index.column() == 2 ? Qt::AlignRight | Qt::AlignVCenter
                                                                 : Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

QVariant MasterModel::headerData(int section, Qt::Orientation o, int role) const {
  static const char* const h[] = {"", "更新日", "件数"};
  if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3) return Q(h[section]);
  return {};
}

DataGrid::DataGrid(QWidget* parent) : QTableView(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  setAlternatingRowColors(true);
  setWordWrap(false);
}

void DataGrid::setWidths(const std::vector<int>& twips, const std::vector<std::string>& samples) {
  const QFontMetrics fm = fontMetrics();
  const QFontMetrics hm = horizontalHeader()->fontMetrics();
  for (size_t c = 0; c < twips.size(); ++c) {
    int w = Twips(twips[c]);
    // Never narrower than what the column has to show in this font.
    if (c < samples.size()) w = std::max(w, fm.horizontalAdvance(Q(samples[c])) + 14);
    w = std::max(w, hm.horizontalAdvance(model()->headerData(static_cast<int>(c), Qt::Horizontal).toString()) + 14);
    setColumnWidth(static_cast<int>(c), w);
  }
}

int DataGrid::columnsWidth() const {
  int w = 0;
  for (int c = 0; c < model()->columnCount(); ++c) w += columnWidth(c);
  return w;
}

int DataGrid::selectionEndRow() const {
  if (!selectionModel() || !selectionModel()->hasSelection()) return -1;
  QModelIndex cur = currentIndex();
  return cur.isValid() ? cur.row() : -1;
}

int DataGrid::anchorRow() const {
  int end = selectionEndRow();
  if (end < 0) return -1;
  const QItemSelection sel = selectionModel()->selection();
  for (const auto& range : sel) {
    if (range.top() <= end && end <= range.bottom()) return end == range.top() ? range.bottom() : range.top();
  }
  return end;
}

namespace {
std::string dateOf(const QAbstractItemModel* m, int row) {
  if (row < 0) return "";
  if (auto* list = qobject_cast<const DataListModel*>(m)) return list->dateText(row);
  return S(m->index(row, 0).data().toString());
}
}  // namespace

std::string DataGrid::currentDate() const { return dateOf(model(), anchorRow()); }

std::string DataGrid::selectionEndDate() {
  int end = selectionEndRow();
  if (end >= 0) selectionModel()->setCurrentIndex(model()->index(end, 0), QItemSelectionModel::NoUpdate);
  return dateOf(model(), end);
}

void DataGrid::selectRows(int first, int last) {
  auto* m = model();
  while (std::max(first, last) >= m->rowCount() && m->canFetchMore({})) m->fetchMore({});
  QItemSelection sel(m->index(std::min(first, last), 0), m->index(std::max(first, last), m->columnCount() - 1));
  selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
  selectionModel()->setCurrentIndex(m->index(last, 0), QItemSelectionModel::NoUpdate);
}

}  // namespace velmo::screens
