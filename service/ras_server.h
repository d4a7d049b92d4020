// Which remote-access server runs on this machine, as the service traces and
// uses it; the reading itself is common/ras_kind.h, shared with the console
// and the installer.
#pragma once

#include <string_view>

#include "common/ras_kind.h"
#include "platform/win_types.h"

namespace PLK {

inline constexpr plat::DWORD kRasTypeRas = common::kRasKindRas;
inline constexpr plat::DWORD kRasTypeRras = common::kRasKindRras;
inline constexpr plat::DWORD kRasTypeOpenVpn = common::kRasKindOpenVpn;
inline constexpr const char* kOpenVpnDisplayName = common::kOpenVpnDisplayName;

class RAServer {
 public:
  // 0 RAS, 1 RRAS, 2 OpenVPN, for the local machine (`server` empty) or
  // "\\NAME". A machine whose OS version cannot be read counts as RAS.
  static plat::DWORD GetLocalRASType(std::string_view server = {});
  // "RRAS", "OpenVPN" or "standard RAS", for the start-up trace.
  static const char* TypeText(plat::DWORD type);
};

}  // namespace PLK
