#include "accounts/setting_info.h"

#include "common/profile_keys.h"
#include "common/service_values.h"
#include "platform/text.h"

namespace accounts {

namespace {

using enum Unit;
using enum Effect;
using enum Store;

constexpr SettingInfo kProfile[] = {
    {common::kMaxSessionTime, Profile, "", common::kMaxSessionTime, Seconds, "0", AtOnce,
     "Maximum session time", "Limits", 0, false, "--session", true},
    {common::kMaxTotalTime, Profile, "", common::kMaxTotalTime, Seconds, "0", AtOnce,
     "Maximum total time", "Limits", 0, false, "--total", true},
    {common::kExpiryTime, Profile, "", common::kExpiryTime, Days, "0", AtOnce,
     "Account expires after (from the first dial-in)", "Limits", 0, false, "--expires-after", false},
    {common::kExpiryDate, Profile, "", common::kExpiryDate, Date, "", AtOnce,
     "Last day the account may be used", "Limits", 0, false, "--expires", false},
    {common::kPeriodType, Profile, "", common::kPeriodType, PeriodType, "0", AtOnce,
     "Allowance period", "Limits", 0, false, "--period", true},
    {common::kPeriodMax, Profile, "", common::kPeriodMax, Seconds, "0", AtOnce,
     "Allowance per period", "Limits", 0, false, "--allowance", true},
    {common::kNoDuplicate, Profile, "", common::kNoDuplicate, Flag, "0", AtOnce,
     "One session at a time", "Limits", 0, false, "--no-duplicate", true},
    {common::kMaxSessions, Profile, "", common::kMaxSessions, Sessions, "0", AtOnce,
     "Sessions at once (none: as one session at a time says)", "Limits", 0, false, "--sessions", true},
    {common::kStaticIP, Profile, "", common::kStaticIP, Address, "0", AtOnce,
     "Static address", "Limits", 0, false, "--static-ip", false},
};

constexpr SettingInfo kUsage[] = {
    {common::kTotalConnects, Profile, "", common::kTotalConnects, Count, "0", AtOnce, "Connections", "Usage"},
    {common::kTotalDenieds, Profile, "", common::kTotalDenieds, Count, "0", AtOnce, "Refused", "Usage"},
    {common::kTotalTime, Profile, "", common::kTotalTime, Elapsed, "0", AtOnce, "Total time", "Usage"},
    {common::kPeriodUsage, Profile, "", common::kPeriodUsage, Elapsed, "0", AtOnce, "Used this period", "Usage"},
    {common::kPeriodStamp, Profile, "", common::kPeriodStamp, Time, "0", AtOnce, "Period began", "Usage"},
    {common::kFirstConnection, Profile, "", common::kFirstConnection, Time, "0", AtOnce, "First connection", "Usage"},
    {common::kLastConnection, Profile, "", common::kLastConnection, Time, "0", AtOnce, "Last connection", "Usage"},
    {common::kLasted, Profile, "", common::kLasted, Elapsed, "0", AtOnce, "Last session lasted", "Usage"},
};

// A value of the Service key: the tools name it as the registry does.
constexpr SettingInfo Reg(const char* value, Unit unit, const char* defaultText, Effect effect, const char* label,
                          const char* page, std::size_t maxLength = 0, bool registryText = false) {
  return {value, Registry, "", value, unit, defaultText, effect, label, page, maxLength, registryText};
}

constexpr SettingInfo kServer[] = {
    Reg(common::kIdleTimerValue, Minutes, "0", AtUpdate, "Idle time-out", "Sessions"),
    Reg(common::kIdleBytesLimitValue, Count, "10000", AtUpdate, "Bytes per minute that count as activity (0: 10000)",
        "Sessions"),
    Reg(common::kStaticIpValue, Flag, "0", AtUpdate, "Hand out static addresses", "Sessions"),
    Reg(common::kIpConvertValue, Flag, "0", AtUpdate, "Byte-swap addresses of the session file", "Sessions"),
    Reg(common::kAssumeDomainValue, Text, "", AtUpdate, "Domain for bare user names", "Sessions", 49, true),
    Reg(common::kMasterShareValue, Text, "", AtUpdate, "Data folder", "Data", 599, true),
    Reg(common::kMasterValue, Flag, "0", AtRestart, "This server is the master", "Data"),
    Reg(common::kLogToLargeFileValue, Flag, "0", AtUpdate, "Also write every record to portulon.log", "Data"),
    Reg(common::kLogSessionEventsValue, Flag, "0", Unused, "Session events to the event log (always reported)", "Data"),
    Reg(common::kLogMaxSizeKBValue, Count, "512", AtOnce, "Trace file limit (KB)", "Data"),
};

constexpr SettingInfo kSystem[] = {
    // Database: the master's export and the archive of daily logs.
    Reg(common::kOdbcDsnValue, Text, "", AtUpdate, "Data source (master)", "Database", 599, true),
    Reg(common::kOdbcAccountValue, Text, "", AtUpdate, "Account", "Database", 599, true),
    Reg(common::kOdbcPasswordValue, Text, "", AtUpdate, "Password", "Database", 599, true),
    Reg(common::kExportUsersValue, Flag, "0", AtUpdate, "Export the profiles", "Database"),
    Reg(common::kExportHistoryValue, Flag, "0", AtUpdate, "Export the session history", "Database"),
    Reg(common::kExportLiveValue, Flag, "1", AtUpdate, "Export each record within a minute (with the history)",
        "Database"),
    Reg(common::kExportDatesValue, MonthDaySet, "0", AtUpdate, "Export on days of the month", "Database"),
    Reg(common::kExportDaysValue, WeekdaySet, "0", AtUpdate, "Export on days of the week", "Database"),
    Reg(common::kExportHoursValue, HourSet, "0", AtUpdate, "Export at hours", "Database"),
    {"AutoArchiveAge", SystemData, "General", "AutoArchiveAge", Days, "0", AtOnce,
     "Archive daily logs older than", "Database"},
    // Daily Status
    {"DailyStatusEmailType", SystemData, "General", "DailyStatusEmailType", Flag, "0", AtOnce,
     "Send the daily status mail", "Daily Status"},
    {"DailyStatusEmailHour", SystemData, "General", "DailyStatusEmailHour", Hour, "0", AtOnce,
     "Hour of the day", "Daily Status"},
    {"DailyStatusEmailPOPServer", SystemData, "General", "DailyStatusEmailPOPServer", Text, "*", AtOnce,
     "Mail server (host or host:port)", "Daily Status", 100},
    {"DailyStatusEmailTo", SystemData, "General", "DailyStatusEmailTo", Text, "*", AtOnce, "To", "Daily Status", 100},
    {"DailyStatusEmailFrom", SystemData, "General", "DailyStatusEmailFrom", Text, "*", AtOnce, "From",
     "Daily Status", 100},
    // Default Profile
    {"Default.AssignDefault", SystemData, "Default", "AssignDefault", Flag, "0", AtUpdate,
     "Give accounts without a profile this one", "Default Profile"},
    {"Default.MaxSessionTime", SystemData, "Default", common::kMaxSessionTime, Seconds, "0", AtUpdate,
     "Maximum session time", "Default Profile"},
    {"Default.MaxTotalTime", SystemData, "Default", common::kMaxTotalTime, Seconds, "0", AtUpdate,
     "Maximum total time", "Default Profile"},
    {"Default.ExpiryTime", SystemData, "Default", common::kExpiryTime, Days, "0", AtUpdate,
     "Account expires after (from the first dial-in)", "Default Profile"},
    {"Default.PeriodType", SystemData, "Default", common::kPeriodType, PeriodType, "0", AtUpdate,
     "Allowance period", "Default Profile"},
    {"Default.PeriodMax", SystemData, "Default", common::kPeriodMax, Seconds, "0", AtUpdate,
     "Allowance per period", "Default Profile"},
    {"Default.NoDuplicate", SystemData, "Default", common::kNoDuplicate, Flag, "0", AtUpdate,
     "One session at a time", "Default Profile"},
    // Notifications
    {"Notify1", SystemData, "General", "Notify1", Seconds, "0", AtUpdate, "First warning before the limit",
     "Notifications"},
    {"Notify1Text", SystemData, "General", "Notify1Text", Text, "0", AtUpdate, "First warning text",
     "Notifications", 1024},
    {"Notify2", SystemData, "General", "Notify2", Seconds, "0", AtUpdate, "Second warning before the limit",
     "Notifications"},
    {"Notify2Text", SystemData, "General", "Notify2Text", Text, "0", AtUpdate, "Second warning text",
     "Notifications", 1024},
    // Greeting Messages
    {"Greetings", SystemData, "Greetings", "RuleMask", Greetings, "0", AtUpdate,
     "Greetings sent (1 every session, 2 users with limits, 3 ports with limits)", "Greeting Messages"},
    {"Greeting1", GreetingFile, "", "greet_0.txt", Text, "", AtUpdate, "Greeting 1", "Greeting Messages", 1000},
    {"Greeting2", GreetingFile, "", "greet_1.txt", Text, "", AtUpdate, "Greeting 2", "Greeting Messages", 1000},
    {"Greeting3", GreetingFile, "", "greet_2.txt", Text, "", AtUpdate, "Greeting 3", "Greeting Messages", 1000},
};

constexpr SettingInfo kPort[] = {
    {"MaxSessionTime", SystemData, "", common::kMaxSessionTime, Seconds, "0", AtOnce,
     "Maximum session time on the port", "Port"},
    {"Idle", SystemData, "", "Idle", Minutes, "0", AtOnce, "Idle time-out (none: the server's)", "Port"},
    {"StaticIP", SystemData, "", common::kStaticIP, Address, "0", AtOnce, "Static address of the port", "Port"},
    {"AllowedGroups", SystemData, "", "AllowedGroups", Text, "*", AtOnce,
     "Groups allowed on the port (* for all)", "Port", 9999},
};

}  // namespace

const char* EffectText(Effect effect) {
  switch (effect) {
    case AtOnce: return "at once";
    case AtUpdate: return "at UPDATE_UPDATE";
    case AtRestart: return "at restart";
    case Unused: return "not used";
  }
  return "";
}

std::span<const SettingInfo> ProfileSettings() { return kProfile; }
std::span<const SettingInfo> UsageValues() { return kUsage; }
std::span<const SettingInfo> ServerSettings() { return kServer; }
std::span<const SettingInfo> SystemSettings() { return kSystem; }
std::span<const SettingInfo> PortSettings() { return kPort; }

const SettingInfo* FindSetting(std::span<const SettingInfo> table, std::string_view name) {
  for (const SettingInfo& s : table) {
    if (plat::EqualsIgnoringCase(s.name, name)) return &s;
  }
  return nullptr;
}

const char* PageNote(std::string_view page) {
  // OpenVPN 2.6 has no way to show a connected client a message short of
  // ending its session.
  if (page == "Notifications") {
    return "Warnings are sent as messages to the caller's computer. Users of an OpenVPN server do "
           "not see them: OpenVPN cannot show a connected client a message. They are told the "
           "reason when they are cut (\"Portulon: session time limit reached\").";
  }
  return nullptr;
}

}  // namespace accounts
