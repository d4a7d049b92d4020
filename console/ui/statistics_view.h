// The statistics view: for the day shown and the tree's filter, the
// sessions, refusals by reason, disconnections by reason and the connections
// per hour of the day (a bar chart; the busiest hour named).
#pragma once

#include <QLabel>
#include <QTreeWidget>

#include "console/core/log_filter.h"
#include "console/core/usage_stats.h"
#include "console/ui/bar_chart.h"
#include "console/ui/content_views.h"

namespace pladmin::ui {

class StatisticsView : public ContentViewBase {
  Q_OBJECT
 public:
  StatisticsView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;

  QTreeWidget* table() const { return table_; }
  BarChart* chart() const { return chart_; }
  const DayStatistics& statistics() const { return stats_; }
  bool SaveTo(const QString& path);

 private:
  void Reload();
  void Save();

  QTreeWidget* table_;
  BarChart* chart_;
  GroupMembers members_;
  DayStatistics stats_;
  CLogRecords day_;  // read again only when the file changed
};

}  // namespace pladmin::ui
