// The near-live export: which records a pass takes from a growing day log,
// and that every record reaches the database once, whatever the full export
// and outages of the database do in between.
#include "service/reporting/live_export.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log_record.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "service/reporting/log_follower.h"
#include "service/reporting/tests/db_export_fixture.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/session_log.h"

namespace svc {
namespace {

using testing::At;
using testing::EventsWithId;
using testing::kAnn;
using testing::kCom1;
using testing::Text;

// "SERVER\port@time.seq:kind" of each record, to compare in one line.
std::string Keys(const std::vector<common::LogRecord>& records) {
  std::string out;
  for (const auto& r : records) {
    out += r.server + "\\" + r.port + "@" + std::to_string(r.time) + "." + std::to_string(r.sequence) +
           ":" + std::to_string(r.kind) + " ";
  }
  return out;
}

TEST(LogFollowerTest, TakesWholeNewLinesOnlyUnderTheSectionsFirstSpelling) {
  std::string log = "[SRV1\\COM1]\r\n100=C_DOM\\ann\r\n";
  LogPosition at, next;
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next)), "SRV1\\COM1@100.0:1 ");
  at = next;
  // Another port's part, then the first port's again (spelled otherwise by
  // another writer), and a line still being written.
  log += "[SRV1\\COM2]\r\n101=N_DOM\\bob?1\r\n;note\r\n*102=C_x\r\n[srv1\\com1]\r\n160.1=H60_DOM\\ann?0?0:::-1:-1\r\n170=N_DO";
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next)), "SRV1\\COM2@101.0:2 SRV1\\COM1@160.1:0 ");
  at = next;
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next)), "");
  log += "M\\cy?4\r\n";
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next)), "SRV1\\COM1@170.0:2 ");
}

TEST(LogFollowerTest, FindsItsPlaceAgainAfterARewriteAndRereadsAReplacedLog) {
  const std::string head = "[SRV1\\COM1]\n100=C_DOM\\ann\n[SRV1\\COM2]\n110=C_DOM\\bob\n";
  LogPosition at, next;
  ReadNewRecords(head, at, &next);
  at = next;
  // The call-back rewrite lengthens a line before the position.
  std::string log = "[SRV1\\COM1]\n100=C_DOM\\ann*5551234\n[SRV1\\COM2]\n110=C_DOM\\bob\n"
                    "120=H10_DOM\\bob?0?0:::-1:-1\n";
  bool reread = true;
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next, &reread)), "SRV1\\COM2@120.0:0 ");
  EXPECT_FALSE(reread);
  at = next;
  log += "130=N_DOM\\cy?1\n";
  EXPECT_EQ(Keys(ReadNewRecords(log, at, &next)), "SRV1\\COM2@130.0:2 ");
  at = next;

  // Replaced by a shorter log: read from its start.
  EXPECT_EQ(Keys(ReadNewRecords("[SRV2\\VPN1]\n5=C_DOM\\x\n", at, &next, &reread)), "SRV2\\VPN1@5.0:1 ");
  EXPECT_TRUE(reread);
}

class LiveExportTest : public testing::DbExportTest {
 protected:
  LiveExportOutcome Pass() { return live.Pass(ctx, now); }
  long Rows(const std::string& where) {
    const auto rows = Select("SELECT COUNT(*) FROM pl_sessions WHERE " + where);
    return rows.empty() || !rows[0][0] ? -1 : std::stol(*rows[0][0]);
  }
  LiveExport live;
};

