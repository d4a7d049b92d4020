// The usage view: per user, the connections and the connected time of the
// day shown and of its month, as a table and as a bar chart of the hours
// connected. It follows the tree's filter and the day commands.
#pragma once

#include <QTreeWidget>

#include "console/core/log_filter.h"
#include "console/core/usage_stats.h"
#include "console/ui/background_job.h"
#include "console/ui/bar_chart.h"
#include "console/ui/content_views.h"

namespace pladmin::ui {

class UsageView : public ContentViewBase {
  Q_OBJECT
 public:
  UsageView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;

  QTreeWidget* table() const { return table_; }
  BarChart* chart() const { return chart_; }
  const std::vector<UserUsage>& usage() const { return usage_; }
  bool SaveTo(const QString& path);
  bool loading() const { return job_->busy(); }

 signals:
  // The month is read and shown.
  void Filled();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Reload();
  void Show(const LogFilter& filter);
  void Save();

  QTreeWidget* table_;
  BarChart* chart_;
  GroupMembers members_;
  std::vector<UserUsage> usage_;
  BackgroundJob* job_;
  bool reloadAgain_ = false;
};

}  // namespace pladmin::ui
