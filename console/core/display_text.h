// The texts the console's lists show for a server's and a port's data.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "console/core/server.h"

namespace pladmin {

// "2/6" (in use/total); "-" while the ports are unknown.
std::string PortsText(const CServer& server);
// "RAS" or "RRAS"; "" before the kind is known.
std::string KindText(const CServer& server);
// "Yes" for the master, "" otherwise.
std::string MasterText(const CServer& server);
// "Connected" or "Listening".
std::string PortStateText(const PortEntry& port);
// Local start time of a session, "" while free. `withSeconds`: hh:mm:ss.
std::string SinceText(std::time_t start, std::time_t now, bool withSeconds);
// "h:mm:ss" of a session until `now`, "" while free; a start in the future reads 0:00:00.
std::string DurationText(std::time_t start, std::time_t now);
// "1,234 B", "12.3 KB", "4.5 MB"; "" when unknown (negative).
std::string BytesText(std::int64_t bytes);

}  // namespace pladmin
