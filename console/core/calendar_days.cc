#include "console/core/calendar_days.h"

#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/text.h"

namespace pladmin {

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "2026-Dec-08.log" -> the day; false for any other name.
bool ParseLogName(const std::string& name, CalendarDay* day) {
  if (name.size() != 15 || name[4] != '-' || name[8] != '-') return false;
  if (!plat::EqualsIgnoringCase(std::string_view(name).substr(11), ".log")) return false;
  int year = 0, mday = 0;
  for (int i = 0; i < 4; ++i) {
    if (name[static_cast<size_t>(i)] < '0' || name[static_cast<size_t>(i)] > '9') return false;
    year = year * 10 + (name[static_cast<size_t>(i)] - '0');
  }
  for (int i = 9; i < 11; ++i) {
    if (name[static_cast<size_t>(i)] < '0' || name[static_cast<size_t>(i)] > '9') return false;
    mday = mday * 10 + (name[static_cast<size_t>(i)] - '0');
  }
  for (int m = 0; m < 12; ++m) {
    if (plat::EqualsIgnoringCase(std::string_view(name).substr(5, 3), kMonths[m])) {
      *day = {year, m + 1, mday};
      return mday >= 1 && mday <= 31;
    }
  }
  return false;
}

}  // namespace

std::set<CalendarDay> DaysWithLogs(const std::string& dataFolder, int year, int month,
                                   int monthCount) {
  std::set<CalendarDay> days;
  if (year == 1970 || monthCount <= 0) return days;
  std::vector<plat::FindData> entries;
  if (plat::FindFiles(dataFolder + "\\LogData\\*.log", &entries) != plat::ERROR_SUCCESS) return days;
  // The months asked for, as year * 12 + month - 1, rolling over the year.
  const int first = year * 12 + (month - 1);
  for (const plat::FindData& entry : entries) {
    CalendarDay day;
    if (entry.isDirectory || !ParseLogName(entry.name, &day)) continue;
    const int index = day.year * 12 + (day.month - 1);
    if (index >= first && index < first + monthCount) days.insert(day);
  }
  return days;
}

}  // namespace pladmin
