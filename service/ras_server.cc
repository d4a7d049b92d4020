#include "service/ras_server.h"

#include <cstdlib>

#include "common/qcl_trace.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace PLK {

namespace {

using plat::DWORD;

// A string value of HKLM on the local or a remote machine.
bool ReadMachineString(std::string_view server, const char* key, const char* name,
                       std::string* value) {
  plat::RegKey hklm, k;
  return plat::RegKey::Connect(server, plat::Hive::LocalMachine, &hklm) == plat::ERROR_SUCCESS &&
         hklm.OpenSubKey(key, &k) == plat::ERROR_SUCCESS &&
         k.QueryString(name, value) == plat::ERROR_SUCCESS;
}

}  // namespace

bool RAServer::GetLocalOSVersion(std::string_view server, DWORD* majorVersion) {
  QCL::TraceIndent indent("RAServer::GetLocalOSVersion");
  std::string version;
  if (!ReadMachineString(server, plat::kWindowsVersionKey, "CurrentVersion", &version)) {
    // Nobody sees a message box from a service: the trace tells.
    common::Trace("GetLocalOSVersion", "Failed to determine local OS type", 0);
    return false;
  }
  *majorVersion = static_cast<DWORD>(std::strtoul(version.c_str(), nullptr, 10));
  QCL::TraceLine("OS major version %u", *majorVersion);
  return true;
}

DWORD RAServer::GetRASTypeWinNT4(std::string_view server) {
  QCL::TraceIndent indent("RAServer::GetRASTypeWinNT4");
  std::string title;
  if (!ReadMachineString(server, plat::kRasKey, "Title", &title)) return kRasTypeRas;
  // Compares with "Routin2": NT 4 routers have always been served as plain RAS.
  return plat::EqualsIgnoringCase(title.substr(0, 7), "Routin2") ? kRasTypeRras : kRasTypeRas;
}

DWORD RAServer::GetRASTypeWin2000(std::string_view server) {
  QCL::TraceIndent indent("RAServer::GetRASTypeWin2000");
  std::string display;
  ReadMachineString(server, "System\\CurrentControlSet\\Services\\RemoteAccess", "DisplayName",
                    &display);
  return plat::EqualsIgnoringCase(display, "Remote Access Service") ? kRasTypeRas : kRasTypeRras;
}

bool RAServer::IsOpenVpnServer(std::string_view server) {
  std::string display;
  return ReadMachineString(server, "System\\CurrentControlSet\\Services\\RemoteAccess",
                           "DisplayName", &display) &&
         plat::EqualsIgnoringCase(display, kOpenVpnDisplayName);
}

const char* RAServer::TypeText(DWORD type) {
  if (type == kRasTypeRras) return "RRAS";
  if (type == kRasTypeOpenVpn) return "OpenVPN";
  return "standard RAS";
}

DWORD RAServer::GetLocalRASType(std::string_view server) {
  QCL::TraceIndent indent("RAServer::GetLocalRASType");
  if (IsOpenVpnServer(server)) return kRasTypeOpenVpn;
  DWORD major = 0;
  if (!GetLocalOSVersion(server, &major)) return kRasTypeRas;
  return major <= 4 ? GetRASTypeWinNT4(server) : GetRASTypeWin2000(server);
}

}  // namespace PLK
