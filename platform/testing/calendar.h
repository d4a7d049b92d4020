// Broken-down times for tests, from their fields.
#pragma once

#include <ctime>

namespace plat::testing {

// A std::tm with only these fields set (month from 1 to 12); the weekday and
// the day of the year are left at zero.
inline std::tm CalendarTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace plat::testing
