#include "accounts/settings_store.h"

#include "common/call_service.h"
#include "common/data_folder.h"
#include "common/pipe_protocol.h"
#include "common/product_keys.h"
#include "common/profile_helpers.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace accounts {

namespace {


std::string ServerName(const std::string& server) { return server.empty() ? "this machine" : server; }

Outcome OpenServiceKey(const std::string& server, plat::RegKey* key) {
  plat::RegKey root;
  if (plat::DWORD err = plat::RegKey::Connect(server, plat::Hive::LocalMachine, &root); err != plat::ERROR_SUCCESS) {
    return Outcome{err, "cannot reach the registry of " + ServerName(server) + ": " + plat::ErrorText(err)};
  }
  if (plat::DWORD err = root.OpenSubKey(common::kServiceKey, key); err != plat::ERROR_SUCCESS) {
    return Outcome{err, "Portulon is not installed on " + ServerName(server) + " (no Service key)"};
  }
  return {};
}

bool UsesStore(std::span<const SettingInfo> table, Store store) {
  for (const SettingInfo& s : table) {
    if (s.store == store) return true;
  }
  return false;
}

std::string HwFile(const SettingsPlace& place) { return common::DataFile(place.dataFolder, common::kSystemDataFile); }

std::string Section(const SettingInfo& s, const SettingsPlace& place) {
  return *s.section ? std::string(s.section) : place.portSection;
}

}  // namespace

std::optional<std::string> ServerDataFolder(const std::string& server) {
  plat::RegKey key;
  if (!OpenServiceKey(server, &key).ok()) return std::nullopt;
  std::string folder;
  if (key.QueryString(common::kMasterShareValue, &folder) != plat::ERROR_SUCCESS || folder.empty()) {
    return std::nullopt;
  }
  return folder;
}

Outcome ReadSettingValues(std::span<const SettingInfo> table, const SettingsPlace& place,
                          SettingTexts* values) {
  values->clear();
  plat::RegKey key;
  if (UsesStore(table, Store::Registry)) {
    if (Outcome o = OpenServiceKey(place.server, &key); !o.ok()) return o;
  }
  for (const SettingInfo& s : table) {
    std::string text = s.defaultText;
    switch (s.store) {
      case Store::Registry:
        if (s.registryText) {
          key.QueryString(s.key, &text);
        } else if (plat::DWORD v = 0; key.QueryDword(s.key, &v) == plat::ERROR_SUCCESS) {
          text = std::to_string(v);
        }
        break;
      case Store::SystemData:
        text = plat::ProfileGetString(HwFile(place), Section(s, place), s.key, s.defaultText);
        break;
      case Store::GreetingFile:
        if (plat::ReadWholeFile(place.dataFolder + "\\" + s.key, &text) != plat::ERROR_SUCCESS) text.clear();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        break;
      case Store::Profile: break;
    }
    values->emplace_back(s.name, std::move(text));
  }
  return {};
}

std::optional<SettingTexts> ChangedSettingValues(std::span<const SettingInfo> table,
                                                 const SettingTexts& current,
                                                 const SettingTexts& typed, std::string* why) {
  SettingTexts changes;
  for (const auto& [name, text] : typed) {
    const SettingInfo* info = FindSetting(table, name);
    if (!info) {
      if (why) *why = "'" + name + "' is not a setting here";
      return std::nullopt;
    }
    std::string before = info->defaultText;
    for (const auto& [n, t] : current) {
      if (plat::EqualsIgnoringCase(n, name)) before = t;
    }
    if (text == FormatValue(info->unit, before)) continue;
    std::string reason;
    auto parsed = ParseValue(info->unit, text, &reason, info->maxLength);
    if (!parsed) {
      if (why) *why = std::string(info->label) + ": " + reason;
      return std::nullopt;
    }
    const bool same = info->unit == Unit::Text ? *parsed == before
                                               : IsCleanNumber(before) &&
                                                     common::DecimalValue(before) == common::DecimalValue(*parsed);
    if (!same) changes.emplace_back(info->name, std::move(*parsed));
  }
  return changes;
}

Outcome WriteSettingValues(std::span<const SettingInfo> table, const SettingsPlace& place,
                           const SettingTexts& changes) {
  std::vector<plat::ProfileChange> hw;
  std::vector<std::pair<const SettingInfo*, std::string>> registry, files;
  for (const auto& [name, text] : changes) {
    const SettingInfo* info = FindSetting(table, name);
    if (!info) return Outcome::Refused("'" + name + "' is not a setting here");
    switch (info->store) {
      case Store::Registry: registry.emplace_back(info, text); break;
      case Store::SystemData:
        if (Section(*info, place).empty()) return Outcome::Refused("no port named for " + name);
        hw.push_back({Section(*info, place), info->key, text});
        break;
      case Store::GreetingFile: files.emplace_back(info, text); break;
      case Store::Profile: return Outcome::Refused("'" + name + "' is a profile setting");
    }
  }
  if ((!hw.empty() || !files.empty()) && place.dataFolder.empty()) {
    return Outcome::Refused("the data folder is not known, so the shared settings cannot be written");
  }
  if (!hw.empty()) {
    if (std::string problem = FileProblem(HwFile(place)); !problem.empty()) {
      return Outcome{plat::ERROR_INVALID_DATA, problem + "; nothing was written"};
    }
  }
  plat::RegKey key;
  if (!registry.empty()) {
    if (Outcome o = OpenServiceKey(place.server, &key); !o.ok()) return o;
  }
  for (const auto& [info, text] : registry) {
    const plat::DWORD err = info->registryText
                                ? key.SetString(info->key, text)
                                : key.SetDword(info->key, static_cast<plat::DWORD>(common::DecimalValue(text)));
    if (err != plat::ERROR_SUCCESS) {
      return Outcome{err, "could not write " + std::string(info->key) + " on " + ServerName(place.server) + ": " +
                              plat::ErrorText(err)};
    }
  }
  if (!hw.empty()) {
    if (plat::DWORD err = plat::ProfileApply(HwFile(place), hw); err != plat::ERROR_SUCCESS) {
      return Outcome{err, "could not write " + HwFile(place) + ": " + plat::ErrorText(err)};
    }
  }
  for (const auto& [info, text] : files) {
    const std::string path = place.dataFolder + "\\" + info->key;
    if (plat::DWORD err = plat::WriteWholeFile(path, text); err != plat::ERROR_SUCCESS) {
      return Outcome{err, "could not write " + path + ": " + plat::ErrorText(err)};
    }
  }
  return {};
}

bool NeedsUpdate(std::span<const SettingInfo> table, const SettingTexts& changes) {
  for (const auto& [name, text] : changes) {
    const SettingInfo* info = FindSetting(table, name);
    if (info && info->effect == Effect::AtUpdate) return true;
  }
  return false;
}

Outcome SendUpdate(const std::string& server, bool* running) {
  if (running) *running = true;
  const plat::DWORD err = common::CallService(server, common::kUpdateMessage).error;
  if (err == plat::ERROR_SUCCESS) return {};
  if (err == plat::ERROR_FILE_NOT_FOUND) {
    if (running) *running = false;
    return {};
  }
  return Outcome{err, "the service on " + ServerName(server) + " did not take UPDATE_UPDATE: " + plat::ErrorText(err)};
}

}  // namespace accounts
