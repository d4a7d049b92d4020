#include "service/reporting/status_mail.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "platform/file.h"
#include "service/event_report.h"
#include "service/reporting/scheduled_jobs.h"
#include "service/profile_store.h"
#include "service/reporting/export_schedule.h"
#include "service/reporting/tests/reporting_fixture.h"
#include "service/reporting/tests/status_mail_fixture.h"
#include "service/session_log.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::At;
using testing::EventsWithId;
using testing::kAnn;
using testing::kCom1;
using testing::LocalMailServer;
using testing::StatusMailTest;

const std::string kLatin1 = "DOM\\J\xF6rg";
const std::string kQuoted = "DOM\\o'brien, \"jr\"";

TEST_F(StatusMailTest, TheDaysFiguresReachTheServerThenTheCountersReset) {
  LocalMailServer server("accept");
  UseServer(server.address());
  Admit(kAnn, 3);
  Admit(kLatin1, 2);
  Admit(kQuoted, 1);
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  Log_DeniedConnection(ctx, "DOM\\nobody", now, kCom1, 1);
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.statusCounters, "General", "Disconnect", "1"), 0u);

  const StatusMailOutcome out = SendStatusMail(ctx, now);
  ASSERT_TRUE(out.sent) << out.error;
  ASSERT_EQ(server.Received(), 1);
  const auto envelope = server.Envelope(1);
  EXPECT_EQ(envelope.at("subject"), "Portulon daily status of SRV1 for 2024-Mar-12");
  EXPECT_EQ(envelope.at("to"), "ops@example.org,boss@example.org");
  const std::string text = server.Part(1, "txt");
  EXPECT_NE(text.find("  Sessions admitted                     6\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Connection attempts refused           2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Forced disconnections                 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Accounts that connected               3\n"), std::string::npos) << text;
  // Busiest first; the names arrive byte for byte.
  const size_t ann = text.find("         3  DOM\\ann\n");
  const size_t jorg = text.find("         2  " + kLatin1 + "\n");
  const size_t quoted = text.find("         1  " + kQuoted + "\n");
  ASSERT_NE(ann, std::string::npos) << text;
  ASSERT_NE(jorg, std::string::npos) << text;
  ASSERT_NE(quoted, std::string::npos) << text;
  EXPECT_LT(ann, jorg);
  EXPECT_LT(jorg, quoted);

  EXPECT_EQ(Counter("General", "Sessions"), "0");
  EXPECT_EQ(Counter("General", "Denied"), "0");
  EXPECT_EQ(Counter("General", "Disconnect"), "0");
  EXPECT_EQ(plat::ProfileListKeys(ctx.paths.statusCounters, "Users")->size(), 0u);
  EXPECT_EQ(Hw(kGeneralSection, "DailyStatusEmailLastSent"), Key(now));
}

TEST_F(StatusMailTest, CountsMadeWhileTheMailWasUnderwayStay) {
  Admit(kAnn, 2);
  const StatusCounters reported = ReadStatusCounters(ctx);
  Admit(kAnn, 1);
  Admit(kLatin1, 1);
  ASSERT_EQ(SubtractStatusCounters(ctx, reported), 0u);
  EXPECT_EQ(Counter("General", "Sessions"), "2");
  EXPECT_EQ(Counter("Users", kAnn), "1");
  EXPECT_EQ(Counter("Users", kLatin1), "1");
}

TEST_F(StatusMailTest, AFailedTransferKeepsTheCountersAndIsReportedOnce) {
  Admit(kAnn, 2);
  struct Case {
    const char* mode;  // nullptr: nothing listens
    const char* error;
  };
  for (const Case& c : {Case{"reject-rcpt", "RCPT TO:<ops@example.org> refused: 550"},
                        Case{"tempfail", "refused: 451"},
                        Case{"drop", "the server closed the connection"},
                        Case{nullptr, "cannot connect to 127.0.0.1:"}}) {
    SCOPED_TRACE(c.mode ? c.mode : "unreachable");
    std::unique_ptr<LocalMailServer> server;
    if (c.mode) {
      server = std::make_unique<LocalMailServer>(c.mode);
      UseServer(server->address());
    } else {
      UseServer("127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()));
    }
    const int before = EventsWithId(common::kEventStatusMailFailed);
    const StatusMailOutcome out = SendStatusMail(ctx, now);
    EXPECT_FALSE(out.sent);
    EXPECT_NE(out.error.find(c.error), std::string::npos) << out.error;
    std::string event;
    EXPECT_EQ(EventsWithId(common::kEventStatusMailFailed, &event), before + 1);
    EXPECT_NE(event.find("Daily status mail failed|mail server 127.0.0.1:"), std::string::npos) << event;
    EXPECT_EQ(Counter("General", "Sessions"), "2");
    EXPECT_EQ(Counter("Users", kAnn), "2");
    EXPECT_EQ(Hw(kGeneralSection, "DailyStatusEmailLastSent"), "<none>");
  }
  // So is a data folder out of reach (its counters would read as zeros).
  {
    const DataPaths reachable = ctx.paths;
    ctx.paths = MakeDataPaths("\\\\SRV2\\PL_NT_DB", plat::GetCurrentDirectory());
    ctx.paths.systemData = reachable.systemData;
    EXPECT_NE(SendStatusMail(ctx, now).error.find("cannot reach the data folder"), std::string::npos);
    ctx.paths = reachable;
  }
  // Settings that cannot work are reported the same way.
  SetHw(kGeneralSection, "DailyStatusEmailTo", "*");
  EXPECT_NE(SendStatusMail(ctx, now).error.find("DailyStatusEmailTo"), std::string::npos);
  SetHw(kGeneralSection, "DailyStatusEmailType", "0");
  EXPECT_TRUE(SendStatusMail(ctx, now).off);
}

TEST_F(StatusMailTest, TheScheduleSendsOnceADayAndRetriesTheNextDay) {
  Admit(kAnn, 2);
  UseServer("127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()));
  ScheduleState state;
  const int before = EventsWithId(common::kEventStatusMailFailed);
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 6, 59));  // before the hour
  EXPECT_EQ(EventsWithId(common::kEventStatusMailFailed), before);
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 7, 0));
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 7, 1));
  RunScheduledJobs(ctx, state, At(2024, 3, 12, 18, 0));
  EXPECT_EQ(EventsWithId(common::kEventStatusMailFailed), before + 1);

  LocalMailServer server("accept");
  UseServer(server.address());
  Admit(kAnn, 1);
  RunScheduledJobs(ctx, state, At(2024, 3, 13, 8, 0));  // the service was down at 7
  ASSERT_EQ(server.Received(), 1);
  EXPECT_NE(server.Part(1, "txt").find("Sessions admitted                     3"), std::string::npos);
  EXPECT_EQ(server.Envelope(1).at("subject"), "Portulon daily status of SRV1 for 2024-Mar-13");
  // Sent today: a restarted scheduler does not send again.
  ScheduleState restarted;
  RunScheduledJobs(ctx, restarted, At(2024, 3, 13, 9, 0));
  EXPECT_EQ(server.Received(), 1);
}


}  // namespace
}  // namespace svc
