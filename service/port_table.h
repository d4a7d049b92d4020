// The port table: the sessions in progress on this server, in memory only.
//
// 256 session entries and one spare (entry 256) that takes a store when all
// others are in use and answers every lookup that finds nothing. The
// supervision thread visits entries 0 to 255 only.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/cut_reason.h"
#include "platform/win_types.h"

namespace svc {

using plat::DWORD;

// Disconnect reasons kept in an entry and written into the hang-up record.
inline constexpr int kReasonNone = common::kCutReasonNone;
inline constexpr int kReasonPortMaxSession = common::kCutReasonPortMaxSession;
inline constexpr int kReasonUserMaxSession = common::kCutReasonUserMaxSession;
inline constexpr int kReasonUserMaxTotal = common::kCutReasonUserMaxTotal;
// The period allowance was the smallest limit.
inline constexpr int kReasonPeriodAllowance = common::kCutReasonPeriodAllowance;
inline constexpr int kReasonIdle = common::kCutReasonIdle;
inline constexpr int kReasonAdministrator = common::kCutReasonAdministrator;
inline constexpr int kReasonAccountExpired = common::kCutReasonAccountExpired;

struct PortEntry {
  std::string port;     // server-qualified port name; the lookup key (case-sensitive)
  std::string user;     // DOMAIN\user
  std::string netbios;  // client computer name, "*" when unknown
  std::string ipx;      // always stored empty by this service
  std::int64_t start = 0;     // session start; non-zero marks the entry in use
  std::int32_t address = 0;   // IP address of the session, 0 when none
  std::int64_t deadline = 0;  // when the session is to be disconnected; 0 = never
  int notifyLevel = 0;        // 0 none, 1 first warning, 2 second warning, 3 disconnected
  int idleSoFar = 0;          // seconds counted idle
  DWORD sentBase = 0;         // bytes sent at the last activity
  DWORD receivedBase = 0;     // bytes received at the last activity
  int forced = 0;             // 1 when the service disconnected the session
  int reason = 0;             // kReason...
  int portIdleTimer = 0;      // this port's idle time-out in seconds, 0 = the server's
  std::int64_t cutNotBefore = 0;  // a warning's interval runs until then; 0 none
};

class PortTable {
 public:
  static constexpr int kSessionEntries = 256;
  static constexpr int kSpare = 256;
  static constexpr int kEntries = 257;

  // "hPortTableSyncMutex". Every operation below takes it for its whole
  // duration; the supervision thread takes it per entry and then uses Entry().
  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }

  // The caller holds Lock().
  PortEntry& Entry(int index) { return entries_[static_cast<size_t>(index)]; }
  // Index of the entry holding `port`, kSpare when none does. The caller holds Lock().
  int Find(std::string_view port) const;

  // Start-up clear: every number 0, every text empty.
  void ClearAll();

  // The sessions of the account (compared ignoring case) in the table, the
  // one on `exceptPort` left out. Takes the lock itself.
  int CountUser(std::string_view account, std::string_view exceptPort = {}) const;

 private:
  mutable std::mutex mutex_;  // guards entries_
  std::array<PortEntry, kEntries> entries_{};
};

// The limits a session is admitted with (seconds). The smallest applicable one
// becomes the session's allowance.
struct SessionLimits {
  DWORD portMaxSession = 0;  // 0 = none
  DWORD userMaxSession = 0;  // 0 = none
  DWORD userMaxTotal = 0;    // 0 = none
  DWORD userTotalUsed = 0;
  // Time left in the current period; nullopt when no period allowance applies.
  // 0 means the period's allowance is used up exactly.
  std::optional<DWORD> periodAllowance;
  // The midnight that ends the account's ExpiryDate (seconds since 1970):
  // the session may not run past it. nullopt when the account has no date.
  std::optional<std::int64_t> expiresAt;
};

// Stores a new session and returns its index. The entry already holding `port`
// is reused (a port carries one session at a time), else the first free one,
// else the spare. Reads the port's "Idle" from the system data file.
int PortTableStore(PortTable& table, const std::string& systemDataFile, std::string_view netbios,
                   std::string_view port, std::time_t start, std::string_view user,
                   const SessionLimits& limits);

// Only the deadline and reason choice of PortTableStore: deadline 0 when no
// limit applies. Exposed for tests and the console's session simulation.
struct Allowance {
  std::int64_t deadline = 0;
  int reason = kReasonNone;
};
Allowance ChooseAllowance(std::time_t start, const SessionLimits& limits);

void PortTableStoreIP(PortTable& table, std::string_view port, std::int32_t address);
// Returns the address; copies the IPX and computer names.
std::int32_t PortTableGetIP(PortTable& table, std::string_view port, std::string* ipx,
                            std::string* netbios);
std::string PortTableGetUserOnPort(PortTable& table, std::string_view port);
std::int64_t PortTableGetStartTime(PortTable& table, std::string_view port);
// The reason when the service forced the disconnect, else 0.
int PortTableGetDisconnectReason(PortTable& table, std::string_view port);
// Empties the entry; ipx and portIdleTimer stay until the entry is stored again.
void PortTableClear(PortTable& table, std::string_view port);

// Everything the hang-up record needs from one entry, read under one lock.
struct PortSessionInfo {
  std::int64_t start = 0;
  std::int32_t address = 0;
  std::string ipx;
  std::string netbios;
  int reason = 0;  // as PortTableGetDisconnectReason
  std::string user;
};
PortSessionInfo PortTableGetSessionInfo(PortTable& table, std::string_view port);

// The live session, on a port other than `exceptPort`, that holds `address`
// (as the entries keep it): true with its port and user. An address is never
// handed to two sessions at once.
bool PortTableFindAddress(PortTable& table, std::int32_t address, std::string_view exceptPort,
                          std::string* port, std::string* user);

}  // namespace svc
