// The clock the machine's user chose in the regional settings
// (HKCU\Control Panel\International): every time of day the console shows is
// written with its picture, so a 24-hour machine never reads "2:05:00 PM".
#pragma once

#include <ctime>
#include <string>

#include "platform/win_types.h"

namespace pladmin {

class TimeFormat {
 public:
  // The user default locale's own picture (US English "h:mm:ss tt").
  TimeFormat();
  // `picture` as GetTimeFormat takes it (h, hh, H, HH, m, mm, s, ss, t, tt).
  TimeFormat(plat::LCID locale, std::string picture);

  // The local machine's choice: "sTimeFormat" when set, else "iTime" (1 is
  // a 24-hour clock), else the locale's picture. Nothing set is no fault.
  static TimeFormat OfMachine();

  std::string Time(const std::tm& time) const;        // with seconds
  std::string HourMinute(const std::tm& time) const;  // "2:05 PM", "14:05"
  // An hour of the day on its own, for hour scales: "2 PM", "14".
  std::string Hour(int hour) const;

  const std::string& picture() const { return picture_; }

 private:
  plat::LCID locale_;
  std::string picture_;
};

}  // namespace pladmin
