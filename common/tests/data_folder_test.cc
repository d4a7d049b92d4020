#include "common/data_folder.h"

#include <gtest/gtest.h>

#include "platform/sysinfo.h"

namespace common {
namespace {

TEST(DayLogNameTest, ParsesOnlyDayLogNames) {
  std::tm t;
  ASSERT_TRUE(ParseDayLogName("2000-Nov-21", &t));
  EXPECT_EQ(t.tm_year, 100);
  EXPECT_EQ(t.tm_mon, 10);
  EXPECT_EQ(t.tm_mday, 21);
  EXPECT_TRUE(ParseDayLogName("2024-mar-01", &t));
  for (const char* bad : {"2000-Nov-1", "2000-Xyz-21", "2000-11-21", "portulon", "2000-Nov-00",
                          "20a0-Nov-21", "2000-Nov-21x"}) {
    EXPECT_FALSE(ParseDayLogName(bad, &t)) << bad;
  }
}

TEST(DayLogNameTest, FileNamesRoundTripThroughThePathsMadeForThem) {
  const std::tm day = plat::CalendarTime(2000, 11, 21, 12);
  const std::string path = DayLogPath("\\\\SRV1\\PL_NT_DB", DayLogName(day));
  EXPECT_EQ(path, "\\\\SRV1\\PL_NT_DB\\LogData\\2000-Nov-21.log");
  EXPECT_EQ(DayLogPath("C:\\PLData", "2000-Nov-21", kArchiveFolder), "C:\\PLData\\OldData\\2000-Nov-21.log");

  std::string name;
  std::tm t;
  ASSERT_TRUE(ParseDayLogFile(path.substr(path.rfind('\\') + 1), &name, &t));
  EXPECT_EQ(name, "2000-Nov-21");
  EXPECT_EQ(t.tm_mday, 21);
  EXPECT_TRUE(ParseDayLogFile("2000-NOV-21.LOG", &name, &t));
  // What else a log folder can hold: the search pattern matches these too.
  for (const char* other : {"2000-Nov-21.txt", "2000-Nov-21x.log", "2000-Nov-2.log", "notes.log", ".log"}) {
    EXPECT_FALSE(ParseDayLogFile(other, &name, &t)) << other;
  }
}

}  // namespace
}  // namespace common
