// plreport users: every profile of portulon.usr with its limits and usage.
#include <cstdio>

#include "common/profile_helpers.h"
#include "platform/profile.h"
#include "service/tools/report_commands.h"
#include "service/tools/report_table.h"

namespace plreport {

namespace {

std::string Limit(int seconds) { return seconds == 0 ? "none" : Duration(static_cast<unsigned>(seconds)); }

std::string Expiry(int days, int firstConnection) {
  if (days == 0) return "never";
  // The days count from the first connection.
  if (firstConnection == 0) return std::to_string(days) + " days after first use";
  const std::time_t end = static_cast<std::time_t>(firstConnection) + static_cast<std::time_t>(days) * 86400;
  return pltools::IsoLocalTime(end);
}

}  // namespace

int RunUsers(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  if (!TakeCommonOptions(report, false) || !FindDataFolder(report)) return tool.exitCode();
  const std::string file = report.dataFolder + "\\portulon.usr";
  const auto sections = plat::ProfileListSections(file);
  static const char* kPeriods[] = {"none", "day", "week", "month"};
  Table table({{"Account"}, {"Max session", true}, {"Max total", true}, {"Expires"},
               {"Period"}, {"Allowance", true}, {"Period use", true}, {"Connects", true},
               {"Denied", true}, {"Total time", true}, {"First connection"},
               {"Last connection"}, {"Lasted", true}});
  for (const auto& s : sections ? *sections : std::vector<std::string>{}) {
    if (!report.filters.MatchesAccount(s)) continue;
    auto n = [&](const char* key) { return common::ProfileReadInt(file, s, key); };
    const int type = n("PeriodType");
    const bool period = type >= 1 && type <= 3;
    table.AddRow({s, Limit(n("MaxSessionTime")), Limit(n("MaxTotalTime")),
                  Expiry(n("ExpiryTime"), n("FirstConnection")),
                  period ? kPeriods[type] : (type ? std::to_string(type) : "none"),
                  period ? Limit(n("PeriodMax")) : "", period ? Duration(static_cast<unsigned>(n("PeriodUsage"))) : "",
                  std::to_string(n("TotalConnects")), std::to_string(n("TotalDenieds")),
                  Duration(static_cast<unsigned>(n("TotalTime"))),
                  pltools::IsoLocalTime(n("FirstConnection")),
                  pltools::IsoLocalTime(n("LastConnection")),
                  Duration(static_cast<unsigned>(n("Lasted")))});
  }
  if (report.format == pltools::OutputFormat::Table) {
    std::printf("Usage accounts (%s)%s: %zu\n\n", file.c_str(), sections ? "" : ", no such file",
                table.rows());
  }
  table.Print(stdout, report.format);
  return pltools::kExitSuccess;
}

}  // namespace plreport
