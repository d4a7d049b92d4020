#include "service/reporting/export_schedule.h"

#include "platform/sysinfo.h"
#include "service/local_date.h"

namespace svc {

bool ExportEnabled(const ServiceSettings& s) {
  return (s.exportHours & 0xFFFFFFu) != 0 && (s.exportUsers != 0 || s.exportHistory != 0) &&
         !s.odbcDsn.empty();
}

bool LiveExportEnabled(const ServiceSettings& s) {
  return ExportEnabled(s) && s.exportHistory != 0 && s.exportLive != 0;
}

bool ExportDue(const ServiceSettings& s, const std::tm& local) {
  if (!ExportEnabled(s) || local.tm_hour < 0 || local.tm_hour > 23) return false;
  if ((s.exportHours & (1u << local.tm_hour)) == 0) return false;
  if ((s.exportDays & 0x7Fu) == 0 && (s.exportDates & 0x7FFFFFFFu) == 0) return true;
  const int weekday = static_cast<int>(((DayNumber(local) + 4) % 7 + 7) % 7);  // 0 = Sunday
  return (s.exportDays & (1u << weekday)) != 0 ||
         (local.tm_mday >= 1 && local.tm_mday <= 31 && (s.exportDates & (1u << (local.tm_mday - 1))) != 0);
}

bool StatusMailDue(const StatusMailSettings& m, std::time_t now) {
  if (m.type == 0) return false;
  const std::tm local = plat::LocalTime(now);
  if (static_cast<unsigned>(local.tm_hour) < m.hour) return false;
  return m.lastSent == 0 ||
         DayNumber(plat::LocalTime(static_cast<std::time_t>(m.lastSent))) < DayNumber(local);
}

}  // namespace svc
