// What Portulon made of one dial-in, for the tools that play callers: the
// remote-access service only learns "admit" or "refuse" from the hook module
// (the pipe reply carries no reason), while the service records the reason
// in the day's session log. This reads it back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

// The words after "admitted" or "refused" for a dial-in by `account` on
// `port` (the port's own name, e.g. COM1) of the current machine that began
// at `since` (seconds since 1970), from the service's record of it in the
// day's log (the data folder from the service's MasterShare setting):
//   refused:  " (4: User already connected)", " (8)" for a code without text,
//             the same with "; kept by Portulon until its data folder can be
//             written" when the record waits in the service's spool,
//             " (no reason recorded by Portulon)" when no refusal record is found;
//   admitted: "" when the service recorded the connection, " (its record;
//             kept by Portulon ...)" when it waits in the spool, else
//             " without a check: Portulon did not answer" with " (error N)"
//             when its pipe is missing (N the Win32 code).
// "" whenever Portulon is not installed on the machine (no MasterShare).
std::string DescribeDialOutcome(bool admitted, std::string_view port, std::string_view account,
                                std::int64_t since);

// The refusal part alone, for a dial-in on server `server` whose service
// keeps its logs in `dataFolder` (a console simulating one from afar).
std::string DescribeRefusal(const std::string& dataFolder, std::string_view server, std::string_view port,
                            std::string_view account, std::int64_t since);

}  // namespace common
