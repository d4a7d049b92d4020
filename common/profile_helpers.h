// The profile-file idioms the whole system shares: numbers read as decimal
// text with default "0", written with "%d"; the user-has-profile test.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace common {

// Decimal conversion as the C library's atoi does it: leading blanks, an
// optional sign, then digits up to the first non-digit; no digits gives 0,
// values beyond the 32-bit range give INT_MAX / INT_MIN.
int DecimalValue(std::string_view text);

// Reads a number: the key as text with default "0" (buffer of 1000 bytes), then
// DecimalValue.
int ProfileReadInt(std::string_view file, std::string_view section, std::string_view key);
// Reads a text with a default; at most `bufferSize` - 1 characters, as a
// fixed buffer would hold them.
std::string ProfileReadText(std::string_view file, std::string_view section, std::string_view key,
                            std::string_view defaultValue, size_t bufferSize = 1000);
// Writes a number with "%d". Returns a Win32 error code.
plat::DWORD ProfileWriteInt(std::string_view file, std::string_view section, std::string_view key,
                            long value);
// Reads a number, adds `delta`, writes it back; returns the new value.
int ProfileIncrement(std::string_view file, std::string_view section, std::string_view key,
                     int delta = 1);

// A section exists: listing its keys with the default "*" (buffer of 200
// bytes) gives anything but a text that begins with "*".
bool UserHasProfile(std::string_view file, std::string_view section);

}  // namespace common
