// Session log records and statistics: one record per admission, hang-up and
// refusal in the day's log LogData\<yyyy-MMM-dd>.log (section SERVER\port, key
// the event time), optionally copied to portulon.log; the usage keys of the
// profile; the ports' Active flags; the svc_status.dat counters.
//
// A write the data folder does not take is kept in the service's spool
// (record_spool.h) and written later by Log_WriteKept; while anything waits
// there, every later write waits behind it, so that none overtakes another.
//
// A record never replaces another: when its second is already taken in the
// port's section, it goes under "<second>.<n>" (in both files), so that it
// keeps the second it happened in. Records are appended to the file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "platform/win_types.h"
#include "service/account_name.h"
#include "service/profile_store.h"

namespace svc {

struct ServiceContext;
using plat::DWORD;

// How far a client's clock may run ahead of ours: a message's session start
// or duration that goes further than this past what our clock allows is
// taken as wrong (and traced).
inline constexpr long kClockSkewSeconds = 300;

// portulon.log is renamed to portulon.log.old once it grows past this.
inline constexpr std::uint64_t kCombinedLogMaxBytes = 64ull << 20;

// "<data folder>\LogData\<day>.log" for the local date of `when`.
std::string GetLogFileName(const ServiceContext& context, std::time_t when);

// Appends `value` to the port's section of the current day's log (and of
// portulon.log when LogToLargeFile is on) under the key `second`, or, when
// that second already has a record there, "<second>.1", "<second>.2", ...
// Returns the key used.
std::string WriteLogRecord(ServiceContext& context, std::string_view port,
                           std::int64_t second, std::string_view value);

// Admission: connection record "C_%s", then the usage keys (after
// `pendingUserChanges`, the admission's own profile writes, in the same
// write), Active = "1", counters Sessions and Users\<account>. `profile`, when
// given, is the profile as the admission read it.
void Log_Connection(ServiceContext& context, const AccountName& account, std::time_t start,
                    std::string_view port,
                    std::vector<plat::ProfileChange> pendingUserChanges = {},
                    const UserProfile* profile = nullptr);

// Hang-up: the call-back rewrite of the connection record and the hang-up
// record "H%s_%s?%d?%d:%s:%s:%I64d:%I64d" with the System event log's byte
// counts, then the usage keys, Active = "0", the roster, the port-table entry
// cleared and the Disconnect counter. `duration` 0 takes the port table's
// start; `start` 0 means unknown.
void Log_HangUp(ServiceContext& context, const AccountName& account, std::string_view port,
                std::int64_t duration, std::time_t start);

// Refusal: record "N_%s?%d", then TotalDenieds of a profile (with
// `pendingUserChanges` in the same write) and the counter Denied.
void Log_DeniedConnection(ServiceContext& context, const AccountName& account, std::time_t when,
                          std::string_view port, int code,
                          std::vector<plat::ProfileChange> pendingUserChanges = {},
                          const UserProfile* profile = nullptr);

// Writes what the data folder would not take before (records and charges
// kept in the spool), in the order it was kept, up to the first that still
// fails; each written one is noted as written late. Returns how many were
// written. Pipe thread, before each message.
long Log_WriteKept(ServiceContext& context);

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
