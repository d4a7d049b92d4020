#include "console/core/registry_helper.h"

#include "console/core/console_keys.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace pladmin {

namespace {

bool OpenKey(const std::string& machine, std::string_view keyPath, plat::RegKey* key) {
  plat::RegKey hklm;
  if (plat::RegKey::Connect(machine, plat::Hive::LocalMachine, &hklm) != plat::ERROR_SUCCESS) {
    return false;
  }
  return hklm.OpenSubKey(keyPath, key) == plat::ERROR_SUCCESS;
}

std::string ProductPath(std::string_view subkey) {
  return std::string(kProductKey) + "\\" + std::string(subkey);
}

}  // namespace

bool CRegistry::ReadDwordAt(std::string_view keyPath, std::string_view name,
                            plat::DWORD* value) const {
  *value = 0;
  plat::RegKey key;
  if (!OpenKey(machine_, keyPath, &key)) return false;
  plat::DWORD v = 0;
  if (key.QueryDword(name, &v) != plat::ERROR_SUCCESS) return false;
  *value = v;
  return true;
}

bool CRegistry::ReadStringAt(std::string_view keyPath, std::string_view name,
                             std::string* value) const {
  plat::RegKey key;
  if (!OpenKey(machine_, keyPath, &key)) return false;
  std::string v;
  if (key.QueryString(name, &v) != plat::ERROR_SUCCESS) return false;
  if (v.size() > kRegistryStringSize - 1) v.resize(kRegistryStringSize - 1);
  *value = std::move(v);
  return true;
}

bool CRegistry::ReadDword(std::string_view subkey, std::string_view name, plat::DWORD* value) const {
  return ReadDwordAt(ProductPath(subkey), name, value);
}

bool CRegistry::ReadString(std::string_view subkey, std::string_view name,
                           std::string* value) const {
  return ReadStringAt(ProductPath(subkey), name, value);
}

bool ReadTimeZoneBias(const std::string& machine, plat::DWORD* bias) {
  const CRegistry registry(machine);
  return registry.ReadDwordAt(kTimeZoneKey, "ActiveTimeBias", bias) ||
         registry.ReadDwordAt(kTimeZoneKey, "Bias", bias);
}

}  // namespace pladmin
