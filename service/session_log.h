// Session log records and statistics: one record per admission, hang-up and
// refusal in the day's log LogData\<yyyy-MMM-dd>.log (section SERVER\port, key
// the event time), optionally copied to portulon.log; the usage keys of the
// profile; the ports' Active flags; the svc_status.dat counters.
//
// A record never replaces another: when its second is already taken in the
// port's section, it goes under the next free second (in both files).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "platform/win_types.h"

namespace svc {

struct ServiceContext;
using plat::DWORD;

// "2000-Nov-21": the local date of `when`, US-English month abbreviation.
std::string LogDayName(std::time_t when);
// "<data folder>\LogData\<day>.log" for the local date of `when`.
std::string GetLogFileName(const ServiceContext& context, std::time_t when);

// Writes `value` under the first second at or after `key` that is free in the
// port's section of the current day's log (and of portulon.log when
// LogToLargeFile is on). Returns the key used.
std::int64_t WriteLogRecord(const ServiceContext& context, std::string_view port,
                            std::int64_t key, std::string_view value);

// Admission: usage keys (with `pendingUserChanges`, the admission's own
// profile writes, first, in the same rewrite), connection record "C_%s",
// Active = "1", counters Sessions and Users\<account>.
void Log_Connection(ServiceContext& context, std::string_view account, std::time_t start,
                    std::string_view port,
                    std::vector<plat::ProfileChange> pendingUserChanges = {});

// Hang-up: roster, usage keys, Active = "0", the hang-up record
// "H%s_%s?%d?%d:%s:%s:%I64d:%I64d" with the System event log's byte counts,
// the call-back rewrite of the connection record, the Disconnect counter and
// the port-table entry cleared. `duration` 0 takes the port table's start;
// `start` 0 means unknown.
void Log_HangUp(ServiceContext& context, std::string_view account, std::string_view port,
                std::int64_t duration, std::time_t start);

// Refusal: record "N_%s?%d", counter Denied, TotalDenieds of a profile.
void Log_DeniedConnection(ServiceContext& context, std::string_view account, std::time_t when,
                          std::string_view port, int code);

// svc_status.dat as the daily status mail reports it: section General's
// Sessions, Denied and Disconnect, and section Users (admissions per account,
// in file order).
struct StatusCounters {
  long sessions = 0;
  long denied = 0;
  long disconnect = 0;
  std::vector<std::pair<std::string, long>> users;
};
StatusCounters ReadStatusCounters(const ServiceContext& context);
// Takes the counts a delivered report showed off the counters, in one
// rewrite: whatever was counted after they were read stays for the next
// report. An account whose count comes to 0 or less leaves section Users.
DWORD SubtractStatusCounters(const ServiceContext& context, const StatusCounters& reported);

// What the remote-access service's System-log records tell about a session
// that ends now: 20050 statistics / 20068 call-back (NT 4 RAS), 20048 / 20064
// (RRAS). Records generated before `since` are not read.
struct SessionEventData {
  std::int64_t bytesIn = -1;
  std::int64_t bytesOut = -1;
  std::string callbackNumber;
};
SessionEventData FindSessionEventData(std::string_view account, std::string_view portName,
                                      std::time_t since);

}  // namespace svc
