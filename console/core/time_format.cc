#include "console/core/time_format.h"

#include <cctype>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace pladmin {

namespace {

// Drops every field of letter `c` together with the separator before it
// (or after it, when the field comes first), as TIME_NOSECONDS does:
// "h:mm:ss tt" without 's' is "h:mm tt".
std::string WithoutField(std::string picture, char c) {
  for (size_t at = picture.find(c); at != std::string::npos; at = picture.find(c)) {
    size_t end = at;
    while (end < picture.size() && picture[end] == c) ++end;
    size_t begin = at;
    while (begin > 0 && picture[begin - 1] != ' ' && !std::isalpha(static_cast<unsigned char>(picture[begin - 1]))) {
      --begin;
    }
    if (begin == 0 && at == 0) {
      while (end < picture.size() && !std::isalpha(static_cast<unsigned char>(picture[end]))) ++end;
    }
    picture.erase(begin, end - begin);
  }
  return picture;
}

}  // namespace

TimeFormat::TimeFormat()
    : locale_(plat::GetUserDefaultLCID()),
      picture_(plat::GetLocaleInfo(locale_, plat::LOCALE_STIMEFORMAT)) {}

TimeFormat::TimeFormat(plat::LCID locale, std::string picture)
    : locale_(locale), picture_(std::move(picture)) {
  if (picture_.empty()) picture_ = plat::GetLocaleInfo(locale_, plat::LOCALE_STIMEFORMAT);
}

TimeFormat TimeFormat::OfMachine() {
  const plat::LCID locale = plat::GetUserDefaultLCID();
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::CurrentUser, plat::kInternationalKey, &key) != plat::ERROR_SUCCESS) {
    return TimeFormat(locale, {});
  }
  std::string picture;
  if (key.QueryString("sTimeFormat", &picture) == plat::ERROR_SUCCESS && !picture.empty()) {
    return TimeFormat(locale, picture);
  }
  std::string iTime;
  if (key.QueryString("iTime", &iTime) == plat::ERROR_SUCCESS && !iTime.empty()) {
    return TimeFormat(locale, iTime == "1" ? "HH:mm:ss" : "h:mm:ss tt");
  }
  return TimeFormat(locale, {});
}

std::string TimeFormat::Time(const std::tm& time) const {
  return plat::GetTimeFormat(locale_, time, picture_);
}

std::string TimeFormat::HourMinute(const std::tm& time) const {
  return plat::GetTimeFormat(locale_, time, WithoutField(picture_, 's'));
}

std::string TimeFormat::Hour(int hour) const {
  std::tm time{};
  time.tm_hour = hour;
  return plat::GetTimeFormat(locale_, time, WithoutField(WithoutField(picture_, 's'), 'm'));
}

}  // namespace pladmin
