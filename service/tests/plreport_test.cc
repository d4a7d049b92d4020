// plreport: days as administrators write them, tables that stay aligned, and
// the tool run on a temporary machine with its data folder.
#include <gtest/gtest.h>

#include <sstream>

#include "common/product_keys.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "service/tools/report_options.h"
#include "platform/tools/text_table.h"

namespace plreport {
namespace {

using pltools::Table;

using plat::testing::RunTool;

TEST(ReportDayTest, IsoLogFormTodayAndYesterdayAreDays) {
  const Day today{2027, 1, 1};
  Day d;
  std::string why;
  ASSERT_TRUE(ParseDay("2026-12-08", today, &d, &why)) << why;
  EXPECT_EQ(IsoDay(d), "2026-12-08");
  ASSERT_TRUE(ParseDay("2026-dEC-08", today, &d, &why)) << why;
  EXPECT_EQ(IsoDay(d), "2026-12-08");
  EXPECT_EQ(LogDayName(d), "2026-Dec-08");
  ASSERT_TRUE(ParseDay("Today", today, &d, &why));
  EXPECT_EQ(IsoDay(d), "2027-01-01");
  ASSERT_TRUE(ParseDay("yesterday", today, &d, &why));
  EXPECT_EQ(IsoDay(d), "2026-12-31") << "across the turn of the year";
  ASSERT_TRUE(ParseDay("2024-02-29", today, &d, &why));

  for (const char* bad : {"2026-02-29", "2026-13-01", "2026-12-32", "2026-12-8", "08.12.2026",
                          "2026-Dez-08", "", "tomorrow", "2026-12-08x"}) {
    EXPECT_FALSE(ParseDay(bad, today, &d, &why)) << bad;
    EXPECT_NE(why.find(bad), std::string::npos) << why;
  }
}

TEST(ReportDayTest, DayNumbersRoundTrip) {
  for (std::int64_t n = -800; n < 25000; n += 7) {
    EXPECT_EQ(DayNumber(DayFromNumber(n)), n);
  }
  EXPECT_EQ(IsoDay(DayFromNumber(DayNumber({2000, 2, 28}) + 1)), "2000-02-29");
}

TEST(ReportFiltersTest, UserDomainServerAndPort) {
  Filters f;
  EXPECT_TRUE(f.Matches("DOM\\ann", "SRV1", "COM1"));
  f.user = "ANN";
  EXPECT_TRUE(f.MatchesAccount("dom\\ann"));
  EXPECT_FALSE(f.MatchesAccount("DOM\\anne"));
  f.user = "OTHER\\ann";  // one account exactly
  EXPECT_FALSE(f.MatchesAccount("DOM\\ann"));
  f = Filters{};
  f.domain = "dom";
  EXPECT_TRUE(f.MatchesAccount("DOM\\ann"));
  EXPECT_FALSE(f.MatchesAccount("DOMAIN\\ann"));
  EXPECT_FALSE(f.MatchesAccount("ann"));
  f = Filters{};
  f.server = "srv1";
  f.port = "com2";
  EXPECT_TRUE(f.Matches("DOM\\ann", "SRV1", "COM2"));
  EXPECT_FALSE(f.Matches("DOM\\ann", "SRV1", "COM1"));
}

std::string Printed(const Table& table, pltools::OutputFormat format) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  table.Print(out, format);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(ReportTableTest, LongCellsWidenTheirColumnAndCsvQuotes) {
  Table table({{"User"}, {"Bytes", true}, {"Info"}});
  table.AddRow({"DOM\\a-very-long-account-name-indeed", "5", "x"});
  table.AddRow({"DOM\\ann", "123456", "has, comma"});
  EXPECT_EQ(Printed(table, pltools::OutputFormat::Table),
            "User                                  Bytes  Info\n"
            "-----------------------------------  ------  ----------\n"
            "DOM\\a-very-long-account-name-indeed       5  x\n"
            "DOM\\ann                              123456  has, comma\n");
  EXPECT_EQ(Printed(table, pltools::OutputFormat::Csv),
            "User,Bytes,Info\n"
            "DOM\\a-very-long-account-name-indeed,5,x\n"
            "DOM\\ann,123456,\"has, comma\"\n");
}

// A cell past the limit is cut with a mark (never inside a UTF-8 character),
// its column no wider than the limit; the two-pass form prints the same.
TEST(ReportTableTest, CellsPastTheLimitAreCutAndTheTwoPassFormPrintsTheSame) {
  Table table({{"User"}, {"N", true}, {"Info"}});
  table.LimitCells(8);
  const std::vector<std::vector<std::string>> rows = {
      {"DOM\\ann", "5", "x"}, {"DOM\\\xc3\xa4rger-and-more", "123456789", "short"}};
  for (const auto& row : rows) table.AddRow(row);
  const std::string expected =
      "User             N  Info\n"
      "--------  --------  -----\n"
      "DOM\\ann          5  x\n"
      "DOM\\\xc3\xa4...  12345...  short\n";
  EXPECT_EQ(Printed(table, pltools::OutputFormat::Table), expected);
  EXPECT_NE(Printed(table, pltools::OutputFormat::Csv).find("123456789"), std::string::npos)
      << "CSV keeps every cell whole";

  Table twoPass({{"User"}, {"N", true}, {"Info"}});
  twoPass.LimitCells(8);
  for (const auto& row : rows) twoPass.Measure(row);
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  twoPass.PrintHeadings(out, pltools::OutputFormat::Table);
  for (const auto& row : rows) twoPass.PrintRow(out, pltools::OutputFormat::Table, row);
  std::fclose(out);
  EXPECT_EQ(std::string(text, size), expected);
  std::free(text);
}

// A machine with Portulon's data folder C:\PLData: two days of logs and
// three profiles.
class PlreportToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegWriteString(common::kServiceKey,
                                   "MasterShare", "C:\\PLData"),
              plat::ERROR_SUCCESS);
    Record({2026, 12, 7}, 9, "SRV1\\COM1", "C_DOM\\ann");
    Record({2026, 12, 7}, 10, "SRV1\\COM1", "H3725_DOM\\ann?167772170?0::ANNPC:1200:3400");
    Record({2026, 12, 8}, 11, "SRV1\\COM2", "N_DOM\\bob?3");
    Record({2026, 12, 8}, 12, "SRV2\\COM1", "N_OTHER\\a-very-long-account-name?4");
    Profile("DOM\\ann", {{"MaxSessionTime", "3600"}, {"FirstConnection", Seconds({2026, 12, 1}, 8)},
                         {"ExpiryTime", "30"}, {"TotalTime", "3725"}, {"TotalConnects", "1"}});
    Profile("DOM\\bob", {{"MaxTotalTime", "3600"}, {"TotalTime", "3601"}, {"TotalDenieds", "1"}});
    Profile("OTHER\\carol", {{"ExpiryTime", "10"}});
  }

  static std::string Seconds(const Day& d, int hour) {
    std::tm t{};
    t.tm_year = d.year - 1900;
    t.tm_mon = d.month - 1;
    t.tm_mday = d.day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::to_string(static_cast<long long>(plat::FromLocalTime(t)));
  }

  static void Record(const Day& d, int hour, const char* section, const char* value) {
    const std::string file = "C:\\PLData\\LogData\\" + LogDayName(d) + ".log";
    ASSERT_EQ(plat::ProfileWriteString(file, section, Seconds(d, hour), value), plat::ERROR_SUCCESS);
  }

  static void Profile(const char* account,
                      const std::vector<std::pair<std::string, std::string>>& keys) {
    for (const auto& [key, value] : keys) {
      ASSERT_EQ(plat::ProfileWriteString("C:\\PLData\\portulon.usr", account, key, value),
                plat::ERROR_SUCCESS);
    }
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  plat::testing::TempNetwork net;
};

