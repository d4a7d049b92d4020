// CRegistry: one value under HKLM\Software\Quillfen Technologies\Portulon\<subkey>
// of a machine, local (empty name) or remote ("SRV2" or "\\SRV2").
//
// Only existing keys are opened; every failure (machine unreachable, key or
// value missing, a value of another type) returns false and, for a DWORD
// read, leaves 0 in *value. Safe to call from several threads.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace pladmin {

class CRegistry {
 public:
  explicit CRegistry(std::string machine = {}) : machine_(std::move(machine)) {}

  bool ReadDword(std::string_view subkey, std::string_view name, plat::DWORD* value) const;
  // A REG_SZ value, cut to 600 bytes as the buffer of the original holds.
  bool ReadString(std::string_view subkey, std::string_view name, std::string* value) const;

  // The same reads for any key path below HKLM (the time zone, the OS version).
  bool ReadDwordAt(std::string_view keyPath, std::string_view name, plat::DWORD* value) const;
  bool ReadStringAt(std::string_view keyPath, std::string_view name, std::string* value) const;

  const std::string& machine() const { return machine_; }

 private:
  std::string machine_;
};

inline constexpr std::size_t kRegistryStringSize = 600;

// A machine's time-zone bias in minutes (UTC = local time + bias):
// "ActiveTimeBias" (daylight saving included) where the machine keeps one,
// else its standard "Bias". False when neither can be read.
bool ReadTimeZoneBias(const std::string& machine, plat::DWORD* bias);

}  // namespace pladmin
