#include "service/reporting/unrecorded_mail.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/trace.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "service/service_context.h"
#include "service/settings.h"

namespace svc {

namespace {

constexpr const char* kLabel = "StatusMail";
constexpr const char* kSentValue = "StatusMailSentUnrecorded";
constexpr const char* kCountsValue = "StatusMailCountsUnrecorded";

// "name=n" at its last '=' (an account name may hold one).
bool SplitCount(const std::string& line, std::string* name, long* count) {
  const size_t eq = line.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == line.size()) return false;
  try {
    *count = std::stol(line.substr(eq + 1));
  } catch (...) {
    return false;
  }
  *name = line.substr(0, eq);
  return true;
}

long* Field(StatusCounters& c, const std::string& name) {
  if (name == "Sessions") return &c.sessions;
  if (name == "Denied") return &c.denied;
  if (name == "Disconnect") return &c.disconnect;
  return nullptr;
}

}  // namespace

bool UnrecordedMail::HasCounts() const {
  return counts.sessions != 0 || counts.denied != 0 || counts.disconnect != 0 || !counts.users.empty();
}

UnrecordedMail ReadUnrecordedMail() {
  UnrecordedMail owed;
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, kServiceKey, &key) != plat::ERROR_SUCCESS) return owed;
  plat::DWORD sent = 0;
  if (key.QueryDword(kSentValue, &sent) == plat::ERROR_SUCCESS) owed.sent = sent;
  std::vector<std::string> lines;
  if (key.QueryMultiString(kCountsValue, &lines) != plat::ERROR_SUCCESS) return owed;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    long count = 0;
    if (!SplitCount(lines[i], &name, &count)) continue;
    // The first three lines are the totals; an account may be called "Sessions".
    if (long* field = i < 3 ? Field(owed.counts, name) : nullptr) {
      *field = count;
    } else if (count > 0) {
      owed.counts.users.emplace_back(name, count);
    }
  }
  return owed;
}

plat::DWORD WriteUnrecordedMail(const UnrecordedMail& owed) {
  plat::RegKey key;
  if (const plat::DWORD err = plat::RegKey::Create(plat::Hive::LocalMachine, kServiceKey, &key);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  plat::DWORD err = owed.sent ? key.SetDword(kSentValue, static_cast<plat::DWORD>(owed.sent))
                              : key.DeleteValue(kSentValue);
  if (err == plat::ERROR_FILE_NOT_FOUND) err = plat::ERROR_SUCCESS;
  if (err != plat::ERROR_SUCCESS) return err;
  if (!owed.HasCounts()) {
    err = key.DeleteValue(kCountsValue);
    return err == plat::ERROR_FILE_NOT_FOUND ? plat::ERROR_SUCCESS : err;
  }
  std::vector<std::string> lines = {"Sessions=" + std::to_string(owed.counts.sessions),
                                    "Denied=" + std::to_string(owed.counts.denied),
                                    "Disconnect=" + std::to_string(owed.counts.disconnect)};
  for (const auto& [account, count] : owed.counts.users) lines.push_back(account + "=" + std::to_string(count));
  return key.SetMultiString(kCountsValue, lines);
}

bool SettleUnrecordedMail(const ServiceContext& context) {
  UnrecordedMail owed = ReadUnrecordedMail();
  if (owed.Empty()) return true;
  if (owed.HasCounts() && SubtractStatusCounters(context, owed.counts) == plat::ERROR_SUCCESS) {
    owed.counts = StatusCounters{};
    // Written at once: the counts must never be taken off twice.
    WriteUnrecordedMail(owed);
  }
  const std::string systemData = context.PathsSnapshot().systemData;
  if (owed.sent && WriteDailyStatusEmailLastSent(systemData, owed.sent) == plat::ERROR_SUCCESS) {
    owed.sent = 0;
  }
  if (!owed.Empty()) return false;
  WriteUnrecordedMail(owed);
  common::Trace(kLabel, "The last status mail is now recorded in the data folder", 0);
  return true;
}

StatusCounters LessReported(StatusCounters counters, const StatusCounters& reported) {
  counters.sessions = std::max(0L, counters.sessions - reported.sessions);
  counters.denied = std::max(0L, counters.denied - reported.denied);
  counters.disconnect = std::max(0L, counters.disconnect - reported.disconnect);
  for (const auto& [account, count] : reported.users) {
    for (auto& entry : counters.users) {
      if (entry.first == account) entry.second -= count;
    }
  }
  std::erase_if(counters.users, [](const auto& entry) { return entry.second <= 0; });
  return counters;
}

StatusCounters AddCounts(StatusCounters a, const StatusCounters& b) {
  a.sessions += b.sessions;
  a.denied += b.denied;
  a.disconnect += b.disconnect;
  for (const auto& [account, count] : b.users) {
    auto it = std::find_if(a.users.begin(), a.users.end(), [&](const auto& e) { return e.first == account; });
    if (it != a.users.end()) it->second += count;
    else a.users.emplace_back(account, count);
  }
  return a;
}

StatusMailSettings ReadStatusMailState(const ServiceContext& context) {
  StatusMailSettings settings = ReadStatusMailSettings(context.PathsSnapshot().systemData);
  const UnrecordedMail owed = ReadUnrecordedMail();
  if (owed.sent > static_cast<std::time_t>(settings.lastSent)) settings.lastSent = static_cast<plat::DWORD>(owed.sent);
  return settings;
}

}  // namespace svc
