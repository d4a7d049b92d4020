// plsettings: a server's Portulon settings (its registry's Service key) and
// the settings every server shares (portulon.hw, the greeting files), shown
// and changed with human units; a running service is told with UPDATE_UPDATE.
#include <cctype>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "accounts/setting_info.h"
#include "accounts/settings_store.h"
#include "accounts/tools/tool_support.h"
#include "accounts/typo_checks.h"
#include "common/data_folder.h"
#include "common/pipe_protocol.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage = R"(plsettings - the settings of Portulon's servers and the ones they share

Usage:
  plsettings show [server|system] [--server NAME] [--data FOLDER]
  plsettings set NAME=VALUE [NAME=VALUE...] [--server NAME] [--data FOLDER]
                 [--notify SERVER[,SERVER...]]
  plsettings port SERVER\PORT [NAME=VALUE...] [--data FOLDER]
  plsettings update [--server NAME]
  plsettings reference
  (each with [--machine ROOT])
  plsettings --help | --version

show       the settings with their values in words, as stored, and when a
           change takes effect; server: the Service key of the server
           (--server, default this machine); system: portulon.hw and the
           greeting files of the data folder, and the master's export
           settings
set        changes the settings named and nothing else, then sends
           UPDATE_UPDATE to the server (--server) and to every server of
           --notify, so that the running services use them at once
port       shows or changes the settings of one port (its section of
           portulon.hw): MaxSessionTime, Idle, StaticIP, AllowedGroups;
           every service reads them when it needs them, at once
update     sends UPDATE_UPDATE: the service re-reads its settings and the
           shared settings of portulon.hw
reference  every setting: where it is kept, its unit, default and when a
           change takes effect (Markdown)

Values as in the console: times as 1h30m, 90m or 45s (none for 0), days
as 90d, yes or no, addresses as 10.0.0.77, greetings as 1,3; the export
schedule as hours 2,18 (or all, none), weekdays mon,fri and days of the
month 1,15. "show" lists the names.

Options:
  --server NAME      the server whose Service key is meant (default: this
                     machine)
  --data FOLDER      the data folder as a Windows path (default: the
                     server's MasterShare setting)
  --notify SERVERS   set: also send UPDATE_UPDATE to these servers
  --strict           refuse what is otherwise only warned about (port: a
                     port the server does not have; set: a default profile
                     with an allowance but the period none); nothing is
                     written
  --machine ROOT     the machine folder (default: PORTULON_MACHINE)
  --help             show this text
  --version          show the program's version

Exit status:
  0  done
  1  a server or the data folder cannot be reached, a file is half-written,
     or a service did not take UPDATE_UPDATE (the values are then written
     but not yet in use)
  2  the command line is wrong (unknown setting, a value that cannot be
     stored), or --strict refused a warning
Nothing is written when anything is refused.

Files:
  FOLDER\portulon.hw      the shared settings and the ports' settings
  FOLDER\greet_0.txt      the greetings (greet_1.txt, greet_2.txt)
  HKLM\Software\Quillfen Technologies\Portulon\Service   a server's settings

Examples:
  plsettings show server
  plsettings set IdleTimer=15m --server SRV2
  plsettings set ExportHours=2,18 ExportDays=mon,fri
  plsettings port 'SRV1\COM3' Idle=1m 'AllowedGroups=DOM\Staff'

See also:
  pluser(1), plexport(1), reg(1)
)";

using accounts::SettingInfo;

const char* UnitText(accounts::Unit unit) {
  using enum accounts::Unit;
  switch (unit) {
    case Seconds: return "seconds (typed as 1h30m)";
    case Minutes: return "minutes (typed as 15m)";
    case Days: return "days (typed as 90d)";
    case Date: return "last day, YYYY-MM-DD (typed as 2027-01-31 or none)";
    case Count: return "number";
    case Sessions: return "number of sessions (0: as one session at a time says)";
    case Flag: return "0 or 1 (no/yes)";
    case PeriodType: return "0 none, 1 day, 2 week, 3 month";
    case Address: return "address, first octet high (typed as 10.0.0.77)";
    case Hour: return "hour 0-23";
    case Greetings: return "bits 1, 2, 4 (typed as 1,3)";
    case HourSet: return "bit h for hour h (typed as 2,18 or all)";
    case WeekdaySet: return "bit 0 Sunday to 6 Saturday (typed as mon,fri or all)";
    case MonthDaySet: return "bit d-1 for day d (typed as 1,15 or all)";
    case Text: return "text";
    case Time: return "seconds since 1970";
    case Elapsed: return "seconds";
  }
  return "";
}

