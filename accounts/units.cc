#include "accounts/units.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "common/expiry_date.h"
#include "common/profile_helpers.h"
#include "platform/text.h"
#include "platform/tools/tool_format.h"

namespace accounts {

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// Digits only, at most `max`; nullopt for anything else.
std::optional<std::int64_t> Digits(std::string_view s, std::int64_t max) {
  if (s.empty() || s.size() > 12) return std::nullopt;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

bool IsNoneWord(const std::string& w) { return w == "none" || w == "no limit" || w == "0"; }

std::optional<std::string> Refuse(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return std::nullopt;
}

std::optional<std::int64_t> ParseClock(std::string_view s, std::string* why) {
  // h:mm or h:mm:ss
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t colon = s.find(':', start);
    parts.push_back(s.substr(start, colon == s.npos ? s.npos : colon - start));
    if (colon == s.npos) break;
    start = colon + 1;
  }
  std::int64_t total = 0;
  bool ok = parts.size() == 2 || parts.size() == 3;
  for (size_t i = 0; ok && i < parts.size(); ++i) {
    const auto v = Digits(parts[i], i == 0 ? 999999 : 59);
    ok = v && (i == 0 || parts[i].size() == 2);
    if (ok) total = total * 60 + *v;
  }
  if (!ok) {
    if (why) *why = Quoted(s) + " is not a time: write it as h:mm, h:mm:ss or 1h30m";
    return std::nullopt;
  }
  return parts.size() == 2 ? total * 60 : total;
}

}  // namespace

std::optional<std::int64_t> ParseDuration(std::string_view typed, std::string* why) {
  const std::string t = Lower(Trimmed(typed));
  if (t.empty()) {
    if (why) *why = "no value given (write 0 or none for no limit)";
    return std::nullopt;
  }
  if (IsNoneWord(t)) return 0;
  if (t.front() == '-') {
    if (why) *why = Quoted(typed) + " is negative: a time cannot be";
    return std::nullopt;
  }
  std::optional<std::int64_t> total;
  if (t.find(':') != t.npos) {
    total = ParseClock(t, why);
    if (!total) return std::nullopt;
  } else {
    std::int64_t sum = 0;
    size_t i = 0;
    bool any = false;
    char lastUnit = 0;
    static constexpr const char* kOrder = "dhms";
    while (i < t.size()) {
      if (t[i] == ' ') { ++i; continue; }
      size_t j = i;
      while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j;
      const auto number = Digits(std::string_view(t).substr(i, j - i), 99999999);
      while (j < t.size() && t[j] == ' ') ++j;
      if (!number || j >= t.size() || !std::strchr(kOrder, t[j]) ||
          (lastUnit && std::strchr(kOrder, t[j]) <= std::strchr(kOrder, lastUnit))) {
        if (why) *why = Quoted(typed) + " is not a time: write it with units, as 1h30m, 90m, 45s or 2d";
        return std::nullopt;
      }
      const char unit = t[j];
      const std::int64_t factor = unit == 'd' ? 86400 : unit == 'h' ? 3600 : unit == 'm' ? 60 : 1;
      sum += *number * factor;
      if (sum > kMaxSeconds) break;
      lastUnit = unit;
      any = true;
      i = j + 1;
    }
    if (!any) {
      if (why) *why = Quoted(typed) + " is not a time: write it as 1h30m, 90m, 45s or 2d";
      return std::nullopt;
    }
    total = sum;
  }
  if (*total > kMaxSeconds) {
    if (why) *why = Quoted(typed) + " is too long: the file holds at most 596523h14m7s";
    return std::nullopt;
  }
  return total;
}

std::string FormatDuration(std::int64_t seconds) {
  if (seconds <= 0) return "none";
  const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  std::string out;
  if (h) out += std::to_string(h) + "h";
  if (m) out += std::to_string(m) + "m";
  if (s) out += std::to_string(s) + "s";
  return out;
}

