#include "console/core/export_sessions.h"

#include "console/core/log_view_model.h"
#include "platform/sysinfo.h"

namespace pladmin {

std::vector<std::tm> DaysBetween(const std::tm& from, const std::tm& to) {
  std::vector<std::tm> days;
  // Noon keeps each step of 24 hours on the next day.
  std::time_t t = plat::FromLocalTime(
      plat::CalendarTime(from.tm_year + 1900, from.tm_mon + 1, from.tm_mday, 12));
  const std::time_t last =
      plat::FromLocalTime(plat::CalendarTime(to.tm_year + 1900, to.tm_mon + 1, to.tm_mday, 12));
  for (; t <= last + 3600; t += 86400) days.push_back(plat::LocalTime(t));
  return days;
}

ExportResult ExportSessions(const ExportRequest& request,
                            const std::function<bool(std::string_view)>& write,
                            const std::function<bool(int done, int total)>& progress) {
  ExportResult result;
  const std::vector<int> flags = DisplayedFlags(request.columns);
  CellOptions options;
  options.timeFormatSeconds = request.timeFormatSeconds;
  options.dateInTime = true;
  options.clock = request.clock;
  if (!write(SavedHeadingLine(flags) + "\r\n")) {
    result.writeFailed = true;
    return result;
  }
  const std::vector<std::tm> days = DaysBetween(request.from, request.to);
  const int total = static_cast<int>(days.size());
  for (int i = 0; i < total; ++i) {
    if (progress && !progress(i, total)) {
      result.cancelled = true;
      return result;
    }
    std::vector<common::LogRecord> records =
        common::LoadLogRecords(DayLogPath(request.dataFolder, days[static_cast<size_t>(i)]), true);
    ShiftToServerTime(&records, request.consoleBias, request.servers);
    std::string text;
    for (const common::LogRecord& r : records) {
      if (!MatchesFilter(r, request.filter, request.members)) continue;
      text += RowCsv(r, flags, options) + "\r\n";
      ++result.rows;
    }
    if (!text.empty() && !write(text)) {
      result.writeFailed = true;
      return result;
    }
    ++result.days;
  }
  if (progress) progress(total, total);
  return result;
}

}  // namespace pladmin
