#include "console/core/server_list.h"

#include <algorithm>

#include "common/data_folder.h"
#include "console/core/console_keys.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace pladmin {

CServerList::~CServerList() {
  // Tell every fetch to stop before waiting for any of them.
  for (Slot& slot : slots_) {
    if (slot.fetcher) slot.fetcher->RequestStop();
  }
  for (auto& fetcher : retired_) fetcher->RequestStop();
}

bool CServerList::IsValidServerName(const std::string& name) {
  if (name.empty() || name.size() > kMaxServerName) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 0x7F) return false;
    if (std::string_view("\\/:*?\"<>|,;=+[]").find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

void CServerList::Append(const std::string& name) {
  Slot slot;
  slot.server.id = nextId_++;
  slot.server.name = name;
  slots_.push_back(std::move(slot));
}

void CServerList::Load(MessageSink& sink) {
  for (Slot& slot : slots_) {
    if (slot.fetcher) {
      slot.fetcher->RequestStop();
      retired_.push_back(std::move(slot.fetcher));
    }
  }
  slots_.clear();
  plat::RegKey key;
  const plat::DWORD err = plat::RegKey::Open(plat::Hive::LocalMachine, kServersKey, &key);
  // No key yet is a console with no servers yet: the servers view says how to add one.
  if (err == plat::ERROR_FILE_NOT_FOUND) return;
  if (err != plat::ERROR_SUCCESS) {
    sink.Message(plat::FormatText("Failed to open the SERVERS key in the registry. Error %u.", err),
                 MessageIcon::Stop);
    return;
  }
  std::string ignored;
  std::string name;
  for (plat::DWORD i = 0; key.EnumKey(i, &name) == plat::ERROR_SUCCESS; ++i) {
    if (name.size() > 100) name.resize(100);
    if (!IsValidServerName(name) || Find(name) >= 0) {
      ignored += "\n  \"" + name + "\"";
      continue;
    }
    Append(name);
    RecallBias(key, &slots_.back().server);
  }
  if (!ignored.empty()) {
    sink.Message("These entries of the list of monitored servers are no server names and are "
                 "ignored:" + ignored,
                 MessageIcon::Warning);
  }
}

CServerList::AddResult CServerList::Add(const std::string& name, MessageSink& sink) {
  if (Find(name) >= 0) return kAlreadyListed;
  plat::RegKey key;
  if (!IsValidServerName(name) ||
      plat::RegKey::Create(plat::Hive::LocalMachine, std::string(kServersKey) + "\\" + name, &key) !=
          plat::ERROR_SUCCESS) {
    sink.Message(
        plat::FormatText("Failed to write %s in local registry\n Server will not be monitored",
                         name.c_str()),
        MessageIcon::Stop);
    return kAddFailed;
  }
  Append(name);
  return kAdded;
}

bool CServerList::Remove(const std::string& name, MessageSink& sink) {
  const int index = Find(name);
  if (index < 0) return false;
  Slot& slot = slots_[static_cast<size_t>(index)];
  if (slot.fetcher) {
    slot.fetcher->RequestStop();
    retired_.push_back(std::move(slot.fetcher));
  }
  const std::string stored = slot.server.name;
  if (masterKnown_ && plat::EqualsIgnoringCase(masterName_, stored)) masterKnown_ = false;
  slots_.erase(slots_.begin() + index);
  plat::RegKey key;
  plat::DWORD err = plat::RegKey::Open(plat::Hive::LocalMachine, kServersKey, &key);
  if (err == plat::ERROR_SUCCESS) err = key.DeleteSubKey(stored);
  if (err != plat::ERROR_SUCCESS && err != plat::ERROR_FILE_NOT_FOUND) {
    sink.Message(
        plat::FormatText("Failed to remove %s from the local registry: it will be monitored again "
                         "next time",
                         stored.c_str()),
        MessageIcon::Warning);
  }
  ReapRetired();
  return true;
}

int CServerList::Find(const std::string& name) const {
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (plat::EqualsIgnoringCase(slots_[i].server.name, name)) return static_cast<int>(i);
  }
  return -1;
}

