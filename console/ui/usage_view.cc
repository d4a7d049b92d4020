#include "console/ui/usage_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QSplitter>
#include <QVBoxLayout>

#include "console/core/pladmin_doc.h"
#include "console/ui/csv_save.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

UsageView::UsageView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::Usage, parent),
      table_(new QTreeWidget),
      chart_(new BarChart),
      job_(new BackgroundJob(this)) {
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(chart_);
  splitter->addWidget(table_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  AddTimeZoneNote(layout);
  layout->addWidget(splitter);
  table_->setRootIsDecorated(false);
  table_->setHeaderLabels({tr("User"), tr("Connections (day)"), tr("Connected (day)"),
                           tr("Connections (month)"), tr("Connected (month)")});
  table_->setContextMenuPolicy(Qt::NoContextMenu);
}

void UsageView::OnUpdate(int hint, int) {
  switch (hint) {
    case kHintServerList:
    case kHintSelection:
    case kHintAccounts:
    case kHintDay: Reload(); return;
    case kHintSaveData: Save(); return;
    default: return;
  }
}

namespace {

struct UsageLoad {
  std::vector<UserUsage> usage;
  int dayRecords = 0;
  GroupMembers members;
  DeferredSink messages;
};

}  // namespace

void UsageView::Reload() {
  if (job_->busy()) {
    reloadAgain_ = true;
    return;
  }
  setCursor(Qt::BusyCursor);
  const LogFilter filter = LogFilter::Of(doc_.selection());
  const std::vector<ServerBias> servers = ServerBiases(doc_.servers());
  const std::string folder = doc_.servers().masterShare();
  const std::tm day = doc_.dayShown();
  const int bias = doc_.timeBias();
  // A month of records and the group's members from its domain controller:
  // neither is read on the window thread.
  job_->Start(
      [filter, servers, folder, day, bias] {
        auto load = std::make_shared<UsageLoad>();
        if (IsGroupFilter(filter.nodeKind)) load->members.Load(filter.domain, filter.group, load->messages);
        UsageData data;
        LoadUsageData(folder, day, bias, servers, filter, &load->members, &data);
        load->usage = ComputeUsage(data.dayRows, data.monthRows);
        load->dayRecords = static_cast<int>(data.day.size());
        return load;
      },
      [this, filter](const std::shared_ptr<UsageLoad>& load) {
        members_ = std::move(load->members);
        usage_ = std::move(load->usage);
        Show(filter);
        if (FinishLoad(load->messages, load->dayRecords, &reloadAgain_)) {
          emit Filled();
        } else {
          Reload();
        }
      });
}

void UsageView::Show(const LogFilter& filter) {
  table_->clear();
  QStringList labels;
  std::vector<double> dayHours, monthHours;
  for (const UserUsage& u : usage_) {
    auto* item = new QTreeWidgetItem(table_);
    item->setText(0, QString::fromStdString(u.user));
    item->setText(1, QString::number(u.dayConnections));
    item->setText(2, QString::fromStdString(HoursText(u.daySeconds)));
    item->setText(3, QString::number(u.monthConnections));
    item->setText(4, QString::fromStdString(HoursText(u.monthSeconds)));
    for (int c = 1; c < 5; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    labels << QString::fromStdString(u.user);
    dayHours.push_back(static_cast<double>(u.daySeconds) / 3600.0);
    monthHours.push_back(static_cast<double>(u.monthSeconds) / 3600.0);
  }
  for (int c = 0; c < table_->columnCount(); ++c) table_->resizeColumnToContents(c);
  const QString day = QString::fromStdString(
      plat::GetDateFormat(plat::GetUserDefaultLCID(), doc_.dayShown(), "dddd, MMMM dd, yyyy"));
  const QString month = QString::fromStdString(
      plat::GetDateFormat(plat::GetUserDefaultLCID(), doc_.dayShown(), "MMMM yyyy"));
  chart_->SetData(tr("Connected time per user, %1 %2").arg(day, QString::fromStdString(FilterText(filter))),
                  labels,
                  {{tr("Day"), QColor(0x2F, 0x6D, 0xB5), dayHours},
                   {month, QColor(0xA9, 0xC4, 0xE6), monthHours}},
                  tr("hours"));
}

bool UsageView::SaveTo(const QString& path) { return WriteTextFile(path, UsageCsv(usage_), doc_.sink()); }

void UsageView::Save() {
  const QString path = AskCsvPath(this, tr("Save Usage to File"));
  if (!path.isEmpty()) SaveTo(path);
}

void UsageView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("Save Data &As..."), this, &UsageView::Save);
  menu.exec(event->globalPos());
}

}  // namespace pladmin::ui
