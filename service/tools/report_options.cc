#include "service/tools/report_options.h"

#include "accounts/account_store.h"
#include "accounts/tools/tool_support.h"
#include "common/data_folder.h"
#include "platform/path.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "service/local_date.h"

namespace plreport {

namespace {

constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};

bool Number(std::string_view text, size_t digits, int* value) {
  return text.size() == digits && plat::ParseWhole(text, value);
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::int64_t DayNumber(const Day& d) {
  return svc::DayNumber(d.year, static_cast<unsigned>(d.month), static_cast<unsigned>(d.day));
}

Day DayFromNumber(std::int64_t n) {
  Day d;
  svc::CivilDate(n, &d.year, &d.month, &d.day);
  return d;
}

Day LocalDay(std::int64_t t) {
  const std::tm local = plat::LocalTime(static_cast<std::time_t>(t));
  return Day{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string IsoDay(const Day& d) {
  return plat::FormatText("%04d-%02d-%02d", d.year, d.month, d.day);
}

std::string LogDayName(const Day& d) { return common::DayLogName(plat::CalendarTime(d.year, d.month, d.day, 12)); }

bool ParseDay(std::string_view text, const Day& today, Day* day, std::string* why) {
  const std::string lower = plat::ToLowerAscii(text);
  if (lower == "today") {
    *day = today;
    return true;
  }
  if (lower == "yesterday") {
    *day = DayFromNumber(DayNumber(today) - 1);
    return true;
  }
  Day d;
  bool shaped = lower.size() >= 10 && lower[4] == '-' && Number(lower.substr(0, 4), 4, &d.year);
  const size_t second = lower.find('-', 5);
  if (shaped && second != std::string::npos) {
    const std::string month = lower.substr(5, second - 5);
    if (!Number(month, 2, &d.month)) {
      d.month = 0;
      for (int m = 0; m < 12; ++m) {
        if (month == kMonths[m]) d.month = m + 1;
      }
    }
    shaped = d.month != 0 && Number(lower.substr(second + 1), 2, &d.day);
  } else {
    shaped = false;
  }
  if (!shaped) {
    *why = "'" + std::string(text) +
           "' is no day: write 2026-12-08, 2026-Dec-08, today or yesterday";
    return false;
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) {
    *why = "'" + std::string(text) + "': there is no such day";
    return false;
  }
  *day = d;
  return true;
}

bool Filters::MatchesAccount(std::string_view account) const {
  return accounts::AccountFilter{user, domain, ""}.Matches(accounts::Account{std::string(account), {}});
}

bool Filters::Matches(std::string_view account, std::string_view recordServer,
                      std::string_view recordPort) const {
  return MatchesAccount(account) &&
         (server.empty() || plat::EqualsIgnoringCase(recordServer, server)) &&
         (port.empty() || plat::EqualsIgnoringCase(recordPort, port));
}

bool TakeCommonOptions(ReportContext& report, bool serverAndPort) {
  pltools::Tool& tool = report.tool;
  std::string format;
  if (tool.TakeOption("--format", &format) &&
      !pltools::ParseOutputFormat(format, &report.format)) {
    tool.ValueError("--format takes table or csv, not '" + format + "'");
    return false;
  }
  if (report.format == pltools::OutputFormat::Json) {
    tool.ValueError("--format takes table or csv");
    return false;
  }
  tool.TakeOption("--user", &report.filters.user);
  tool.TakeOption("--domain", &report.filters.domain);
  if (serverAndPort) {
    tool.TakeOption("--server", &report.filters.server);
    tool.TakeOption("--port", &report.filters.port);
  }
  return !tool.failed();
}

bool FindDataFolder(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  std::string given;
  const bool haveGiven = tool.TakeOption("--data", &given);
  if (tool.failed() || !tool.RejectUnknownOptions()) return false;
  if (!tool.args().empty()) {
    tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
    return false;
  }
  return placcounts_tools::FindDataFolder(tool, haveGiven ? &given : nullptr, &report.dataFolder);
}

}  // namespace plreport
