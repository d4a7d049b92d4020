#include "service/reporting/scheduled_jobs.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/data_folder.h"
#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "service/local_date.h"
#include "service/reporting/db_export.h"
#include "service/reporting/status_mail.h"
#include "service/reporting/unrecorded_mail.h"
#include "service/service_context.h"
#include "service/system_data.h"

namespace svc {

namespace {

constexpr const char* kLabel = "ExportThread";

}  // namespace

int ArchiveOldLogs(const ServiceContext& context, std::time_t now) {
  const DataPaths paths = context.PathsSnapshot();
  const int age = common::ProfileReadInt(paths.systemData, kGeneralSection, "AutoArchiveAge");
  if (age <= 0) return 0;
  const std::string logData = common::DataFile(paths.folder, common::kDayLogFolder);
  const std::string oldData = common::DataFile(paths.folder, common::kArchiveFolder);
  std::vector<plat::FindData> entries;
  if (plat::FindFiles(common::DayLogSearch(paths.folder, common::kDayLogFolder), &entries) != plat::ERROR_SUCCESS) {
    return 0;
  }
  const std::int64_t today = DayNumber(plat::LocalTime(now));
  int moved = 0;
  for (const plat::FindData& e : entries) {
    std::tm date;
    std::string day;
    if (e.isDirectory || !common::ParseDayLogFile(e.name, &day, &date)) continue;
    if (today - DayNumber(date) <= age) continue;
    plat::CreateDirectory(oldData);
    const DWORD err = plat::MoveFileEx(logData + "\\" + e.name, oldData + "\\" + e.name, 0);
    if (err != plat::ERROR_SUCCESS) {
      // Never overwrite an archived log; this one stays where it is.
      common::Trace(kLabel, "Could not archive " + e.name, static_cast<long>(err));
      continue;
    }
    ++moved;
  }
  return moved;
}

void RunScheduledJobs(ServiceContext& context, ScheduleState& state, std::time_t now) {
  const std::tm local = plat::LocalTime(now);
  const std::int64_t today = DayNumber(local);
  const std::int64_t slot = today * 24 + local.tm_hour;
  if (slot != state.lastExportSlot && ExportDue(context.SettingsSnapshot(), local)) {
    state.lastExportSlot = slot;
    const ExportOutcome e = RunDatabaseExport(context, now);
    if (e.ok) {
      common::Trace(kLabel, "Database export done, session records", e.records);
    }
  }
  // A mail sent while the data folder could not record it is recorded as
  // soon as it can be; until then its time counts for the schedule.
  SettleUnrecordedMail(context);
  if (today != state.lastMailDay && StatusMailDue(ReadStatusMailState(context), now)) {
    state.lastMailDay = today;
    SendStatusMail(context, now);
  }
  if (today != state.lastArchiveDay) {
    state.lastArchiveDay = today;
    const int moved = ArchiveOldLogs(context, now);
    common::Trace(kLabel, "Archived daily logs", moved);
  }
}

}  // namespace svc
