// The texts the console's lists show for a server's and a port's data.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "accounts/units.h"
#include "console/core/server.h"
#include "console/core/time_format.h"

namespace pladmin {

// "2/6" (in use/total); "-" while the ports are unknown.
std::string PortsText(const CServer& server);
// "RAS" or "RRAS"; "" before the kind is known.
std::string KindText(const CServer& server);
// "Yes" for the master, "" otherwise.
std::string MasterText(const CServer& server);
// "Connected" or "Listening".
std::string PortStateText(const PortEntry& port);
// Local start time of a session on `clock`, with the date unless it is
// today; "" while free.
std::string SinceText(std::time_t start, std::time_t now, bool withSeconds, const TimeFormat& clock);
// A profile value as the users view shows it: times of day on `clock`
// ("2026-12-09 14:05:09"), everything else as the account tools write it.
std::string AccountValueText(accounts::Unit unit, std::string_view fileText, const TimeFormat& clock);
// "h:mm:ss" of a session until `now`, "" while free; a start in the future reads 0:00:00.
std::string DurationText(std::time_t start, std::time_t now);
// "1,234 B", "12.3 KB", "4.5 MB"; "" when unknown (negative).
std::string BytesText(std::int64_t bytes);

}  // namespace pladmin
