// The reporting jobs' faults: the database down across an archiving, and
// the data folder gone while the mail server holds its answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "service/event_report.h"
#include "service/reporting/scheduled_jobs.h"
#include "service/reporting/export_schedule.h"
#include "service/reporting/status_mail.h"
#include "service/reporting/tests/db_export_fixture.h"
#include "service/reporting/tests/status_mail_fixture.h"
#include "service/reporting/unrecorded_mail.h"

namespace svc {
namespace {

using testing::At;
using testing::DbExportTest;
using testing::EventsWithId;
using testing::kAnn;
using testing::kCom1;
using testing::kLatin1;
using testing::LocalMailServer;
using testing::StatusMailTest;
using testing::Text;

// The database down for a week while archiving moves the days out of
// LogData: once it is back, every day reaches it.
TEST_F(DbExportTest, DaysArchivedWhileTheDatabaseWasDownReachItOnceItIsBack) {
  SetHw(kGeneralSection, "AutoArchiveAge", "2");
  const std::string database = testing::OdbcTestConfig::Get().database();
  std::filesystem::create_directory(database);  // no database can be opened there
  ScheduleState state;
  const int before = EventsWithId(common::kEventExportFailed);
  for (int day = 1; day <= 8; ++day) {
    now = At(2024, 3, day, 9);
    if (day <= 5) Session(kAnn, kCom1, 60);
    RunScheduledJobs(ctx, state, At(2024, 3, day, 10, 5));
  }
  EXPECT_EQ(EventsWithId(common::kEventExportFailed), before + 8);
  for (int day = 1; day <= 5; ++day) {
    const std::string name = "2024-Mar-0" + std::to_string(day) + ".log";
    EXPECT_TRUE(plat::FileExists("C:\\PLData\\OldData\\" + name)) << name;
    EXPECT_FALSE(plat::FileExists("C:\\PLData\\LogData\\" + name)) << name;
  }

  std::filesystem::remove(database);
  RunScheduledJobs(ctx, state, At(2024, 3, 9, 10, 5));
  const auto days = Select("SELECT log_day, COUNT(*) FROM pl_sessions GROUP BY log_day ORDER BY log_day");
  ASSERT_EQ(days.size(), 5u);
  for (int day = 1; day <= 5; ++day) {
    EXPECT_EQ(Text(days[day - 1][0]), "2024-Mar-0" + std::to_string(day));
    EXPECT_EQ(Text(days[day - 1][1]), "2");
  }
  // Complete now, they are not read again.
  now = At(2024, 3, 10, 10);
  const ExportOutcome out = Export();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.days, 0);
}

// The data folder goes while the server holds its answer to the mail: the
// mail is accepted, and neither the counter reset nor LastSent can be written.
TEST_F(StatusMailTest, AnAcceptedMailThatCannotBeRecordedIsReportedAndNotSentOrCountedTwice) {
  LocalMailServer server("hold");
  UseServer(server.address());
  Admit(kAnn, 3);
  const int before = EventsWithId(common::kEventStatusMailUnrecorded);
  StatusMailOutcome out;
  std::thread sender([&] { out = SendStatusMail(ctx, now); });
  const bool arrived = server.WaitForMessage(1);
  const DWORD moved = plat::MoveFileEx("C:\\PLData", "C:\\PLData.away", 0);
  server.Release(1);
  sender.join();
  ASSERT_TRUE(arrived);
  ASSERT_EQ(moved, 0u);
  EXPECT_TRUE(out.sent) << out.error;
  std::string event;
  EXPECT_EQ(EventsWithId(common::kEventStatusMailUnrecorded, &event), before + 1);
  EXPECT_NE(event.find("svc_status.dat could not be reset"), std::string::npos) << event;
  EXPECT_NE(event.find("DailyStatusEmailLastSent could not be written"), std::string::npos) << event;

  // The folder back, the service restarted later that day: no second mail.
  ASSERT_EQ(plat::MoveFileEx("C:\\PLData.away", "C:\\PLData", 0), 0u);
  ScheduleState again;
  RunScheduledJobs(ctx, again, now + 3600);
  EXPECT_EQ(server.Received(), 1);
  // Back, the folder took what the mail owed it.
  EXPECT_EQ(Counter("General", "Sessions"), "0");
  EXPECT_EQ(Counter("Users", kAnn), "<none>");
  EXPECT_EQ(Hw(kGeneralSection, "DailyStatusEmailLastSent"), Key(now));
  EXPECT_TRUE(ReadUnrecordedMail().Empty());

  // The next day's mail holds only what came after.
  Admit(kLatin1, 1);
  server.Release(2);
  RunScheduledJobs(ctx, again, At(2024, 3, 13, 7, 5));
  ASSERT_EQ(server.Received(), 2);
  EXPECT_NE(server.Part(2, "txt").find("Sessions admitted                     1\n"), std::string::npos)
      << server.Part(2, "txt");
}

}  // namespace
}  // namespace svc
