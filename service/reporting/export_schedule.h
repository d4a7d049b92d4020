// When the master's scheduled jobs are due. The export's bit masks (registry
// values under the Service key):
//   ExportHours  bit h (value 2^h), h = 0..23: export during the hour h:00-h:59
//   ExportDays   bit d (value 2^d), d = 0 Sunday .. 6 Saturday
//   ExportDates  bit d-1 (value 2^(d-1)), d = 1..31: the day of the month
// The export runs once in each hour of ExportHours on a day that ExportDays
// or ExportDates names; with both 0 every day qualifies. ExportHours 0, or
// neither ExportUsers nor ExportHistory set, or no ODBC_DSN: no export.
// The near-live export (live_export.h) runs while the export of the history
// is enabled (ExportEnabled and ExportHistory) and ExportLive is not 0.
// The status mail is due once a day from DailyStatusEmailHour on, when it
// has not been sent on that local date yet.
#pragma once

#include <cstdint>
#include <ctime>

#include "service/settings.h"
#include "service/system_data.h"

namespace svc {

bool ExportEnabled(const ServiceSettings& settings);
bool LiveExportEnabled(const ServiceSettings& settings);
// The export wants the hour of `local` (only the date and hour count).
bool ExportDue(const ServiceSettings& settings, const std::tm& local);
bool StatusMailDue(const StatusMailSettings& settings, std::time_t now);

// What the scheduler remembers between its passes: the slot (local day * 24 +
// hour) of the last export run, the local day of the last mail attempt and of
// the last archiving; -1 for none.
struct ScheduleState {
  std::int64_t lastExportSlot = -1;
  std::int64_t lastMailDay = -1;
  std::int64_t lastArchiveDay = -1;
};

}  // namespace svc
