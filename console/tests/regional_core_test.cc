// The machine's clock as its user set it in the regional settings decides
// how every time of day reads: the log's Time cells, a port's Since, the
// busiest hour and the multi-day export.
#include <gtest/gtest.h>

#include "common/log_record.h"
#include "console/core/display_text.h"
#include "console/core/export_sessions.h"
#include "console/core/log_columns.h"
#include "console/core/time_format.h"
#include "console/core/usage_stats.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"

namespace pladmin {
namespace {

class RegionalTest : public ::testing::Test {
 protected:
  // Writes the user's regional values; an empty text leaves a value out.
  void SetInternational(const std::string& sTimeFormat, const std::string& iTime,
                        const std::string& locale = {}) {
    plat::RegKey key;
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::CurrentUser, plat::kInternationalKey, &key),
              plat::ERROR_SUCCESS);
    key.DeleteValue("sTimeFormat");
    key.DeleteValue("iTime");
    if (!sTimeFormat.empty()) {
      ASSERT_EQ(key.SetString("sTimeFormat", sTimeFormat), plat::ERROR_SUCCESS);
    }
    if (!iTime.empty()) {
      ASSERT_EQ(key.SetString("iTime", iTime), plat::ERROR_SUCCESS);
    }
    if (!locale.empty()) {
      ASSERT_EQ(key.SetString("Locale", locale), plat::ERROR_SUCCESS);
    }
  }
  static std::tm At(int hour, int minute, int second) {
    return plat::CalendarTime(2026, 12, 9, hour, minute, second);
  }

  plat::testing::TempNetwork net_;
};

TEST_F(RegionalTest, TheUsersChoiceOfClockWinsOverTheLocaleAndSecondsAndMinutesDropWithTheirSeparator) {
  struct Case {
    const char* sTimeFormat;
    const char* iTime;
    const char* locale;
    const char* time;        // 14:05:09
    const char* hourMinute;  // 14:05
    const char* hour;        // 9 in the morning
  };
  const Case cases[] = {
      {"", "", "", "2:05:09 PM", "2:05 PM", "9 AM"},                // the locale's own
      {"HH:mm:ss", "0", "", "14:05:09", "14:05", "09"},             // the picture wins over iTime
      {"", "1", "", "14:05:09", "14:05", "09"},                     // iTime alone
      {"", "", "00000407", "14:05:09", "14:05", "09"},              // German is a 24-hour locale
      {"tt hh.mm.ss", "", "", "PM 02.05.09", "PM 02.05", "AM 09"},  // marker first, dots
      {"H:mm", "", "", "14:05", "14:05", "9"},                      // no seconds at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sTimeFormat) + " / " + c.iTime + " / " + c.locale);
    ASSERT_NO_FATAL_FAILURE(SetInternational(c.sTimeFormat, c.iTime, *c.locale ? c.locale : "00000409"));
    const TimeFormat clock = TimeFormat::OfMachine();
    EXPECT_EQ(clock.Time(At(14, 5, 9)), c.time);
    EXPECT_EQ(clock.HourMinute(At(14, 5, 9)), c.hourMinute);
    EXPECT_EQ(clock.Hour(9), c.hour);
  }
  ASSERT_NO_FATAL_FAILURE(SetInternational("", "0", "00000409"));
  EXPECT_EQ(TimeFormat::OfMachine().Hour(21), "9 PM") << "iTime 0 asks for 12 hours";
}

TEST_F(RegionalTest, EveryTimeOfDayTheConsoleWritesFollowsTheClock) {
  const TimeFormat twelve(plat::LOCALE_US_ENGLISH, "h:mm:ss tt");
  const TimeFormat twentyFour(plat::LOCALE_US_ENGLISH, "HH:mm:ss");
  const std::time_t start = plat::FromLocalTime(At(14, 5, 9));
  const std::time_t sameDay = plat::FromLocalTime(At(18, 0, 0));
  const std::time_t nextDay = sameDay + 86400;

  // A port's Since: today the time alone, another day with its date.
  EXPECT_EQ(SinceText(start, sameDay, true, twelve), "2:05:09 PM");
  EXPECT_EQ(SinceText(start, sameDay, false, twelve), "2:05 PM");
  EXPECT_EQ(SinceText(start, sameDay, false, twentyFour), "14:05");
  EXPECT_EQ(SinceText(start, nextDay, false, twentyFour), "2026-12-09 14:05");
  EXPECT_EQ(SinceText(0, sameDay, true, twentyFour), "");

  // A profile's first and last connection in the users view; other values as the tools write them.
  const std::string stamp = std::to_string(start);
  EXPECT_EQ(AccountValueText(accounts::Unit::Time, stamp, twentyFour), "2026-12-09 14:05:09");
  EXPECT_EQ(AccountValueText(accounts::Unit::Time, stamp, twelve), "2026-12-09 2:05:09 PM");
  EXPECT_EQ(AccountValueText(accounts::Unit::Time, "0", twelve), "-");
  EXPECT_EQ(AccountValueText(accounts::Unit::Elapsed, "3725", twelve), "1:02:05");

  // The statistics' busiest hour.
  EXPECT_EQ(BusiestHourText(14, twentyFour), "14:00-14:59");
  EXPECT_EQ(BusiestHourText(14, twelve), "2:00 PM-2:59 PM");
  EXPECT_EQ(BusiestHourText(0, twelve), "12:00 AM-12:59 AM");

  // The log's Time cell, alone and with its date in the multi-day export.
  common::LogRecord r;
  r.kind = common::kRecordConnection;
  r.time = start;
  CellOptions options;
  options.clock = twentyFour;
  EXPECT_EQ(CellText(r, kColTime, options), "14:05:09");
  options.clock = twelve;
  EXPECT_EQ(CellText(r, kColTime, options), "2:05:09 PM");

  const std::string folder = "C:\\PLData";
  const std::tm day = plat::LocalTime(start);
  plat::CreateDirectory(folder);
  plat::CreateDirectory(folder + "\\LogData");
  ASSERT_EQ(plat::ProfileAppendRecord(DayLogPath(folder, day), "SRV1\\COM1", std::to_string(start),
                                      common::FormatConnectionRecord("DOM\\ann")),
            plat::ERROR_SUCCESS);
  ExportRequest request;
  request.dataFolder = folder;
  request.from = request.to = day;
  request.columns = kColTime | kColUser;
  request.clock = twentyFour;
  std::string text;
  const ExportResult result = ExportSessions(
      request, [&](std::string_view piece) { text += piece; return true; }, {});
  EXPECT_EQ(result.rows, 1);
  EXPECT_EQ(text, "Time/Date,User\r\n12/9/2026 14:05:09,DOM\\ann\r\n");
}

}  // namespace
}  // namespace pladmin
