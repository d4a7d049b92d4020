#include "console/ui/content_views.h"

#include <QVBoxLayout>

#include <utility>

#include "console/core/log_records.h"
#include "console/core/pladmin_doc.h"

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

}  // namespace pladmin::ui