std::string Where(const SettingInfo& s) {
  switch (s.store) {
    case accounts::Store::Profile: return std::string(common::kUsersFile) + " `[DOMAIN\\user]`";
    case accounts::Store::SystemData: return std::string(common::kSystemDataFile) + " `[" + s.section + "]`";
    case accounts::Store::Registry: return "registry `Service`";
    case accounts::Store::GreetingFile: return std::string("file `") + s.key + "`";
  }
  return "";
}

int Reference() {
  std::printf("| setting | kept in | key | unit | default | takes effect |\n|---|---|---|---|---|---|\n");
  auto row = [](const SettingInfo& s, const char* effect) {
    const std::string def = s.defaultText[0] ? std::string("`") + s.defaultText + "`" : "empty";
    std::printf("| %s | %s | `%s` | %s | %s | %s |\n", s.label, Where(s).c_str(), s.key, UnitText(s.unit),
                def.c_str(), effect);
  };
  for (const SettingInfo& s : accounts::ProfileSettings()) {
    row(s, s.groupKey ? "at the next dial-in (also in `[+DOMAIN\\Group]`)" : "at the next dial-in");
  }
  for (const SettingInfo& s : accounts::UsageValues()) row(s, "kept by the service");
  for (auto table : {accounts::ServerSettings(), accounts::SystemSettings()}) {
    for (const SettingInfo& s : table) row(s, accounts::EffectText(s.effect));
  }
  for (const SettingInfo& s : accounts::PortSettings()) {
    SettingInfo port = s;
    port.section = "SERVER\\PORT";
    row(port, accounts::EffectText(s.effect));
  }
  return pltools::kExitSuccess;
}

bool ResolvePlace(pltools::Tool& tool, const std::string& server, const std::string* data, bool needFolder,
                  accounts::SettingsPlace* place) {
  if (!tool.RequireMachine()) return false;
  place->server = server;
  if (data) {
    place->dataFolder = *data;
  } else if (auto folder = accounts::ServerDataFolder(server)) {
    place->dataFolder = *folder;
  } else if (needFolder) {
    tool.Fail("the data folder (MasterShare) of " + (server.empty() ? std::string("this machine") : server) +
              " is not set or cannot be read; give --data FOLDER");
    return false;
  }
  return true;
}

int Show(pltools::Tool& tool, const accounts::SettingsPlace& place, bool server, bool system) {
  for (auto table : {accounts::ServerSettings(), accounts::SystemSettings()}) {
    const bool isServer = table.data() == accounts::ServerSettings().data();
    if ((isServer && !server) || (!isServer && !system)) continue;
    accounts::SettingTexts values;
    if (auto o = accounts::ReadSettingValues(table, place, &values); !o.ok()) return tool.Fail(o.message);
    std::printf("%s\n", isServer ? "Server settings (registry Service key):" : "System settings (shared):");
    for (size_t i = 0; i < table.size(); ++i) {
      const SettingInfo& s = table[i];
      std::printf("  %-27s %-24s %-16s %s\n", s.name, accounts::FormatValue(s.unit, values[i].second).c_str(),
                  accounts::EffectText(s.effect), s.label);
    }
  }
  return pltools::kExitSuccess;
}

int Notify(pltools::Tool& tool, const std::vector<std::string>& servers) {
  int status = pltools::kExitSuccess;
  for (const std::string& server : servers) {
    bool running = true;
    const accounts::Outcome o = accounts::SendUpdate(server, &running);
    const std::string name = server.empty() ? "this machine" : server;
    if (!o.ok()) {
      tool.Fail(o.message + "; it uses the new values after its next restart");
      status = pltools::kExitFailure;
    } else if (!running) {
      std::printf("%s: Portulon is not running; it reads the settings when it starts\n", name.c_str());
    } else {
      std::printf("%s: UPDATE_UPDATE sent, the service uses the new settings\n", name.c_str());
    }
  }
  return status;
}

