// The settings of a server (its registry's Service key) and the settings all
// servers share (portulon.hw and the greeting files of the data folder): read
// them, write the ones that changed, and tell a running service to re-read.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accounts/account_store.h"
#include "accounts/setting_info.h"

namespace accounts {

// Where settings are: the server whose registry holds the Registry entries
// ("" = this machine), and the data folder holding portulon.hw and the
// greeting files (Windows path).
struct SettingsPlace {
  std::string server;
  std::string dataFolder;
  std::string portSection;  // for PortSettings: "SRV1\COM3"
};

// Setting name and file text.
using SettingTexts = std::vector<std::pair<std::string, std::string>>;

// The file text of every entry of `table` (its default when missing).
Outcome ReadSettingValues(std::span<const SettingInfo> table, const SettingsPlace& place,
                          SettingTexts* values);

// Of the values typed (name, text as typed), those that differ from `current`
// as it was displayed, parsed into file texts. Refused (why set, nothing
// returned) when one cannot be stored.
std::optional<SettingTexts> ChangedSettingValues(std::span<const SettingInfo> table,
                                                 const SettingTexts& current,
                                                 const SettingTexts& typed, std::string* why);

// Writes exactly the given values: the registry ones to the server's Service
// key, the portulon.hw ones in one locked write, the greeting files whole.
Outcome WriteSettingValues(std::span<const SettingInfo> table, const SettingsPlace& place,
                           const SettingTexts& changes);

// True when a change of one of `changes` needs UPDATE_UPDATE to reach the service.
bool NeedsUpdate(std::span<const SettingInfo> table, const SettingTexts& changes);

// Sends UPDATE_UPDATE to the service of `server` ("" = this machine).
// *running is false when no service is there to tell (its pipe is missing):
// it reads the settings when it starts, which is not a failure.
Outcome SendUpdate(const std::string& server, bool* running = nullptr);

// The data folder a server's service uses: its MasterShare setting (nullopt
// when it has none or the registry cannot be reached).
std::optional<std::string> ServerDataFolder(const std::string& server);

}  // namespace accounts
