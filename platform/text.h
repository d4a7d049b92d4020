// Text helpers on the ground floor of the platform: Windows names (paths,
// registry keys, accounts, sections) compare without regard to ASCII case.
// Nothing here touches a file; every module may include it.
//
// Thread safety: all calls (pure functions). No out parameters.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Compares ASCII texts case-insensitively (what Windows names need).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// The same as an order: <0, 0 or >0, as lstrcmpi for ASCII texts.
int CompareIgnoringCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
// What follows the first backslash of a qualified name ("DOM\\ann" -> "ann",
// "SRV1\\COM1" -> "COM1"); the whole text when it has none.
std::string_view AfterBackslash(std::string_view qualified);

}  // namespace plat
