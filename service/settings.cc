#include "service/settings.h"

#include <cstdlib>

#include "common/data_folder.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/session_files.h"

namespace svc {

namespace {

void ReadDword(const plat::RegKey& key, const char* name, DWORD* value) {
  DWORD v = 0;
  if (key.QueryDword(name, &v) == plat::ERROR_SUCCESS) *value = v;
}

// A string value as a fixed buffer would hold it.
void ReadString(const plat::RegKey& key, const char* name, size_t bufferSize, std::string* value) {
  std::string v;
  if (key.QueryString(name, &v) != plat::ERROR_SUCCESS) return;
  if (v.size() >= bufferSize) v.resize(bufferSize - 1);
  *value = v;
}

}  // namespace

DataPaths MakeDataPaths(const std::string& masterShare, const std::string& currentDirectory) {
  DataPaths p;
  p.workingAlone = masterShare.empty();
  p.folder = p.workingAlone ? currentDirectory : masterShare;
  while (p.folder.size() > 3 && (p.folder.back() == '\\' || p.folder.back() == '/')) {
    p.folder.pop_back();
  }
  p.combinedLog = common::DataFile(p.folder, common::kCombinedLogFile);
  p.users = common::DataFile(p.folder, common::kUsersFile);
  p.systemData = common::DataFile(p.folder, common::kSystemDataFile);
  p.loggedIn = common::DataFile(p.folder, common::kLoggedInFile);
  p.portStat = common::DataFile(p.folder, common::kPortStatFile);
  // Working alone, the counters stay beside the other data files instead of
  // landing in the root of the current drive.
  p.statusCounters = common::DataFile(p.folder, common::kStatusCountersFile);
  return p;
}

void ReadServiceSettings(ServiceSettings* s) {
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, kServiceKey, &key) == plat::ERROR_SUCCESS) {
    ReadDword(key, common::kIpConvertValue, &s->ipConvert);
    DWORD minutes = s->idleTimerSeconds / 60;
    ReadDword(key, common::kIdleTimerValue, &minutes);
    s->idleTimerSeconds = minutes * 60;
    ReadDword(key, common::kIdleBytesLimitValue, &s->idleBytesLimit);
    ReadDword(key, common::kMasterValue, &s->master);
    ReadDword(key, common::kLogToLargeFileValue, &s->logToLargeFile);
    ReadString(key, common::kAssumeDomainValue, 50, &s->assumeDomain);
    ReadString(key, common::kMasterShareValue, 600, &s->masterShare);
    ReadString(key, common::kOdbcAccountValue, 600, &s->odbcAccount);
    ReadString(key, common::kOdbcDsnValue, 600, &s->odbcDsn);
    ReadString(key, common::kOdbcPasswordValue, 600, &s->odbcPassword);
    ReadDword(key, common::kExportDatesValue, &s->exportDates);
    ReadDword(key, common::kExportDaysValue, &s->exportDays);
    ReadDword(key, common::kExportHoursValue, &s->exportHours);
    ReadDword(key, common::kExportUsersValue, &s->exportUsers);
    ReadDword(key, common::kExportHistoryValue, &s->exportHistory);
    ReadDword(key, common::kExportLiveValue, &s->exportLive);
    ReadDword(key, common::kLogSessionEventsValue, &s->logSessionEventsToEventLog);
    ReadDword(key, common::kStaticIpValue, &s->staticIP);
    ReadDword(key, common::kLogMaxSizeKBValue, &s->logMaxSizeKB);
  }
  if (s->idleBytesLimit == 0) s->idleBytesLimit = common::kIdleBytesLimitDefault;
  const std::string line =
      plat::FormatText("INIT: IdleTimer=%d  IdleBytesLimit=%d",
                       static_cast<int>(s->idleTimerSeconds), static_cast<int>(s->idleBytesLimit));
  common::Trace("ReadSettings", line, 0);
}

std::chrono::milliseconds ActionInterval() {
  if (const char* text = std::getenv("PORTULON_ACTION_INTERVAL_MS")) {
    const long ms = std::strtol(text, nullptr, 10);
    if (ms > 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(60000);
}

DWORD ProbeDataFolder(const std::string& folder, const std::string& serverName) {
  const std::string probe = folder + "\\" + serverName + ".tst";
  if (DWORD err = plat::WriteWholeFile(probe, ""); err != plat::ERROR_SUCCESS) return err;
  return plat::DeleteFile(probe);
}

void ClearTEMPFile(const DataPaths& paths, const std::string& serverName) {
  ClearLoggedInUsers(paths.loggedIn, serverName);
  const std::string& data = paths.folder;
  for (const std::string& folder : {data, common::DataFile(data, common::kDayLogFolder)}) {
    int failed = 0;
    if (const int removed = plat::ProfileRemoveStaleTemporaries(folder, &failed); removed > 0) {
      common::Trace("ClearTEMPFile", "Removed temporary files of dead writers in " + folder, removed);
    }
    if (failed > 0) common::Trace("ClearTEMPFile", "Could not remove temporary files in " + folder, failed);
  }
}

}  // namespace svc
