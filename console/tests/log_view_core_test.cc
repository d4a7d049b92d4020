// The log view's logic without a display: the day's records read from a real
// day log (odd values included), the time-zone shift and the unchanged-file
// shortcut, filters, sorting, texts, the saved file, the calendar's bold
// days, the multi-day export and the usage and statistics figures.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/core/calendar_days.h"
#include "console/core/commands.h"
#include "console/core/export_sessions.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "console/core/log_view_model.h"
#include "console/core/usage_stats.h"
#include "console/tests/console_test_support.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"

namespace pladmin {
namespace {

using common::LogRecord;

constexpr const char* kFolder = "C:\\PLData";

LogFilter Filter(int kind, std::string server = {}, std::string port = {}, std::string domain = {},
                 std::string group = {}, std::string user = {}) {
  return LogFilter{kind, std::move(server), std::move(port), std::move(domain), std::move(group),
                   std::move(user)};
}

class LogViewCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
  }

  static std::tm Day(int y, int m, int d) {
    return plat::LocalTime(plat::FromLocalTime(plat::CalendarTime(y, m, d, 12)));
  }
  static std::string Log(const std::tm& day) { return DayLogPath(kFolder, day); }
  static void Add(const std::string& log, const std::string& section, std::int64_t key,
                  const std::string& value) {
    ASSERT_EQ(plat::ProfileAppendRecord(log, section, std::to_string(key), value), plat::ERROR_SUCCESS);
  }
  static std::vector<common::LogRecordView> All(const common::LogRecordStore& records) {
    std::vector<common::LogRecordView> out;
    for (size_t i = 0; i < records.size(); ++i) out.push_back(records[i]);
    return out;
  }

  plat::testing::TempNetwork net_;
};

TEST_F(LogViewCoreTest, OddValuesShowWhatTheyCarryAndNothingIsDropped) {
  const std::string log = Log(Day(2026, 12, 8));
  // Written as a file, as the odd ones could never come from the writer.
  std::string text = "[SRV1\\COM1]\n"
                     "1000=H60_DOM\\ann?0\n"
                     "1001=H90_DOM\\bob?167772170?0::?WKS:12:34\n"
                     "1002=X_what is this\n"
                     "abc=C_DOM\\ann\n"
                     "1003=N_DOM\\eve?4\n"
                     "1004=C_DOM\\" + std::string(1000, 'u') + "\n"
                     "[*skip\\this]\n1=C_DOM\\nobody\n"
                     "[SRV2\\COM2]\n"
                     "*1=C_DOM\\hidden\n"
                     "1005=C_DOM\\\"smith, jr\"*555,1\n"
                     "1006=H7_DOM\\bob?0?9:ipx:NB:1234567:-1";  // no line end: truncated
  ASSERT_EQ(plat::WriteWholeFile(log, text), plat::ERROR_SUCCESS);
  CLogRecords day;
  ASSERT_TRUE(day.LoadLogRecords(log, 0, {}));
  const auto& r = day.records();
  ASSERT_EQ(r.size(), 8u);
  // A hang-up with a single "?": no reason, no details, the normal image.
  EXPECT_EQ(r[0].reason, common::kNoReason);
  EXPECT_EQ(InfoText(r[0]), "");
  EXPECT_EQ(RecordImage(r[0]), 3);
  EXPECT_EQ(CellText(r[0], kColBytesIn, {}), "");
  // A netbios "?" shows empty; the other fields stay in place.
  EXPECT_EQ(r[1].netbios, "");
  EXPECT_EQ(CellText(r[1], kColIP, {}), "10.0.0.10");
  EXPECT_EQ(r[1].bytesOut, 34);
  // An unknown first letter keeps server, port and time.
  EXPECT_EQ(r[2].kind, common::kRecordUnknown);
  EXPECT_EQ(r[2].port, "COM1");
  EXPECT_EQ(r[2].time, 1002);
  EXPECT_EQ(CellText(r[2], kColAction, {}), "");
  EXPECT_EQ(RecordImage(r[2]), -1);
  // A key that is no number still shows its record.
  EXPECT_EQ(r[3].user, "DOM\\ann");
  EXPECT_EQ(r[3].time, 0);
  EXPECT_EQ(InfoText(r[4]), "User already connected");
  EXPECT_EQ(r[5].user.size(), 1004u);
  EXPECT_EQ(r[6].server, "SRV2");
  EXPECT_EQ(r[6].info, "555,1");
  EXPECT_EQ(InfoText(r[7]), "Idle Timeout");
  EXPECT_EQ(RecordImage(r[7]), 0);
  EXPECT_EQ(CellText(r[7], kColBytesIn, {}), "1,234,567");
  EXPECT_EQ(CellText(r[7], kColBytesOut, {}), "");

  // The saved file quotes what holds commas and quotes: every line as wide as the heading.
  const std::string saved = SaveText(All(r), DisplayedFlags(-1), {});
  EXPECT_NE(saved.find("\"DOM\\\"\"smith, jr\"\"\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"1,234,567\""), std::string::npos);
  EXPECT_EQ(saved.substr(0, saved.find("\r\n")),
            "Time/Date,Server,Port,Action,Information,User,IP,NetBIOS,IPX,Lasted,Bytes In,Bytes Out");
  // With every column off but Time, the heading is "Time/Date" alone.
  EXPECT_EQ(SavedHeadingLine(DisplayedFlags(kColTime)), "Time/Date");
  EXPECT_EQ(SaveText({r[0]}, DisplayedFlags(kColTime), {}).substr(0, 11), "Time/Date\r\n");
}

