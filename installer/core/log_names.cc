#include "installer/core/log_names.h"

#include <string>

#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/sysinfo.h"

namespace setup {

int RepairLogNames(std::string_view logFolder) {
  const plat::LCID local = plat::GetUserDefaultLCID();
  if (local == plat::LOCALE_US_ENGLISH) return 0;
  const std::string folder = std::string(logFolder) + "\\";
  int renamed = 0;
  for (int year = 1997; year <= 2000; ++year) {
    for (int month = 1; month <= 12; ++month) {
      // Every day 1 to 31, as the old service could have named them.
      for (int day = 1; day <= 31; ++day) {
        const std::tm date = plat::CalendarTime(year, month, day);
        const std::string english = common::DayLogName(date);
        const std::string localName = plat::GetDateFormat(local, date, common::kDayLogPicture);
        // File names compare case-insensitively: names differing only in
        // case are one file already.
        if (plat::EqualsIgnoringCase(english, localName)) continue;
        const std::string from = folder + localName + ".log";
        if (!plat::FileExists(from)) continue;
        if (plat::MoveFileEx(from, folder + english + ".log", 0) == plat::ERROR_SUCCESS) ++renamed;
      }
    }
  }
  return renamed;
}

}  // namespace setup
