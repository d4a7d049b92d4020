#include "console/ui/day_view.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "console/ui/csv_save.h"

namespace pladmin::ui {

DayView::DayView(CPladminDoc& doc, ContentView kind, QWidget* parent)
    : ContentViewBase(doc, kind, parent),
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
}

void DayView::OnUpdate(int hint, int) {
  switch (hint) {
    case kHintServerList:
    case kHintSelection:
    case kHintAccounts:
    case kHintDay: Reload(); return;
    case kHintSaveData: Save(); return;
    default: return;
  }
}

void DayView::Save() {
  const QString path = AskCsvPath(this, SaveTitle());
  if (!path.isEmpty()) SaveTo(path);
}

}  // namespace pladmin::ui
