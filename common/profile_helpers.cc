#include "common/profile_helpers.h"

#include <climits>
#include <cstdint>
#include <string>

#include "platform/profile.h"

namespace common {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Saturate(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int DecimalValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated past the int range only far enough to know it saturates.
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= std::int64_t{INT_MAX} + 1) magnitude = magnitude * 10 + (text[i] - '0');
  }
  return Saturate(negative ? -magnitude : magnitude);
}

int ProfileReadInt(std::string_view file, std::string_view section, std::string_view key) {
  return DecimalValue(ProfileReadText(file, section, key, "0"));
}

std::string ProfileReadText(std::string_view file, std::string_view section, std::string_view key,
                            std::string_view defaultValue, size_t bufferSize) {
  std::string value = plat::ProfileGetString(file, section, key, defaultValue);
  const size_t room = bufferSize > 0 ? bufferSize - 1 : 0;
  if (value.size() > room) value.resize(room);
  return value;
}

plat::DWORD ProfileWriteInt(std::string_view file, std::string_view section, std::string_view key,
                            long value) {
  return plat::ProfileWriteString(file, section, key, std::to_string(value));
}

int ProfileIncrement(std::string_view file, std::string_view section, std::string_view key,
                     int delta) {
  const int value = Saturate(std::int64_t{ProfileReadInt(file, section, key)} + delta);
  ProfileWriteInt(file, section, key, value);
  return value;
}

bool UserHasProfile(std::string_view file, std::string_view section) {
  const std::string fileName(file);
  const std::string sectionName(section);
  char keys[200] = {};
  plat::GetPrivateProfileString(sectionName.c_str(), nullptr, "*", keys, sizeof keys,
                                fileName.c_str());
  return keys[0] != '*';
}

}  // namespace common
