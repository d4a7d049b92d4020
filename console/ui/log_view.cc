#include "console/ui/log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinterInfo>
#include <QPrinter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <array>

#include "common/product_keys.h"
#include "console/core/log_view_model.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/csv_save.h"
#include "console/ui/customize_log_view.h"
#include "console/ui/log_print.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

namespace {

constexpr const char* kColumnsKey = common::kConsoleColumnsKey;
constexpr const char* kColumnsValue = "LogView";

// The row images: 0 forced disconnect, 1 connection, 2 refusal, 3 hang-up.
const QIcon& RowIcon(int image) {
  static const std::array<QIcon, 4> icons = [] {
    const QColor colours[4] = {QColor(0xC0, 0x30, 0x30), QColor(0x2E, 0x8B, 0x3E),
                               QColor(0xE0, 0x80, 0x10), QColor(0x70, 0x78, 0x88)};
    std::array<QIcon, 4> made;
    for (int i = 0; i < 4; ++i) {
      QPixmap pixmap(16, 16);
      pixmap.fill(Qt::transparent);
      QPainter p(&pixmap);
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(colours[i].darker(130), 1));
      p.setBrush(colours[i]);
      if (i == 1) {  // an arrow in
        p.drawPolygon(QPolygon({{2, 6}, {9, 6}, {9, 2}, {15, 8}, {9, 14}, {9, 10}, {2, 10}}));
      } else if (i == 2) {  // a bar across a disc
        p.drawEllipse(QRect(1, 1, 14, 14));
        p.fillRect(QRect(4, 7, 8, 2), Qt::white);
      } else if (i == 0) {  // a cross
        p.setPen(QPen(colours[i], 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(3, 3, 13, 13);
        p.drawLine(13, 3, 3, 13);
      } else {  // an arrow out
        p.drawPolygon(QPolygon({{14, 6}, {7, 6}, {7, 2}, {1, 8}, {7, 14}, {7, 10}, {14, 10}}));
      }
      made[i] = QIcon(pixmap);
    }
    return made;
  }();
  return icons[static_cast<size_t>(image)];
}

}  // namespace

void LogTableModel::Reset(const common::LogRecordStore* records, std::vector<int> rows,
                          std::vector<int> flags, CellOptions options) {
  beginResetModel();
  records_ = records;
  rows_ = records ? std::move(rows) : std::vector<int>();
  flags_ = std::move(flags);
  options_ = options;
  endResetModel();
}

void LogTableModel::RowsReordered() {
  emit layoutAboutToBeChanged();
  emit layoutChanged();
}

int LogTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(flags_.size());
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !records_ || index.row() >= rowCount()) return {};
  const common::LogRecordView r = RecordAt(index.row());
  const int flag = flags_[static_cast<size_t>(index.column())];
  if (role == Qt::DisplayRole) return QString::fromStdString(CellText(r, flag, options_));
  if (role == Qt::DecorationRole && index.column() == 0) {
    const int image = RecordImage(r);
    return image < 0 ? QVariant() : QVariant(RowIcon(image));
  }
  if (role == Qt::TextAlignmentRole &&
      (flag == kColLasted || flag == kColBytesIn || flag == kColBytesOut)) {
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);  // numbers line up by their last digit
  }
  if (role == Qt::UserRole) return rows_[static_cast<size_t>(index.row())];
  return {};
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount()) {
    return {};
  }
  return QString::fromStdString(ListHeading(flags_[static_cast<size_t>(section)]));
}

LogView::LogView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::Log, parent),
      list_(new QTreeView(this)),
      model_(new LogTableModel(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  AddTimeZoneNote(layout);
  layout->addWidget(list_);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::NoContextMenu);  // the view's own popup
  list_->setModel(model_);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->header()->setStretchLastSection(false);
  // Sizing a column to its contents looks at this many rows, not at a whole
  // day of a hundred thousand: the window thread must not stall on it.
  list_->header()->setResizeContentsPrecision(250);
  connect(list_->header(), &QHeaderView::sectionClicked, this, &LogView::SortBy);

  auto* copy = new QAction(tr("C&opy To Clipboard"), this);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(copy, &QAction::triggered, this, &LogView::CopyToClipboard);
  addAction(copy);
  // Copy is there only while rows are selected.
  copy->setEnabled(false);
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, copy,
          [this, copy] { copy->setEnabled(list_->selectionModel()->hasSelection()); });
  connect(model_, &QAbstractItemModel::modelReset, copy, [copy] { copy->setEnabled(false); });

  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, &LogView::CheckFileSize);
  BuildColumns();
}

