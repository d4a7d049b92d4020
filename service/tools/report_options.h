// What plreport's commands share: days as an administrator writes them, the
// data folder, the output form and the filters on accounts, servers and ports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/tools/tool_args.h"
#include "platform/tools/tool_format.h"

namespace plreport {

// A local calendar day.
struct Day {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;
};

// Days since 1970-01-01, and back.
std::int64_t DayNumber(const Day& d);
Day DayFromNumber(std::int64_t n);
// The machine's local day of a time.
Day LocalDay(std::int64_t t);
// "2026-12-08".
std::string IsoDay(const Day& d);
// "2026-Dec-08": the name of the service's log file of that day.
std::string LogDayName(const Day& d);

// "2026-12-08" (ISO 8601), "2026-Dec-08" (the log file's own form, month in
// any case), "today" or "yesterday" (relative to `today`). False with *why
// set for anything else, including days that do not exist (2026-02-30).
bool ParseDay(std::string_view text, const Day& today, Day* day, std::string* why);

// Which records or accounts to show; an empty field matches everything.
// Names compare ignoring case.
struct Filters {
  std::string user;    // the user name; with a backslash, the whole account
  std::string domain;  // the account's domain
  std::string server;
  std::string port;

  bool MatchesAccount(std::string_view account) const;
  bool Matches(std::string_view account, std::string_view server, std::string_view port) const;
};

// The run of one command.
struct ReportContext {
  explicit ReportContext(pltools::Tool& t) : tool(t) {}
  pltools::Tool& tool;
  std::string dataFolder;  // Windows path
  pltools::OutputFormat format = pltools::OutputFormat::Table;
  Filters filters;
};

// Takes --format, --user and --domain, and with `serverAndPort` also --server
// and --port, out of the tool's arguments. False (usage error printed) on a
// bad value.
bool TakeCommonOptions(ReportContext& report, bool serverAndPort);

// Takes --data FOLDER, refuses leftover options and arguments, checks the
// machine and finds the data folder: --data, else the service's MasterShare
// setting. False (message printed, tool's exit code set) when there is none
// or it cannot be reached.
bool FindDataFolder(ReportContext& report);

}  // namespace plreport
