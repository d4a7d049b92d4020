#include "common/ras_kind.h"

#include <cstdlib>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace common {

namespace {

using plat::DWORD;

bool OpenMachineKey(std::string_view server, const char* key, plat::RegKey* out) {
  plat::RegKey hklm;
  return plat::RegKey::Connect(server, plat::Hive::LocalMachine, &hklm) == plat::ERROR_SUCCESS &&
         hklm.OpenSubKey(key, out) == plat::ERROR_SUCCESS;
}

RegistryText ReadMachineText(std::string_view server, const char* key, const char* name) {
  RegistryText value;
  plat::RegKey hklm, k;
  value.keyError = plat::RegKey::Connect(server, plat::Hive::LocalMachine, &hklm);
  if (value.keyError == plat::ERROR_SUCCESS) value.keyError = hklm.OpenSubKey(key, &k);
  if (value.keyError == plat::ERROR_SUCCESS) value.valueError = k.QueryString(name, &value.text);
  if (!value.read()) value.text.clear();
  return value;
}

}  // namespace

RemoteAccessFacts ReadRemoteAccessFacts(std::string_view server) {
  RemoteAccessFacts facts;
  const RegistryText version = ReadMachineText(server, plat::kWindowsVersionKey, "CurrentVersion");
  if (version.read()) {
    facts.versionRead = true;
    facts.osMajor = static_cast<DWORD>(std::strtoul(version.text.c_str(), nullptr, 10));
  }
  facts.rasTitle = ReadMachineText(server, plat::kRasKey, "Title");
  facts.displayName = ReadMachineText(server, kRemoteAccessServiceKey, "DisplayName");
  return facts;
}

bool RemoteAccessKindOf(const RemoteAccessFacts& facts, DWORD* kind) {
  *kind = kRasKindRas;
  if (plat::EqualsIgnoringCase(facts.displayName.text, kOpenVpnDisplayName)) {
    *kind = kRasKindOpenVpn;
    return true;
  }
  if (!facts.versionRead) return false;
  if (facts.osMajor <= 4) {
    if (plat::EqualsIgnoringCase(std::string_view(facts.rasTitle.text).substr(0, 7), "Routin2")) *kind = kRasKindRras;
  } else if (!plat::EqualsIgnoringCase(facts.displayName.text, "Remote Access Service")) {
    *kind = kRasKindRras;
  }
  return true;
}

bool ReadRemoteAccessKind(std::string_view server, DWORD* kind) {
  return RemoteAccessKindOf(ReadRemoteAccessFacts(server), kind);
}

const char* RemoteAccessKindName(DWORD kind) {
  if (kind == kRasKindRras) return "RRAS";
  if (kind == kRasKindOpenVpn) return "OpenVPN";
  return "RAS";
}

std::vector<std::string> ReadOpenVpnPortNames(std::string_view server) {
  DWORD count = kOpenVpnDefaultPorts;
  std::string prefix = kOpenVpnDefaultPortPrefix;
  if (plat::RegKey key; OpenMachineKey(server, kOpenVpnAdapterKey, &key)) {
    DWORD ports = 0;
    if (key.QueryDword("Ports", &ports) == plat::ERROR_SUCCESS && ports > 0) {
      count = ports > kOpenVpnMostPorts ? kOpenVpnMostPorts : ports;
    }
    std::string text;
    if (key.QueryString("PortPrefix", &text) == plat::ERROR_SUCCESS && !text.empty()) prefix = text;
  }
  std::vector<std::string> names;
  for (DWORD i = 1; i <= count; ++i) names.push_back(prefix + std::to_string(i));
  return names;
}

}  // namespace common
