// What the usage and statistics views show, worked out from the records that
// pass the tree's filter: per user, the connections and the connected time
// of the day shown and of its month; for the day, the sessions, the refusals
// and disconnections by reason and the connections per hour.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "console/core/time_format.h"

namespace pladmin {

struct UserUsage {
  std::string user;
  int dayConnections = 0;
  std::int64_t daySeconds = 0;
  int monthConnections = 0;
  std::int64_t monthSeconds = 0;
};

// Connections count connection records; connected time sums the durations of
// hang-up records. Users in case-insensitive order; users of the month
// without anything on the day are listed too.
std::vector<UserUsage> ComputeUsage(const std::vector<const common::LogRecord*>& day,
                                    const std::vector<const common::LogRecord*>& month);

struct DayStatistics {
  int sessions = 0;       // connection records
  int refusals = 0;       // refusal records
  int disconnects = 0;    // hang-up records
  int forced = 0;         // hang-ups with a reason (the service cut the session)
  std::int64_t connectedSeconds = 0;
  std::map<int, int> refusalsByReason;     // code -> count
  std::map<int, int> disconnectsByReason;  // reason (0 normal) -> count
  std::array<int, 24> connectionsByHour{};  // by the hour of the event's (shifted) time
  int BusiestHour() const;  // -1 when there was no connection
};
DayStatistics ComputeStatistics(const std::vector<common::LogRecordView>& records);
DayStatistics ComputeStatistics(const std::vector<const common::LogRecord*>& records);

// The records of a day and of every day of its month (up to its last day),
// moved to the servers' clocks and filtered. Days without a file add nothing.
struct UsageData {
  std::vector<common::LogRecord> day, month;
  std::vector<const common::LogRecord*> dayRows, monthRows;
};
void LoadUsageData(const std::string& dataFolder, const std::tm& day, int consoleBias,
                   const std::vector<ServerBias>& servers, const LogFilter& filter,
                   const GroupMembers* members, UsageData* data);

// "h:mm:ss" of a number of seconds.
std::string HoursText(std::int64_t seconds);
// The hour from its start to its last minute on `clock`: "14:00-14:59", "2:00 PM-2:59 PM".
std::string BusiestHourText(int hour, const TimeFormat& clock);
// What the views write with Save Data As (CSV, RFC 4180, CR LF line ends).
std::string UsageCsv(const std::vector<UserUsage>& usage);
std::string StatisticsCsv(const DayStatistics& stats);
// "Normal" for reason 0, the reason's text, else "Reason %d".
std::string DisconnectReasonText(int reason);
std::string RefusalReasonText(int code);

}  // namespace pladmin
