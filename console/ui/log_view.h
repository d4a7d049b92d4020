// CLogView: the day's session events in a report list. The rows are the
// records that pass the tree's filter; the list reads its cells from the
// records as it draws them, so a day of a million records fills at once. The
// day is read on a worker thread while status pane 1 shows the progress
// painter; every 5 seconds the file's size is looked at, and a change reads
// the day again, keeping the order and the place the user had.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "console/core/log_columns.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "console/core/log_view_model.h"
#include "console/ui/content_views.h"

class QPrinter;

namespace pladmin::ui {

// The list's model: rows are record indexes into the document's day.
class LogTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit LogTableModel(QObject* parent) : QAbstractTableModel(parent) {}
  void Reset(const common::LogRecordStore* records, std::vector<int> rows,
             std::vector<int> flags, CellOptions options);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  common::LogRecordView RecordAt(int row) const {
    return (*records_)[static_cast<size_t>(rows_[static_cast<size_t>(row)])];
  }
  std::vector<int>& rows() { return rows_; }
  const std::vector<int>& flags() const { return flags_; }
  const CellOptions& options() const { return options_; }
  // Tells the list the rows were reordered.
  void RowsReordered();

 private:
  const common::LogRecordStore* records_ = nullptr;  // the document's
  std::vector<int> rows_;
  std::vector<int> flags_;
  CellOptions options_;
};

class LogView : public ContentViewBase {
  Q_OBJECT
 public:
  static constexpr int kTimerMs = 5000;  // TIMER_ID_LOGVIEW

  LogView(CPladminDoc& doc, QWidget* parent);
  ~LogView() override;
  void OnUpdate(int hint, int serverIndex) override;
  void Print(int commandId) override;

  QTreeView* list() const { return list_; }
  LogTableModel* model() const { return model_; }
  bool loading() const { return loading_; }
  const QString& filterText() const { return filterText_; }
  // The list's texts of a row, for the displayed columns.
  QStringList RowTexts(int row) const;

  // Commands, as the menus, popup and keys run them.
  void CopyToClipboard();
  void Customize();
  // Writes the selected rows (all when none is) to `path`; false (and the
  // message) when the file cannot be written.
  bool SaveTo(const QString& path);
  // Renders the printout onto `printer` (a PDF printer in the tests).
  void PrintTo(QPrinter* printer);
  // The 5-second look at the file, run at once.
  void CheckFileSize();

 signals:
  // A load and fill of the day has finished.
  void Filled();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildColumns();
  // keepPlace: a refresh of the same day (the timer) keeps order and place.
  void Reload(bool keepPlace = false);
  void OnLoaded();
  void Fill(bool keepPlace);
  LogPlace TakePlace() const;
  void RestorePlace(const LogPlace& place);
  void SortBy(int column);
  void Save();
  void SaveColumnWidths() const;
  void RestoreColumnWidths();
  void ShowStatus(const QString& text);

  QTreeView* list_;
  LogTableModel* model_;
  QTimer timer_;
  // The day's records; a worker fills them while loading_, nobody else reads them then.
  CLogRecords records_;
  LogFilter filter_;
  GroupMembers members_;
  QString filterText_;
  std::thread loader_;
  bool loading_ = false;
  bool reloadAgain_ = false;
  bool keepPlace_ = false;  // of the load under way
  LogPlace place_;          // taken when that load began
  // What the loader found besides the records; the loader's until it ends.
  std::shared_ptr<GroupMembers> loadedMembers_;
  std::shared_ptr<DeferredSink> loadMessages_;
  bool loadedJustNow_ = false;
  std::uint64_t lastSeenSize_ = 0;  // of the file the rows were read from
  int sortFlag_ = 0;        // the column last sorted by, 0 for file order
  int sortDirection_ = 0;   // the direction that sort used
};

}  // namespace pladmin::ui
