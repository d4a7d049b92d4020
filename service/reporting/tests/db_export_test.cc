#include "service/reporting/db_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "common/log_record.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "service/event_report.h"
#include "service/reporting/scheduled_jobs.h"
#include "service/profile_store.h"
#include "service/reporting/export_schedule.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/text_encoding.h"
#include "service/reporting/tests/db_export_fixture.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/session_log.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::At;
using testing::EventsWithId;
using testing::kAnn;
using testing::kCom1;

using testing::DbExportTest;
using testing::kLatin1;
using testing::kQuoted;
using testing::Text;

// A name that would break SQL text built by splicing.
const std::string kInjection = "DOM\\x'); DROP TABLE pl_sessions;--";

TEST_F(DbExportTest, ADayComesBackRecordForRecordAndOnlyOnce) {
  Session(kAnn, kCom1, 600);
  now += 5;
  Session(kQuoted, "SRV1\\COM2", 61);
  Log_DeniedConnection(ctx, kInjection, now, kCom1, 1);
  Log_DeniedConnection(ctx, kLatin1, now + 1, kCom1, 4);
  Session(kLatin1, kCom1, 30);

  const ExportOutcome first = Export();
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.days, 1);
  EXPECT_EQ(first.records, 8);

  // Every record of the day's log, field by field.
  std::vector<common::LogRecord> log = common::LoadLogRecords(GetLogFileName(ctx, now));
  ASSERT_EQ(log.size(), 8u);
  std::sort(log.begin(), log.end(), [](const auto& a, const auto& b) {
    return std::tie(a.server, a.port, a.time) < std::tie(b.server, b.port, b.time);
  });
  const auto rows = Select(
      "SELECT log_day, server, port, event_time, kind, account, duration, ip_address, reason, "
      "ipx, computer, bytes_in, bytes_out, callback FROM pl_sessions "
      "ORDER BY server, port, event_time");
  ASSERT_EQ(rows.size(), log.size());
  for (size_t i = 0; i < log.size(); ++i) {
    const common::LogRecord& r = log[i];
    const SqlRow& row = rows[i];
    SCOPED_TRACE(r.user + " at " + std::to_string(r.time));
    EXPECT_EQ(Text(row[0]), "2024-Mar-12");
    EXPECT_EQ(Text(row[1]), r.server);
    EXPECT_EQ(Text(row[2]), r.port);
    // Text that is not UTF-8 is taken as the Windows code page.
    EXPECT_EQ(Text(row[3]), std::to_string(r.time));
    EXPECT_EQ(Text(row[5]), AsUtf8(r.user));
    if (r.kind == common::kRecordHangUp) {
      EXPECT_EQ(Text(row[4]), "H");
      EXPECT_EQ(Text(row[6]), std::to_string(r.duration));
      EXPECT_EQ(Text(row[8]), std::to_string(r.reason));
      EXPECT_EQ(Text(row[11]), r.bytesIn < 0 ? "<null>" : std::to_string(r.bytesIn));
    } else {
      EXPECT_EQ(Text(row[4]), r.kind == common::kRecordRefusal ? "N" : "C");
      EXPECT_EQ(Text(row[6]), "<null>");
      EXPECT_EQ(Text(row[8]), r.kind == common::kRecordRefusal ? std::to_string(r.reason) : "<null>");
    }
    EXPECT_EQ(Text(row[9]), r.ipx);
    EXPECT_EQ(Text(row[10]), r.netbios);
    EXPECT_EQ(Text(row[13]), r.info);
  }
  // The awkward names arrived as they were (the ANSI one as UTF-8), and nothing
  // was executed from them.
  // (Refusal records carry the name as a profile section could hold it.)
  EXPECT_EQ(Select("SELECT COUNT(*) FROM pl_sessions WHERE account = ?",
                   {SafeProfileName(kInjection)})[0][0],
            "1");
  EXPECT_EQ(Select("SELECT COUNT(*) FROM pl_sessions WHERE account = ?",
                   {std::string("DOM\\J\xC3\xB6rg")})[0][0],
            "3");
  EXPECT_EQ(Select("SELECT COUNT(*) FROM pl_sessions WHERE account = ?", {kQuoted})[0][0], "2");

  // Again: nothing added. A later record of the day is picked up, once.
  ASSERT_TRUE(Export().ok);
  EXPECT_EQ(Count("pl_sessions"), 8);
  now += 60;
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 3);
  const ExportOutcome third = Export();
  ASSERT_TRUE(third.ok) << third.error;
  EXPECT_EQ(Count("pl_sessions"), 9);
  const auto day = Select("SELECT records, complete FROM pl_export_days WHERE log_day = ?",
                          {std::string("2024-Mar-12")});
  ASSERT_EQ(day.size(), 1u);
  EXPECT_EQ(Text(day[0][0]), "9");
  EXPECT_EQ(Text(day[0][1]), "0");
}

