#include "console/core/calendar_days.h"

#include <vector>

#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/file.h"

namespace pladmin {

std::set<CalendarDay> DaysWithLogs(const std::string& dataFolder, int year, int month,
                                   int monthCount) {
  std::set<CalendarDay> days;
  if (year == 1970 || monthCount <= 0) return days;
  std::vector<plat::FindData> entries;
  if (plat::FindFiles(common::DayLogSearch(dataFolder, common::kDayLogFolder), &entries) !=
      plat::ERROR_SUCCESS) {
    return days;
  }
  // The months asked for, as year * 12 + month - 1, rolling over the year.
  const int first = year * 12 + (month - 1);
  for (const plat::FindData& entry : entries) {
    std::string name;
    std::tm date{};
    if (entry.isDirectory || !common::ParseDayLogFile(entry.name, &name, &date)) continue;
    const CalendarDay day{date.tm_year + 1900, date.tm_mon + 1, date.tm_mday};
    const int index = day.year * 12 + (day.month - 1);
    if (index >= first && index < first + monthCount) days.insert(day);
  }
  return days;
}

}  // namespace pladmin
