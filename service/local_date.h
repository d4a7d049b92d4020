// Calendar arithmetic on local dates, for periods and log ages.
#pragma once

#include <cstdint>
#include <ctime>

namespace svc {

// Days since 1970-01-01 of a civil date (proleptic Gregorian; month 1 to 12).
constexpr std::int64_t DayNumber(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The civil date of a day number (the inverse of DayNumber).
constexpr void CivilDate(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (*month <= 2));
}

// The day number of the date in a struct tm.
constexpr std::int64_t DayNumber(const std::tm& t) {
  return DayNumber(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                   static_cast<unsigned>(t.tm_mday));
}

// The day number of the Monday that begins the week of `day`.
constexpr std::int64_t MondayOf(std::int64_t day) {
  // 1970-01-01 was a Thursday: (day + 3) mod 7 counts days since Monday.
  return day - ((day + 3) % 7 + 7) % 7;
}

static_assert(DayNumber(1970, 1, 1) == 0);
static_assert(DayNumber(2000, 3, 1) == 11017);
static_assert(MondayOf(DayNumber(2024, 12, 30)) == DayNumber(2024, 12, 30));  // a Monday
static_assert(MondayOf(DayNumber(2025, 1, 5)) == DayNumber(2024, 12, 30));    // a Sunday

}  // namespace svc