LogView::~LogView() {
  if (loader_.joinable()) loader_.join();
  if (loading_) doc_.waitProgress().Signal();  // the painter must not run on
  SaveColumnWidths();
}

void LogView::ShowStatus(const QString& text) { emit StatusText(text); }

void LogView::BuildColumns() {
  const ClientSettings& settings = doc_.clientSettings();
  CellOptions options;
  options.timeFormatSeconds = settings.timeFormatSeconds;
  options.clock = doc_.timeFormat();
  const common::LogRecordStore* records = loading_ ? nullptr : &records_.records();
  std::vector<int> rows = model_->rows();
  model_->Reset(records, std::move(rows), DisplayedFlags(settings.historyViewColumns), options);
  FitColumnsToHeadings(list_->header(), 50);
  RestoreColumnWidths();
}

void LogView::OnUpdate(int hint, int) {
  switch (hint) {
    case kHintServerList:
    case kHintSelection:
    case kHintAccounts:
    case kHintDay:
      if (!timer_.isActive()) timer_.start();
      Reload();
      return;
    case kHintSaveData: Save(); return;
    case kHintColumns:
      SaveColumnWidths();
      BuildColumns();
      if (!loading_) Fill(false);
      return;
    default: return;
  }
}

void LogView::Reload(bool keepPlace) {
  if (loading_) {
    reloadAgain_ = true;
    return;
  }
  keepPlace_ = keepPlace;
  place_ = keepPlace ? TakePlace() : LogPlace{};
  filter_ = LogFilter::Of(doc_.selection());
  filterText_ = QString::fromStdString(FilterText(filter_));
  const std::string path = DayLogPath(doc_.servers().masterShare(), doc_.dayShown());
  const std::vector<ServerBias> servers = ServerBiases(doc_.servers());
  // The worker fills the document's records: the list lets go of them meanwhile.
  model_->Reset(nullptr, {}, model_->flags(), model_->options());
  loading_ = true;
  doc_.waitProgress().Begin();
  emit ProgressStarted();
  ShowStatus(tr("Loading Log Records..."));
  setCursor(Qt::WaitCursor);
  if (loader_.joinable()) loader_.join();
  CLogRecords* records = &records_;
  const int bias = doc_.timeBias();
  // The group's members come from its domain controller: off the window too.
  loadMessages_ = std::make_shared<DeferredSink>();
  loadedMembers_ = std::make_shared<GroupMembers>();
  loader_ = std::thread([this, records, path, bias, servers, filter = filter_, members = loadedMembers_,
                         messages = loadMessages_] {
    if (IsGroupFilter(filter.nodeKind)) members->Load(filter.domain, filter.group, *messages);
    records->LoadLogRecords(path, bias, servers, [this](const std::string& text) {
      QMetaObject::invokeMethod(
          this, [this, t = QString::fromStdString(text)] { ShowStatus(t); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(this, [this] { OnLoaded(); }, Qt::QueuedConnection);
  });
}

void LogView::OnLoaded() {
  if (loader_.joinable()) loader_.join();
  loading_ = false;
  unsetCursor();
  ShowStatus(records_.error() == 0
                 ? tr("Ready")
                 : tr("Could not read all of %1 (error %2): the records read before are shown.")
                       .arg(QString::fromStdString(records_.path()))
                       .arg(records_.error()));
  doc_.SetEventCount(static_cast<int>(records_.records().size()));
  doc_.waitProgress().Signal();
  loadMessages_->ReplayTo(doc_.sink());
  members_ = std::move(*loadedMembers_);
  UpdateTimeZoneNote();
  loadedJustNow_ = true;
  Fill(keepPlace_);
  emit CommandsChanged();
  emit Filled();
  if (reloadAgain_) {
    reloadAgain_ = false;
    Reload();
  }
}

void LogView::Fill(bool keepPlace) {
  const common::LogRecordStore& records = records_.records();
  lastSeenSize_ = records_.size();
  // Before a refill of the same rows the place is read from the list; after a
  // reload it was taken before the list let go of the records.
  if (keepPlace && !loadedJustNow_) place_ = TakePlace();
  loadedJustNow_ = false;
  std::vector<int> rows = FilterRows(records, filter_, &members_);
  if (!keepPlace) {
    // A new day or filter starts in file order, or newest first when asked for.
    sortFlag_ = doc_.clientSettings().newestFirst ? kColTime : 0;
    sortDirection_ = 1;
  }
  if (sortFlag_ != 0) SortLogRows(&rows, records, sortFlag_, sortDirection_);
  model_->Reset(&records, std::move(rows), model_->flags(), model_->options());
  if (keepPlace) RestorePlace(place_);
  place_ = {};
  if (model_->rowCount() > 0 && doc_.clientSettings().autoSizeColumns == 0) {
    // Every column, not just the first eight: at 50 pixels the durations and
    // byte counts at the right end would be cut.
    for (int c = 0; c < model_->columnCount(); ++c) list_->resizeColumnToContents(c);
  }
}

LogPlace LogView::TakePlace() const {
  LogPlace place;
  if (model_->rowCount() == 0) return place;
  const QModelIndex top = list_->indexAt(QPoint(1, 1));
  if (top.isValid()) place.top = RecordIdentity(model_->RecordAt(top.row()));
  for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
    place.selected.push_back(RecordIdentity(model_->RecordAt(index.row())));
  }
  return place;
}

void LogView::RestorePlace(const LogPlace& place) {
  int topRow = -1;
  const std::vector<int> selected = FindPlace(model_->rows(), records_.records(), place, &topRow);
  QItemSelection selection;
  for (int row : selected) selection.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
  list_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (topRow >= 0) list_->scrollTo(model_->index(topRow, 0), QAbstractItemView::PositionAtTop);
}

void LogView::SortBy(int column) {
  if (loading_ || column < 0 || column >= model_->columnCount()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int flag = model_->flags()[static_cast<size_t>(column)];
  sortDirection_ = SharedSortDirection();
  sortFlag_ = flag;
  list_->clearSelection();
  SortLogRows(&model_->rows(), records_.records(), flag);
  model_->RowsReordered();
  QApplication::restoreOverrideCursor();
}

void LogView::CheckFileSize() {
  if (loading_) return;
  std::uint64_t size = 0;
  const std::string path = DayLogPath(doc_.servers().masterShare(), doc_.dayShown());
  if (plat::GetFileSize(path, &size) != plat::ERROR_SUCCESS) size = 0;
  // Any size other than that of the file the rows were read from reloads,
  // also the first records of a day that was empty when the view opened.
  if (size == lastSeenSize_) return;
  Reload(/*keepPlace=*/true);
}

QStringList LogView::RowTexts(int row) const {
  QStringList texts;
  for (int c = 0; c < model_->columnCount(); ++c) texts << model_->index(row, c).data().toString();
  return texts;
}

namespace {

std::vector<int> SelectedRows(QTreeView* list) {
  std::vector<int> rows;
  for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

void LogView::CopyToClipboard() {
  const std::vector<int> rows = SelectedRows(list_);
  if (rows.empty()) return;
  std::vector<common::LogRecordView> records;
  for (int row : rows) records.push_back(model_->RecordAt(row));
  QApplication::clipboard()->setText(
      QString::fromStdString(CopyText(records, model_->flags(), model_->options())));
}

bool LogView::SaveTo(const QString& path) {
  std::vector<int> rows = SelectedRows(list_);
  if (rows.empty()) {
    for (int i = 0; i < model_->rowCount(); ++i) rows.push_back(i);
  }
  std::vector<common::LogRecordView> records;
  for (int row : rows) records.push_back(model_->RecordAt(row));
  return WriteTextFile(path, SaveText(records, model_->flags(), model_->options()), doc_.sink());
}

void LogView::Save() {
  if (loading_) return;
  const QString path = AskCsvPath(this, list_->selectionModel()->hasSelection()
                                            ? tr("Save Selected Events to File")
                                            : tr("Save All Events to File"));
  if (!path.isEmpty()) SaveTo(path);
}

void LogView::Customize() {
  CustomizeLogViewDialog dialog(doc_.clientSettings(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.Apply(doc_);
  OnUpdate(kHintColumns, -1);
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("C&opy To Clipboard"), this, &LogView::CopyToClipboard);
  copy->setEnabled(list_->selectionModel()->hasSelection());
  menu.addAction(tr("&Customize View..."), this, &LogView::Customize);
  menu.exec(event->globalPos());
}

void LogView::PrintTo(QPrinter* printer) {
  LogPrintout printout;
  printout.dayText = QString::fromStdString(
      plat::GetDateFormat(plat::GetUserDefaultLCID(), doc_.dayShown(), "dddd, MMMM dd, yyyy"));
  printout.filterText = filterText_;
  printout.listWidth = list_->viewport()->width();
  for (int c = 0; c < model_->columnCount(); ++c) {
    printout.headings << QString::fromStdString(ListHeading(model_->flags()[static_cast<size_t>(c)]));
    printout.widths.push_back(list_->header()->sectionSize(c));
  }
  printout.rowCount = model_->rowCount();
  printout.row = [this](int row) { return RowTexts(row); };
  PrintLog(printer, printout);
}

void LogView::Print(int commandId) {
  if (loading_) return;
  QPrinter printer(QPrinter::HighResolution);
  // Twelve columns read better across the page.
  printer.setPageOrientation(QPageLayout::Landscape);
  switch (commandId) {
    case ID_FILE_PRINT: {
      QPrintDialog dialog(&printer, this);
      if (dialog.exec() == QDialog::Accepted) PrintTo(&printer);
      return;
    }
    case ID_FILE_PRINT_DIRECT:
      // Without a default printer nothing would come out: say so rather than seem to print.
      if (QPrinterInfo::defaultPrinter().isNull()) {
        doc_.sink().Message("There is no default printer. Print... chooses a printer or writes a PDF file.",
                            MessageIcon::Information);
        return;
      }
      PrintTo(&printer);
      return;
    case ID_FILE_PRINT_PREVIEW: {
      QPrintPreviewDialog preview(&printer, this);
      connect(&preview, &QPrintPreviewDialog::paintRequested, this, &LogView::PrintTo);
      preview.exec();
      return;
    }
    default: return;
  }
}

void LogView::SaveColumnWidths() const {
  // Widths by logical column, so that a column keeps its width when others go.
  QStringList widths;
  plat::RegKey key;
  std::string old;
  if (plat::RegKey::Create(plat::Hive::CurrentUser, kColumnsKey, &key) != plat::ERROR_SUCCESS) return;
  key.QueryString(kColumnsValue, &old);
  widths = QString::fromStdString(old).split(',');
  while (widths.size() < kLogColumnCount) widths << "0";
  for (int c = 0; c < model_->columnCount(); ++c) {
    int n = 0;
    for (int f = model_->flags()[static_cast<size_t>(c)]; f > 1; f >>= 1) ++n;
    widths[n] = QString::number(list_->header()->sectionSize(c));
  }
  key.SetString(kColumnsValue, widths.mid(0, kLogColumnCount).join(',').toStdString());
}

void LogView::RestoreColumnWidths() {
  plat::RegKey key;
  std::string text;
  if (plat::RegKey::Open(plat::Hive::CurrentUser, kColumnsKey, &key) != plat::ERROR_SUCCESS ||
      key.QueryString(kColumnsValue, &text) != plat::ERROR_SUCCESS) {
    return;
  }
  const QStringList widths = QString::fromStdString(text).split(',');
  for (int c = 0; c < model_->columnCount(); ++c) {
    int n = 0;
    for (int f = model_->flags()[static_cast<size_t>(c)]; f > 1; f >>= 1) ++n;
    const int width = n < widths.size() ? widths[n].toInt() : 0;
    if (width > 0) list_->setColumnWidth(c, width);
  }
}

}  // namespace pladmin::ui
