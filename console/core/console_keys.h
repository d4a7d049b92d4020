// Registry locations the console reads and writes, below HKEY_LOCAL_MACHINE.
#pragma once

#include "common/product_keys.h"

namespace pladmin {

using common::kClientKey;
using common::kProductKey;
using common::kServersKey;
// The same keys as subkeys of kProductKey, for a remote server's registry.
inline constexpr const char* kClientSubkey = "Client";
inline constexpr const char* kServersSubkey = "Servers";
inline constexpr const char* kServiceSubkey = "Service";
inline constexpr const char* kTimeZoneKey = "System\\CurrentControlSet\\Control\\TimeZoneInformation";
// Under a server's subkey of Servers: the last time-zone bias its fetch read.
inline constexpr const char* kBiasValue = "ActiveTimeBias";

// Under Client: the history opens newest first (DWORD, non-zero).
inline constexpr const char* kNewestFirstValue = "HistoryNewestFirst";

// Service names on a monitored server.
inline constexpr const char* kPortulonServiceName = common::kServiceName;

}  // namespace pladmin
