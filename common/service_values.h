// The values of the Service key (common::kServiceKey): what the service
// reads, what setup writes and pl_flush reads back, and what the service
// writes there for the console and the tools. A missing value reads as its
// default.
#pragma once

#include "platform/win_types.h"

namespace common {

// Written by setup.
inline constexpr const char* kInstallPathValue = "InstallPath";  // also of the Client key
inline constexpr const char* kVersionValue = "Version";          // also of the Client key
inline constexpr const char* kInstalledValue = "Installed";      // DWORD: when, seconds since 1970
// The service's settings.
inline constexpr const char* kIpConvertValue = "IPConvert";
inline constexpr const char* kIdleTimerValue = "IdleTimer";  // minutes
inline constexpr const char* kIdleBytesLimitValue = "IdleBytesLimit";
inline constexpr plat::DWORD kIdleBytesLimitDefault = 10000;  // also what 0 reads as
inline constexpr const char* kMasterValue = "Master";
inline constexpr const char* kLogToLargeFileValue = "LogToLargeFile";
inline constexpr const char* kAssumeDomainValue = "AssumeDomain";
inline constexpr const char* kMasterShareValue = "MasterShare";  // the data folder; none: working alone
inline constexpr const char* kOdbcAccountValue = "ODBC_Account";
inline constexpr const char* kOdbcDsnValue = "ODBC_DSN";
inline constexpr const char* kOdbcPasswordValue = "ODBC_Password";
inline constexpr const char* kExportDatesValue = "ExportDates";
inline constexpr const char* kExportDaysValue = "ExportDays";
inline constexpr const char* kExportHoursValue = "ExportHours";
inline constexpr const char* kExportUsersValue = "ExportUsers";
inline constexpr const char* kExportHistoryValue = "ExportHistory";
// Non-zero: while the history is exported, each record also reaches the
// database within a minute of being written.
inline constexpr const char* kExportLiveValue = "ExportLive";
inline constexpr plat::DWORD kExportLiveDefault = 1;
inline constexpr const char* kLogSessionEventsValue = "LogSessionEventsToEventLog";
inline constexpr const char* kStaticIpValue = "StaticIP";
// The trace file's limit, here and under the hook modules' and the adapter's keys.
inline constexpr const char* kLogMaxSizeKBValue = "LogMaxSizeKB";
inline constexpr plat::DWORD kServiceLogMaxSizeKBDefault = 512;
inline constexpr plat::DWORD kModuleLogMaxSizeKBDefault = 100;  // hook modules, adapter

// Why supervision cannot disconnect sessions on this server, in words;
// absent while it can.
inline constexpr const char* kCannotDisconnectValue = "CannotDisconnect";

}  // namespace common
