// Which remote-access server runs on a machine: Windows NT 4 RAS, Windows
// 2000 Routing and Remote Access, or an OpenVPN server behind its adapter.
// The one reader of it: the service decides its port operations by it, the
// console how it lists a server's ports, the installer what it installs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/product_keys.h"
#include "platform/win_types.h"

namespace common {

inline constexpr plat::DWORD kRasKindRas = 0;
inline constexpr plat::DWORD kRasKindRras = 1;
// The machine's remote-access service is the OpenVPN adapter, which serves
// the port operations on its own pipe.
inline constexpr plat::DWORD kRasKindOpenVpn = 2;

// The display name under which the OpenVPN adapter is registered as the
// machine's RemoteAccess service.
inline constexpr const char* kOpenVpnDisplayName = "OpenVPN Remote Access";
inline constexpr const char* kRemoteAccessServiceKey = "System\\CurrentControlSet\\Services\\RemoteAccess";

// Under the OpenVPN adapter's key (kOpenVpnAdapterKey): its ports are PortPrefix1 ..
// PortPrefixN, N the "Ports" value (at most 250).
inline constexpr plat::DWORD kOpenVpnDefaultPorts = 100;
inline constexpr plat::DWORD kOpenVpnMostPorts = 250;
inline constexpr const char* kOpenVpnDefaultPortPrefix = "VPN";

// One string value as read: its text (empty when unread) and, when it could
// not be read, the error of opening its key or of reading the value.
struct RegistryText {
  std::string text;
  plat::DWORD keyError = 0;
  plat::DWORD valueError = 0;
  bool read() const { return keyError == 0 && valueError == 0; }
};

// What the machine's registry says.
struct RemoteAccessFacts {
  bool versionRead = false;   // "CurrentVersion" of the Windows NT key
  plat::DWORD osMajor = 0;
  RegistryText rasTitle;      // NT 4: the RAS "Title"
  RegistryText displayName;   // the RemoteAccess service's "DisplayName"
};

RemoteAccessFacts ReadRemoteAccessFacts(std::string_view server);

// The kind the facts say. OpenVPN is told first, whatever the OS version; an
// NT 4 title counts as RRAS only when it begins "Routin2" (NT 4 routers have
// always been served as plain RAS); on Windows 2000 any display name but
// "Remote Access Service" counts as RRAS. False (and *kind RAS) when the OS
// version could not be read.
bool RemoteAccessKindOf(const RemoteAccessFacts& facts, plat::DWORD* kind);

// Both: the kind of the local machine (`server` empty) or "\\NAME" / "NAME".
bool ReadRemoteAccessKind(std::string_view server, plat::DWORD* kind);

// "RRAS", "OpenVPN" or "RAS".
const char* RemoteAccessKindName(plat::DWORD kind);

// An OpenVPN adapter's port names, read from its key on `server`; the
// defaults where a value is missing.
std::vector<std::string> ReadOpenVpnPortNames(std::string_view server);

}  // namespace common
