#include "console/ui/content_views.h"

#include <QVBoxLayout>

#include <utility>

#include "console/core/log_records.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/log_view.h"
#include "console/ui/port_view.h"
#include "console/ui/ports_view.h"
#include "console/ui/users_view.h"
#include "console/ui/servers_view.h"
#include "console/ui/statistics_view.h"
#include "console/ui/usage_view.h"

namespace pladmin::ui {

void ContentViewBase::AddTimeZoneNote(QVBoxLayout* layout) {
  timeZoneNote_ = new QLabel(this);
  timeZoneNote_->setObjectName("timeZoneNote");
  timeZoneNote_->setWordWrap(true);
  timeZoneNote_->setStyleSheet("background: #fff6d5; color: #5a4500; padding: 3px;");
  timeZoneNote_->hide();
  layout->addWidget(timeZoneNote_);
}

void ContentViewBase::UpdateTimeZoneNote() {
  if (!timeZoneNote_) return;
  const std::string note = TimeZoneNote(doc_.servers());
  timeZoneNote_->setText(QString::fromStdString(note));
  timeZoneNote_->setVisible(!note.empty());
}

bool ContentViewBase::FinishLoad(DeferredSink& messages, int dayRecords, bool* reloadAgain) {
  messages.ReplayTo(doc_.sink());
  doc_.SetEventCount(dayRecords);
  unsetCursor();
  UpdateTimeZoneNote();
  return !std::exchange(*reloadAgain, false);
}

ContentViewBase* CreateContentView(CPladminDoc& doc, ContentView kind, QWidget* parent) {
  switch (kind) {
    case ContentView::Ports: return new PortsView(doc, parent);
    case ContentView::Users: return new UsersView(doc, parent);
    case ContentView::PortStatus: return new PortView(doc, parent);
    case ContentView::Log: return new LogView(doc, parent);
    case ContentView::Usage: return new UsageView(doc, parent);
    case ContentView::Statistics: return new StatisticsView(doc, parent);
    case ContentView::Servers: break;
  }
  return new ServersView(doc, parent);
}

}  // namespace pladmin::ui
