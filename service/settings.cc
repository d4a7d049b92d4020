#include "service/settings.h"

#include <cstdio>

#include "common/data_folder.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "service/event_report.h"
#include "service/service_context.h"

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
  char line[100];
  std::snprintf(line, sizeof line, "INIT: IdleTimer=%d  IdleBytesLimit=%d",
                static_cast<int>(s->idleTimerSeconds), static_cast<int>(s->idleBytesLimit));
  common::Trace("ReadSettings", line, 0);
}

void ReadSettings(ServiceContext& context) {
  ServiceSettings settings = context.SettingsSnapshot();
  ReadServiceSettings(&settings);
  DataPaths paths = MakeDataPaths(settings.masterShare, plat::GetCurrentDirectory());
  {
    std::unique_lock<std::shared_mutex> lock(context.settingsMutex);
    context.settings = std::move(settings);
    context.paths = std::move(paths);
  }
  if (context.paths.workingAlone) common::Trace("ReadSettings", "Working alone", 0);
  common::Trace("ReadSettings", "Testing Share Access", 0);
  TestMasterShare(context);
}

DWORD ProbeDataFolder(const ServiceContext& context) {
  const std::string probe = context.paths.folder + "\\" + context.serverName + ".tst";
  if (DWORD err = plat::WriteWholeFile(probe, ""); err != plat::ERROR_SUCCESS) return err;
  return plat::DeleteFile(probe);
}

namespace {

constexpr const char* kShareFailed =
    "Failed to access primary share. Make sure that the Portulon service account can access share";

}  // namespace

DWORD TestMasterShare(const ServiceContext& context) {
  const DWORD err = ProbeDataFolder(context);
  if (err != plat::ERROR_SUCCESS) {
    common::Trace("TestMasterShare", "Failed to access folder", static_cast<long>(err));
    if (context.folderUnreadable.Fail()) {
      char detail[700];
      std::snprintf(detail, sizeof detail, "%s Error Code %d", context.paths.folder.c_str(),
                    static_cast<int>(err));
      ReportToEventLog(1, common::kEventShareAccessFailed, kShareFailed, detail, 2);
    }
    return err;
  }
  common::Trace("TestMasterShare", "Access OK", 0);
  NoteDataFolderReadable(context);
  return plat::ERROR_SUCCESS;
}

void NoteDataFolderUnreadable(const ServiceContext& context, DWORD error) {
  if (!context.folderUnreadable.Fail()) return;
  const bool defaults = context.systemData.defaults.assignDefault != 0;
  const std::string detail =
      context.paths.folder + " Error Code " + std::to_string(error) + " (" + plat::ErrorText(error) +
      "). Profiles cannot be read: callers are " +
      (defaults ? "given the default profile" : "refused (reason 7, profile could not be read)") +
      " until it can be read again; their records are kept and written then.";
  ReportToEventLog(1, common::kEventShareAccessFailed, kShareFailed, detail.c_str(), 2);
}

void NoteDataFolderReadable(const ServiceContext& context) {
  long count = 0;
  if (!context.folderUnreadable.Succeed(&count)) return;
  // The test that began the outage counts too.
  const std::string detail = context.paths.folder + ": readable again after " +
                             std::to_string(count) + " failed attempts to read it";
  common::Trace("TestMasterShare", "Data folder readable again", count);
  ReportToEventLog(0, common::kEventDataFolderBack, "Data folder readable again", detail.c_str(), 2);
}

void ClearTEMPFile(const ServiceContext& context) {
  plat::ProfileDeleteSection(context.paths.loggedIn, context.serverName);
  // What writers killed halfway through replacing a shared file left behind.
  const std::string& data = context.paths.folder;
  for (const std::string& folder : {data, common::DataFile(data, common::kDayLogFolder)}) {
    int failed = 0;
    if (const int removed = plat::ProfileRemoveStaleTemporaries(folder, &failed); removed > 0) {
      common::Trace("ClearTEMPFile", "Removed temporary files of dead writers in " + folder, removed);
    }
    if (failed > 0) common::Trace("ClearTEMPFile", "Could not remove temporary files in " + folder, failed);
  }
}

}  // namespace svc
