// A registry value and its types, on a floor of their own so that the pure
// hive text part (hive_text.h) and the registry calls (registry.h) share them.
// Plain values: no calls, nothing shared between threads.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace plat {

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

struct RegValue {
  std::string name;  // "" is the key's default value
  DWORD type = REG_NONE;
  std::string data;  // raw bytes: REG_SZ without terminator, REG_DWORD 4 bytes little-endian,
                     // REG_MULTI_SZ strings each followed by NUL, plus a final NUL
};

}  // namespace plat