std::optional<std::int32_t> ParseAddress(std::string_view typed, std::string* why) {
  const std::string t = Lower(Trimmed(typed));
  if (t == "none" || t == "0" || t == "0.0.0.0") return 0;
  std::uint32_t value = 0;
  size_t start = 0;
  for (int octet = 0; octet < 4; ++octet) {
    const size_t dot = t.find('.', start);
    if ((octet < 3) == (dot == t.npos)) {
      if (why) *why = Quoted(typed) + " is not an address: write four numbers with dots, as 10.0.0.77";
      return std::nullopt;
    }
    const std::string_view part = std::string_view(t).substr(start, dot == t.npos ? t.npos : dot - start);
    const auto v = Digits(part, 999);
    if (!v || part.size() > 3) {
      if (why) *why = Quoted(typed) + " is not an address: write four numbers with dots, as 10.0.0.77";
      return std::nullopt;
    }
    if (*v > 255) {
      if (why) *why = Quoted(typed) + " is not an address: " + std::string(part) + " is above 255";
      return std::nullopt;
    }
    value = value << 8 | static_cast<std::uint32_t>(*v);
    start = dot + 1;
  }
  return static_cast<std::int32_t>(value);
}

std::string FormatAddress(std::int32_t value) {
  if (value == 0) return "none";
  const auto u = static_cast<std::uint32_t>(value);
  return plat::FormatText("%u.%u.%u.%u", u >> 24, u >> 16 & 0xFF, u >> 8 & 0xFF, u & 0xFF);
}