TEST_F(LiveExportTest, EachRecordIsOneRowWhateverTheFullExportDoes) {
  Session(kAnn, kCom1, 600);
  Log_DeniedConnection(ctx, testing::kQuoted, now, kCom1, 1);  // the hang-up's second: key .1
  LiveExportOutcome out = Pass();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.records, 3);
  EXPECT_EQ(Count("pl_sessions"), 3);
  auto rows = Select("SELECT kind, account, duration, reason FROM pl_sessions ORDER BY event_time, kind");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(Text(rows[1][0]) + Text(rows[1][1]) + Text(rows[1][2]), "HDOM\\ann600");
  EXPECT_EQ(Text(rows[2][0]) + Text(rows[2][1]) + Text(rows[2][3]), "N" + testing::kQuoted + "1");
  const auto live3 = Select("SELECT * FROM pl_sessions ORDER BY event_time, kind");

  EXPECT_EQ(Pass().records, 0);
  ASSERT_TRUE(Export().ok);  // the full export writes the same rows
  EXPECT_EQ(Select("SELECT * FROM pl_sessions ORDER BY event_time, kind"), live3);

  now += 30;
  Session(kAnn, kCom1, 60);
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  out = Pass();
  EXPECT_EQ(out.records, 3);
  EXPECT_EQ(Count("pl_sessions"), 6);
  EXPECT_EQ(Rows("seq = 1"), 2);
  ASSERT_TRUE(Export().ok);
  EXPECT_EQ(Count("pl_sessions"), 6);

  // Switched off, it reads nothing; switched on again, it starts afresh and
  // still adds no row.
  ctx.settings.exportLive = 0;
  now += 30;
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 1);
  EXPECT_FALSE(Pass().ran);
  EXPECT_EQ(Count("pl_sessions"), 6);
  ctx.settings.exportLive = 1;
  EXPECT_EQ(Pass().records, 7);
  EXPECT_EQ(Count("pl_sessions"), 7);

  // More than one statement's worth of rows in a pass.
  for (int i = 0; i < 120; ++i) Log_DeniedConnection(ctx, kAnn, ++now, kCom1, 1);
  EXPECT_EQ(Pass().records, 120);
  EXPECT_EQ(Count("pl_sessions"), 127);
  ctx.settings.exportLive = 0;
  EXPECT_FALSE(Pass().ran);
  ctx.settings.exportLive = 1;
  EXPECT_EQ(Pass().records, 127);
  EXPECT_EQ(Count("pl_sessions"), 127);
}

TEST_F(LiveExportTest, YesterdaysLastRecordsFollowAfterMidnight) {
  now = At(2024, 3, 12, 23, 59, 40);
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 1);
  ASSERT_EQ(Pass().records, 1);
  now += 10;
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 1);
  now += 20;  // 00:00:10 the next day
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 1);
  EXPECT_EQ(Pass().records, 2);
  EXPECT_EQ(Rows("log_day = '2024-Mar-12'"), 2);
  EXPECT_EQ(Rows("log_day = '2024-Mar-13'"), 1);
}

TEST_F(LiveExportTest, AnOutageIsReportedOnceAndEveryRecordArrivesOnceAfterIt) {
  Session(kAnn, kCom1, 600);
  ASSERT_TRUE(Pass().ok);
  const int failedBefore = EventsWithId(common::kEventExportFailed);
  const int againBefore = EventsWithId(common::kEventExportAgain);

  ctx.settings.odbcDsn = "PortulonNowhere";
  for (int i = 0; i < 3; ++i) {
    now += 15;
    Log_DeniedConnection(ctx, kAnn, now, kCom1, 3);
    const LiveExportOutcome out = Pass();
    EXPECT_FALSE(out.ok);
    EXPECT_FALSE(out.error.empty());
  }
  std::string text;
  EXPECT_EQ(EventsWithId(common::kEventExportFailed, &text), failedBefore + 1);
  EXPECT_NE(text.find("Near-live export failed"), std::string::npos) << text;
  EXPECT_EQ(EventsWithId(common::kEventExportAgain), againBefore);

  ctx.settings.odbcDsn = "PortulonTest";
  now += 15;
  const LiveExportOutcome out = Pass();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.records, 3);
  EXPECT_EQ(Count("pl_sessions"), 5);
  EXPECT_EQ(Rows("kind = 'N'"), 3);
  EXPECT_EQ(EventsWithId(common::kEventExportAgain, &text), againBefore + 1);
  EXPECT_EQ(text, "Database export works again|3|");
  EXPECT_EQ(EventsWithId(common::kEventExportFailed), failedBefore + 1);
  ASSERT_TRUE(Pass().ok);
  EXPECT_EQ(EventsWithId(common::kEventExportAgain), againBefore + 1);
}

}  // namespace
}  // namespace svc
