#include "adapters/openvpn/adapter_settings.h"

#include "common/log_record.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace ovpn {

AdapterSettings ReadAdapterSettings() {
  AdapterSettings s;
  auto text = [](const char* name, std::string* value) {
    std::string v;
    if (plat::RegReadString(kOpenVpnAdapterKey, name, &v) == plat::ERROR_SUCCESS && !v.empty()) *value = v;
  };
  text("Management", &s.management);
  text("Domain", &s.domain);
  text("NameFrom", &s.nameFrom);
  if (s.nameFrom != "username") s.nameFrom = "common_name";
  text("Netmask", &s.netmask);
  text("ManagementRelay", &s.managementRelay);
  plat::DWORD verified = 0;
  s.usernameVerified = plat::RegReadDword(kOpenVpnAdapterKey, "UsernameVerified", &verified) ==
                           plat::ERROR_SUCCESS &&
                       verified == 1;
  text("PortPrefix", &s.portPrefix);
  plat::DWORD ports = 0;
  if (plat::RegReadDword(kOpenVpnAdapterKey, "Ports", &ports) == plat::ERROR_SUCCESS && ports > 0) {
    s.ports = ports > common::kOpenVpnMostPorts ? common::kOpenVpnMostPorts : ports;
  }
  return s;
}

std::optional<std::string> AccountFor(const AdapterSettings& settings, const std::string& name,
                                      std::string* why) {
  if (name.empty()) {
    if (why) *why = "no user name";
    return std::nullopt;
  }
  std::string account = settings.domain.empty() ? name : settings.domain + "\\" + name;
  if (std::string problem = common::AccountNameProblem(account); !problem.empty()) {
    if (why) *why = std::move(problem);
    return std::nullopt;
  }
  return account;
}

std::optional<std::string> NameToCheck(const AdapterSettings& settings, const std::string& username,
                                       const std::string& commonName) {
  // OpenVPN lists a client that sent no username as "UNDEF".
  if (settings.nameFrom != "username" || username.empty() || username == "UNDEF") return commonName;
  if (username != commonName && !settings.usernameVerified) return std::nullopt;
  return username;
}

}  // namespace ovpn