// A day as the service leaves it, its ports' sections in many parts, with
// what hand edits add (a key again in a later part, a key spelled otherwise,
// a section "COM9" beside "\\COM9"): the streamed export writes the rows that
// reading the whole file gave, one per key, in statements of many rows.
TEST_F(DbExportTest, AStreamedDayExportsTheRowsOfTheWholeFileRead) {
  const std::string log = GetLogFileName(ctx, now);
  std::string text;
  for (int i = 0; i < 137; ++i) {
    text += "[SRV1\\COM" + std::to_string(i % 5) + "]\n" + std::to_string(now + i / 5) +
            (i % 3 == 0 ? "=C_DOM\\u" : "=N_DOM\\u") + std::to_string(i) + (i % 3 ? "?4\n" : "\n");
  }
  text += "[SRV1\\COM2]\n" + std::to_string(now) + "=C_DOM\\again\n0" + std::to_string(now) +
          "=C_DOM\\zero\n";
  text += "[COM9]\n100=C_DOM\\a\n[\\COM9]\n100=C_DOM\\b\n101=C_DOM\\c\n";
  ASSERT_EQ(plat::WriteWholeFile(log, text), plat::ERROR_SUCCESS);

  // The rows as the whole file read section by section gives them.
  std::set<std::tuple<std::string, std::string, std::int64_t, int>> keys;
  std::vector<std::string> expected;
  const auto sections = plat::ProfileListSections(log);
  for (const std::string& section : *sections) {
    const auto records = plat::ProfileReadRecords(log, section);
    for (const auto& [key, value] : *records) {
      common::LogRecord r;
      ASSERT_TRUE(common::ParseLogRecord(section, key, value, &r));
      if (keys.emplace(r.server, r.port, r.time, r.sequence).second) {
        expected.push_back(r.server + "|" + r.port + "|" + std::to_string(r.time) + "|" + r.user);
      }
    }
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(expected.size(), 139u);

  const ExportOutcome outcome = Export();
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.records, 139);
  std::vector<std::string> exported;
  for (const SqlRow& row : Select("SELECT server, port, event_time, account FROM pl_sessions")) {
    exported.push_back(Text(row[0]) + "|" + Text(row[1]) + "|" + Text(row[2]) + "|" + Text(row[3]));
  }
  std::sort(exported.begin(), exported.end());
  EXPECT_EQ(exported, expected);
}

TEST_F(DbExportTest, DaysAreExportedUntilTheyAreComplete) {
  Session(kAnn, kCom1, 60);  // 2024-Mar-12
  now = At(2024, 3, 13, 10);
  Session(kAnn, kCom1, 60);
  ASSERT_TRUE(Export().ok);
  EXPECT_EQ(Count("pl_sessions"), 4);

  // Two days on, both logs are taken once more and then marked complete.
  now = At(2024, 3, 14, 10);
  ExportOutcome out = Export();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.days, 2);
  EXPECT_EQ(Select("SELECT complete FROM pl_export_days ORDER BY log_day")[0][0], "1");
  now = At(2024, 3, 15, 10);
  out = Export();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.days, 1);  // only the 13th, not yet complete on the 14th
  EXPECT_EQ(Count("pl_sessions"), 4);
  EXPECT_EQ(Count("pl_export_days"), 2);
}

TEST_F(DbExportTest, ProfilesAreReplacedAsAWhole) {
  SetUser(kAnn, kTotalTime, "3600");
  SetUser(kAnn, kStaticIP, "-1062731519");
  SetUser("+DOM\\Staff", kMaxTotalTime, "7200");
  ASSERT_TRUE(Export().ok);
  ASSERT_TRUE(Export().ok);
  EXPECT_EQ(Count("pl_profiles"), 4);
  auto rows = Select(
      "SELECT is_group, total_time, static_ip, max_total_time FROM pl_profiles WHERE account = ?",
      {std::string(kAnn)});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Text(rows[0][0]), "0");
  EXPECT_EQ(Text(rows[0][1]), "3600");
  EXPECT_EQ(Text(rows[0][2]), "-1062731519");
  rows = Select("SELECT is_group, max_total_time FROM pl_profiles WHERE account = ?",
                {std::string("+DOM\\Staff")});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Text(rows[0][0]), "1");
  EXPECT_EQ(Text(rows[0][1]), "7200");

  // A data folder out of reach is a failure, not an empty folder: the tables stay.
  {
    const DataPaths reachable = ctx.paths;
    ctx.paths = MakeDataPaths("\\\\SRV2\\PL_NT_DB", plat::GetCurrentDirectory());
    const ExportOutcome out = Export();
    EXPECT_FALSE(out.ok);
    EXPECT_NE(out.error.find("cannot reach the data folder \\\\SRV2\\PL_NT_DB"), std::string::npos)
        << out.error;
    ctx.paths = reachable;
    EXPECT_EQ(Count("pl_profiles"), 4);
  }

  // A deleted profile leaves the table with the next export.
  ASSERT_EQ(plat::ProfileDeleteSection(ctx.paths.users, kQuoted), 0u);
  ctx.settings.exportHistory = 0;
  ASSERT_TRUE(Export().ok);
  EXPECT_EQ(Count("pl_profiles"), 3);
  EXPECT_TRUE(Select("SELECT account FROM pl_profiles WHERE account = ?", {kQuoted}).empty());
}

