// How an administrator writes the values of the profile and settings files,
// and how the files hold them: hours and minutes on screen, seconds in the
// file; "90d" on screen, 90 in the file; a dotted address on screen, the
// signed 32-bit number with the first octet high in the file.
//
// ParseValue turns what was typed into the text the file holds, or refuses it
// with a sentence saying why; FormatValue turns a file's text back. Every
// value ParseValue accepts can be stored and read back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace accounts {

enum class Unit {
  Seconds,     // "1h30m", "90m", "45s", "1:30" (h:mm), "1:30:15"; "none" or 0 = 0
  Minutes,     // the same words, whole minutes; the file holds minutes
  Days,        // "90d" or "90"; "never" or 0 = 0
  Date,        // "2027-01-31" in the file as typed; "none" = no date (the file holds "")
  Count,       // a whole number 0 .. 2147483647
  Sessions,    // sessions at once, 1 .. kMaxSessionsAtOnce; "none" or 0 = 0 (no number set)
  Flag,        // yes/no, on/off, true/false, 1/0; the file holds "1" or "0"
  PeriodType,  // none, day, week, month (or 0 .. 3)
  Address,     // "10.0.0.77"; "none" or 0 = 0
  Hour,        // 0 .. 23
  Greetings,   // which of the greetings 1 .. 3 are on: "1,3", "all", "none"; a bit mask
  HourSet,     // hours of the day: "2,18", "8-17", "all", "none"; bit h for hour h
  WeekdaySet,  // days of the week: "mon,fri", "mon-fri", "all", "none"; bit 0 Sunday .. 6 Saturday
  MonthDaySet, // days of the month: "1,15", "all", "none"; bit d-1 for day d
  Text,        // one line of text
  Time,        // seconds since 1970, shown as local time (never typed)
  Elapsed,     // seconds used, shown as h:mm:ss (never typed)
};

// Longest number of seconds a limit can hold: the file's numbers are signed 32-bit.
inline constexpr std::int64_t kMaxSeconds = 0x7FFFFFFF;
// Longest account validity accepted, about 65 years: anything longer is a
// typing error rather than a limit ("never" is 0).
inline constexpr std::int64_t kMaxDays = 24000;
// Most sessions at once an account may be given: beyond the ports of many
// servers, so anything larger is a typing error rather than a limit.
inline constexpr std::int64_t kMaxSessionsAtOnce = 9999;

// The file text for `typed`, or nullopt with *why set (a sentence without the
// value's name, e.g. "'10.0.0.300' is not an address: 300 is above 255").
// `maxLength` limits Text (0: no limit besides one line).
std::optional<std::string> ParseValue(Unit unit, std::string_view typed, std::string* why,
                                      std::size_t maxLength = 0);

// The value of a file's text as an administrator reads it ("1h30m", "none",
// "90d", "10.0.0.77", "yes"). A text the file should not hold (not a number
// where one belongs) is shown as it stands, in quotes.
std::string FormatValue(Unit unit, std::string_view fileText);

// The members of a set unit (HourSet, WeekdaySet, MonthDaySet): how many, the
// number of the first (0 for hours and weekdays, 1 for days of the month),
// and their names when they have some ("sun" .. "sat"), for forms that offer
// one check box per member.
struct SetMembers {
  int count;
  int first;
  const char* const* names;  // nullptr: members are written as numbers
};
SetMembers MembersOf(Unit unit);
// A set as it is shown: "2,18", "mon-fri", "all", "none".
std::string FormatSet(Unit unit, std::uint32_t bits);

// True when the file's text is what the service's decimal conversion reads
// without dropping anything (optional blanks and sign, digits, blanks).
bool IsCleanNumber(std::string_view fileText);

// Helpers the forms above are made of, for callers that hold numbers.
std::string FormatDuration(std::int64_t seconds);  // "1h30m", "45s", "none"
std::optional<std::int64_t> ParseDuration(std::string_view typed, std::string* why);
std::string FormatAddress(std::int32_t value);      // "10.0.0.77", "none"
std::optional<std::int32_t> ParseAddress(std::string_view typed, std::string* why);

}  // namespace accounts