TEST_F(PlreportToolTest, LogOfADayOrARangeFilteredAndAsCsv) {
  auto r = RunTool("plreport", {"log", "--day", "2026-12-08"});
  ASSERT_EQ(r.code, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  EXPECT_EQ(lines[0], "Session log of 2026-12-08 (C:\\PLData\\LogData\\2026-Dec-08.log): 2 records");
  // Every column starts at the same place in every row, however long a name.
  const size_t action = lines[2].find("Action");
  EXPECT_EQ(lines[4].find("Denied"), action) << r.out;
  EXPECT_EQ(lines[5].find("Denied"), action) << r.out;
  EXPECT_NE(lines[4].find("2026-12-08 11:00:00  SRV1"), std::string::npos) << r.out;
  EXPECT_NE(lines[4].find("3: User Total Time Reached"), std::string::npos) << r.out;
  EXPECT_NE(lines[5].find("4: User already connected"), std::string::npos) << r.out;

  r = RunTool("plreport", {"log", "--from", "2026-Dec-06", "--to", "2026-12-08", "--domain", "DOM",
                           "--format", "csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{
                "Time,Server,Port,Action,User,Lasted,Address,Computer,Bytes in,Bytes out,Information",
                "2026-12-07 09:00:00,SRV1,COM1,Connect,DOM\\ann,,,,,,",
                "2026-12-07 10:00:00,SRV1,COM1,Disconnect,DOM\\ann,1:02:05,10.0.0.10,ANNPC,1200,3400,",
                "2026-12-08 11:00:00,SRV1,COM2,Denied,DOM\\bob,,,,,,3: User Total Time Reached"}));

  r = RunTool("plreport", {"log", "--from", "2026-12-06", "--to", "2026-12-08", "--server", "srv2"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out)[0], "Session logs from 2026-12-06 to 2026-12-08 (2 of 3 days have a log): 1 records");

  r = RunTool("plreport", {"log", "--day", "2026-12-05"});  // no file that day: honest, not an error
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("2026-Dec-05.log), no such file: 0 records"), std::string::npos) << r.out;
}

