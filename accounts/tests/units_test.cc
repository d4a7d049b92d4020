#include "accounts/units.h"

#include <gtest/gtest.h>

#include <string>

#include "accounts/setting_info.h"
#include "common/service_values.h"

namespace accounts {
namespace {

std::string Parsed(Unit unit, std::string_view typed) {
  std::string why;
  auto v = ParseValue(unit, typed, &why);
  return v ? *v : "refused: " + why;
}

bool Refused(Unit unit, std::string_view typed) { return !ParseValue(unit, typed, nullptr); }

TEST(Units, TimesAreTypedInHoursAndMinutesAndStoredInSeconds) {
  EXPECT_EQ(Parsed(Unit::Seconds, "1h30m"), "5400");
  EXPECT_EQ(Parsed(Unit::Seconds, "1h 30m"), "5400");
  EXPECT_EQ(Parsed(Unit::Seconds, "90m"), "5400");
  EXPECT_EQ(Parsed(Unit::Seconds, "1:30"), "5400");
  EXPECT_EQ(Parsed(Unit::Seconds, "1:30:15"), "5415");
  EXPECT_EQ(Parsed(Unit::Seconds, "2d"), "172800");
  EXPECT_EQ(Parsed(Unit::Seconds, "none"), "0");
  EXPECT_EQ(Parsed(Unit::Seconds, "0"), "0");
  EXPECT_EQ(FormatValue(Unit::Seconds, "5400"), "1h30m");
  EXPECT_EQ(FormatValue(Unit::Seconds, "5415"), "1h30m15s");
  EXPECT_EQ(FormatValue(Unit::Seconds, "0"), "none");
  // What is shown reads back as the same value.
  for (const char* stored : {"1", "59", "3600", "86399", "2147483647"}) {
    EXPECT_EQ(Parsed(Unit::Seconds, FormatValue(Unit::Seconds, stored)), stored);
  }
  EXPECT_EQ(Parsed(Unit::Minutes, "1h"), "60");
  EXPECT_EQ(FormatValue(Unit::Minutes, "15"), "15m");
}

TEST(Units, TimesThatCannotBeStoredAreRefused) {
  for (const char* bad : {"-5m", "90", "abc", "1h30", "30m1h", "1:3", "1:75", "1:02:03:04", ":30", "", "1x", "h", "5400.5s",
                          "99999999d", "596524h"}) {
    EXPECT_TRUE(Refused(Unit::Seconds, bad)) << bad;
  }
  EXPECT_TRUE(Refused(Unit::Minutes, "90s"));
  std::string why;
  ParseValue(Unit::Seconds, "-5m", &why);
  EXPECT_NE(why.find("negative"), std::string::npos) << why;
}

TEST(Units, DaysFlagsAndPeriods) {
  EXPECT_EQ(Parsed(Unit::Days, "90d"), "90");
  EXPECT_EQ(Parsed(Unit::Days, "90"), "90");
  EXPECT_EQ(Parsed(Unit::Days, "never"), "0");
  EXPECT_EQ(FormatValue(Unit::Days, "90"), "90d");
  EXPECT_TRUE(Refused(Unit::Days, "-1d"));
  EXPECT_TRUE(Refused(Unit::Days, "1e3"));
  EXPECT_TRUE(Refused(Unit::Days, "30000d"));  // beyond what the expiry check can count
  EXPECT_EQ(Parsed(Unit::Date, "2027-01-31"), "2027-01-31");
  EXPECT_EQ(Parsed(Unit::Date, "none"), "");
  EXPECT_EQ(FormatValue(Unit::Date, ""), "none");
  EXPECT_EQ(FormatValue(Unit::Date, "0"), "none");
  EXPECT_EQ(FormatValue(Unit::Date, "2027-01-31"), "2027-01-31");
  EXPECT_EQ(FormatValue(Unit::Date, "31/01/2027"), "'31/01/2027'");
  EXPECT_TRUE(Refused(Unit::Date, "2027-02-29"));
  EXPECT_TRUE(Refused(Unit::Date, "31.01.2027"));
  EXPECT_EQ(Parsed(Unit::Flag, "Yes"), "1");
  EXPECT_EQ(Parsed(Unit::Flag, "off"), "0");
  EXPECT_TRUE(Refused(Unit::Flag, "maybe"));
  EXPECT_EQ(Parsed(Unit::PeriodType, "week"), "2");
  EXPECT_EQ(FormatValue(Unit::PeriodType, "3"), "month");
  EXPECT_TRUE(Refused(Unit::PeriodType, "4"));
  EXPECT_EQ(Parsed(Unit::Greetings, "1,3"), "5");
  EXPECT_EQ(FormatValue(Unit::Greetings, "5"), "1,3");
  EXPECT_TRUE(Refused(Unit::Greetings, "4"));
  EXPECT_TRUE(Refused(Unit::Count, "-1"));
  EXPECT_TRUE(Refused(Unit::Count, "2147483648"));
  EXPECT_TRUE(Refused(Unit::Hour, "24"));
  EXPECT_EQ(Parsed(Unit::Sessions, "none"), "0");
  EXPECT_EQ(FormatValue(Unit::Sessions, "0"), "none");
  EXPECT_TRUE(Refused(Unit::Sessions, "10000"));  // beyond any number of ports
  EXPECT_TRUE(Refused(Unit::Sessions, "2.5"));
}

TEST(Units, AddressesAreDottedOnScreenAndSignedFirstOctetHighInTheFile) {
  EXPECT_EQ(Parsed(Unit::Address, "10.0.0.77"), "167772237");
  EXPECT_EQ(Parsed(Unit::Address, "128.0.0.1"), "-2147483647");
  EXPECT_EQ(FormatValue(Unit::Address, "-2147483647"), "128.0.0.1");
  EXPECT_EQ(FormatValue(Unit::Address, "0"), "none");
  EXPECT_EQ(Parsed(Unit::Address, "none"), "0");
  for (const char* bad : {"10.0.0.300", "10.0.0", "10.0.0.1.2", "10..0.1", "a.b.c.d", "-1.0.0.0", "10.0.0.0001"}) {
    EXPECT_TRUE(Refused(Unit::Address, bad)) << bad;
  }
  std::string why;
  ParseValue(Unit::Address, "10.0.0.300", &why);
  EXPECT_NE(why.find("300 is above 255"), std::string::npos) << why;
}

// The export schedule is typed as lists and names and stored as the bits the
// service has always read: 2,18 is 2^2 + 2^18.
TEST(Units, ScheduleSetsAreListsOnScreenAndBitsInTheFile) {
  EXPECT_EQ(Parsed(Unit::HourSet, "2,18"), "262148");
  EXPECT_EQ(Parsed(Unit::HourSet, "8-10, 23"), "8390400");
  EXPECT_EQ(Parsed(Unit::HourSet, "all"), "16777215");
  EXPECT_EQ(Parsed(Unit::HourSet, "none"), "0");
  EXPECT_EQ(Parsed(Unit::WeekdaySet, "mon,fri"), "34");
  EXPECT_EQ(Parsed(Unit::WeekdaySet, "Monday-Friday"), "62");
  EXPECT_EQ(Parsed(Unit::MonthDaySet, "1"), "1");
  EXPECT_EQ(Parsed(Unit::MonthDaySet, "all"), "2147483647");
  for (const char* bad : {"24", "2,,18", "18-2", "noon", "-1"}) EXPECT_TRUE(Refused(Unit::HourSet, bad)) << bad;
  EXPECT_TRUE(Refused(Unit::WeekdaySet, "7"));
  EXPECT_TRUE(Refused(Unit::WeekdaySet, "mo"));
  EXPECT_TRUE(Refused(Unit::MonthDaySet, "0"));
  EXPECT_TRUE(Refused(Unit::MonthDaySet, "32"));

  EXPECT_EQ(FormatValue(Unit::HourSet, "262148"), "2,18");
  EXPECT_EQ(FormatValue(Unit::HourSet, "16777215"), "all");
  EXPECT_EQ(FormatValue(Unit::HourSet, "0"), "none");
  EXPECT_EQ(FormatValue(Unit::WeekdaySet, "62"), "mon-fri");
  EXPECT_EQ(FormatValue(Unit::WeekdaySet, "34"), "mon,fri");
  EXPECT_EQ(FormatValue(Unit::MonthDaySet, "3"), "1,2");
  // Bits no hour has are shown, not dropped.
  EXPECT_EQ(FormatValue(Unit::HourSet, "33554432"), "'33554432' (unknown)");
  // What is shown reads back as the same bits.
  for (const char* bits : {"262148", "16777215", "8390400", "0", "5"}) {
    EXPECT_EQ(Parsed(Unit::HourSet, FormatValue(Unit::HourSet, bits)), bits);
  }
}

TEST(Units, TextIsOneLineWithinItsLimit) {
  EXPECT_EQ(Parsed(Unit::Text, "  Five minutes left  "), "Five minutes left");
  EXPECT_TRUE(Refused(Unit::Text, "two\nlines"));
  EXPECT_FALSE(ParseValue(Unit::Text, std::string(11, 'x'), nullptr, 10));
  // A value the service would misread is shown as it stands, not as a number.
  EXPECT_EQ(FormatValue(Unit::Seconds, "54x"), "'54x'");
  EXPECT_FALSE(IsCleanNumber("54x"));
  EXPECT_TRUE(IsCleanNumber("  12   "));
}

}  // namespace
}  // namespace accounts

namespace accounts {
namespace {

// The console and the tools show a missing value as what the service reads
// it as: the Service key's defaults are the service's own.
TEST(ServerSettingsTable, DefaultsAreTheServicesOwn) {
  const SettingInfo* bytes = FindSetting(ServerSettings(), common::kIdleBytesLimitValue);
  const SettingInfo* trace = FindSetting(ServerSettings(), common::kLogMaxSizeKBValue);
  ASSERT_NE(bytes, nullptr);
  ASSERT_NE(trace, nullptr);
  EXPECT_EQ(bytes->defaultText, std::to_string(common::kIdleBytesLimitDefault));
  EXPECT_EQ(trace->defaultText, std::to_string(common::kServiceLogMaxSizeKBDefault));
  for (const SettingInfo& s : ServerSettings()) EXPECT_STREQ(s.name, s.key) << "one name per value";
}

}  // namespace
}  // namespace accounts
