// The client of a RAS port as the RAS hook module names it in its
// new-connection message; the service names a session it finds running on a
// port at start-up the same way, so both agree on where warnings go.
#pragma once

#include <string>

#include "platform/ras/rassapi.h"

namespace common {

// The NetBIOS workstation when that projection succeeded and named one, else
// the remote computer unless it is unknown ("?..."); empty when neither is
// known (the message then carries "*").
std::string RasClientMachine(const plat::rassapi::RAS_PORT_1& port);

}  // namespace common
