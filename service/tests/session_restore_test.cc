// Sessions found running at start-up come back with the deadline their
// admission gave them, and count for the duplicate check, without a record,
// a counter or a profile write of their own.
#include "service/session_restore.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "service/admission.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/session_log.h"
#include "service/settings.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::kAnn;
using testing::kCom1;

class SessionRestoreTest : public testing::PolicyTest {
 protected:
  PortEntry EntryOf(const std::string& port) {
    auto lock = ctx.portTable.Lock();
    return ctx.portTable.Entry(ctx.portTable.Find(port));
  }
  // What a restart does before it looks at the ports.
  void Restart() {
    ctx.portTable.ClearAll();
    ClearTEMPFile(ctx.paths, ctx.serverName);
  }
  std::string DayLog() { return GetLogFileName(ctx, now); }
  static std::string FileText(const std::string& windowsPath) {
    std::string text;
    plat::ReadWholeFile(windowsPath, &text);
    return text;
  }
};

TEST_F(SessionRestoreTest, AResumedSessionHasItsAdmissionsDeadlineAndBlocksADuplicate) {
  // Every kind of limit at once, the smallest (what is left of the period) wins.
  SetUser(kAnn, kNoDuplicate, "1");
  SetUser(kAnn, kMaxTotalTime, "5000");
  SetUser(kAnn, kTotalTime, "4000");
  SetUser(kAnn, kPeriodType, "1");
  SetUser(kAnn, kPeriodMax, "900");
  SetUser(kAnn, kPeriodUsage, "200");
  SetUser(kAnn, kPeriodStamp, Key(now - 60));
  SetUser("+DOM\\Dialers", kMaxSessionTime, "3000");
  SetHw(kCom1, kMaxSessionTime, "3600");
  const std::time_t start = now;
  ASSERT_EQ(IsThisUserOK(ctx, "ANNPC", kAnn, kCom1, start), kAdmitted);
  const PortEntry admitted = EntryOf(kCom1);
  ASSERT_EQ(admitted.deadline, start + 700);

  now += 120;
  Restart();
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "<none>");
  const std::string usersBefore = FileText(ctx.paths.users);
  const std::string logBefore = FileText(DayLog());
  ASSERT_EQ(ResumeRunningSessions(ctx, {RunningSession{"COM1", kAnn, "ANNPC", start}}), 1);

  const PortEntry resumed = EntryOf(kCom1);
  EXPECT_EQ(resumed.user, kAnn);
  EXPECT_EQ(resumed.start, start);
  EXPECT_EQ(resumed.deadline, admitted.deadline);
  EXPECT_EQ(resumed.reason, admitted.reason);
  EXPECT_EQ(resumed.netbios, "ANNPC");
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "1");
  EXPECT_EQ(FileText(ctx.paths.users), usersBefore) << "no counter, no period written";
  EXPECT_EQ(FileText(DayLog()), logBefore) << "no second connection record";

  EXPECT_EQ(IsThisUserOK(ctx, "ANNPC", kAnn, "SRV1\\COM2", now), kRefuseDuplicate);
}

TEST_F(SessionRestoreTest, NoTestRefusesARunningSessionButLimitsStillCut) {
  // Over the total meanwhile (another server charged it): the deadline lies
  // in the past, so the next supervision pass cuts the session.
  SetUser(kAnn, kMaxTotalTime, "1000");
  SetUser(kAnn, kTotalTime, "1500");
  // Admitted unchecked while the service was away: no profile, the port's limit only.
  SetHw("SRV1\\COM2", kMaxSessionTime, "600");
  // Names no admission would have taken.
  const std::vector<RunningSession> running{
      {"COM1", kAnn, "*", now - 30},
      {"COM2", "DOM\\bob", "BOBPC", now - 10},
      {"COM[3]", "DOM\\cy", "*", now},
      {"COM4", "DOM\\c]y", "*", now},
  };
  EXPECT_EQ(ResumeRunningSessions(ctx, running), 2);
  const PortEntry ann = EntryOf(kCom1);
  EXPECT_EQ(ann.deadline, now - 30 - 500);
  EXPECT_EQ(ann.reason, kReasonUserMaxTotal);
  const PortEntry bob = EntryOf("SRV1\\COM2");
  EXPECT_EQ(bob.deadline, now - 10 + 600);
  EXPECT_FALSE(HasProfile(ctx, "DOM\\bob")) << "resuming writes no default profile";
  EXPECT_EQ(EntryOf("SRV1\\COM4").start, 0);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", "DOM\\c]y"), "<none>");
}

}  // namespace
}  // namespace svc