TEST_F(LogViewCoreTest, TimesMoveToTheServersClockAndAnUnchangedFileIsNotReadAgain) {
  const std::string log = Log(Day(2026, 12, 8));
  Add(log, "SRV1\\COM1", 10000, "C_DOM\\ann");
  Add(log, "srv2\\COM1", 10000, "C_DOM\\bob");
  Add(log, "SRV3\\COM1", 10000, "C_DOM\\eve");
  CLogRecords day;
  // The console at bias 60 (UTC-1); SRV2 at 0 shows an hour later, SRV3 as the console.
  ASSERT_TRUE(day.LoadLogRecords(log, 60, {{"SRV2", 0}, {"SRV3", 60}}));
  ASSERT_EQ(day.records().size(), 3u);
  EXPECT_EQ(day.records()[0].time, 10000);
  EXPECT_EQ(day.records()[1].time, 10000 + 3600);
  EXPECT_EQ(day.records()[2].time, 10000);

  EXPECT_FALSE(day.LoadLogRecords(log, 60, {{"SRV2", 0}}));  // nothing changed: not read
  EXPECT_EQ(day.records().size(), 3u);
  Add(log, "SRV1\\COM1", 10001, "N_DOM\\eve?1");
  EXPECT_TRUE(day.LoadLogRecords(log, 60, {{"SRV2", 0}}));
  EXPECT_EQ(day.records().size(), 4u);
  // Another day's path, or a missing file, reads (and gives nothing).
  EXPECT_TRUE(day.LoadLogRecords(Log(Day(2026, 12, 9)), 60, {}));
  EXPECT_TRUE(day.records().empty());
}

TEST_F(LogViewCoreTest, SortingOrdersPortsByNumberTimeNewestFirstAndReversesOnTheSecondClick) {
  std::vector<LogRecord> records(5);
  const char* ports[] = {"COM10", "COM2", "COM1", "COM", "COM2"};
  const char* servers[] = {"A", "B", "C", "D", "A"};
  for (int i = 0; i < 5; ++i) {
    records[i].port = ports[i];
    records[i].server = servers[i];
    records[i].time = 100 + i;
  }
  std::vector<int> rows{0, 1, 2, 3, 4};
  SharedSortDirection() = 1;
  SortLogRows(&rows, records, kColPort);
  auto names = [&] {
    std::vector<std::string> out;
    for (int i : rows) out.push_back(records[i].port);
    return out;
  };
  // COM2 before COM10 by number; "COM" and "COM1" as text.
  const auto first = names();
  EXPECT_LT(std::find(first.begin(), first.end(), "COM2") - first.begin(),
            std::find(first.begin(), first.end(), "COM10") - first.begin());
  EXPECT_LT(std::find(first.begin(), first.end(), "COM") - first.begin(),
            std::find(first.begin(), first.end(), "COM1") - first.begin());
  EXPECT_EQ(SharedSortDirection(), -1);
  SortLogRows(&rows, records, kColPort);
  auto second = names();
  std::reverse(second.begin(), second.end());
  EXPECT_EQ(second, first);

  // Time sorts newest first on the first click of a fresh direction.
  SharedSortDirection() = 1;
  SortLogRows(&rows, records, kColTime);
  EXPECT_EQ(rows, (std::vector<int>{4, 3, 2, 1, 0}));
  SortLogRows(&rows, records, kColTime);
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4}));
  // A row never sorts before itself, whatever the column.
  for (int flag = 1; flag <= kColBytesOut; flag <<= 1) {
    EXPECT_EQ(CompareLogRecords(records[1], records[4], kColPort, 1), 0);
    EXPECT_EQ(CompareLogRecords(records[0], records[0], flag, 1), 0) << flag;
  }
}

