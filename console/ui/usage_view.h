// The usage view: per user, the connections and the connected time of the
// day shown and of its month, as a table and as a bar chart of the hours
// connected. It follows the tree's filter and the day commands.
#pragma once

#include "console/core/usage_stats.h"
#include "console/ui/day_view.h"

namespace pladmin::ui {

class UsageView : public DayView {
  Q_OBJECT
 public:
  UsageView(CPladminDoc& doc, QWidget* parent);

  const std::vector<UserUsage>& usage() const { return usage_; }
  bool SaveTo(const QString& path) override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Reload() override;
  void Show(const LogFilter& filter) override;
  QString SaveTitle() const override { return tr("Save Usage to File"); }

  std::vector<UserUsage> usage_;
};

}  // namespace pladmin::ui