// A database the export filled before sessions at once and the last day were
// kept takes the new columns once and goes on: the sessions column holds each
// profile's own number, the last day an ISO date (NULL for none; a value that
// is no date as the file holds it).
TEST_F(DbExportTest, AnOlderProfilesTableGainsTheSessionsAndLastDayColumns) {
  {
    OdbcConnection db;
    ASSERT_TRUE(db.Connect("PortulonTest", "", "")) << db.error();
    ASSERT_TRUE(db.Execute("CREATE TABLE pl_profiles (account VARCHAR(255) NOT NULL PRIMARY KEY, "
                           "is_group INTEGER NOT NULL, max_session_time BIGINT, max_total_time BIGINT, "
                           "expiry_time BIGINT, period_type BIGINT, period_max BIGINT, period_usage BIGINT, "
                           "period_stamp BIGINT, no_duplicate BIGINT, static_ip BIGINT, total_connects BIGINT, "
                           "total_denieds BIGINT, total_time BIGINT, first_connection BIGINT, "
                           "last_connection BIGINT, lasted BIGINT, exported_at BIGINT NOT NULL)"))
        << db.error();
    ASSERT_TRUE(db.Commit()) << db.error();
  }
  SetUser(kAnn, kMaxSessions, "3");
  SetUser(kAnn, kExpiryDate, "2027-01-31");
  SetUser(kQuoted, kExpiryDate, "31/01/2027");
  SetUser("+DOM\\Staff", kNoDuplicate, "1");
  const ExportOutcome out = Export();
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_TRUE(Export().ok) << "the columns are there now: nothing to add twice";

  std::map<std::string, std::vector<std::string>> byAccount;
  for (const auto& r : Select("SELECT account, max_sessions, no_duplicate, expiry_date FROM pl_profiles")) {
    byAccount[Text(r[0])] = {Text(r[1]), Text(r[2]), Text(r[3])};
  }
  ASSERT_EQ(byAccount.size(), 4u) << "ann, the quoted user, the group and the fixture's own";
  EXPECT_EQ(byAccount[kAnn][0], "3");
  EXPECT_EQ(byAccount[kAnn][2], "2027-01-31");
  EXPECT_EQ(byAccount[kQuoted][2], "31/01/2027");
  EXPECT_EQ(byAccount["+DOM\\Staff"], (std::vector<std::string>{"0", "1", "<null>"}));
}

TEST_F(DbExportTest, AnUnreachableDatabaseIsReportedOnceAndRetriedAtTheNextHour) {
  Session(kAnn, kCom1, 60);
  for (const char* dsn : {"PortulonMissing", "PortulonNowhere"}) {
    ctx.settings.odbcDsn = dsn;
    const int before = EventsWithId(common::kEventExportFailed);
    const ExportOutcome out = Export();
    EXPECT_FALSE(out.ok) << dsn;
    EXPECT_NE(out.error.find("cannot connect to data source '" + std::string(dsn) + "'"),
              std::string::npos)
        << out.error;
    std::string event;
    EXPECT_EQ(EventsWithId(common::kEventExportFailed, &event), before + 1);
    EXPECT_NE(event.find("Database export failed|"), std::string::npos) << event;
  }

  // The scheduler: one try in the 10 o'clock slot, the next try the next day at 10.
  ctx.settings.exportHours = 1u << 10;
  ctx.settings.odbcDsn = "PortulonMissing";
  ScheduleState state;
  const int before = EventsWithId(common::kEventExportFailed);
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 10, 5));
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 10, 6));
  EXPECT_EQ(EventsWithId(common::kEventExportFailed), before + 1);
  ctx.settings.odbcDsn = "PortulonTest";
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 11, 0));
  EXPECT_FALSE(std::filesystem::exists(testing::OdbcTestConfig::Get().database()));
  now = At(2024, 3, 13, 10);
  RunScheduledJobs(ctx, state, now);
  EXPECT_EQ(Count("pl_sessions"), 2);
  EXPECT_EQ(EventsWithId(common::kEventExportFailed), before + 1);
}

