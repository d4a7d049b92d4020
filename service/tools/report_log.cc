// plreport log: the session log records of a day or a range of days.
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/log_record_store.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "service/tools/report_commands.h"
#include "platform/tools/text_table.h"

namespace plreport {

using pltools::Table;

namespace {

// What the Information column says: the call-back number of a connection,
// the refusal or disconnect reason with its code.
std::string Information(const common::LogRecordView& r) {
  if (r.kind == common::kRecordConnection) return std::string(r.info);
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

// The widest a cell of the table gets: the longest texts a record normally
// carries (an account of 37, a reason with its code) fit whole.
constexpr size_t kCellLimit = 64;

// The local times of rows in time order. The machine's time-zone bias lives
// in its registry and is whole minutes, so it is looked up once for each new
// minute, not once for each of a million rows; the seconds are the time's own.
class TimeTexts {
 public:
  std::string operator()(std::int64_t t) {
    if (t <= 0) return pltools::IsoLocalTime(static_cast<std::time_t>(t));
    if (t - t % 60 != minute_) {
      minute_ = t - t % 60;
      text_ = pltools::IsoLocalTime(static_cast<std::time_t>(minute_));  // "... hh:mm:00"
    }
    std::string text = text_;
    text[text.size() - 2] = static_cast<char>('0' + t % 60 / 10);
    text[text.size() - 1] = static_cast<char>('0' + t % 10);
    return text;
  }

 private:
  std::int64_t minute_ = -1;
  std::string text_;
};

std::vector<std::string> Cells(const common::LogRecordView& r, TimeTexts& times) {
  const bool hangUp = r.kind == common::kRecordHangUp;
  const char* action = hangUp ? "Disconnect" : r.kind == common::kRecordRefusal ? "Denied" : "Connect";
  return {times(r.time), std::string(r.server), std::string(r.port),
          action, std::string(r.user), hangUp ? Duration(r.duration) : "",
          hangUp ? common::MakeIPString(r.address) : "", hangUp ? std::string(r.netbios) : "",
          hangUp ? Bytes(r.bytesIn) : "", hangUp ? Bytes(r.bytesOut) : "", Information(r)};
}

}  // namespace

int RunLog(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  std::int64_t first = 0, last = 0;
  if (!TakeRange(tool, &first, &last) || !TakeCommonOptions(report, true) ||
      !FindDataFolder(report)) {
    return tool.exitCode();
  }
  // Days of a million records: each is streamed into a compact store, and the
  // table is measured in one pass and printed in a second, never held as text.
  common::LogRecordStore records;
  int daysWithLog = 0;
  std::string lastFile;
  for (std::int64_t n = first; n <= last; ++n) {
    lastFile = common::DayLogPath(report.dataFolder, LogDayName(DayFromNumber(n)));
    if (!plat::FileExists(lastFile)) continue;
    ++daysWithLog;
    const plat::DWORD err = common::ForEachLogRecord(lastFile, false, [&](const common::LogRecord& r) {
      if (report.filters.Matches(r.user, r.server, r.port)) records.Add(r);
    });
    if (err != plat::ERROR_SUCCESS && err != plat::ERROR_FILE_NOT_FOUND) {
      return tool.Fail(err, "reading " + lastFile);
    }
  }
  std::vector<std::uint32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return records.time(a) < records.time(b); });

  Table table({{"Time"}, {"Server"}, {"Port"}, {"Action"}, {"User"}, {"Lasted", true},
               {"Address"}, {"Computer"}, {"Bytes in", true}, {"Bytes out", true},
               {"Information"}});
  table.LimitCells(kCellLimit);
  if (report.format != pltools::OutputFormat::Csv) {
    TimeTexts times;
    for (const std::uint32_t i : order) table.Measure(Cells(records[i], times));
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
  table.PrintHeadings(stdout, report.format);
  TimeTexts times;
  for (const std::uint32_t i : order) table.PrintRow(stdout, report.format, Cells(records[i], times));
  return pltools::kExitSuccess;
}

}  // namespace plreport
