// The master's scheduled jobs: the database export on the schedule of
// ExportHours, ExportDays and ExportDates (export_schedule.h), the daily
// status mail from DailyStatusEmailHour on, and the log archiving once a day
// (daily logs older than the system data's General\AutoArchiveAge days move
// from LogData to OldData). The master's export thread runs
// them; tests and tools call them directly.
#pragma once

#include <ctime>

#include "service/reporting/export_schedule.h"

namespace svc {

struct ServiceContext;

// Moves the logs whose date lies more than AutoArchiveAge days (read afresh
// from portulon.hw) before the local date of `now`; 0 archives nothing. A log
// whose name is already taken in OldData stays. Returns the number moved.
int ArchiveOldLogs(const ServiceContext& context, std::time_t now);

// One pass of the scheduler at `now`: the export when its hour is due and not
// yet run in this hour, the status mail when due and not yet tried today, the
// archiving when the local date changed; in that order, so that the export
// sees a day's log before it is archived. A job that fails waits for its next
// scheduled turn (the next export hour, the next day's mail).
void RunScheduledJobs(ServiceContext& context, ScheduleState& state, std::time_t now);

}  // namespace svc