// The day the view holds is a compact store: every column sorts its rows as
// the records themselves sort (time by its own quicker path, ties in time
// broken by the sequence, equal records kept in their order), and the shift
// to a server's clock moves only that server's records.
TEST_F(LogViewCoreTest, TheCompactDaySortsAndShiftsAsTheRecordsDo) {
  std::vector<LogRecord> records(40);
  common::LogRecordStore store;
  for (int i = 0; i < 40; ++i) {
    LogRecord& r = records[static_cast<size_t>(i)];
    r.server = i % 3 ? "SRV1" : "srv2";
    r.port = "COM" + std::to_string(i % 7);
    r.user = "DOM\\u" + std::to_string(i % 5);
    r.time = 1000 + i % 4;
    r.sequence = i % 6 == 0 ? 1 : 0;
    r.kind = i % 3;
    r.duration = static_cast<std::uint32_t>(i % 9);
    r.netbios = i % 2 ? "PC" : "";
    r.bytesIn = i % 5 - 1;
    store.Add(r);
  }
  for (int flag = 1; flag <= kColBytesOut; flag <<= 1) {
    for (const int direction : {1, -1}) {
      std::vector<int> fromStore(40), fromRecords(40);
      for (int i = 0; i < 40; ++i) fromStore[static_cast<size_t>(i)] = fromRecords[static_cast<size_t>(i)] = (i * 17) % 40;
      SortLogRows(&fromStore, store, flag, direction);
      SortLogRows(&fromRecords, records, flag, direction);
      EXPECT_EQ(fromStore, fromRecords) << "column " << flag << ", direction " << direction;
    }
  }
  ShiftToServerTime(&store, 60, {{"SRV2", 0}, {"SRV1", 60}});
  ShiftToServerTime(&records, 60, {{"SRV2", 0}, {"SRV1", 60}});
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(store[i].time, records[i].time) << i;
    EXPECT_EQ(store[i].user, records[i].user) << i;
    EXPECT_EQ(store[i].ToRecord().netbios, records[i].netbios) << i;
  }
  EXPECT_EQ(store[0].time, 1000 + 3600) << "srv2, in any case, is an hour behind";
}

TEST_F(LogViewCoreTest, DurationsBytesAndCopiedRows) {
  EXPECT_EQ(LastedText(3725, false), "1\"02'05");
  EXPECT_EQ(LastedText(0, false), "0\"00'00");
  EXPECT_EQ(LastedText(3725, true), "3725");
  EXPECT_EQ(GetDataText(0), "0");
  EXPECT_EQ(GetDataText(999), "999");
  EXPECT_EQ(GetDataText(1000), "1,000");
  EXPECT_EQ(GetDataText(-1), "");
  EXPECT_EQ(GetDataText(9223372036854775807LL), "9,223,372,036,854,775,807");
  LogRecord r;
  r.kind = common::kRecordRefusal;
  r.reason = 5;
  r.user = "DOM\\ann";
  r.server = "SRV1";
  EXPECT_EQ(CopyText({r}, {kColServer, kColPort, kColInfo}, {}), "SRV1, ,Access denied on Port,\r\n");
}