bool IsCleanNumber(std::string_view fileText) {
  std::string_view t = Trimmed(fileText);
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
  if (t.empty()) return Trimmed(fileText).empty();
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

namespace {

const char* const kWeekdays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char* const kWeekdayNames[] = {"sunday",   "monday", "tuesday", "wednesday",
                                     "thursday", "friday", "saturday"};

// One member of a set: its number, or its name for weekdays.
std::optional<int> SetMember(const SetMembers& m, std::string_view word) {
  if (m.names) {
    for (int i = 0; i < m.count; ++i) {
      if (word == m.names[i] || word == kWeekdayNames[i]) return i;
    }
  }
  const auto v = Digits(word, 99);
  if (!v || *v < m.first || *v >= m.first + m.count) return std::nullopt;
  return static_cast<int>(*v) - m.first;
}

std::optional<std::string> ParseSet(Unit unit, std::string_view typed, std::string* why) {
  const SetMembers m = MembersOf(unit);
  const std::string t = Lower(Trimmed(typed));
  const std::uint32_t all = m.count >= 32 ? 0xFFFFFFFFu : (1u << m.count) - 1;
  if (t == "none" || t.empty()) return std::string("0");
  if (t == "all") return std::to_string(all);
  const std::string example = unit == Unit::HourSet      ? "hours 0 to 23, as 2,18 or 8-17"
                              : unit == Unit::WeekdaySet ? "weekdays sun to sat, as mon,fri or mon-fri"
                                                         : "days 1 to 31, as 1,15";
  std::uint32_t bits = 0;
  size_t start = 0;
  while (start <= t.size()) {
    const size_t comma = t.find(',', start);
    const std::string_view part = Trimmed(std::string_view(t).substr(start, comma == t.npos ? t.npos : comma - start));
    const size_t dash = part.find('-');
    const auto from = SetMember(m, Trimmed(part.substr(0, dash)));
    const auto to = dash == part.npos ? from : SetMember(m, Trimmed(part.substr(dash + 1)));
    if (!from || !to || *to < *from) {
      return Refuse(why, Quoted(typed) + " is not a list of " + example + " (or all, none)");
    }
    for (int i = *from; i <= *to; ++i) bits |= 1u << i;
    if (comma == t.npos) break;
    start = comma + 1;
  }
  return std::to_string(bits);
}

}  // namespace

SetMembers MembersOf(Unit unit) {
  switch (unit) {
    case Unit::HourSet: return {24, 0, nullptr};
    case Unit::WeekdaySet: return {7, 0, kWeekdays};
    case Unit::MonthDaySet: return {31, 1, nullptr};
    default: return {0, 0, nullptr};
  }
}

std::string FormatSet(Unit unit, std::uint32_t bits) {
  const SetMembers m = MembersOf(unit);
  const std::uint32_t all = m.count >= 32 ? 0xFFFFFFFFu : (1u << m.count) - 1;
  if ((bits & all) == 0) return bits ? "'" + std::to_string(bits) + "' (unknown)" : "none";
  if (bits == all) return "all";
  if (bits & ~all) return "'" + std::to_string(bits) + "' (unknown)";
  auto name = [&](int i) { return m.names ? std::string(m.names[i]) : std::to_string(i + m.first); };
  std::string out;
  for (int i = 0; i < m.count;) {
    if (!(bits & (1u << i))) {
      ++i;
      continue;
    }
    int j = i;
    while (j + 1 < m.count && (bits & (1u << (j + 1)))) ++j;
    if (!out.empty()) out += ",";
    // Runs of three or more read better as a range.
    out += j - i >= 2 ? name(i) + "-" + name(j) : j > i ? name(i) + "," + name(j) : name(i);
    i = j + 1;
  }
  return out;
}

std::optional<std::string> ParseValue(Unit unit, std::string_view typed, std::string* why,
                                      std::size_t maxLength) {
  const std::string t = Lower(Trimmed(typed));
  switch (unit) {
    case Unit::Seconds: {
      const auto v = ParseDuration(typed, why);
      if (!v) return std::nullopt;
      return std::to_string(*v);
    }
    case Unit::Minutes: {
      const auto v = ParseDuration(typed, why);
      if (!v) return std::nullopt;
      if (*v % 60 != 0) return Refuse(why, Quoted(typed) + " is not whole minutes");
      return std::to_string(*v / 60);
    }
    case Unit::Days: {
      if (t == "never" || t == "none" || t == "0" || t == "0d") return std::string("0");
      if (!t.empty() && t.front() == '-') return Refuse(why, Quoted(typed) + " is negative: give a number of days");
      std::string_view d = t;
      if (!d.empty() && d.back() == 'd') d.remove_suffix(1);
      while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
      const auto v = Digits(d, kMaxDays);
      if (!v) {
        if (Digits(d, 999999999999)) {
          return Refuse(why, Quoted(typed) + " is too many days: at most " + std::to_string(kMaxDays));
        }
        return Refuse(why, Quoted(typed) + " is not a number of days: write it as 90d (or never)");
      }
      return std::to_string(*v);
    }
    case Unit::Date: {
      if (t == "none" || t == "never" || t == "0" || t.empty()) return std::string();
      if (const auto date = common::ParseIsoDate(t)) return common::FormatIsoDate(*date);
      return Refuse(why, Quoted(typed) + " is not a date: write it as 2027-01-31 (or none)");
    }
    case Unit::Count:
    case Unit::Hour: {
      if (!t.empty() && t.front() == '-') return Refuse(why, Quoted(typed) + " is negative");
      const std::int64_t max = unit == Unit::Hour ? 23 : kMaxSeconds;
      const auto v = Digits(t, max);
      if (!v) {
        if (Digits(t, 999999999999)) return Refuse(why, Quoted(typed) + " is too large: at most " + std::to_string(max));
        return Refuse(why, Quoted(typed) + " is not a whole number");
      }
      return std::to_string(*v);
    }
    case Unit::Sessions: {
      if (t == "none" || t == "0") return std::string("0");
      const auto v = Digits(t, kMaxSessionsAtOnce);
      if (!v) {
        return Refuse(why, Quoted(typed) + " is not a number of sessions: 1 to " +
                               std::to_string(kMaxSessionsAtOnce) + " (or none)");
      }
      return std::to_string(*v);
    }
    case Unit::Flag:
      if (t == "yes" || t == "on" || t == "true" || t == "1") return std::string("1");
      if (t == "no" || t == "off" || t == "false" || t == "0") return std::string("0");
      return Refuse(why, Quoted(typed) + " is neither yes nor no");
    case Unit::PeriodType:
      if (t == "none" || t == "0") return std::string("0");
      if (t == "day" || t == "daily" || t == "1") return std::string("1");
      if (t == "week" || t == "weekly" || t == "2") return std::string("2");
      if (t == "month" || t == "monthly" || t == "3") return std::string("3");
      return Refuse(why, Quoted(typed) + " is not a period: none, day, week or month");
    case Unit::Address: {
      const auto v = ParseAddress(typed, why);
      if (!v) return std::nullopt;
      return std::to_string(*v);
    }
    case Unit::Greetings: {
      if (t == "none" || t.empty()) return std::string("0");
      if (t == "all") return std::string("7");
      int mask = 0;
      size_t start = 0;
      while (start <= t.size()) {
        const size_t comma = t.find(',', start);
        const std::string_view part = Trimmed(std::string_view(t).substr(start, comma == t.npos ? t.npos : comma - start));
        if (part != "1" && part != "2" && part != "3") {
          return Refuse(why, Quoted(typed) + " is not a list of greetings: numbers 1 to 3, as 1,3 (or all, none)");
        }
        mask |= 1 << (part[0] - '1');
        if (comma == t.npos) break;
        start = comma + 1;
      }
      return std::to_string(mask);
    }
    case Unit::HourSet:
    case Unit::WeekdaySet:
    case Unit::MonthDaySet:
      return ParseSet(unit, typed, why);
    case Unit::Text: {
      for (char c : typed) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r' || c == '\0') return Refuse(why, "the text must be one line");
        if (u < 0x20 && c != '\t') return Refuse(why, "the text holds a control character");
      }
      const std::string_view kept = Trimmed(typed);
      if (maxLength && kept.size() > maxLength) {
        return Refuse(why, "the text is " + std::to_string(kept.size()) + " characters long; at most " +
                               std::to_string(maxLength) + " are kept");
      }
      return std::string(kept);
    }
    case Unit::Time:
    case Unit::Elapsed:
      return Refuse(why, "this value is kept by the service and cannot be typed");
  }
  return std::nullopt;
}

