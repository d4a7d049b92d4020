// Every value an administrator sets, described once: where it is kept, its
// unit, its default, when a change takes effect and how the console labels
// it. The console's pages, the command-line tools and the configuration
// reference are all made from these tables.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "accounts/units.h"

namespace accounts {

// When the service sees a change.
enum class Effect {
  AtOnce,     // read afresh each time it is used
  AtUpdate,   // re-read when the server's pipe gets UPDATE_UPDATE
  AtRestart,  // read only when the service starts
  Unused,     // kept, but nothing acts on it
};
// "at once", "at UPDATE_UPDATE", "at restart", "not used".
const char* EffectText(Effect effect);

enum class Store {
  Profile,       // a section of portulon.usr (a user, a group)
  SystemData,    // portulon.hw, section `section`
  Registry,      // the Service key of a server's registry
  GreetingFile,  // greet_<n>.txt of the data folder (key holds the file name)
};

struct SettingInfo {
  const char* name;     // as the tools take it ("MaxSessionTime", "Notify1", "Default.ExpiryTime")
  Store store;
  const char* section;  // SystemData: the section ("" for a port's own)
  const char* key;      // the key, registry value or file name
  Unit unit;
  const char* defaultText;  // the file's text when the value is missing
  Effect effect;
  const char* label;    // the console's label
  const char* page;     // the console's page ("Notifications", ...)
  std::size_t maxLength = 0;    // Text: longest value kept
  bool registryText = false;    // Registry: REG_SZ, else REG_DWORD
  const char* option = nullptr; // pluser's option ("--session"), profile keys only
  bool groupKey = false;        // Profile: group profiles have it too
};

// The limits of a user profile (what the administrator sets), in page order.
std::span<const SettingInfo> ProfileSettings();
// The usage values the service keeps in a profile, for display.
std::span<const SettingInfo> UsageValues();
// The Service key of a server.
std::span<const SettingInfo> ServerSettings();
// The shared settings of portulon.hw and the greeting files, in page order.
std::span<const SettingInfo> SystemSettings();
// A port's section of portulon.hw ("SRV1\COM3"); their section is the port's.
std::span<const SettingInfo> PortSettings();

// The entry of `table` named `name` (ignoring case), or nullptr.
const SettingInfo* FindSetting(std::span<const SettingInfo> table, std::string_view name);

// What an administrator should know of a page of settings beyond its rows
// (shown under them); nullptr for none.
const char* PageNote(std::string_view page);

}  // namespace accounts
