#include "service/port_table.h"

#include "platform/text.h"

#include <cstdio>

#include "common/profile_helpers.h"
#include "common/trace.h"

namespace svc {

int PortTable::Find(std::string_view port) const {
  for (int i = 0; i < kSessionEntries; ++i) {
    if (entries_[static_cast<size_t>(i)].port == port) return i;
  }
  return kSpare;
}

int PortTable::CountUser(std::string_view account, std::string_view exceptPort) const {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (int i = 0; i < kSessionEntries; ++i) {
    const PortEntry& e = entries_[static_cast<size_t>(i)];
    if (e.start != 0 && e.port != exceptPort && plat::EqualsIgnoringCase(e.user, account)) ++count;
  }
  return count;
}

void PortTable::ClearAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.fill(PortEntry{});
}

Allowance ChooseAllowance(std::time_t start, const SessionLimits& limits) {
  // Signed 64-bit, so that a total time already overrun is a negative
  // allowance (a deadline in the past) and large limits cannot wrap.
  bool any = false;
  std::int64_t allowance = 0;
  int reason = kReasonNone;
  auto consider = [&](std::int64_t candidate, int candidateReason) {
    if (!any || candidate < allowance) {
      any = true;
      allowance = candidate;
      reason = candidateReason;
    }
  };
  if (limits.portMaxSession != 0) consider(limits.portMaxSession, kReasonPortMaxSession);
  if (limits.userMaxSession != 0) consider(limits.userMaxSession, kReasonUserMaxSession);
  if (limits.userMaxTotal != 0) {
    consider(static_cast<std::int64_t>(limits.userMaxTotal) - limits.userTotalUsed,
             kReasonUserMaxTotal);
  }
  if (limits.periodAllowance) consider(*limits.periodAllowance, kReasonPeriodAllowance);
  if (limits.expiresAt) consider(*limits.expiresAt - static_cast<std::int64_t>(start), kReasonAccountExpired);
  if (!any) return {};
  // 0 means "no deadline", so a deadline that lands at or before 1970 is 1.
  const std::int64_t deadline = static_cast<std::int64_t>(start) + allowance;
  return {deadline > 0 ? deadline : 1, reason};
}

int PortTableStore(PortTable& table, const std::string& systemDataFile, std::string_view netbios,
                   std::string_view port, std::time_t start, std::string_view user,
                   const SessionLimits& limits) {
  common::Trace("PortTableStore", "Storing in PortTable", 0);
  // Read before taking the lock: the mutex is held for table work only.
  const int idleTimer = 60 * common::ProfileReadInt(systemDataFile, port, "Idle");
  common::Trace("PortTableStore: Port Idle Timer", port, idleTimer);
  const Allowance allowance = ChooseAllowance(start, limits);

  int index = PortTable::kSpare;
  {
    auto lock = table.Lock();
    index = table.Find(port);
    if (index == PortTable::kSpare || table.Entry(index).start == 0) {
      index = PortTable::kSpare;
      for (int i = 0; i < PortTable::kSessionEntries; ++i) {
        if (table.Entry(i).start == 0) {
          index = i;
          break;
        }
      }
    }
    PortEntry& e = table.Entry(index);
    e.port = std::string(port);
    e.user = std::string(user);
    e.start = start;
    e.idleSoFar = 0;
    e.sentBase = 0;
    e.receivedBase = 0;
    e.forced = 0;
    e.reason = allowance.reason;
    e.portIdleTimer = idleTimer;
    e.deadline = allowance.deadline;
    e.notifyLevel = 0;
    e.netbios = std::string(netbios);
    e.address = 0;
    e.ipx.clear();
  }
  char line[400];
  std::snprintf(line, sizeof line,
                "<<<<<<<  %d  >>>>>>>>STORED: ShutDownTime(%lld) IP(%d) MemTableRow(%d) "
                "Port(%.*s) User(%.*s)",
                index, static_cast<long long>(allowance.deadline), 0, index,
                static_cast<int>(port.size()), port.data(), static_cast<int>(user.size()),
                user.data());
  common::Trace("PortTableStore", line, index);
  std::snprintf(line, sizeof line, "STORED: Time %lld", static_cast<long long>(start));
  common::Trace("PortTableStore", line, index);
  return index;
}

void PortTableStoreIP(PortTable& table, std::string_view port, std::int32_t address) {
  int index;
  {
    auto lock = table.Lock();
    index = table.Find(port);
    table.Entry(index).address = address;
  }
  common::Trace("PortTableStoreIP", "Stored at position-->", index);
}

std::int32_t PortTableGetIP(PortTable& table, std::string_view port, std::string* ipx,
                            std::string* netbios) {
  auto lock = table.Lock();
  const int index = table.Find(port);
  const PortEntry& e = table.Entry(index);
  if (ipx) *ipx = e.ipx;
  if (netbios) *netbios = e.netbios;
  common::Trace("PortTableGetIP", "Found at position-->", index);
  common::Trace("PortTableGetIP", "IP adress", e.address);
  common::Trace("PortTableGetIP - IPX Node name", e.ipx, 0);
  common::Trace("PortTableGetIP - NetBIOS name", e.netbios, 0);
  return e.address;
}

std::string PortTableGetUserOnPort(PortTable& table, std::string_view port) {
  auto lock = table.Lock();
  return table.Entry(table.Find(port)).user;
}

std::int64_t PortTableGetStartTime(PortTable& table, std::string_view port) {
  auto lock = table.Lock();
  return table.Entry(table.Find(port)).start;
}

int PortTableGetDisconnectReason(PortTable& table, std::string_view port) {
  auto lock = table.Lock();
  const PortEntry& e = table.Entry(table.Find(port));
  const int reason = e.forced ? e.reason : 0;
  common::Trace("PortTableGetDisconnectReason", port, reason);
  return reason;
}

PortSessionInfo PortTableGetSessionInfo(PortTable& table, std::string_view port) {
  auto lock = table.Lock();
  const PortEntry& e = table.Entry(table.Find(port));
  return {e.start, e.address, e.ipx, e.netbios, e.forced ? e.reason : 0, e.user};
}

bool PortTableFindAddress(PortTable& table, std::int32_t address, std::string_view exceptPort,
                          std::string* port, std::string* user) {
  if (address == 0) return false;
  auto lock = table.Lock();
  for (int i = 0; i < PortTable::kEntries; ++i) {
    const PortEntry& e = table.Entry(i);
    if (e.start == 0 || e.address != address || e.port == exceptPort) continue;
    *port = e.port;
    *user = e.user;
    return true;
  }
  return false;
}

void PortTableClear(PortTable& table, std::string_view port) {
  auto lock = table.Lock();
  PortEntry& e = table.Entry(table.Find(port));
  e.start = 0;
  e.address = 0;
  e.deadline = 0;
  e.notifyLevel = 0;
  e.idleSoFar = 0;
  e.sentBase = 0;
  e.receivedBase = 0;
  e.forced = 0;
  e.reason = 0;
  e.port.clear();
  e.user.clear();
  e.netbios.clear();
}

}  // namespace svc