// Parses NAME=VALUE arguments of `table`; false (usage error printed) on a
// name it does not have or a value that cannot be stored.
bool ParseAssignments(pltools::Tool& tool, std::span<const SettingInfo> table, const std::vector<std::string>& args,
                      accounts::SettingTexts* changes) {
  for (const std::string& a : args) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) return tool.UsageError("'" + a + "' is not NAME=VALUE"), false;
    const std::string name = a.substr(0, eq);
    const SettingInfo* info = accounts::FindSetting(table, name);
    if (!info) return tool.UsageError("unknown setting '" + name + "'"), false;
    std::string why;
    auto text = accounts::ParseValue(info->unit, a.substr(eq + 1), &why, info->maxLength);
    if (!text) return tool.ValueError(name + ": " + why), false;
    changes->emplace_back(info->name, *text);
  }
  return true;
}

// The default profile as it would stand after `changes`: an allowance
// without a period is never applied, most likely a typing error.
std::vector<std::string> DefaultProfileWarnings(const accounts::SettingsPlace& place,
                                                const accounts::SettingTexts& changes) {
  constexpr std::string_view kPrefix = "Default.";
  accounts::Changes profileChanges;
  for (const auto& [name, text] : changes) {
    if (name.rfind(kPrefix, 0) == 0) profileChanges.emplace_back(name.substr(kPrefix.size()), text);
  }
  if (profileChanges.empty()) return {};
  accounts::SettingTexts values;
  if (!accounts::ReadSettingValues(accounts::SystemSettings(), place, &values).ok()) return {};
  accounts::Account profile;
  profile.section = "Default";
  for (const auto& [name, text] : values) {
    if (name.rfind(kPrefix, 0) == 0) profile.values.emplace_back(name.substr(kPrefix.size()), text);
  }
  return accounts::ProfileWarnings(accounts::WithChanges(profile, profileChanges));
}

// Prints each warning; true when --strict refuses them (nothing is then written).
bool RefusedAsTypos(const std::vector<std::string>& warnings, bool strict) {
  for (const std::string& w : warnings) {
    std::fprintf(stderr, "plsettings: %s: %s\n", strict ? "refused" : "warning", w.c_str());
  }
  if (!strict || warnings.empty()) return false;
  std::fprintf(stderr, "plsettings: nothing was written (--strict)\n");
  return true;
}

