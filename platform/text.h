// Text helpers on the ground floor of the platform: Windows names (paths,
// registry keys, accounts, sections) compare without regard to ASCII case.
// Nothing here touches a file; every module may include it.
//
// Thread safety: all calls (pure functions). No out parameters.
#pragma once

#include <charconv>
#include <string>
#include <string_view>

namespace plat {

// Compares ASCII texts case-insensitively (what Windows names need).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// The same as an order: <0, 0 or >0, as lstrcmpi for ASCII texts.
int CompareIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
// What follows the first backslash of a qualified name ("DOM\\ann" -> "ann",
// "SRV1\\COM1" -> "COM1"); the whole text when it has none.
std::string_view AfterBackslash(std::string_view qualified);
// A blank or a tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// `s` without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view s);
// The value of a hexadecimal digit in either case; -1 for any other character.
int HexDigitValue(char c);
// printf into a string as long as the text needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads the whole text as a decimal number of T (no blanks, no '+'; a '-'
// only for a signed T); false for anything else, or out of T's range.
template <typename T>
bool ParseWhole(std::string_view text, T* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace plat
