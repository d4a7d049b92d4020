// What the usage and statistics views share: a bar chart over a table for
// the day shown and the tree's filter, read off the window thread (a month of
// records, a group's members from its domain controller), and saved as CSV.
#pragma once

#include <QTreeWidget>

#include <memory>
#include <utility>

#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/background_job.h"
#include "console/ui/bar_chart.h"
#include "console/ui/content_views.h"

namespace pladmin::ui {

// What every read of a day view brings back; a view's read adds its own results.
struct DayViewRead {
  int dayRecords = 0;
  DeferredSink messages;
};

class DayView : public ContentViewBase {
  Q_OBJECT
 public:
  DayView(CPladminDoc& doc, ContentView kind, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;

  QTreeWidget* table() const { return table_; }
  BarChart* chart() const { return chart_; }
  bool loading() const { return job_->busy(); }
  virtual bool SaveTo(const QString& path) = 0;

 protected:
  // Reads off the window thread: the group's members of a group filter, then
  // read(filter, members, result) into a `Result` (a DayViewRead); back on the
  // window thread take(result), Show, and the load finished. A reload asked
  // for meanwhile runs once this one is done.
  template <typename Result, typename Read, typename Take>
  void StartRead(Read read, Take take) {
    if (job_->busy()) {
      reloadAgain_ = true;
      return;
    }
    setCursor(Qt::BusyCursor);
    const LogFilter filter = LogFilter::Of(doc_.selection());
    job_->Start(
        [filter, read] {
          auto result = std::make_shared<Result>();
          GroupMembers members;
          if (IsGroupFilter(filter.nodeKind)) members.Load(filter.domain, filter.group, result->messages);
          read(filter, members, *result);
          return result;
        },
        [this, filter, take](const std::shared_ptr<Result>& result) {
          take(*result);
          Show(filter);
          if (!FinishLoad(result->messages, result->dayRecords, &reloadAgain_)) Reload();
        });
  }
  virtual void Reload() = 0;
  virtual void Show(const LogFilter& filter) = 0;
  // Asks for a file, titled SaveTitle(), and saves the view's data there.
  void Save();
  virtual QString SaveTitle() const = 0;

  QTreeWidget* table_;
  BarChart* chart_;

 private:
  BackgroundJob* job_;
  bool reloadAgain_ = false;
};

}  // namespace pladmin::ui
