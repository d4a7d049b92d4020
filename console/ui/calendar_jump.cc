#include "console/ui/calendar_jump.h"

#include <QDialogButtonBox>
#include <QTextCharFormat>
#include <QVBoxLayout>

#include "console/core/calendar_days.h"

namespace pladmin::ui {

CalendarJumpDialog::CalendarJumpDialog(const std::string& dataFolder, QDate day, QWidget* parent)
    : QDialog(parent), folder_(dataFolder), calendar_(new QCalendarWidget(this)) {
  setWindowTitle(tr("Calendar Jump"));
  calendar_->setGridVisible(true);
  connect(calendar_, &QCalendarWidget::currentPageChanged, this, &CalendarJumpDialog::MarkDays);
  calendar_->setSelectedDate(day);
  MarkDays(day.year(), day.month());
  connect(calendar_, &QCalendarWidget::activated, this, &QDialog::accept);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(calendar_);
  layout->addWidget(buttons);
}

void CalendarJumpDialog::MarkDays(int year, int month) {
  calendar_->setDateTextFormat(QDate(), QTextCharFormat());  // clears every mark
  // The grid shows the end of the month before and the start of the next.
  const QDate first = QDate(year, month, 1).addMonths(-1);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  for (const CalendarDay& d : DaysWithLogs(folder_, first.year(), first.month(), 3)) {
    calendar_->setDateTextFormat(QDate(d.year, d.month, d.day), bold);
  }
}

bool CalendarJumpDialog::IsBold(QDate date) const {
  return calendar_->dateTextFormat(date).fontWeight() == QFont::Bold;
}

}  // namespace pladmin::ui