int Port(pltools::Tool& tool, std::vector<std::string> args, const std::string* data, bool strict) {
  if (args.empty()) return tool.UsageError("port needs SERVER\\PORT");
  const std::string section = args[0];
  const size_t slash = section.find('\\');
  if (slash == std::string::npos || slash == 0 || slash > 60 ||
      !common::IsPlausiblePortName(section.substr(slash + 1)) || section.substr(slash + 1) == "??") {
    return tool.UsageError("'" + section + "' is not SERVER\\PORT (as SRV1\\COM3)");
  }
  for (char c : section.substr(0, slash)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
      return tool.UsageError("'" + section + "' is not SERVER\\PORT (as SRV1\\COM3)");
    }
  }
  args.erase(args.begin());
  accounts::SettingTexts changes;
  if (!ParseAssignments(tool, accounts::PortSettings(), args, &changes)) return tool.exitCode();
  accounts::SettingsPlace place;
  if (!ResolvePlace(tool, "", data, true, &place)) return tool.exitCode();
  place.portSection = section;
  if (!changes.empty()) {
    // A port the server does not have is most likely a typing error.
    if (RefusedAsTypos(accounts::PortWarnings(section), strict)) return pltools::kExitUsage;
    if (auto o = accounts::WriteSettingValues(accounts::PortSettings(), place, changes); !o.ok()) {
      return tool.Fail(o.message);
    }
    std::printf("saved %zu setting(s) of %s; they apply at the port's next session\n", changes.size(),
                section.c_str());
    return pltools::kExitSuccess;
  }
  accounts::SettingTexts values;
  if (auto o = accounts::ReadSettingValues(accounts::PortSettings(), place, &values); !o.ok()) return tool.Fail(o.message);
  std::printf("Port %s (%s):\n", section.c_str(), common::kSystemDataFile);
  const auto table = accounts::PortSettings();
  for (size_t i = 0; i < table.size(); ++i) {
    std::printf("  %-16s %-20s %s\n", table[i].name, accounts::FormatValue(table[i].unit, values[i].second).c_str(),
                table[i].label);
  }
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plsettings", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");
  const std::string command = tool.args()[0];
  tool.args().erase(tool.args().begin());
  std::string server, data, notify;
  tool.TakeOption("--server", &server);
  const bool dataGiven = tool.TakeOption("--data", &data);
  tool.TakeOption("--notify", &notify);
  const bool strict = tool.TakeFlag("--strict");
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  auto& args = tool.args();

  if (command == "reference") {
    if (!args.empty()) return tool.UsageError("unexpected argument '" + args[0] + "'");
    return Reference();
  }
  if (command == "port") return Port(tool, args, dataGiven ? &data : nullptr, strict);
  if (command == "update") {
    if (!args.empty()) return tool.UsageError("unexpected argument '" + args[0] + "'");
    if (!tool.RequireMachine()) return tool.exitCode();
    return Notify(tool, {server});
  }
  if (command == "show") {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "server" && args[0] != "system")) {
      return tool.UsageError("show takes server or system");
    }
    const bool both = args.empty();
    const bool system = both || args[0] == "system";
    accounts::SettingsPlace place;
    if (!ResolvePlace(tool, server, dataGiven ? &data : nullptr, system, &place)) return tool.exitCode();
    return Show(tool, place, both || args[0] == "server", system);
  }
  if (command != "set") return tool.UsageError("unknown command '" + command + "'");
  if (args.empty()) return tool.UsageError("nothing to set: give NAME=VALUE");

  // Every value checked before anything is written.
  accounts::SettingTexts serverChanges, systemChanges;
  for (const std::string& a : args) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) return tool.UsageError("'" + a + "' is not NAME=VALUE");
    const std::string name = a.substr(0, eq);
    const bool isServer = accounts::FindSetting(accounts::ServerSettings(), name) != nullptr;
    const auto table = isServer ? accounts::ServerSettings() : accounts::SystemSettings();
    const SettingInfo* info = accounts::FindSetting(table, name);
    if (!info) return tool.UsageError("unknown setting '" + name + "' (plsettings show lists them)");
    std::string why;
    auto text = accounts::ParseValue(info->unit, a.substr(eq + 1), &why, info->maxLength);
    if (!text) return tool.ValueError(name + ": " + why);
    (isServer ? serverChanges : systemChanges).emplace_back(info->name, *text);
  }
  accounts::SettingsPlace place;
  if (!ResolvePlace(tool, server, dataGiven ? &data : nullptr, !systemChanges.empty(), &place)) {
    return tool.exitCode();
  }
  if (RefusedAsTypos(DefaultProfileWarnings(place, systemChanges), strict)) return pltools::kExitUsage;
  if (auto o = accounts::WriteSettingValues(accounts::ServerSettings(), place, serverChanges); !o.ok()) {
    return tool.Fail(o.message);
  }
  if (auto o = accounts::WriteSettingValues(accounts::SystemSettings(), place, systemChanges); !o.ok()) {
    return tool.Fail(o.message);
  }
  std::printf("saved %zu setting(s)\n", serverChanges.size() + systemChanges.size());
  if (!accounts::NeedsUpdate(accounts::ServerSettings(), serverChanges) &&
      !accounts::NeedsUpdate(accounts::SystemSettings(), systemChanges)) {
    return pltools::kExitSuccess;
  }
  std::vector<std::string> servers = {server};
  size_t start = 0;
  while (!notify.empty() && start <= notify.size()) {
    const size_t comma = notify.find(',', start);
    std::string name = notify.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!name.empty()) servers.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return Notify(tool, servers);
}
