// Windows wide characters (UTF-16 code units) and their conversion to the
// narrow (UTF-8) texts the rest of the system uses.
//
// Thread safety: all calls (pure functions). CopyToWide always terminates the
// buffer (cutting the text), so it never fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

using WCHAR = char16_t;

std::u16string ToWide(std::string_view narrow);
std::string FromWide(std::u16string_view wide);
// A NUL-terminated wide text, read at most `capacity` units far.
std::string FromWide(const WCHAR* wide, std::size_t capacity);

// Copies `text` into a fixed wide buffer, cut to fit with its terminator.
void CopyToWide(std::string_view text, WCHAR* buffer, std::size_t capacity);

}  // namespace plat
