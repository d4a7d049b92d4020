#include "service/service_context.h"

#include <cstdio>

#include "common/event_ids.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "service/event_report.h"

namespace svc {

namespace {

constexpr const char* kShareFailed =
    "Failed to access primary share. Make sure that the Portulon service account can access share";

}  // namespace

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

void ReadSystemDataFromCentralDB(ServiceContext& context) {
  // Read into a copy, then swapped in whole: the supervision thread may be
  // taking a snapshot meanwhile.
  SystemData d;
  if (const DWORD err = ReadSystemData(context.paths, &d); err != plat::ERROR_SUCCESS) {
    // Defaults in place of settings that could not be read would switch the
    // default profile, the warnings and the status counting off unasked.
    if (!context.systemDataStale) {
      context.systemDataStale = true;
      const std::string why =
          context.paths.systemData + ": " + plat::ErrorText(err) +
          (context.systemDataRead ? ". The shared settings read last (default profile, warnings, status "
                                    "counting) stay in force until it can be read again."
                                  : ". No shared settings were read yet: the defaults apply until it "
                                    "can be read.");
      ReportToEventLog(1, common::kEventSharedSettingsKept, "Shared settings kept", why.c_str(), 2);
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(context.systemDataMutex);
    context.systemData = std::move(d);
  }
  context.systemDataRead = true;
  if (context.systemDataStale) {
    context.systemDataStale = false;
    common::Trace("ReadSystemDataFromCentralDB", "portulon.hw read again", 0);
    ReportToEventLog(0, common::kEventSharedSettingsRead, "Shared settings read again",
                     context.paths.systemData.c_str(), 2);
  }
}

DWORD TestMasterShare(const ServiceContext& context) {
  const DWORD err = ProbeDataFolder(context.paths.folder, context.serverName);
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

}  // namespace svc
