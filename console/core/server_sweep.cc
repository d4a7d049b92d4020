#include "console/core/server_sweep.h"

#include "console/core/console_keys.h"
#include "platform/errors.h"
#include "platform/netapi.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace pladmin {

namespace {

bool RunsPortulon(const std::string& machine) {
  plat::RegKey hklm, service;
  return plat::RegKey::Connect(machine, plat::Hive::LocalMachine, &hklm) == plat::ERROR_SUCCESS &&
         hklm.OpenSubKey(std::string(kProductKey) + "\\" + kServiceSubkey, &service) == plat::ERROR_SUCCESS;
}

}  // namespace

SweepResult SweepForServers(const std::string& self) {
  SweepResult result;
  std::vector<plat::ServerInfo> servers;
  result.error = plat::NetServerEnum("", plat::SV_TYPE_DIALIN_SERVER, &servers);
  if (result.error != plat::ERROR_SUCCESS) return result;
  for (const plat::ServerInfo& s : servers) {
    if (plat::EqualsIgnoringCase(s.name, self)) continue;
    if (!RunsPortulon(s.name)) {
      ++result.withoutPortulon;
      continue;
    }
    FoundServer found;
    found.name = s.name;
    found.description = "Windows " + std::to_string(s.versionMajor) + "." + std::to_string(s.versionMinor) +
                        (s.domain.empty() ? "" : ", " + s.domain);
    result.servers.push_back(std::move(found));
  }
  return result;
}

}  // namespace pladmin