std::string FormatValue(Unit unit, std::string_view fileText) {
  if (unit == Unit::Text) return std::string(fileText);
  if (unit == Unit::Date) {
    const common::ExpiryDateValue date = common::ReadExpiryDate(fileText);
    if (date.kind == common::ExpiryDateValue::kNone) return "none";
    return date.kind == common::ExpiryDateValue::kDate ? common::FormatIsoDate(date.date) : Quoted(fileText);
  }
  if (!IsCleanNumber(fileText)) return Quoted(fileText);
  const std::int64_t v = common::DecimalValue(fileText);
  switch (unit) {
    case Unit::Seconds: return FormatDuration(static_cast<std::uint32_t>(v));
    case Unit::Minutes: return FormatDuration(static_cast<std::int64_t>(static_cast<std::uint32_t>(v)) * 60);
    case Unit::Days: return v == 0 ? "never" : std::to_string(static_cast<std::uint32_t>(v)) + "d";
    case Unit::Count:
    case Unit::Hour: return std::to_string(v);
    case Unit::Sessions: return v == 0 ? "none" : std::to_string(v);
    case Unit::Flag: return v != 0 ? "yes" : "no";
    case Unit::PeriodType:
      switch (v) {
        case 0: return "none";
        case 1: return "day";
        case 2: return "week";
        case 3: return "month";
        default: return "'" + std::to_string(v) + "' (unknown)";
      }
    case Unit::Address: return FormatAddress(static_cast<std::int32_t>(v));
    case Unit::Greetings: {
      std::string out;
      for (int i = 0; i < 3; ++i) {
        if (v & (1 << i)) out += (out.empty() ? "" : ",") + std::to_string(i + 1);
      }
      return out.empty() ? "none" : out;
    }
    case Unit::HourSet:
    case Unit::WeekdaySet:
    case Unit::MonthDaySet: return FormatSet(unit, static_cast<std::uint32_t>(v));
    case Unit::Time: return v == 0 ? "-" : pltools::IsoLocalTime(static_cast<std::time_t>(static_cast<std::uint32_t>(v)));
    case Unit::Elapsed: {
      const std::int64_t s = static_cast<std::uint32_t>(v);
      return plat::FormatText("%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                              static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    }
    case Unit::Text:
    case Unit::Date: break;
  }
  return std::string(fileText);
}

}  // namespace accounts