TEST_F(PlreportToolTest, UsersShowUnits) {
  const auto r = RunTool("plreport", {"users", "--domain", "dom"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  // The accounts table pluser list shows too, within 120 columns.
  EXPECT_EQ(lines[2].rfind("Account", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("Session"), std::string::npos);
  for (const auto& line : lines) EXPECT_LE(line.size(), 120u) << line;
  // ann: one hour per session, expires 30 days after her first connection.
  EXPECT_NE(lines[4].find("DOM\\ann"), std::string::npos);
  EXPECT_NE(lines[4].find(" 1h "), std::string::npos) << lines[4];
  EXPECT_NE(lines[4].find("2026-12-31"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("never"), std::string::npos) << lines[5];
  EXPECT_NE(lines[5].find("none"), std::string::npos) << lines[5];

  const auto carol = RunTool("plreport", {"users", "--user", "carol", "--format", "csv"});
  ASSERT_EQ(carol.code, 0) << carol.err;
  EXPECT_NE(carol.out.find("OTHER\\carol,none,none,any,10d,none"), std::string::npos)
      << carol.out;
}

TEST_F(PlreportToolTest, BadDaysOptionsAndFoldersFailClearly) {
  auto r = RunTool("plreport", {"log", "--day", "2026-02-30"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("there is no such day"), std::string::npos) << r.err;
  r = RunTool("plreport", {"log", "--from", "2026-12-08", "--to", "2026-12-01"});
  EXPECT_EQ(r.code, 2);
  r = RunTool("plreport", {"log", "--bogus"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("unknown option '--bogus'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  r = RunTool("plreport", {"users", "--port", "COM1"});  // no ports in the accounts
  EXPECT_EQ(r.code, 2);

  r = RunTool("plreport", {"log", "--data", "C:\\NoSuchFolder"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the data folder C:\\NoSuchFolder cannot be found"), std::string::npos) << r.err;
  ASSERT_EQ(plat::RegWriteString(common::kServiceKey, "MasterShare", ""),
            plat::ERROR_SUCCESS);
  r = RunTool("plreport", {"users"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("give --data FOLDER"), std::string::npos) << r.err;

  r = RunTool("plreport", {"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("plreport 2.1b (file version 2.1.0.2)", 0), 0u) << r.out;
}

// One value of a megabyte (a damaged or hostile log) no longer widens every
// row of the day's table: its cell is cut, the other rows keep their width.
TEST_F(PlreportToolTest, AHugeValueIsCutToItsCellNotPaddedIntoEveryRow) {
  const std::string number(1 << 20, '7');
  Record({2026, 12, 8}, 13, "SRV1\\COM3", ("C_DOM\\ann*" + number).c_str());
  auto r = RunTool("plreport", {"log", "--day", "2026-12-08"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 7u);
  size_t widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, line.size());
  EXPECT_LT(widest, 300u);
  EXPECT_EQ(lines[6].substr(lines[6].size() - 9), "777777...") << "cut with its mark";
  EXPECT_EQ(lines[4].find("Denied"), lines[6].find("Connect")) << "columns still line up";

  r = RunTool("plreport", {"log", "--day", "2026-12-08", "--format", "csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(number), std::string::npos) << "CSV keeps the value whole";
}

}  // namespace
}  // namespace plreport

