#include "common/expiry_date.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"

namespace common {
namespace {

TEST(IsoDateTest, OnlyRealDaysWrittenInFullAreDates) {
  EXPECT_EQ(ParseIsoDate("2027-01-31"), (CalendarDate{2027, 1, 31}));
  EXPECT_EQ(ParseIsoDate("2028-02-29"), (CalendarDate{2028, 2, 29}));
  EXPECT_EQ(ParseIsoDate("2000-02-29"), (CalendarDate{2000, 2, 29}));
  for (const char* bad : {"2027-02-29", "2100-02-29", "2027-04-31", "2027-13-01", "2027-00-10", "2027-01-00",
                          "2027-1-31", "27-01-31", "2027/01/31", "31.01.2027", "2027-01-31x", "1969-12-31",
                          "+027-01-31", "2027-01-3 ", ""}) {
    EXPECT_FALSE(ParseIsoDate(bad)) << bad;
  }
  EXPECT_EQ(FormatIsoDate({2027, 1, 5}), "2027-01-05");
}

TEST(IsoDateTest, NoneZeroAndBlankAreNoDateAnythingElseIsMalformed) {
  EXPECT_EQ(ReadExpiryDate("").kind, ExpiryDateValue::kNone);
  EXPECT_EQ(ReadExpiryDate("0").kind, ExpiryDateValue::kNone);
  EXPECT_EQ(ReadExpiryDate("  ").kind, ExpiryDateValue::kNone);
  const ExpiryDateValue v = ReadExpiryDate(" 2027-01-31 ");
  EXPECT_EQ(v.kind, ExpiryDateValue::kDate);
  EXPECT_EQ(v.date, (CalendarDate{2027, 1, 31}));
  for (const char* bad : {"none", "31/01/2027", "2027-02-30", "1"}) {
    EXPECT_EQ(ReadExpiryDate(bad).kind, ExpiryDateValue::kMalformed) << bad;
  }
}

// The cut is the local midnight that ends the day, in the server's time zone,
// across month and year ends and leap days.
TEST(IsoDateTest, TheCutIsTheLocalMidnightEndingTheDay) {
  plat::testing::TempNetwork net;
  const std::time_t newYear2027Utc = 1798761600;  // 2027-01-01 00:00 UTC
  EXPECT_EQ(ExpiryCutTime({2026, 12, 31}), newYear2027Utc);
  // UTC = local + bias: an hour east of Greenwich, midnight comes an hour earlier.
  ASSERT_EQ(plat::RegWriteDword(plat::kTimeZoneKey, "Bias", static_cast<plat::DWORD>(-60)), plat::ERROR_SUCCESS);
  EXPECT_EQ(ExpiryCutTime({2026, 12, 31}), newYear2027Utc - 3600);
  ASSERT_EQ(plat::RegWriteDword(plat::kTimeZoneKey, "Bias", 300), plat::ERROR_SUCCESS);
  EXPECT_EQ(ExpiryCutTime({2026, 12, 31}), newYear2027Utc + 5 * 3600);
  const std::tm leap = plat::LocalTime(ExpiryCutTime({2028, 2, 29}));
  EXPECT_EQ(leap.tm_mon, 2);
  EXPECT_EQ(leap.tm_mday, 1);
  EXPECT_EQ(leap.tm_hour, 0);
  EXPECT_EQ(plat::LocalTime(ExpiryCutTime({2028, 2, 29}) - 1).tm_mday, 29) << "the last second still belongs to the day";
}

}  // namespace
}  // namespace common
