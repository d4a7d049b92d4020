// Values the service writes under its registry key
// (kProductKey\Service) for the console and the tools to read.
#pragma once

namespace common {

// Why supervision cannot disconnect sessions on this server, in words;
// absent while it can.
inline constexpr const char* kCannotDisconnectValue = "CannotDisconnect";

}  // namespace common
