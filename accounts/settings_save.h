// Saving a settings sheet: the values that changed are written, then every
// server that must re-read them is told (UPDATE_UPDATE), each on a thread of
// its own, so that a hung service costs its own wait and nobody else's, and
// each answer is reported as it comes.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "accounts/settings_store.h"

namespace accounts {

// Of the values typed, writes those that differ from `current` (as the sheet
// showed them), and sets *toNotify to `notify` when one of them needs
// UPDATE_UPDATE to reach the service (else leaves it). Refused, nothing
// written, when a typed value cannot be stored.
Outcome SaveSettings(std::span<const SettingInfo> table, const SettingsPlace& place,
                     const SettingTexts& current, const SettingTexts& typed,
                     const std::vector<std::string>& notify, std::vector<std::string>* toNotify);

struct UpdateNotice {
  std::string server;
  bool took = false;     // the service re-read its settings, or is not running
  std::string text;      // "SRV1 re-read the settings", "SRV2 did not answer; ..."
};

// One server, as SendUpdate tells it.
UpdateNotice NotifyServer(const std::string& server);

// Every server, each on a thread of its own; `each` is called (on those
// threads, one call at a time) with every answer as it arrives. Returns the
// answers in the order of `servers` once all have answered or given up.
std::vector<UpdateNotice> NotifyServers(const std::vector<std::string>& servers,
                                        const std::function<void(const UpdateNotice&)>& each);

// The status line after all answered: "SRV1 re-read the settings; SRV2 did not answer; ...".
std::string NoticeSummary(const std::vector<UpdateNotice>& notices);
// Only the failures, one a line; empty when every server took the settings.
std::string NoticeFailures(const std::vector<UpdateNotice>& notices);

}  // namespace accounts
