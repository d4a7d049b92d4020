// The service's settings: registry values under
// HKLM\<kServiceKey>, the data folder they
// select and the paths of every data file in it.
#pragma once

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

}  // namespace svc

namespace svc {

struct ServiceContext;

// Re-reads the settings, fixes the data folder and file paths from MasterShare
// ("Working alone" in the current directory without one) and tests the folder.
void ReadSettings(ServiceContext& context);

// Creates and deletes "<data folder>\<computer name>.tst". On failure traces
// "TestMasterShare" "Failed to access folder", reports event 1 when this
// begins an outage of the folder (not again while it lasts) and returns the
// system error; on success traces "Access OK", ends such an outage (event
// 19) and returns 0.
DWORD TestMasterShare(const ServiceContext& context);

// A caller's profile could not be read because the folder could not
// (`error`): event 1, saying what is done to such callers, when this begins
// the outage; counted otherwise.
void NoteDataFolderUnreadable(const ServiceContext& context, DWORD error);
// The folder answered a test: ends its outage with event 19 and the count.
void NoteDataFolderReadable(const ServiceContext& context);

// The same file test without trace or event (the admission check's own use).
DWORD ProbeDataFolder(const ServiceContext& context);

// Deletes this server's section of the logged-in users file.
void ClearTEMPFile(const ServiceContext& context);

}  // namespace svc
