#include "console/ui/content_views.h"

#include <QVBoxLayout>

#include <utility>

#include "console/core/log_records.h"
#include "console/core/pladmin_doc.h"
#include "platform/sysinfo.h"
#include "console/ui/log_view.h"
#include "console/ui/port_view.h"
#include "console/ui/ports_view.h"
#include "console/ui/users_view.h"
#include "console/ui/servers_view.h"
#include "console/ui/statistics_view.h"
#include "console/ui/usage_view.h"

namespace pladmin::ui {

namespace {

QString PlaceholderText(ContentView kind, const CPladminDoc& doc) {
  const QString day = QString::fromStdString(
      plat::GetDateFormat(plat::LOCALE_US_ENGLISH, doc.dayShown(), "dddd, MMMM dd, yyyy"));
  switch (kind) {
    case ContentView::Log:
      return QObject::tr("History of %1\n\nThe sessions of the day are listed here once the "
                         "log viewer is installed.").arg(day);
    case ContentView::Usage:
      return QObject::tr("Usage on %1\n\nThe usage graph comes with the statistics part of the "
                         "console.").arg(day);
    case ContentView::Statistics:
      return QObject::tr("Statistics for %1\n\nThe statistics come with the statistics part of "
                         "the console.").arg(day);
    default:
      return QObject::tr("Users\n\nThe accounts, their profiles and usage are edited here once "
                         "the accounts part of the console is installed.");
  }
}

}  // namespace

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

PlaceholderView::PlaceholderView(CPladminDoc& doc, ContentView kind, QWidget* parent)
    : ContentViewBase(doc, kind, parent), label_(new QLabel(this)) {
  auto* layout = new QVBoxLayout(this);
  label_->setAlignment(Qt::AlignCenter);
  label_->setWordWrap(true);
  label_->setStyleSheet("color: #555; font-size: 11pt;");
  layout->addWidget(label_);
  OnUpdate(kHintNone, -1);
}

void PlaceholderView::OnUpdate(int hint, int) {
  if (hint == kHintNone || hint == kHintDay || hint == kHintSelection) {
    label_->setText(PlaceholderText(kind(), doc_));
  }
}

ContentViewBase* CreateContentView(CPladminDoc& doc, ContentView kind, QWidget* parent) {
  switch (kind) {
    case ContentView::Servers: return new ServersView(doc, parent);
    case ContentView::Ports: return new PortsView(doc, parent);
    case ContentView::Users: return new UsersView(doc, parent);
    case ContentView::PortStatus: return new PortView(doc, parent);
    case ContentView::Log: return new LogView(doc, parent);
    case ContentView::Usage: return new UsageView(doc, parent);
    case ContentView::Statistics: return new StatisticsView(doc, parent);
    default: return new PlaceholderView(doc, kind, parent);
  }
}

}  // namespace pladmin::ui
