#include "console/ui/statistics_view.h"

#include <QApplication>
#include <QSplitter>
#include <QVBoxLayout>

#include "console/core/pladmin_doc.h"
#include "console/ui/csv_save.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

StatisticsView::StatisticsView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::Statistics, parent),
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
  table_->setHeaderLabels({tr("Item"), tr("Count")});
}

void StatisticsView::OnUpdate(int hint, int) {
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

struct DayLoad {
  DayStatistics stats;
  int dayRecords = 0;
  GroupMembers members;
  DeferredSink messages;
};

}  // namespace

void StatisticsView::Reload() {
  if (job_->busy()) {
    reloadAgain_ = true;
    return;
  }
  setCursor(Qt::BusyCursor);
  const LogFilter filter = LogFilter::Of(doc_.selection());
  const std::vector<ServerBias> servers = ServerBiases(doc_.servers());
  const std::string path = DayLogPath(doc_.servers().masterShare(), doc_.dayShown());
  const int bias = doc_.timeBias();
  std::shared_ptr<CLogRecords> day = day_;  // the worker's alone while the job runs
  job_->Start(
      [filter, servers, path, bias, day] {
        auto load = std::make_shared<DayLoad>();
        if (IsGroupFilter(filter.nodeKind)) load->members.Load(filter.domain, filter.group, load->messages);
        day->LoadLogRecords(path, bias, servers);
        std::vector<const common::LogRecord*> rows;
        for (const int i : FilterRows(day->records(), filter, &load->members)) {
          rows.push_back(&day->records()[static_cast<size_t>(i)]);
        }
        load->stats = ComputeStatistics(rows);
        load->dayRecords = static_cast<int>(day->records().size());
        return load;
      },
      [this, filter](const std::shared_ptr<DayLoad>& load) {
        members_ = std::move(load->members);
        stats_ = load->stats;
        Show(filter);
        if (FinishLoad(load->messages, load->dayRecords, &reloadAgain_)) {
          emit Filled();
        } else {
          Reload();
        }
      });
}

void StatisticsView::Show(const LogFilter& filter) {
  table_->clear();
  const auto add = [&](QTreeWidgetItem* parent, const QString& item, const QString& count) {
    auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(table_);
    row->setText(0, item);
    row->setText(1, count);
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    return row;
  };
  add(nullptr, tr("Sessions"), QString::number(stats_.sessions));
  auto* refusals = add(nullptr, tr("Refusals"), QString::number(stats_.refusals));
  for (const auto& [code, n] : stats_.refusalsByReason) {
    add(refusals, QString::fromStdString(RefusalReasonText(code)), QString::number(n));
  }
  auto* hangUps = add(nullptr, tr("Disconnections"), QString::number(stats_.disconnects));
  for (const auto& [reason, n] : stats_.disconnectsByReason) {
    add(hangUps, QString::fromStdString(DisconnectReasonText(reason)), QString::number(n));
  }
  add(nullptr, tr("Connected time"), QString::fromStdString(HoursText(stats_.connectedSeconds)));
  const int busiest = stats_.BusiestHour();
  add(nullptr, tr("Busiest hour"),
      busiest < 0 ? tr("none") : QString::fromStdString(BusiestHourText(busiest, doc_.timeFormat())));
  table_->expandAll();
  table_->resizeColumnToContents(0);

  QStringList hours;
  std::vector<double> connections;
  for (int h = 0; h < 24; ++h) {
    hours << QString::fromStdString(doc_.timeFormat().Hour(h));
    connections.push_back(stats_.connectionsByHour[static_cast<size_t>(h)]);
  }
  const QString date = QString::fromStdString(
      plat::GetDateFormat(plat::GetUserDefaultLCID(), doc_.dayShown(), "dddd, MMMM dd, yyyy"));
  chart_->SetData(tr("Connections per hour, %1 %2").arg(date, QString::fromStdString(FilterText(filter))),
                  hours, {{tr("Connections"), QColor(0x2E, 0x8B, 0x3E), connections}});
}

bool StatisticsView::SaveTo(const QString& path) {
  return WriteTextFile(path, StatisticsCsv(stats_), doc_.sink());
}

void StatisticsView::Save() {
  const QString path = AskCsvPath(this, tr("Save Statistics to File"));
  if (!path.isEmpty()) SaveTo(path);
}

}  // namespace pladmin::ui
