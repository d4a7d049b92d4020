// The daily status mail: the counters of svc_status.dat (sessions admitted,
// attempts refused, forced disconnections, admissions per account) in a short
// table with the busiest accounts, mailed to DailyStatusEmailTo through
// DailyStatusEmailPOPServer. Only once the server has accepted the mail are
// the reported counts taken off the counters and DailyStatusEmailLastSent set.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

#include "service/session_log.h"

namespace svc {

struct ServiceContext;

// The text of the mail: server name, the report's local date and time, the
// period since `lastSent` (0: since counting began), the figures and up to ten
// busiest accounts (most admissions first, then by name).
std::string StatusMailBody(const std::string& serverName, const StatusCounters& counters,
                           std::time_t now, std::time_t lastSent);
// "Portulon daily status of SRV1 for 2024-Mar-12".
std::string StatusMailSubject(const std::string& serverName, std::time_t now);

struct StatusMailOutcome {
  bool sent = false;
  bool off = false;   // DailyStatusEmailType is 0: nothing tried
  std::string error;  // why it was not sent
  std::string unrecorded;  // sent, but this could not be written (event 22 says so)
};

// Sends the mail now, whatever the hour. A failure (bad settings, a server
// that cannot be reached, refuses or drops the transfer) traces
// "Status mail failed: <why>" and reports event 21 once; the counters stay.
// An accepted mail whose counter reset or DailyStatusEmailLastSent cannot be
// written reports event 22 and owes them (unrecorded_mail.h): the next mail
// leaves the reported figures out and counts its period from this one.
StatusMailOutcome SendStatusMail(const ServiceContext& context, std::time_t now,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace svc