TEST_F(DbExportTest, PostgreSqlTakesTheSameExportAndRefusesABadLogin) {
  testing::PrivatePostgres pg;
  if (!pg.running()) GTEST_SKIP() << pg.reason();
  Session(kAnn, kCom1, 600);
  Session(kQuoted, "SRV1\\COM2", 61);
  Log_DeniedConnection(ctx, kInjection, now, kCom1, 1);
  ctx.settings.odbcDsn = "PortulonPg";
  ctx.settings.odbcAccount = "portulon";
  ctx.settings.odbcPassword = "wrong";
  const int before = EventsWithId(common::kEventExportFailed);
  ExportOutcome out = Export();
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("password authentication failed"), std::string::npos) << out.error;
  EXPECT_EQ(EventsWithId(common::kEventExportFailed), before + 1);

  ctx.settings.odbcPassword = "secret";
  out = Export();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.records, 5);
  ASSERT_TRUE(Export().ok);
  OdbcConnection db;
  ASSERT_TRUE(db.Connect("PortulonPg", "portulon", "secret")) << db.error();
  std::vector<SqlRow> rows;
  ASSERT_TRUE(db.Query("SELECT account, kind, duration FROM pl_sessions WHERE port = ? "
                       "ORDER BY event_time",
                       {std::string("COM2")}, &rows))
      << db.error();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Text(rows[0][0]), kQuoted);
  EXPECT_EQ(Text(rows[1][1]), "H");
  EXPECT_EQ(Text(rows[1][2]), "61");
  rows.clear();
  ASSERT_TRUE(db.Query("SELECT COUNT(*) FROM pl_profiles WHERE account = ?",
                       {std::string("DOM\\J\xC3\xB6rg")}, &rows));
  EXPECT_EQ(Text(rows[0][0]), "1");
  rows.clear();
  ASSERT_TRUE(db.Query("SELECT COUNT(*) FROM pl_sessions", {}, &rows)) << db.error();
  EXPECT_EQ(Text(rows[0][0]), "5");
  rows.clear();
  ASSERT_TRUE(db.Query("SELECT COUNT(*) FROM pl_profiles", {}, &rows)) << db.error();
  EXPECT_EQ(Text(rows[0][0]), "3");  // ann, o'brien, Jörg
}

TEST(ExportScheduleTest, HoursAndDaysOrDates) {
  ServiceSettings s;
  s.odbcDsn = "x";
  s.exportHistory = 1;
  s.exportHours = (1u << 2) | (1u << 23);
  std::tm tuesday12 = plat::CalendarTime(2024, 3, 12, 2, 30);
  std::tm tuesday12at3 = plat::CalendarTime(2024, 3, 12, 3);
  std::tm at23 = plat::CalendarTime(2024, 3, 12, 23, 59);
  EXPECT_TRUE(ExportDue(s, tuesday12));  // no day or date: every day
  EXPECT_TRUE(ExportDue(s, at23));
  EXPECT_FALSE(ExportDue(s, tuesday12at3));
  s.exportDays = 1u << 2;  // Tuesday
  EXPECT_TRUE(ExportDue(s, tuesday12));
  s.exportDays = (1u << 0) | (1u << 3);  // Sunday, Wednesday
  EXPECT_FALSE(ExportDue(s, tuesday12));
  s.exportDates = 1u << 11;  // the 12th
  EXPECT_TRUE(ExportDue(s, tuesday12));
  EXPECT_FALSE(ExportDue(s, plat::CalendarTime(2024, 3, 11, 2)));  // a Monday, the 11th
  EXPECT_TRUE(ExportDue(s, plat::CalendarTime(2024, 3, 31, 2)));   // a Sunday
  s.exportDates = 1u << 30;
  EXPECT_TRUE(ExportDue(s, plat::CalendarTime(2024, 1, 31, 2)));

  s.exportHistory = 0;  // nothing to export
  EXPECT_FALSE(ExportDue(s, plat::CalendarTime(2024, 1, 31, 2)));
  s.exportUsers = 1;
  s.odbcDsn.clear();
  EXPECT_FALSE(ExportDue(s, plat::CalendarTime(2024, 1, 31, 2)));
}

}  // namespace
}  // namespace svc
