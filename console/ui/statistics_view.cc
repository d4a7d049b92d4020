#include "console/ui/statistics_view.h"

#include "console/core/pladmin_doc.h"
#include "console/ui/csv_save.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

StatisticsView::StatisticsView(CPladminDoc& doc, QWidget* parent)
    : DayView(doc, ContentView::Statistics, parent) {
  table_->setHeaderLabels({tr("Item"), tr("Count")});
}

namespace {

struct StatisticsRead : DayViewRead {
  DayStatistics stats;
};

}  // namespace

void StatisticsView::Reload() {
  const std::vector<ServerBias> servers = ServerBiases(doc_.servers());
  const std::string path = DayLogPath(doc_.servers().masterShare(), doc_.dayShown());
  const int bias = doc_.timeBias();
  std::shared_ptr<CLogRecords> day = day_;  // the worker's alone while the read runs
  StartRead<StatisticsRead>(
      [servers, path, bias, day](const LogFilter& filter, const GroupMembers& members, StatisticsRead& read) {
        day->LoadLogRecords(path, bias, servers);
        std::vector<common::LogRecordView> rows;
        for (const int i : FilterRows(day->records(), filter, &members)) {
          rows.push_back(day->records()[static_cast<size_t>(i)]);
        }
        read.stats = ComputeStatistics(rows);
        read.dayRecords = static_cast<int>(day->records().size());
      },
      [this](StatisticsRead& read) { stats_ = read.stats; });
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

}  // namespace pladmin::ui
