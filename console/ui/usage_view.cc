#include "console/ui/usage_view.h"

#include <QContextMenuEvent>
#include <QMenu>

#include "console/core/pladmin_doc.h"
#include "console/ui/csv_save.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

UsageView::UsageView(CPladminDoc& doc, QWidget* parent) : DayView(doc, ContentView::Usage, parent) {
  table_->setRootIsDecorated(false);
  table_->setHeaderLabels({tr("User"), tr("Connections (day)"), tr("Connected (day)"),
                           tr("Connections (month)"), tr("Connected (month)")});
  table_->setContextMenuPolicy(Qt::NoContextMenu);
}

namespace {

struct UsageRead : DayViewRead {
  std::vector<UserUsage> usage;
};

}  // namespace

void UsageView::Reload() {
  const std::vector<ServerBias> servers = ServerBiases(doc_.servers());
  const std::string folder = doc_.servers().masterShare();
  const std::tm day = doc_.dayShown();
  const int bias = doc_.timeBias();
  // A month of records: not read on the window thread.
  StartRead<UsageRead>(
      [servers, folder, day, bias](const LogFilter& filter, const GroupMembers& members, UsageRead& read) {
        UsageData data;
        LoadUsageData(folder, day, bias, servers, filter, &members, &data);
        read.usage = ComputeUsage(data.dayRows, data.monthRows);
        read.dayRecords = static_cast<int>(data.day.size());
      },
      [this](UsageRead& read) { usage_ = std::move(read.usage); });
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

void UsageView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("Save Data &As..."), this, &UsageView::Save);
  menu.exec(event->globalPos());
}

}  // namespace pladmin::ui
