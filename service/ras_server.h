// Which remote-access server runs on a machine: Windows NT 4 RAS or Windows
// 2000 Routing and Remote Access. The console uses the remote form.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace PLK {

inline constexpr plat::DWORD kRasTypeRas = 0;
inline constexpr plat::DWORD kRasTypeRras = 1;

class RAServer {
 public:
  // 0 RAS, 1 RRAS, for the local machine (`server` empty) or "\\NAME".
  static plat::DWORD GetLocalRASType(std::string_view server = {});

  // Major version of the operating system; false when it cannot be told or the
  // platform is not Windows NT (the type then counts as RAS).
  static bool GetLocalOSVersion(std::string_view server, plat::DWORD* majorVersion);
  // NT 4: the RAS Title; only a title beginning "Routin2" counts as RRAS.
  static plat::DWORD GetRASTypeWinNT4(std::string_view server);
  // Windows 2000: the RemoteAccess service's display name; anything but
  // "Remote Access Service" counts as RRAS.
  static plat::DWORD GetRASTypeWin2000(std::string_view server);
};

}  // namespace PLK
