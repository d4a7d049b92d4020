// CCalendarJump: a month calendar that opens on the day shown and shows bold
// the days whose log file exists in the data folder, for every month it
// shows (the days of the neighbouring months in its grid included).
#pragma once

#include <QCalendarWidget>
#include <QDialog>
#include <string>

namespace pladmin::ui {

class CalendarJumpDialog : public QDialog {
  Q_OBJECT
 public:
  CalendarJumpDialog(const std::string& dataFolder, QDate day, QWidget* parent);
  QDate selectedDate() const { return calendar_->selectedDate(); }
  QCalendarWidget* calendar() const { return calendar_; }
  // Whether a day is shown bold.
  bool IsBold(QDate date) const;

 private:
  void MarkDays(int year, int month);

  std::string folder_;
  QCalendarWidget* calendar_;
};

}  // namespace pladmin::ui
