// The export scheduler of the master: the database export on the schedule of
// ExportHours, ExportDays and ExportDates (reporting/export_schedule.h), the
// daily status mail from DailyStatusEmailHour on, and the log archiving once a
// day (daily logs older than the system data's General\AutoArchiveAge days
// move from LogData to OldData).
#pragma once

#include <ctime>
#include <string_view>

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

// On a server that is not the master: traces "Not starting because this is
// not the Master" and starts nothing. On the master: starts the thread (held
// in context.exportThread) that runs RunScheduledJobs at once and then once a
// minute. Stopping the thread (or destroying the context) ends it within
// moments, or once a job under way has finished (a mail transfer waits at most
// 30 s for the server).
void StartExportThread(ServiceContext& context);

}  // namespace svc
