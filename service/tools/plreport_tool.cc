// plreport: a day's session log and the usage accounts as readable tables,
// for a person at the server (the console shows the same with more comfort).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/profile_helpers.h"
#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage = R"(Usage:
  plreport log [--day YYYY-MMM-DD] [--data FOLDER] [--machine ROOT]
  plreport users [--data FOLDER] [--machine ROOT]

log     the records of one day's session log (default: today), in time order:
        connections, hang-ups with their duration, address, reason and bytes,
        and refusals with their reason.
users   every profile of portulon.usr with its limits and usage.

FOLDER is the data folder as a Windows path (default: the service's
MasterShare setting of the machine, e.g. \\SRV1\PL_NT_DB).
)";

std::string DataFolder(pltools::Tool& tool) {
  std::string folder;
  if (tool.TakeOption("--data", &folder)) return folder;
  plat::RegReadString("Software\\Quillfen Technologies\\Portulon\\Service", "MasterShare", &folder);
  return folder;
}

std::string Clock(std::int64_t t) {
  const std::tm local = plat::LocalTime(static_cast<std::time_t>(t));
  return plat::GetTimeFormat(1033, local, "HH:mm:ss");
}

std::string Duration(std::uint64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
  return text;
}

std::string Bytes(std::int64_t n) { return n < 0 ? "" : std::to_string(n); }

int Log(pltools::Tool& tool) {
  std::string day;
  tool.TakeOption("--day", &day);
  const std::string folder = DataFolder(tool);
  if (tool.failed()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  if (folder.empty()) return tool.UsageError("no data folder: give --data FOLDER");
  if (day.empty()) day = plat::GetDateFormat(1033, plat::LocalTime(plat::Now()), "yyyy-MMM-dd");
  const std::string file = folder + "\\LogData\\" + day + ".log";
  std::vector<common::LogRecord> records = common::LoadLogRecords(file);
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return a.time < b.time; });
  std::printf("Session log of %s (%s): %zu records\n\n", day.c_str(), file.c_str(), records.size());
  std::printf("%-8s  %-6s  %-10s  %-14s  %-9s  %-15s  %-8s  %9s  %9s  %s\n", "Time", "Port", "Action",
              "User", "Lasted", "Address", "Computer", "Bytes in", "Bytes out", "Information");
  for (const auto& r : records) {
    const char* action = r.kind == common::kRecordHangUp     ? "Disconnect"
                         : r.kind == common::kRecordRefusal ? "Denied"
                                                            : "Connect";
    std::string info = r.kind == common::kRecordRefusal  ? common::RefusalText(r.reason)
                       : r.kind == common::kRecordHangUp ? common::DisconnectText(r.reason)
                                                         : r.info;
    if (r.kind == common::kRecordHangUp) {
      std::printf("%-8s  %-6s  %-10s  %-14s  %-9s  %-15s  %-8s  %9s  %9s  %s\n", Clock(r.time).c_str(),
                  r.port.c_str(), action, r.user.c_str(), Duration(r.duration).c_str(),
                  common::MakeIPString(r.address).c_str(), r.netbios.c_str(), Bytes(r.bytesIn).c_str(),
                  Bytes(r.bytesOut).c_str(), info.c_str());
    } else {
      std::printf("%-8s  %-6s  %-10s  %-14s  %-9s  %-15s  %-8s  %9s  %9s  %s\n", Clock(r.time).c_str(),
                  r.port.c_str(), action, r.user.c_str(), "", "", "", "", "", info.c_str());
    }
  }
  return pltools::kExitSuccess;
}

int Users(pltools::Tool& tool) {
  const std::string folder = DataFolder(tool);
  if (tool.failed()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  if (folder.empty()) return tool.UsageError("no data folder: give --data FOLDER");
  const std::string file = folder + "\\portulon.usr";
  const auto sections = plat::ProfileListSections(file);
  std::printf("Usage accounts (%s)\n\n", file.c_str());
  std::printf("%-16s  %9s  %9s  %6s  %-8s  %8s  %6s  %9s  %8s  %-8s  %s\n", "Account", "MaxSess", "MaxTotal",
              "Expiry", "Period", "Connects", "Denied", "Total", "Last", "Lasted", "Period use");
  if (!sections) return pltools::kExitSuccess;
  static const char* kPeriods[] = {"none", "day", "week", "month"};
  for (const auto& s : *sections) {
    auto n = [&](const char* key) { return common::ProfileReadInt(file, s, key); };
    const int type = n("PeriodType");
    const std::string period =
        type >= 1 && type <= 3 ? std::string(kPeriods[type]) + " " + Duration(n("PeriodMax")) : "none";
    const int last = n("LastConnection");
    std::printf("%-16s  %9s  %9s  %6d  %-8s  %8d  %6d  %9s  %8s  %-8s  %s\n", s.c_str(),
                n("MaxSessionTime") ? Duration(n("MaxSessionTime")).c_str() : "-",
                n("MaxTotalTime") ? Duration(n("MaxTotalTime")).c_str() : "-", n("ExpiryTime"),
                period.c_str(), n("TotalConnects"), n("TotalDenieds"), Duration(n("TotalTime")).c_str(),
                last ? Clock(last).c_str() : "-", Duration(n("Lasted")).c_str(),
                type ? Duration(n("PeriodUsage")).c_str() : "");
  }
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plreport", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");
  if (!tool.RequireMachine()) return tool.exitCode();
  const std::string command = tool.args()[0];
  tool.args().erase(tool.args().begin());
  if (command == "log") return Log(tool);
  if (command == "users") return Users(tool);
  return tool.UsageError("unknown command '" + command + "'");
}
