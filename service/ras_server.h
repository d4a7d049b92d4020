// Which remote-access server runs on a machine: Windows NT 4 RAS, Windows
// 2000 Routing and Remote Access, or an OpenVPN server behind its adapter.
// The console uses the remote form.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace PLK {

inline constexpr plat::DWORD kRasTypeRas = 0;
inline constexpr plat::DWORD kRasTypeRras = 1;
// The machine's remote-access service is the OpenVPN adapter, which serves
// the port operations on its own pipe.
inline constexpr plat::DWORD kRasTypeOpenVpn = 2;

// The display name under which the OpenVPN adapter is registered as the
// machine's RemoteAccess service.
inline constexpr const char* kOpenVpnDisplayName = "OpenVPN Remote Access";

class RAServer {
 public:
  // 0 RAS, 1 RRAS, 2 OpenVPN, for the local machine (`server` empty) or
  // "\\NAME". OpenVPN is told first, whatever the OS version.
  static plat::DWORD GetLocalRASType(std::string_view server = {});
  // "RRAS", "OpenVPN" or "standard RAS", for the start-up trace.
  static const char* TypeText(plat::DWORD type);

  // Major version of the operating system; false when it cannot be told or the
  // platform is not Windows NT (the type then counts as RAS).
  static bool GetLocalOSVersion(std::string_view server, plat::DWORD* majorVersion);
  // NT 4: the RAS Title; only a title beginning "Routin2" counts as RRAS.
  static plat::DWORD GetRASTypeWinNT4(std::string_view server);
  // Windows 2000: the RemoteAccess service's display name; anything but
  // "Remote Access Service" counts as RRAS.
  static plat::DWORD GetRASTypeWin2000(std::string_view server);
  // True when the RemoteAccess service is registered as kOpenVpnDisplayName.
  static bool IsOpenVpnServer(std::string_view server);
};

}  // namespace PLK
