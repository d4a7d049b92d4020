// The statistics view: for the day shown and the tree's filter, the
// sessions, refusals by reason, disconnections by reason and the connections
// per hour of the day (a bar chart; the busiest hour named).
#pragma once

#include <QLabel>
#include <QTreeWidget>

#include <memory>

#include "console/core/log_filter.h"
#include "console/core/usage_stats.h"
#include "console/ui/background_job.h"
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
  bool loading() const { return job_->busy(); }

 signals:
  // The day is read and shown.
  void Filled();

 private:
  void Reload();
  void Show(const LogFilter& filter);
  void Save();

  QTreeWidget* table_;
  BarChart* chart_;
  GroupMembers members_;
  DayStatistics stats_;
  // Read again only when the file changed; the job's while it runs, and
  // shared with it so that a view closed meanwhile leaves it to the job.
  std::shared_ptr<CLogRecords> day_ = std::make_shared<CLogRecords>();
  BackgroundJob* job_;
  bool reloadAgain_ = false;
};

}  // namespace pladmin::ui
