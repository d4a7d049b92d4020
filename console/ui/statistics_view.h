// The statistics view: for the day shown and the tree's filter, the
// sessions, refusals by reason, disconnections by reason and the connections
// per hour of the day (a bar chart; the busiest hour named).
#pragma once

#include <memory>

#include "console/core/usage_stats.h"
#include "console/ui/day_view.h"

namespace pladmin::ui {

class StatisticsView : public DayView {
  Q_OBJECT
 public:
  StatisticsView(CPladminDoc& doc, QWidget* parent);

  const DayStatistics& statistics() const { return stats_; }
  bool SaveTo(const QString& path) override;

 private:
  void Reload() override;
  void Show(const LogFilter& filter) override;
  QString SaveTitle() const override { return tr("Save Statistics to File"); }

  DayStatistics stats_;
  // Read again only when the file changed; the read's while it runs, and
  // shared with it so that a view closed meanwhile leaves it to the read.
  std::shared_ptr<CLogRecords> day_ = std::make_shared<CLogRecords>();
};

}  // namespace pladmin::ui
