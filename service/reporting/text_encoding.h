// Account names and other texts of the data files are bytes: UTF-8 on a new
// installation, the Windows ANSI code page (windows-1252) on one that came
// from Windows. Databases and mail want to know which; these tell and convert.
#pragma once

#include <string>
#include <string_view>

namespace svc {

bool IsValidUtf8(std::string_view text);
// windows-1252 bytes as UTF-8 (the five bytes the code page leaves undefined
// become the control characters of the same number, as Windows converts them).
std::string AnsiToUtf8(std::string_view text);
// The text itself when it is valid UTF-8, else AnsiToUtf8 of it.
std::string AsUtf8(std::string_view text);

}  // namespace svc
