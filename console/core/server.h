// CServer: one monitored server's record, its states and their texts.
//
// A record is a plain value: the user-interface thread owns the records of the
// list, and a fetch fills a copy of its own (see server_fetch.h) that the
// user-interface thread takes over when the fetch reports its end.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace pladmin {

inline constexpr std::size_t kMaxServerName = 60;
inline constexpr std::size_t kMaxPorts = 256;  // no more ports per server are shown
inline constexpr int kPortsUnknown = 666;      // totals while the ports are unknown

// Server states (the status texts below).
enum ServerState : int {
  kStateReady = 0,
  kStateNoRegistry = 1,
  kStateRegistryIncomplete = 2,
  kStateConnecting = 3,
  kStateNoRasVersion = 4,
  kStateRequestingRas = 5,
  kStateRasReadFailure = 6,
  kStateRrasInitError = 7,
  kStateRequestingRras = 8,
  kStateRrasReadFailure = 9,
  kStateRequestingOpenVpn = 10,
  kStateOpenVpnReadFailure = 11,  // the adapter's pipe did not answer
};

// Failure states: timer-driven refreshes skip them, an explicit refresh retries.
bool IsFailureState(int state);
// "%s is ready", "Couldn't connect to %s's registry", ... with the server's name.
std::string ServerStateText(int state, const std::string& name);

inline constexpr int kBiasUnknown = 0;
inline constexpr int kBiasRemembered = 1;
inline constexpr int kBiasRead = 2;

// Change-mask bits of one fetch.
enum ChangeBits : unsigned {
  kChangedMaster = 0x02,    // master flag or share
  kChangedDatabase = 0x04,  // database logon
  kChangedExport = 0x08,    // export schedule
  kChangedSettings = 0x10,  // other settings
  kChangedVersion = 0x20,
  kChangedPorts = 0x40,
};

// Remote-access kinds of a server, as common/ras_kind.h reads them.
inline constexpr int kKindRas = 0;
inline constexpr int kKindRras = 1;
inline constexpr int kKindOpenVpn = 2;

struct PortEntry {
  std::string name;         // up to 60 characters
  bool inUse = false;
  std::string user;         // "DOMAIN\user", "" while free
  std::time_t start = 0;    // session start, 0 while free
  std::string extra;        // the caller's address, "" when not known
  // Traffic of the session, read for ports in use; -1 while not known.
  std::int64_t bytesSent = -1;
  std::int64_t bytesReceived = -1;

  bool operator==(const PortEntry&) const = default;
};

// The settings read from the server's Service key.
struct ServerSettings {
  bool master = false;
  plat::DWORD logSessionEventsToEventLog = 0;
  plat::DWORD staticIP = 0;
  std::string masterShare;
  plat::DWORD idleTimer = 0;
  std::string odbcDsn, odbcAccount, odbcPassword;
  plat::DWORD exportDates = 0, exportDays = 0, exportHours = 0, exportUsers = 0, exportHistory = 0;
  std::string version;
  plat::DWORD installed = 0;
  plat::DWORD activeTimeBias = 0;
  // Where activeTimeBias comes from: nothing read yet (no shift), the last
  // bias seen (kept in the console's registry), or the server itself.
  int biasSource = 0;

  bool operator==(const ServerSettings&) const = default;
};

struct CServer {
  std::uint64_t id = 0;    // unique for the life of the list; notifications carry it
  std::string name;
  int totalPorts = kPortsUnknown;
  int portsInUse = kPortsUnknown;
  std::vector<PortEntry> ports;  // at most kMaxPorts
  int rasKind = kKindRras;
  bool kindKnown = false;
  ServerSettings settings;
  int state = kStateConnecting;
  unsigned changeMask = 0;
  bool fetchDone = false;
  std::time_t lastFetch = 0;  // when the last fetch ended
  // Why the server's supervision cannot cut sessions, as its service wrote
  // it; empty while it can.
  std::string cannotDisconnect;

  // The state, and that supervision cannot cut sessions when so.
  std::string StateText() const {
    const std::string text = ServerStateText(state, name);
    return cannotDisconnect.empty() ? text : text + "; sessions cannot be cut: " + cannotDisconnect;
  }
  const PortEntry* FindPort(const std::string& port) const;
};

}  // namespace pladmin
