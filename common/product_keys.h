// The product's registry keys under HKEY_LOCAL_MACHINE, and the values of
// its Service key that more than one program reads or writes, with their
// defaults (what a missing value reads as).
#pragma once

#include "platform/win_types.h"

#define PORTULON_PRODUCT_KEY "Software\\Quillfen Technologies\\Portulon"
#define PORTULON_UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

namespace common {

inline constexpr const char* kProductKey = PORTULON_PRODUCT_KEY;
// The service's settings; setup's and pl_flush's records of the server part.
inline constexpr const char* kServiceKey = PORTULON_PRODUCT_KEY "\\Service";
// The console's install record.
inline constexpr const char* kClientKey = PORTULON_PRODUCT_KEY "\\Client";
// The servers the console watches, one subkey each.
inline constexpr const char* kServersKey = PORTULON_PRODUCT_KEY "\\Servers";
// The hook modules' and the adapter's own settings (their trace limits).
inline constexpr const char* kRasHookKey = PORTULON_PRODUCT_KEY "\\PL_RAS";
inline constexpr const char* kRrasHookKey = PORTULON_PRODUCT_KEY "\\PL_RRAS";
inline constexpr const char* kOpenVpnAdapterKey = PORTULON_PRODUCT_KEY "\\OpenVPN";

// The console's own settings of its views (column widths), beside the
// product's key as the console has always kept them.
inline constexpr const char* kConsoleColumnsKey = "Software\\Quillfen Technologies\\Portulon Administrator\\Columns";

// What setup registers outside the product's key and pl_flush removes again.
inline constexpr const char* kServiceName = "Portulon";  // the service, and its event source
inline constexpr const char* kEventSourceKey =
    "System\\CurrentControlSet\\Services\\EventLog\\Application\\Portulon";
inline constexpr const char* kDataShareName = "PL_NT_DB";  // the primary's data folder
inline constexpr const char* kServerUninstallKey = PORTULON_UNINSTALL_KEY "\\Portulon Server";
inline constexpr const char* kConsoleUninstallKey =
    PORTULON_UNINSTALL_KEY "\\Portulon Administrator";
// The current user's folders; setup's shortcuts go into "Programs".
inline constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

}  // namespace common

#undef PORTULON_PRODUCT_KEY
#undef PORTULON_UNINSTALL_KEY
