// ExpiryDate of a profile: the last calendar day an account may be used,
// written "YYYY-MM-DD" so that the log view, the export and a reader of the
// file see the same date. The account may be used through that whole day;
// it expires at the midnight that ends it, local time of the server.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace common {

struct CalendarDate {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
  auto operator<=>(const CalendarDate&) const = default;
};

// Exactly "YYYY-MM-DD" (digits, a real day of the Gregorian calendar, year
// 1970 to 9999); nullopt for anything else.
std::optional<CalendarDate> ParseIsoDate(std::string_view text);
// "YYYY-MM-DD".
std::string FormatIsoDate(const CalendarDate& date);

// What a profile's ExpiryDate text says. A missing key, an empty value and
// "0" (every other limit's "none") are no date; anything that is not a date
// is kMalformed, which the service counts as expired.
struct ExpiryDateValue {
  enum Kind { kNone, kDate, kMalformed } kind = kNone;
  CalendarDate date;  // kDate
};
ExpiryDateValue ReadExpiryDate(std::string_view fileText);

// The first second at which an account whose last day is `lastDay` no longer
// admits: the midnight ending that day, local time of this machine.
std::time_t ExpiryCutTime(const CalendarDate& lastDay);

}  // namespace common
