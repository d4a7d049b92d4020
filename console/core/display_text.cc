#include "console/core/display_text.h"

#include "common/profile_helpers.h"
#include "common/ras_kind.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pladmin {

std::string PortsText(const CServer& s) {
  if (s.totalPorts == kPortsUnknown || s.portsInUse == kPortsUnknown) return "-";
  return std::to_string(s.portsInUse) + "/" + std::to_string(s.totalPorts);
}

std::string KindText(const CServer& s) {
  if (!s.kindKnown) return {};
  return common::RemoteAccessKindName(static_cast<plat::DWORD>(s.rasKind));
}

std::string MasterText(const CServer& s) { return s.settings.master ? "Yes" : ""; }

std::string PortStateText(const PortEntry& port) { return port.inUse ? "Connected" : "Listening"; }

std::string SinceText(std::time_t start, std::time_t now, bool withSeconds, const TimeFormat& clock) {
  if (start == 0) return {};
  const std::tm local = plat::LocalTime(start);
  const std::tm today = plat::LocalTime(now);
  const std::string time = withSeconds ? clock.Time(local) : clock.HourMinute(local);
  if (local.tm_year == today.tm_year && local.tm_yday == today.tm_yday) return time;
  return plat::GetDateFormat(plat::LOCALE_US_ENGLISH, local, "yyyy-MM-dd") + " " + time;
}

std::string AccountValueText(accounts::Unit unit, std::string_view fileText, const TimeFormat& clock) {
  if (unit != accounts::Unit::Time) return accounts::FormatValue(unit, fileText);
  const auto t = static_cast<std::time_t>(static_cast<std::uint32_t>(common::DecimalValue(fileText)));
  if (t == 0) return "-";
  const std::tm local = plat::LocalTime(t);
  return plat::GetDateFormat(plat::LOCALE_US_ENGLISH, local, "yyyy-MM-dd") + " " + clock.Time(local);
}

std::string DurationText(std::time_t start, std::time_t now) {
  if (start == 0) return {};
  const long long seconds = now > start ? static_cast<long long>(now - start) : 0;
  return plat::FormatText("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string BytesText(std::int64_t bytes) {
  if (bytes < 0) return {};
  if (bytes < 10000) return plat::FormatText("%lld B", static_cast<long long>(bytes));
  if (bytes < 1024 * 1024) return plat::FormatText("%.1f KB", bytes / 1024.0);
  return plat::FormatText("%.1f MB", bytes / (1024.0 * 1024.0));
}

}  // namespace pladmin
