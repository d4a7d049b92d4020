#include "common/profile_keys.h"

#include <cstdint>

#include "platform/text.h"

namespace common {

std::string UsageText(plat::DWORD value) {
  std::string text = std::to_string(static_cast<std::int32_t>(value));
  if (text.size() < kUsageWidth) text.append(kUsageWidth - text.size(), ' ');
  return text;
}

plat::DWORD SessionLimit(plat::DWORD noDuplicate, plat::DWORD maxSessions) {
  if (maxSessions != 0) return maxSessions;
  return noDuplicate != 0 ? 1 : 0;
}

bool IsUnsafeNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  // '?' and '*' would shift the fields of a log record.
  return u < 0x20 || u == 0x7F || c == '[' || c == ']' || c == '=' || c == ';' || c == '?' ||
         c == '*';
}

bool IsSafeAccountName(std::string_view account) {
  if (account.empty() || plat::IsBlank(account.front()) || plat::IsBlank(account.back()))
    return false;
  for (char c : account) {
    if (IsUnsafeNameChar(c)) return false;
  }
  return true;
}

}  // namespace common
