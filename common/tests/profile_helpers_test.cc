#include "common/profile_helpers.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/errors.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace common {
namespace {

TEST(DecimalValueTest, ReadsLikeAtoiAndSaturates) {
  EXPECT_EQ(DecimalValue(""), 0);
  EXPECT_EQ(DecimalValue("abc"), 0);
  EXPECT_EQ(DecimalValue("12abc"), 12);
  EXPECT_EQ(DecimalValue("-5"), -5);
  EXPECT_EQ(DecimalValue("  \t+7 8"), 7);
  EXPECT_EQ(DecimalValue("- 5"), 0);
  EXPECT_EQ(DecimalValue("--5"), 0);
  EXPECT_EQ(DecimalValue("2147483647"), INT_MAX);
  EXPECT_EQ(DecimalValue("2147483648"), INT_MAX);
  EXPECT_EQ(DecimalValue("-2147483648"), INT_MIN);
  EXPECT_EQ(DecimalValue("-2147483649"), INT_MIN);
  EXPECT_EQ(DecimalValue("000000000000000000000042"), 42);
  EXPECT_EQ(DecimalValue("99999999999999999999999999"), INT_MAX);
  EXPECT_EQ(DecimalValue("-99999999999999999999999999"), INT_MIN);
}

class ProfileHelpersTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net;
  const std::string file = "C:\\portulon.usr";

  void WriteIni(const std::string& text) { plat::testing::WriteHostFile(net.DriveC("portulon.usr"), text); }
  std::string ReadIni() { return plat::testing::ReadHostFile(net.DriveC("portulon.usr")); }
};

TEST_F(ProfileHelpersTest, NumbersReadAsZeroUnlessDecimal) {
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "MaxTotalTime"), 0);  // no file
  WriteIni("[DOM\\joe]\nMaxTotalTime=3600\nPeriodMax=\nLasted=12abc\nStaticIP=-5\n");
  EXPECT_EQ(ProfileReadInt(file, "dom\\JOE", "maxtotaltime"), 3600);
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "PeriodMax"), 0);
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "Lasted"), 12);
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "StaticIP"), -5);
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "TotalTime"), 0);
  EXPECT_EQ(ProfileReadInt(file, "DOM\\ann", "MaxTotalTime"), 0);
}

TEST_F(ProfileHelpersTest, TextIsCutToTheBufferAndDefaultsWhenMissing) {
  WriteIni("[S]\nName=abcdefgh\n");
  EXPECT_EQ(ProfileReadText(file, "S", "Name", "-"), "abcdefgh");
  EXPECT_EQ(ProfileReadText(file, "S", "Name", "-", 4), "abc");
  EXPECT_EQ(ProfileReadText(file, "S", "Other", "dflt"), "dflt");
}

TEST_F(ProfileHelpersTest, WritesAndIncrementsDecimalText) {
  // 128.0.0.1 as a signed 32-bit number.
  ASSERT_EQ(ProfileWriteInt(file, "DOM\\joe", "StaticIP", static_cast<int>(0x80000001u)),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(ProfileIncrement(file, "DOM\\joe", "TotalConnects"), 1);
  EXPECT_EQ(ProfileIncrement(file, "DOM\\joe", "TotalConnects", 5), 6);
  EXPECT_EQ(ProfileIncrement(file, "DOM\\joe", "TotalDenieds", -2), -2);
  const std::string text = ReadIni();
  EXPECT_NE(text.find("StaticIP=-2147483647"), std::string::npos) << text;
  EXPECT_NE(text.find("TotalConnects=6"), std::string::npos) << text;
  EXPECT_EQ(ProfileReadInt(file, "DOM\\joe", "StaticIP"), -2147483647);
}

TEST_F(ProfileHelpersTest, ProfileExistsWhenSectionDoesEvenWithoutKeys) {
  EXPECT_FALSE(UserHasProfile(file, "DOM\\joe"));  // no file
  WriteIni("[DOM\\joe]\nMaxTotalTime=0\n[DOM\\empty]\n[+DOM\\Staff]\nNoDuplicate=1\n");
  EXPECT_TRUE(UserHasProfile(file, "DOM\\joe"));
  EXPECT_TRUE(UserHasProfile(file, "dom\\JOE"));
  EXPECT_TRUE(UserHasProfile(file, "DOM\\empty"));
  EXPECT_TRUE(UserHasProfile(file, "+DOM\\Staff"));
  EXPECT_FALSE(UserHasProfile(file, "DOM\\ann"));
  EXPECT_FALSE(UserHasProfile(file, "DOM"));
}

}  // namespace
}  // namespace common
