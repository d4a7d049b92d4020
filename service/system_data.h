// The system data file portulon.hw: settings shared by every server (warnings,
// default profile, greetings, status mail, archive age) and one section per
// port.
#pragma once

#include <array>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/win_types.h"
#include "service/settings.h"

namespace svc {

class WriteHealth;
using plat::DWORD;

// Section `Default`: the profile given to accounts that have none.
struct DefaultProfile {
  DWORD assignDefault = 0;
  DWORD maxSessionTime = 0;
  DWORD maxTotalTime = 0;
  DWORD expiryTime = 0;
  DWORD periodMax = 0;
  DWORD periodType = 0;
  DWORD noDuplicate = 0;
};

// The shared sections, read at start-up and again at UPDATE_UPDATE.
struct SystemData {
  // General
  DWORD notify1 = 0;
  DWORD notify2 = 0;
  std::string notify1Text = "0";
  std::string notify2Text = "0";
  DWORD dailyStatusEmailType = 0;  // non-zero also switches the svc_status.dat counters on
  DWORD dailyStatusEmailHour = 0;
  DWORD dailyStatusEmailLastSent = 0;
  std::string dailyStatusEmailPOPServer = "*";
  std::string dailyStatusEmailTo = "*";
  std::string dailyStatusEmailFrom = "*";
  DWORD autoArchiveAge = 0;  // days; daily logs older than that move to OldData

  DefaultProfile defaults;

  // Greetings: RuleMask bits 1, 2, 4 switch greetings 1 to 3 on; their texts
  // are greet_0.txt to greet_2.txt of the data folder.
  DWORD ruleMask = 0;
  std::array<std::string, 3> greetingTexts;
};

inline constexpr const char* kGeneralSection = "General";
inline constexpr const char* kDefaultSection = "Default";
inline constexpr const char* kGreetingsSection = "Greetings";

// Reads portulon.hw and the greeting files of the data folder into *out; a
// file that cannot be read leaves *out as it was and returns the error (a
// folder without the file is a new installation: every default).
DWORD ReadSystemData(const DataPaths& paths, SystemData* out);

// The daily status mail's keys of section General, read afresh (the console
// may have changed them since start-up).
struct StatusMailSettings {
  DWORD type = 0;          // DailyStatusEmailType: 0 = no mail
  DWORD hour = 0;          // DailyStatusEmailHour
  DWORD lastSent = 0;      // DailyStatusEmailLastSent, seconds since 1970
  std::string server = "*";  // DailyStatusEmailPOPServer: "host" or "host:port"
  std::string to = "*";      // DailyStatusEmailTo
  std::string from = "*";    // DailyStatusEmailFrom
};
// `file`: portulon.hw (DataPaths::systemData), here and below.
StatusMailSettings ReadStatusMailSettings(const std::string& file);
// Writes type, hour, server, recipient and sender (not lastSent) in one rewrite.
DWORD WriteStatusMailSettings(const std::string& file, const StatusMailSettings& settings);
// DailyStatusEmailLastSent = `when`.
DWORD WriteDailyStatusEmailLastSent(const std::string& file, std::time_t when);

// A number of the port's section ("MaxSessionTime", "Idle", "StaticIP"), read
// with default "0".
int ReadPortNumber(const std::string& file, std::string_view port, std::string_view key);
// "AllowedGroups" of the port's section, default "*", as a 10000-byte buffer holds it.
std::string ReadAllowedGroups(const std::string& file, std::string_view port);
// "Active" = "1" or "0" in the port's section; the write is noted in `health`.
void SetPortActive(const std::string& file, WriteHealth& health, std::string_view port, bool active);
// That write as a change of portulon.hw, for writers that keep what fails.
plat::ProfileChange PortActiveChange(std::string_view port, bool active);

}  // namespace svc