int CServerList::IndexOfId(std::uint64_t id) const {
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].server.id == id) return static_cast<int>(i);
  }
  return -1;
}

bool CServerList::FetchRunning(int index) const {
  const Slot& slot = slots_[static_cast<size_t>(index)];
  return slot.fetcher && !slot.fetcher->finished();
}

void CServerList::StartFetch(int index, RasAdmin& admin, std::shared_ptr<FetchNotifier> notifier) {
  if (index < 0 || index >= size()) return;
  Slot& slot = slots_[static_cast<size_t>(index)];
  if (slot.fetcher) {
    if (!slot.fetcher->finished()) return;
    TakeOver(slot);
  }
  slot.server.fetchDone = false;
  slot.fetcher = std::make_unique<CServerFetcherThread>(slot.server, admin, std::move(notifier));
  slot.fetcher->Start();
}

void CServerList::RecallBias(const plat::RegKey& servers, CServer* server) {
  plat::RegKey key;
  plat::DWORD bias = 0;
  if (servers.OpenSubKey(server->name, &key) == plat::ERROR_SUCCESS &&
      key.QueryDword(kBiasValue, &bias) == plat::ERROR_SUCCESS) {
    server->settings.activeTimeBias = bias;
    server->settings.biasSource = kBiasRemembered;
  }
}

void CServerList::RememberBias(const CServer& before, const CServer& after) {
  if (after.settings.biasSource != kBiasRead) return;
  if (before.settings.biasSource == kBiasRead && before.settings.activeTimeBias == after.settings.activeTimeBias) {
    return;
  }
  // The next start shows this server's times right even while it is down.
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, std::string(kServersKey) + "\\" + after.name, &key) !=
          plat::ERROR_SUCCESS ||
      key.SetDword(kBiasValue, after.settings.activeTimeBias) != plat::ERROR_SUCCESS) {
    biasNotKept_ = after.name;
  }
}

void CServerList::TakeOver(Slot& slot) {
  // The thread has finished; destroying the fetcher joins it at once.
  if (slot.fetcher->completed()) {
    CServer result = slot.fetcher->TakeResult();
    RememberBias(slot.server, result);
    slot.server = std::move(result);
    UpdateMaster(slot.server);
  }
  slot.fetcher.reset();
}

void CServerList::UpdateMaster(const CServer& server) {
  if (server.settings.master && server.state != kStateNoRegistry &&
      server.state != kStateRegistryIncomplete) {
    masterKnown_ = true;
    masterName_ = server.name;
    masterShare_ = server.settings.masterShare;
    hwPath_ = common::DataFile(masterShare_, common::kSystemDataFile);
    usrPath_ = common::DataFile(masterShare_, common::kUsersFile);
  } else if (masterKnown_ && plat::EqualsIgnoringCase(masterName_, server.name) &&
             !server.settings.master) {
    // The master handed its role on; the new master shows up with its own fetch.
    masterKnown_ = false;
  }
}

int CServerList::OnFetchNotification(int /*message*/, std::uint64_t id, int state) {
  const int index = IndexOfId(id);
  if (index < 0) return -1;
  Slot& slot = slots_[static_cast<size_t>(index)];
  if (slot.fetcher && slot.fetcher->finished()) {
    TakeOver(slot);
  } else if (slot.fetcher) {
    slot.server.state = state;  // progress of the running fetch
  }
  ReapRetired();
  return index;
}

void CServerList::StopAllFetches() {
  for (Slot& slot : slots_) {
    if (slot.fetcher) slot.fetcher->RequestStop();
  }
  for (auto& fetcher : retired_) fetcher->RequestStop();
  for (Slot& slot : slots_) slot.fetcher.reset();
  retired_.clear();
}

void CServerList::ReapRetired() {
  std::erase_if(retired_, [](const auto& fetcher) { return fetcher->finished(); });
}

}  // namespace pladmin
