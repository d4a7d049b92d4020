// The service's settings: registry values under
// HKLM\<kServiceKey>, the data folder they
// select and the paths of every data file in it.
#pragma once

#include <chrono>
#include <string>

#include "common/product_keys.h"
#include "common/service_values.h"
#include "platform/win_types.h"

namespace svc {

using plat::DWORD;

using common::kServiceKey;

struct ServiceSettings {
  DWORD ipConvert = 0;          // IPConvert: session-file addresses are byte-swapped
  DWORD idleTimerSeconds = 0;   // IdleTimer, stored in minutes, kept in seconds
  DWORD idleBytesLimit = 0;     // IdleBytesLimit; 0 reads as 10000
  DWORD master = 0;             // Master
  DWORD logToLargeFile = 0;     // LogToLargeFile
  std::string assumeDomain;     // AssumeDomain (50)
  std::string masterShare;      // MasterShare: the data folder
  std::string odbcAccount, odbcDsn, odbcPassword;
  DWORD exportDates = 0, exportDays = 0, exportHours = 0, exportUsers = 0, exportHistory = 0;
  DWORD exportLive = common::kExportLiveDefault;  // ExportLive: records exported as they are written
  DWORD logSessionEventsToEventLog = 0;
  DWORD staticIP = 0;           // StaticIP: address requests answered from profiles
  DWORD logMaxSizeKB = common::kServiceLogMaxSizeKBDefault;  // LogMaxSizeKB: the trace file's limit
};

// The data folder and the files in it ("%s\portulon.usr" and so on).
struct DataPaths {
  std::string folder;       // MasterShare, or the current directory when working alone
  bool workingAlone = false;
  std::string combinedLog;  // portulon.log
  std::string users;        // portulon.usr
  std::string systemData;   // portulon.hw
  std::string loggedIn;     // portulon.tmp
  std::string portStat;     // portstat.log
  std::string statusCounters;  // svc_status.dat
};

DataPaths MakeDataPaths(const std::string& masterShare, const std::string& currentDirectory);

// Reads the values in their fixed order; a missing value leaves the field as
// it was. IdleTimer becomes seconds, an IdleBytesLimit of 0 becomes 10000.
// Traces "INIT: IdleTimer=%d  IdleBytesLimit=%d".
void ReadServiceSettings(ServiceSettings* settings);

// How long supervision sleeps between passes: a minute. Tests of the running
// program may shorten it through PORTULON_ACTION_INTERVAL_MS, which the
// product never sets.
std::chrono::milliseconds ActionInterval();

// Creates and deletes "<data folder>\<computer name>.tst": 0, or the error.
DWORD ProbeDataFolder(const std::string& folder, const std::string& serverName);

// Start-up: this server's section of the logged-in users file goes, and so
// do the temporary files writers killed halfway left in the data folder.
void ClearTEMPFile(const DataPaths& paths, const std::string& serverName);

}  // namespace svc
