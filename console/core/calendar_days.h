// The days the calendar-jump dialog shows bold: those of the months it shows
// whose log file exists in the data folder.
#pragma once

#include <set>
#include <string>

namespace pladmin {

struct CalendarDay {
  int year = 0, month = 0, day = 0;
  auto operator<=>(const CalendarDay&) const = default;
};

// The days of `monthCount` consecutive calendar months from year/month
// (rolling over into the next year) that have a "LogData\yyyy-MMM-dd.log".
// Nothing while the calendar reads 1970 (its date is not set yet).
std::set<CalendarDay> DaysWithLogs(const std::string& dataFolder, int year, int month,
                                   int monthCount);

}  // namespace pladmin
