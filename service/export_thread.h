// The export scheduler of the master: for now the log archiving, once a day.
// Daily logs older than the system data's General\AutoArchiveAge days move
// from LogData to OldData. (Database export and the status mail come later.)
#pragma once

#include <ctime>
#include <string_view>

namespace svc {

struct ServiceContext;

// Reads a daily log's name ("2000-Nov-21", month in English, any case) into
// year, month and day of `date`. False for any other name.
bool ParseLogDayName(std::string_view name, std::tm* date);

// Moves the logs whose date lies more than AutoArchiveAge days (read afresh
// from portulon.hw) before the local date of `now`; 0 archives nothing. A log
// whose name is already taken in OldData stays. Returns the number moved.
int ArchiveOldLogs(const ServiceContext& context, std::time_t now);

// On a server that is not the master: traces "Not starting because this is
// not the Master" and starts nothing. On the master: starts the thread (held
// in context.exportThread) that archives at once and then whenever the local
// date changes, checking once a minute. Stopping the thread (or destroying the
// context) ends it within moments.
void StartExportThread(ServiceContext& context);

}  // namespace svc
