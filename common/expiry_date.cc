#include "common/expiry_date.h"

#include "platform/sysinfo.h"
#include "platform/text.h"

namespace common {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// `count` digits of `text` from `at`; -1 when any is not a digit.
int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<CalendarDate> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const CalendarDate d{Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2)};
  if (d.year < 1970 || d.month < 1 || d.month > 12 || d.day < 1) return std::nullopt;
  if (d.day > DaysInMonth(d.year, d.month)) return std::nullopt;
  return d;
}

std::string FormatIsoDate(const CalendarDate& date) {
  return plat::FormatText("%04d-%02d-%02d", date.year, date.month, date.day);
}

ExpiryDateValue ReadExpiryDate(std::string_view fileText) {
  const std::string_view t = Trimmed(fileText);
  if (t.empty() || t == "0") return {};
  if (const auto date = ParseIsoDate(t)) return {ExpiryDateValue::kDate, *date};
  return {ExpiryDateValue::kMalformed, {}};
}

std::time_t ExpiryCutTime(const CalendarDate& lastDay) {
  // The day after, at 00:00; the conversion carries day 32 into the next month.
  return plat::FromLocalTime(plat::CalendarTime(lastDay.year, lastDay.month, lastDay.day + 1));
}

}  // namespace common
