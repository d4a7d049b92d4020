#include "common/data_folder.h"

#include <algorithm>

#include "platform/sysinfo.h"
#include "platform/text.h"

namespace common {

namespace {

constexpr std::string_view kLogSuffix = ".log";

bool Digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string DataFile(std::string_view folder, std::string_view name) {
  return std::string(folder).append(1, '\\').append(name);
}

std::string DayLogName(const std::tm& day) {
  return plat::GetDateFormat(plat::LOCALE_US_ENGLISH, day, kDayLogPicture);
}

std::string DayLogName(std::time_t when) { return DayLogName(plat::LocalTime(when)); }

std::string DayLogPath(std::string_view folder, std::string_view dayName, std::string_view logFolder) {
  return DataFile(DataFile(folder, logFolder), dayName).append(kLogSuffix);
}

std::string DayLogSearch(std::string_view folder, std::string_view logFolder) {
  return DataFile(DataFile(folder, logFolder), "*").append(kLogSuffix);
}

bool ParseDayLogName(std::string_view name, std::tm* date) {
  // yyyy-MMM-dd
  if (name.size() != 11 || name[4] != '-' || name[8] != '-') return false;
  const std::string_view year = name.substr(0, 4), month = name.substr(5, 3), day = name.substr(9, 2);
  if (!Digits(year) || !Digits(day)) return false;
  int m = -1;
  for (int i = 0; i < 12; ++i) {
    if (plat::EqualsIgnoringCase(
            month, plat::GetLocaleInfo(plat::LOCALE_US_ENGLISH, plat::LOCALE_SABBREVMONTHNAME1 + i))) {
      m = i;
    }
  }
  const int d = std::stoi(std::string(day));
  if (m < 0 || d < 1 || d > 31) return false;
  *date = plat::CalendarTime(std::stoi(std::string(year)), m + 1, d);
  return true;
}

bool ParseDayLogFile(std::string_view fileName, std::string* dayName, std::tm* date) {
  constexpr std::size_t kDayLength = 11;
  if (fileName.size() != kDayLength + kLogSuffix.size() ||
      !plat::EqualsIgnoringCase(fileName.substr(kDayLength), kLogSuffix)) {
    return false;
  }
  if (!ParseDayLogName(fileName.substr(0, kDayLength), date)) return false;
  *dayName = std::string(fileName.substr(0, kDayLength));
  return true;
}

}  // namespace common
