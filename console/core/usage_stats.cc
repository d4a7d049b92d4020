#include "console/core/usage_stats.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/tools/tool_format.h"

namespace pladmin {

namespace {

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return plat::CompareIgnoringCase(a, b) < 0;
  }
};

void Count(const common::LogRecord& r, bool day, std::map<std::string, UserUsage, CaseLess>* users) {
  if (r.kind != common::kRecordConnection && r.kind != common::kRecordHangUp) return;
  UserUsage& u = (*users)[r.user];
  if (u.user.empty()) u.user = r.user;
  const bool connection = r.kind == common::kRecordConnection;
  if (day) {
    u.dayConnections += connection;
    if (!connection) u.daySeconds += r.duration;
  } else {
    u.monthConnections += connection;
    if (!connection) u.monthSeconds += r.duration;
  }
}

std::vector<const common::LogRecord*> Pointers(const std::vector<common::LogRecord>& records,
                                               const LogFilter& filter,
                                               const GroupMembers* members) {
  std::vector<const common::LogRecord*> out;
  for (const int i : FilterRows(records, filter, members)) out.push_back(&records[static_cast<size_t>(i)]);
  return out;
}

}  // namespace

std::vector<UserUsage> ComputeUsage(const std::vector<const common::LogRecord*>& day,
                                    const std::vector<const common::LogRecord*>& month) {
  std::map<std::string, UserUsage, CaseLess> users;
  for (const auto* r : day) Count(*r, true, &users);
  for (const auto* r : month) Count(*r, false, &users);
  std::vector<UserUsage> out;
  for (auto& [name, usage] : users) out.push_back(usage);
  return out;
}

int DayStatistics::BusiestHour() const {
  int best = -1;
  for (int h = 0; h < 24; ++h) {
    if (connectionsByHour[static_cast<size_t>(h)] > 0 &&
        (best < 0 || connectionsByHour[static_cast<size_t>(h)] > connectionsByHour[static_cast<size_t>(best)])) {
      best = h;
    }
  }
  return best;
}

DayStatistics ComputeStatistics(const std::vector<common::LogRecordView>& records) {
  DayStatistics s;
  for (const common::LogRecordView& r : records) {
    switch (r.kind) {
      case common::kRecordConnection: {
        ++s.sessions;
        const std::tm local = plat::LocalTime(static_cast<std::time_t>(r.time));
        ++s.connectionsByHour[static_cast<size_t>(std::clamp(local.tm_hour, 0, 23))];
        break;
      }
      case common::kRecordRefusal:
        ++s.refusals;
        ++s.refusalsByReason[r.reason];
        break;
      case common::kRecordHangUp:
        ++s.disconnects;
        s.connectedSeconds += r.duration;
        // A hang-up without a reason field ended normally.
        ++s.disconnectsByReason[r.reason == common::kNoReason ? 0 : r.reason];
        if (r.reason != 0 && r.reason != common::kNoReason) ++s.forced;
        break;
      default: break;
    }
  }
  return s;
}

DayStatistics ComputeStatistics(const std::vector<const common::LogRecord*>& records) {
  std::vector<common::LogRecordView> views;
  views.reserve(records.size());
  for (const common::LogRecord* r : records) views.emplace_back(*r);
  return ComputeStatistics(views);
}

void LoadUsageData(const std::string& dataFolder, const std::tm& day, int consoleBias,
                   const std::vector<ServerBias>& servers, const LogFilter& filter,
                   const GroupMembers* members, UsageData* data) {
  *data = UsageData();
  const int year = day.tm_year + 1900, month = day.tm_mon + 1;
  for (int d = 1; d <= 31; ++d) {
    const std::tm date = plat::LocalTime(plat::FromLocalTime(plat::CalendarTime(year, month, d, 12)));
    if (date.tm_mon + 1 != month) break;  // past the month's last day
    const std::string path = DayLogPath(dataFolder, date);
    if (!plat::FileExists(path)) continue;
    std::vector<common::LogRecord> records = common::LoadLogRecords(path);
    ShiftToServerTime(&records, consoleBias, servers);
    if (d == day.tm_mday) data->day = records;
    data->month.insert(data->month.end(), std::make_move_iterator(records.begin()),
                       std::make_move_iterator(records.end()));
  }
  data->dayRows = Pointers(data->day, filter, members);
  data->monthRows = Pointers(data->month, filter, members);
}

std::string HoursText(std::int64_t seconds) {
  return plat::FormatText("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                          static_cast<long long>(seconds / 60 % 60),
                          static_cast<long long>(seconds % 60));
}

std::string DisconnectReasonText(int reason) {
  if (reason == 0) return "Normal";
  const std::string text = common::DisconnectText(reason);
  return text.empty() ? "Reason " + std::to_string(reason) : text;
}

std::string RefusalReasonText(int code) {
  const std::string text = common::RefusalText(code);
  return text.empty() ? "Code " + std::to_string(code) : text;
}

std::string BusiestHourText(int hour, const TimeFormat& clock) {
  std::tm from{}, to{};
  from.tm_hour = to.tm_hour = hour;
  to.tm_min = 59;
  return clock.HourMinute(from) + "-" + clock.HourMinute(to);
}

std::string UsageCsv(const std::vector<UserUsage>& usage) {
  std::string text = "User,Connections (day),Connected (day),Connections (month),Connected (month)\r\n";
  for (const UserUsage& u : usage) {
    text += pltools::CsvLine({u.user, std::to_string(u.dayConnections), HoursText(u.daySeconds),
                              std::to_string(u.monthConnections), HoursText(u.monthSeconds)}) +
            "\r\n";
  }
  return text;
}

std::string StatisticsCsv(const DayStatistics& s) {
  std::string text = "Item,Count\r\n";
  const auto add = [&](const std::string& item, std::int64_t n) {
    text += pltools::CsvLine({item, std::to_string(n)}) + "\r\n";
  };
  add("Sessions", s.sessions);
  add("Refusals", s.refusals);
  add("Disconnections", s.disconnects);
  add("Forced disconnections", s.forced);
  text += pltools::CsvLine({"Connected time", HoursText(s.connectedSeconds)}) + "\r\n";
  for (const auto& [code, n] : s.refusalsByReason) add("Refused: " + RefusalReasonText(code), n);
  for (const auto& [reason, n] : s.disconnectsByReason) {
    add("Disconnected: " + DisconnectReasonText(reason), n);
  }
  for (int h = 0; h < 24; ++h) {
    add(plat::FormatText("Connections %02d:00-%02d:59", h, h),
        s.connectionsByHour[static_cast<size_t>(h)]);
  }
  return text;
}

}  // namespace pladmin