TEST_F(LogViewCoreTest, FiltersFollowTheTreeIncludingAGroupFromTheDomainController) {
  std::vector<LogRecord> records(4);
  records[0].server = "SRV1"; records[0].port = "COM1"; records[0].user = "DOM\\ann";
  records[1].server = "srv1"; records[1].port = "COM2"; records[1].user = "dom\\Bob";
  records[2].server = "SRV2"; records[2].port = "COM1"; records[2].user = "OTHER\\ann";
  records[3].server = "SRV2"; records[3].port = "COM1"; records[3].user = "ann";
  LogFilter f;
  f.nodeKind = kNodeServersRoot;
  EXPECT_EQ(FilterRows(records, f, nullptr).size(), 4u);
  EXPECT_EQ(FilterText(f), "(all available records)");
  f = Filter(kNodeServer, "SRV1");
  EXPECT_EQ(FilterRows(records, f, nullptr), (std::vector<int>{0, 1}));
  f = Filter(kNodePortInUse, "SRV2", "com1");
  EXPECT_EQ(FilterRows(records, f, nullptr), (std::vector<int>{2, 3}));
  EXPECT_EQ(FilterText(f), "(Port SRV2\\com1)");
  // A user matches after its domain; a user text without backslash does not.
  f = Filter(kNodeUser, "", "", "DOM", "", "ANN");
  EXPECT_EQ(FilterRows(records, f, nullptr), (std::vector<int>{0, 2}));
  f = Filter(kNodeDomain, "", "", "DOM");
  EXPECT_EQ(FilterRows(records, f, nullptr), (std::vector<int>{0, 1}));
  EXPECT_EQ(FilterText(f), "(Domain DOM)");

  ASSERT_EQ(plat::DomainCreate("DOM", "SRV1"), plat::ERROR_SUCCESS);
  for (const char* user : {"ann", "bob", "eve"}) ASSERT_EQ(plat::DomainAddUser("DOM", user, "", {}), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::DomainAddGroup("DOM", "Dialers"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::DomainAddMember("DOM", "Dialers", "bob"), plat::ERROR_SUCCESS);
  testing::RecordingSink sink;
  GroupMembers members;
  members.Load("DOM", "Dialers", sink);
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_EQ(plat::ProfileGetString(GroupMembers::FilePath(), "Members", "DOM\\bob", ""), "1");
  f = Filter(kNodeGroup, "", "", "DOM", "Dialers");
  EXPECT_EQ(FilterRows(records, f, &members), (std::vector<int>{1}));
  EXPECT_EQ(FilterText(f), "(Group DOM\\Dialers)");
  // Without its controller the group shows nothing, and says why once.
  members.Load("NODOMAIN", "Dialers", sink);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("Error getting PDC (", 0), 0u) << sink.messages[0];
  EXPECT_TRUE(FilterRows(records, f, &members).empty());
  EXPECT_FALSE(plat::FileExists(GroupMembers::FilePath()));
}

TEST_F(LogViewCoreTest, CalendarMarksDaysWithLogsAcrossTheTurnOfTheYear) {
  for (const auto& day : {Day(2026, 12, 3), Day(2026, 12, 31), Day(2027, 1, 2), Day(2027, 2, 1)}) {
    ASSERT_EQ(plat::WriteWholeFile(Log(day), "[S\\P]\n1=C_x\n"), plat::ERROR_SUCCESS);
  }
  ASSERT_EQ(plat::WriteWholeFile(std::string(kFolder) + "\\LogData\\notes.log", ""), plat::ERROR_SUCCESS);
  const auto days = DaysWithLogs(kFolder, 2026, 12, 2);
  EXPECT_EQ(days, (std::set<CalendarDay>{{2026, 12, 3}, {2026, 12, 31}, {2027, 1, 2}}));
  EXPECT_TRUE(DaysWithLogs(kFolder, 1970, 1, 3).empty());
  EXPECT_TRUE(DaysWithLogs("C:\\Nowhere", 2026, 12, 2).empty());
}

