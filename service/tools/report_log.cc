// plreport log: the session log records of a day or a range of days.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/data_folder.h"
#include "common/log_record.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "service/tools/report_commands.h"
#include "platform/tools/text_table.h"

namespace plreport {

using pltools::Table;

namespace {

// What the Information column says: the call-back number of a connection,
// the refusal or disconnect reason with its code.
std::string Information(const common::LogRecord& r) {
  if (r.kind == common::kRecordConnection) return r.info;
  if (r.reason == common::kNoReason || (r.kind == common::kRecordHangUp && r.reason == 0)) return "";
  const std::string text = r.kind == common::kRecordRefusal ? common::RefusalText(r.reason)
                                                            : common::DisconnectText(r.reason);
  return std::to_string(r.reason) + (text.empty() ? "" : ": " + text);
}

std::string Bytes(std::int64_t n) { return n < 0 ? "" : std::to_string(n); }

// Reads --day, or --from and --to, into a range of day numbers.
bool TakeRange(pltools::Tool& tool, std::int64_t* first, std::int64_t* last) {
  std::string dayText, fromText, toText;
  const bool hasDay = tool.TakeOption("--day", &dayText);
  const bool hasFrom = tool.TakeOption("--from", &fromText);
  const bool hasTo = tool.TakeOption("--to", &toText);
  if (tool.failed()) return false;
  if (hasDay && (hasFrom || hasTo)) {
    tool.UsageError("give --day, or --from and --to, not both");
    return false;
  }
  const Day today = LocalDay(plat::Now());
  Day from = today, to = today;
  std::string why;
  if ((hasDay && !ParseDay(dayText, today, &from, &why)) ||
      (hasFrom && !ParseDay(fromText, today, &from, &why)) ||
      (hasTo && !ParseDay(toText, today, &to, &why))) {
    tool.ValueError(why);
    return false;
  }
  if (hasDay) to = from;
  if (hasTo && !hasFrom) from = to;
  *first = DayNumber(from);
  *last = DayNumber(to);
  if (*first > *last) {
    tool.ValueError("--from " + IsoDay(from) + " comes after --to " + IsoDay(to));
    return false;
  }
  constexpr std::int64_t kMostDays = 3660;  // ten years of files
  if (*last - *first >= kMostDays) {
    tool.ValueError("a range covers at most ten years");
    return false;
  }
  return true;
}

}  // namespace

int RunLog(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  std::int64_t first = 0, last = 0;
  if (!TakeRange(tool, &first, &last) || !TakeCommonOptions(report, true) ||
      !FindDataFolder(report)) {
    return tool.exitCode();
  }
  std::vector<common::LogRecord> records;
  int daysWithLog = 0;
  std::string lastFile;
  for (std::int64_t n = first; n <= last; ++n) {
    lastFile = common::DayLogPath(report.dataFolder, LogDayName(DayFromNumber(n)));
    if (!plat::FileExists(lastFile)) continue;
    ++daysWithLog;
    for (auto& r : common::LoadLogRecords(lastFile)) {
      if (report.filters.Matches(r.user, r.server, r.port)) records.push_back(std::move(r));
    }
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return a.time < b.time; });

  Table table({{"Time"}, {"Server"}, {"Port"}, {"Action"}, {"User"}, {"Lasted", true},
               {"Address"}, {"Computer"}, {"Bytes in", true}, {"Bytes out", true},
               {"Information"}});
  for (const auto& r : records) {
    const bool hangUp = r.kind == common::kRecordHangUp;
    const char* action = hangUp ? "Disconnect" : r.kind == common::kRecordRefusal ? "Denied" : "Connect";
    table.AddRow({pltools::IsoLocalTime(static_cast<std::time_t>(r.time)), r.server, r.port, action,
                  r.user, hangUp ? Duration(r.duration) : "",
                  hangUp ? common::MakeIPString(r.address) : "", hangUp ? r.netbios : "",
                  hangUp ? Bytes(r.bytesIn) : "", hangUp ? Bytes(r.bytesOut) : "", Information(r)});
  }
  if (report.format == pltools::OutputFormat::Table) {
    const std::string from = IsoDay(DayFromNumber(first));
    if (first == last) {
      std::printf("Session log of %s (%s)%s: %zu records\n\n", from.c_str(), lastFile.c_str(),
                  daysWithLog ? "" : ", no such file", records.size());
    } else {
      std::printf("Session logs from %s to %s (%d of %lld days have a log): %zu records\n\n",
                  from.c_str(), IsoDay(DayFromNumber(last)).c_str(), daysWithLog,
                  static_cast<long long>(last - first + 1), records.size());
    }
  }
  table.Print(stdout, report.format);
  return pltools::kExitSuccess;
}

}  // namespace plreport
