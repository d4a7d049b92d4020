#include "service/reporting/live_export.h"

#include <cstdint>
#include <vector>

#include "common/data_folder.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "service/event_report.h"
#include "service/reporting/db_export.h"
#include "service/reporting/export_schedule.h"
#include "service/reporting/odbc_connection.h"
#include "service/service_context.h"

namespace svc {

namespace {

constexpr const char* kLabel = "LiveExport";

// Yesterday's and today's day names, oldest first. Yesterday is taken at its
// noon, which a change of summer time cannot move into another day.
std::vector<std::string> FollowedDays(std::time_t now) {
  const std::tm local = plat::LocalTime(now);
  const std::time_t noonBefore =
      now - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) - 12 * 3600;
  return {common::DayLogName(noonBefore), common::DayLogName(now)};
}

}  // namespace

LiveExport::LiveExport() = default;
LiveExport::~LiveExport() = default;

bool LiveExport::Connect(const std::string& dsn, const std::string& account,
                         const std::string& password) {
  const std::string target = dsn + '\n' + account + '\n' + password;
  if (db_ && target == connectedTo_) return true;
  db_ = std::make_unique<OdbcConnection>();
  connectedTo_ = target;
  return db_->Connect(dsn, account, password) && CreateExportTables(*db_);
}

LiveExportOutcome LiveExport::Pass(const ServiceContext& context, std::time_t now) {
  LiveExportOutcome out;
  const ServiceSettings settings = context.SettingsSnapshot();
  if (!LiveExportEnabled(settings)) {
    // Switched on again, it starts afresh; the rows it rewrites stay one each.
    positions_.clear();
    db_.reset();
    return out;
  }
  out.ran = true;
  const DataPaths paths = context.PathsSnapshot();
  const std::vector<std::string> days = FollowedDays(now);
  std::erase_if(positions_, [&](const auto& p) { return p.first != days[0] && p.first != days[1]; });

  std::map<std::string, LogPosition> next = positions_;
  std::map<std::string, std::vector<common::LogRecord>> batch;
  for (const std::string& day : days) {
    const std::string file = ExportedLogFile(paths, day);
    LogPosition& position = next[day];
    std::uint64_t size = 0;
    // Nothing added since the last pass: the log need not be read.
    if (plat::GetFileSize(file, &size) == plat::ERROR_SUCCESS && size == position.offset) continue;
    std::string text;
    const plat::DWORD err = plat::ReadWholeFile(file, &text);
    if (err == plat::ERROR_FILE_NOT_FOUND || err == plat::ERROR_PATH_NOT_FOUND) continue;  // no record yet
    if (err != plat::ERROR_SUCCESS) {
      out.ok = false;
      out.error = "cannot read the log " + file + " (error " + std::to_string(err) + ")";
      break;
    }
    std::vector<common::LogRecord> records = ReadNewRecords(text, positions_[day], &position);
    if (!records.empty()) {
      out.records += static_cast<long>(records.size());
      batch[day] = std::move(records);
    }
  }
  if (out.ok && !batch.empty()) {
    if (!Connect(settings.odbcDsn, settings.odbcAccount, settings.odbcPassword)) {
      out.ok = false;
    } else {
      for (const auto& [day, records] : batch) {
        if (!ReplaceSessionRows(*db_, day, records)) {
          out.ok = false;
          break;
        }
      }
      out.ok = out.ok && db_->Commit();
    }
    if (!out.ok) {
      out.error = db_->error();
      db_->Rollback();
      db_.reset();  // made again by the next pass
    }
  }
  if (!out.ok) {
    out.records = 0;
    if (outage_.Fail()) {
      const std::string text = "Near-live export failed: " + out.error;
      common::Trace(kLabel, text, 0);
      ReportToEventLog(1, common::kEventExportFailed, "Database export failed", text.c_str(), 2);
    }
    return out;
  }
  positions_ = std::move(next);
  long failed = 0;
  if (outage_.Succeed(&failed)) {
    common::Trace(kLabel, "Near-live export works again, passes failed", failed);
    const std::string count = std::to_string(failed);
    ReportToEventLog(0, common::kEventExportAgain, "Database export works again", count.c_str(), 2);
  }
  if (out.records > 0) common::Trace(kLabel, "Records exported", out.records);
  return out;
}

}  // namespace svc
