// The multi-day export: the records of a range of days that pass the tree's
// filter, into one CSV file with the log view's columns; the Time/Date cell
// carries the date as well, since the rows span several days.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/log_columns.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"

namespace pladmin {

struct ExportRequest {
  std::string dataFolder;
  std::tm from{}, to{};  // days, both included
  LogFilter filter;
  const GroupMembers* members = nullptr;  // for a group filter
  int columns = -1;                       // HistoryViewColumns
  bool timeFormatSeconds = false;
  TimeFormat clock;
  int consoleBias = 0;
  std::vector<ServerBias> servers;
};

struct ExportResult {
  int days = 0;       // days read
  int rows = 0;       // rows written
  bool cancelled = false;
  bool writeFailed = false;
};

// The days from `from` to `to` (none when `to` is before `from`).
std::vector<std::tm> DaysBetween(const std::tm& from, const std::tm& to);

// Writes the heading line, then each day's matching records in file order.
// `write` takes each piece of text and returns false when it could not be
// written; `progress(done, total)` hears of every day and returns false to
// cancel (the export stops before the next day).
ExportResult ExportSessions(const ExportRequest& request,
                            const std::function<bool(std::string_view)>& write,
                            const std::function<bool(int done, int total)>& progress);

}  // namespace pladmin