TEST_F(LogViewCoreTest, ExportWritesARangeOfDaysWithTheFilterAndStopsWhenCancelled) {
  Add(Log(Day(2026, 12, 30)), "SRV1\\COM1", 1000, "C_DOM\\ann");
  Add(Log(Day(2026, 12, 31)), "SRV1\\COM1", 2000, "H60_DOM\\ann?0?0:::1000:2000");
  Add(Log(Day(2026, 12, 31)), "SRV2\\COM1", 2001, "C_DOM\\bob");
  Add(Log(Day(2027, 1, 1)), "SRV1\\COM1", 3000, "N_DOM\\eve?1");
  ExportRequest request;
  request.dataFolder = kFolder;
  request.from = Day(2026, 12, 29);
  request.to = Day(2027, 1, 1);
  request.filter = Filter(kNodeServer, "SRV1");
  std::string out;
  std::vector<int> seen;
  auto write = [&](std::string_view text) { out += text; return true; };
  ExportResult result = ExportSessions(request, write, [&](int done, int total) {
    EXPECT_EQ(total, 4);
    seen.push_back(done);
    return true;
  });
  EXPECT_EQ(result.days, 4);
  EXPECT_EQ(result.rows, 3);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
  EXPECT_EQ(out.find("DOM\\bob"), std::string::npos);
  EXPECT_NE(out.find("\"1,000\""), std::string::npos);
  // The Time/Date cell carries the day.
  EXPECT_NE(out.find(plat::GetDateFormat(plat::GetUserDefaultLCID(), plat::LocalTime(3000))), std::string::npos);

  out.clear();
  result = ExportSessions(request, write, [](int done, int) { return done < 2; });
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.days, 2);
  EXPECT_TRUE(DaysBetween(Day(2027, 1, 2), Day(2027, 1, 1)).empty());
}

TEST_F(LogViewCoreTest, UsageAndStatisticsOfTheDayAndTheMonth) {
  const std::tm day = Day(2026, 12, 8);
  const std::time_t noon = plat::FromLocalTime(plat::CalendarTime(2026, 12, 8, 12));
  Add(Log(day), "SRV1\\COM1", noon, "C_DOM\\ann");
  Add(Log(day), "SRV1\\COM1", noon + 600, "H600_DOM\\ann?0?0::::");
  Add(Log(day), "SRV1\\COM2", noon + 60, "C_dom\\ANN");
  Add(Log(day), "SRV1\\COM2", noon + 3700, "H3640_dom\\ANN?0?9::::");
  Add(Log(day), "SRV1\\COM3", noon + 4000, "N_DOM\\eve?4");
  Add(Log(day), "SRV2\\COM3", noon + 4000, "N_DOM\\eve?1");
  Add(Log(Day(2026, 12, 1)), "SRV1\\COM1", noon - 7 * 86400, "C_DOM\\bob");
  Add(Log(Day(2026, 12, 1)), "SRV1\\COM1", noon - 7 * 86400 + 60, "H60_DOM\\bob?0");
  Add(Log(Day(2026, 11, 30)), "SRV1\\COM1", noon - 8 * 86400, "C_DOM\\bob");  // another month

  UsageData data;
  LoadUsageData(kFolder, day, 0, {}, Filter(kNodeServer, "SRV1"), nullptr, &data);
  const auto usage = ComputeUsage(data.dayRows, data.monthRows);
  ASSERT_EQ(usage.size(), 2u);
  EXPECT_EQ(usage[0].user, "DOM\\ann");
  EXPECT_EQ(usage[0].dayConnections, 2);
  EXPECT_EQ(usage[0].daySeconds, 4240);
  EXPECT_EQ(usage[0].monthConnections, 2);
  EXPECT_EQ(usage[1].user, "DOM\\bob");
  EXPECT_EQ(usage[1].dayConnections, 0);
  EXPECT_EQ(usage[1].monthConnections, 1);
  EXPECT_EQ(usage[1].monthSeconds, 60);

  const DayStatistics stats = ComputeStatistics(data.dayRows);
  EXPECT_EQ(stats.sessions, 2);
  EXPECT_EQ(stats.refusals, 1);  // SRV2's refusal is filtered out
  EXPECT_EQ(stats.refusalsByReason, (std::map<int, int>{{4, 1}}));
  EXPECT_EQ(stats.disconnectsByReason, (std::map<int, int>{{0, 1}, {9, 1}}));
  EXPECT_EQ(stats.forced, 1);
  EXPECT_EQ(stats.connectionsByHour[12], 2);
  EXPECT_EQ(stats.BusiestHour(), 12);
  const std::string csv = StatisticsCsv(stats);
  EXPECT_NE(csv.find("Refused: User already connected,1\r\n"), std::string::npos) << csv;
  EXPECT_NE(UsageCsv(usage).find("DOM\\ann,2,1:10:40,2,1:10:40\r\n"), std::string::npos) << UsageCsv(usage);
}

}  // namespace
}  // namespace pladmin
