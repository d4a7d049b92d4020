#include "service/admission.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/messenger.h"
#include "platform/process.h"
#include "service/greeting.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/session_log.h"
#include "service/system_data.h"
#include "platform/testing/host_tools.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::At;
using testing::kAnn;
using testing::kCom1;

class AdmissionTest : public testing::PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    // ann: an ordinary profile with no limits.
    SetUser(kAnn, kMaxSessionTime, "0");
    SetUser(kAnn, kNoDuplicate, "0");
  }

  int Check(const std::string& user = kAnn, const std::string& port = kCom1) {
    return IsThisUserOK(ctx, "ANNPC", user, port, now);
  }
  PortEntry EntryOf(const std::string& port) {
    auto lock = ctx.portTable.Lock();
    return ctx.portTable.Entry(ctx.portTable.Find(port));
  }
};

TEST_F(AdmissionTest, AdmitsAndStartsTheSession) {
  SetHw(kCom1, kMaxSessionTime, "3600");
  ASSERT_EQ(Check(), kAdmitted);
  const PortEntry e = EntryOf(kCom1);
  EXPECT_EQ(e.user, kAnn);
  EXPECT_EQ(e.netbios, "ANNPC");
  EXPECT_EQ(e.deadline, now + 3600);
  EXPECT_EQ(e.reason, kReasonPortMaxSession);
  EXPECT_EQ(User(kAnn, kTotalConnects), "1");
  EXPECT_EQ(Record(GetLogFileName(ctx, now), kCom1, Key(now)), "C_DOM\\ann");
}

TEST_F(AdmissionTest, UnknownUserWithoutDefaultIsRefusedWithOne) {
  EXPECT_EQ(Check("DOM\\bob"), kRefuseNoProfile);
  EXPECT_FALSE(HasProfile(ctx, "DOM\\bob"));
  EXPECT_EQ(EntryOf(kCom1).start, 0);
}

TEST_F(AdmissionTest, DefaultProfileIsWrittenAndAppliedInTheSameCall) {
  ctx.systemData.defaults.assignDefault = 1;
  ctx.systemData.defaults.maxSessionTime = 1200;
  ctx.systemData.defaults.noDuplicate = 7;
  ASSERT_EQ(Check("DOM\\bob"), kAdmitted);
  EXPECT_EQ(User("DOM\\bob", kMaxSessionTime), "1200");
  EXPECT_EQ(User("DOM\\bob", kNoDuplicate), "1");
  EXPECT_EQ(User("DOM\\bob", kPeriodType), "0");
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 1200);

  // Applied at once: NoDuplicate from the default refuses a second login.
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV1", "DOM\\cy", "1"), 0u);
  EXPECT_EQ(Check("DOM\\cy"), kRefuseDuplicate);
  EXPECT_EQ(User("DOM\\cy", kNoDuplicate), "1");
}

TEST_F(AdmissionTest, ExpiryCountsFromTheFirstConnection) {
  SetUser(kAnn, kExpiryTime, "30");
  ASSERT_EQ(Check(), kAdmitted);  // never connected: does not expire
  EXPECT_EQ(User(kAnn, kFirstConnection), Key(now));

  SetUser(kAnn, kFirstConnection, Key(now - 30 * 86400));
  EXPECT_EQ(Check(), kAdmitted);  // exactly 30 days
  SetUser(kAnn, kFirstConnection, Key(now - 30 * 86400 - 1));
  EXPECT_EQ(Check(), kRefuseExpired);
  // A huge ExpiryTime must not wrap into an expiry.
  SetUser(kAnn, kExpiryTime, "99999999999");
  EXPECT_EQ(Check(), kAdmitted);
}

// ExpiryDate: usable through its whole day, refused from the midnight that
// ends it; a session admitted on the day is cut at that midnight unless a
// shorter limit comes first.
TEST_F(AdmissionTest, ExpiryDateAdmitsThroughItsDayAndCutsTheSessionAtMidnight) {
  SetUser(kAnn, kExpiryDate, "2024-03-12");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, At(2024, 3, 13));
  EXPECT_EQ(EntryOf(kCom1).reason, kReasonAccountExpired);

  SetUser(kAnn, kMaxSessionTime, "3600");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 3600);
  EXPECT_EQ(EntryOf(kCom1).reason, kReasonUserMaxSession);

  now = At(2024, 3, 12, 23, 59, 59);
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 1);
  now = At(2024, 3, 13);
  EXPECT_EQ(Check(), kRefuseExpired);
  EXPECT_EQ(Record(GetLogFileName(ctx, now), kCom1, Key(now)), "N_DOM\\ann?2");
}

TEST_F(AdmissionTest, WithBothExpiriesTheEarlierWins) {
  const UserProfile none;
  EXPECT_FALSE(AccountExpiryOf(none).refusedFrom);
  UserProfile p;
  p.expiryTime = 30;
  p.firstConnection = static_cast<DWORD>(At(2024, 3, 1, 12));
  EXPECT_EQ(AccountExpiryOf(p).refusedFrom, At(2024, 3, 31, 12) + 1);
  EXPECT_FALSE(AccountExpiryOf(p).dateCut);
  p.expiryDate = "2024-03-20";
  EXPECT_EQ(AccountExpiryOf(p).refusedFrom, At(2024, 3, 21));
  EXPECT_EQ(AccountExpiryOf(p).dateCut, At(2024, 3, 21));
  p.expiryDate = "2024-12-31";
  EXPECT_EQ(AccountExpiryOf(p).refusedFrom, At(2024, 3, 31, 12) + 1);
  EXPECT_EQ(AccountExpiryOf(p).dateCut, At(2025, 1, 1)) << "the date still cuts a session running past it";
  // Never connected: only the date counts.
  p.firstConnection = 0;
  EXPECT_EQ(AccountExpiryOf(p).refusedFrom, At(2025, 1, 1));

  // Through the whole check, both ways round.
  SetUser(kAnn, kExpiryTime, "30");
  SetUser(kAnn, kFirstConnection, Key(now - 31 * 86400));
  SetUser(kAnn, kExpiryDate, "2024-12-31");
  EXPECT_EQ(Check(), kRefuseExpired);
  SetUser(kAnn, kFirstConnection, Key(now));
  SetUser(kAnn, kExpiryDate, "2024-03-11");
  EXPECT_EQ(Check(), kRefuseExpired);
  SetUser(kAnn, kExpiryDate, "0");
  EXPECT_EQ(Check(), kAdmitted) << "0, as for every other limit, is no date";
}

// A date nobody can read refuses as expired (the safe side) and says why in the trace.
TEST_F(AdmissionTest, AMalformedExpiryDateCountsAsExpired) {
  for (const char* bad : {"31/12/2024", "2024-02-30", "tomorrow"}) {
    SetUser(kAnn, kExpiryDate, bad);
    EXPECT_EQ(Check(), kRefuseExpired) << bad;
  }
  UserProfile p;
  p.expiryDate = "2024-13-01";
  EXPECT_TRUE(AccountExpiryOf(p).malformedDate);
  EXPECT_EQ(AccountExpiryOf(p).refusedFrom, 0);
}

TEST_F(AdmissionTest, ASessionResumedAfterARestartKeepsItsMidnight) {
  SetUser(kAnn, kExpiryDate, "2024-03-12");
  ASSERT_TRUE(ResumeSession(ctx, "ANNPC", AccountName(kAnn), kCom1, now - 600));
  EXPECT_EQ(EntryOf(kCom1).deadline, At(2024, 3, 13));
  EXPECT_EQ(EntryOf(kCom1).reason, kReasonAccountExpired);
}

TEST_F(AdmissionTest, TotalTimeEqualToTheMaximumAdmitsOneSecondMoreRefuses) {
  SetUser(kAnn, kMaxTotalTime, "3600");
  SetUser(kAnn, kTotalTime, "3600");
  ASSERT_EQ(Check(), kAdmitted);
  // Nothing left: the session is cut at the next supervision pass.
  EXPECT_EQ(EntryOf(kCom1).deadline, now);
  EXPECT_EQ(EntryOf(kCom1).reason, kReasonUserMaxTotal);
  SetUser(kAnn, kTotalTime, "3601");
  EXPECT_EQ(Check(), kRefuseTotalTime);
}

TEST_F(AdmissionTest, GroupLimitsApplyWhenTheUsersOwnAreZero) {
  SetUser("+DOM\\Dialers", kMaxTotalTime, "1000");
  SetUser("+DOM\\Dialers", kMaxSessionTime, "700");
  SetUser(kAnn, kTotalTime, "1001");
  EXPECT_EQ(Check(), kRefuseTotalTime);
  SetUser(kAnn, kMaxTotalTime, "5000");  // the user's own value wins
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 700);
}

TEST_F(AdmissionTest, NoDuplicateFindsTheAccountInAnyServersSection) {
  SetUser(kAnn, kNoDuplicate, "1");
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", "dom\\ANN", "1"), 0u);
  plat::TakeBeeps();
  EXPECT_EQ(Check(), kRefuseDuplicate);
  const auto beeps = plat::TakeBeeps();
  ASSERT_EQ(beeps.size(), 1u);
  EXPECT_EQ(beeps[0].frequency, 200u);
  EXPECT_EQ(beeps[0].duration, 300u);

  ASSERT_EQ(plat::ProfileDeleteKey(ctx.paths.loggedIn, "SRV7", "dom\\ANN"), 0u);
  EXPECT_EQ(Check(), kAdmitted);
  // A group's NoDuplicate is enough.
  SetUser(kAnn, kNoDuplicate, "0");
  SetUser("+DOM\\Dialers", kNoDuplicate, "1");
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV1", kAnn, "1"), 0u);
  EXPECT_EQ(Check(), kRefuseDuplicate);
}

// Files large enough to be written where they stand: another process's
// change to them (a profile counter as `pluser` sets it, a logged-in key and a
// record of a second server appended) is seen exactly by the next decision.
TEST_F(AdmissionTest, AnotherProcessesWritesToLargeFilesAreSeenByTheNextDecision) {
  std::vector<plat::ProfileChange> users, roster;
  for (int i = 0; i < 1500; ++i) {
    users.push_back({"DOM\\filler" + std::to_string(i), kMaxSessionTime, "3600"});
    users.push_back({"DOM\\filler" + std::to_string(i), kTotalConnects, "0          "});
  }
  for (int i = 0; i < 4000; ++i) roster.push_back({"SRV7", "DOM\\other" + std::to_string(i), "1"});
  ASSERT_EQ(plat::ProfileApply(ctx.paths.users, users), 0u);
  ASSERT_EQ(plat::ProfileApply(ctx.paths.loggedIn, roster), 0u);
  std::string day;
  for (int i = 0; i < 2000; ++i) day += "[SRV1\\COM9]\n" + Key(now - 5000 + i) + "=C_DOM\\filler" + std::to_string(i) + "\n";
  ASSERT_EQ(plat::WriteWholeFile(GetLogFileName(ctx, now), day), 0u);
  SetUser(kAnn, kNoDuplicate, "1");

  ASSERT_EQ(Check(), kAdmitted);  // every file read and cached here
  Log_HangUp(ctx, kAnn, kCom1, 60, now);
  now += 60;
  const std::string dayLog = GetLogFileName(ctx, now);
  ASSERT_EQ(plat::testing::InChild([&] {
              bool ok = plat::ProfileWriteString(ctx.paths.users, kAnn, kTotalConnects, "41") == 0;
              ok = ok && plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", kAnn, "1") == 0;
              ok = ok && plat::ProfileAppendRecord(dayLog, kCom1, Key(now), "C_DOM\\bob") == 0;
              return ok ? 0 : 1;
            }),
            0);
  EXPECT_EQ(Check(), kRefuseDuplicate) << "the logged-in key another process added";
  EXPECT_EQ(Record(dayLog, kCom1, Key(now)), "C_DOM\\bob");
  EXPECT_EQ(Record(dayLog, kCom1, Key(now) + ".1"), "N_DOM\\ann?4") << "the other's record keeps its key";

  ASSERT_EQ(plat::testing::InChild([&] { return plat::ProfileDeleteKey(ctx.paths.loggedIn, "SRV7", kAnn) == 0 ? 0 : 1; }),
            0);
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(User(kAnn, kTotalConnects), "42") << "counted on from the other's value";
  EXPECT_EQ(Record(dayLog, kCom1, Key(now) + ".2"), "C_DOM\\ann");
}

// Sessions at once count over every server's section of the logged-in users
// file and this server's port table; each server's key holds its number of
// the account's sessions, so that one hang-up leaves the others counted.
TEST_F(AdmissionTest, MaxSessionsCountsEveryServerAndKeepsTheCountThroughHangUps) {
  SetUser(kAnn, kMaxSessions, "3");
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", "dom\\ANN", "1"), 0u);
  ASSERT_EQ(Check(kAnn, kCom1), kAdmitted);
  ASSERT_EQ(Check(kAnn, "SRV1\\COM2"), kAdmitted);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "2");

  const AdmissionDecision fourth = DecideAdmission(ctx, kAnn, "SRV1\\COM3", now);
  EXPECT_EQ(fourth.code, kRefuseDuplicate);
  EXPECT_EQ(RefusalReason(fourth), "User already connected (3 of 3)");

  // One hang-up here: the other session stays counted, and a place is free.
  Log_HangUp(ctx, kAnn, kCom1, 60, now);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "1");
  EXPECT_EQ(Check(kAnn, "SRV1\\COM3"), kAdmitted);
  EXPECT_EQ(Check(kAnn, kCom1), kRefuseDuplicate);
  Log_HangUp(ctx, kAnn, "SRV1\\COM2", 60, now);
  Log_HangUp(ctx, kAnn, "SRV1\\COM3", 60, now);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "<none>");

  // Another server's number counts as written; a key without one (an older
  // server's, or a damaged value) is one session.
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", kAnn, "2"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV8", kAnn, "x"), 0u);
  const AdmissionDecision full = DecideAdmission(ctx, kAnn, kCom1, now);
  EXPECT_EQ(full.code, kRefuseDuplicate);
  EXPECT_EQ(full.sessionsRunning, 3u);
}

// A profile removed while its session ran: the hang-up still takes the
// session off the logged-in users, or the default profile given at the next
// dial-in would find it and refuse.
TEST_F(AdmissionTest, AProfileRemovedDuringASessionLeavesNoSessionCounted) {
  ctx.systemData.defaults.assignDefault = 1;
  ctx.systemData.defaults.noDuplicate = 1;
  ASSERT_EQ(Check("DOM\\bob"), kAdmitted);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", "DOM\\bob"), "1");
  ASSERT_EQ(plat::ProfileDeleteSection(ctx.paths.users, "DOM\\bob"), 0u);
  Log_HangUp(ctx, "DOM\\bob", kCom1, 60, now);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", "DOM\\bob"), "<none>");
  EXPECT_EQ(Check("DOM\\bob", "SRV1\\COM2"), kAdmitted);
}

// The user's own limit wins (MaxSessions, else NoDuplicate as 1); without
// one, the largest of the groups' (a group's NoDuplicate counting as 1).
TEST_F(AdmissionTest, SessionLimitTakesTheUsersOwnValueBeforeTheGroups) {
  struct Case {
    const char* userNoDuplicate;
    const char* userMax;
    const char* groupNoDuplicate;  // +DOM\Daily
    const char* groupMax;          // +DOM\Monthly
    DWORD limit;
  };
  const Case cases[] = {
      {"0", "0", "0", "0", 0},  // as today: no limit
      {"1", "0", "0", "0", 1},  // NoDuplicate alone is one session
      {"1", "4", "0", "0", 4},  // MaxSessions says how many
      {"0", "0", "1", "0", 1},  // a group's NoDuplicate, as today
      {"0", "0", "1", "3", 3},  // the largest of the groups
      {"0", "2", "0", "5", 2},  // the user's own value wins, even a smaller one
      {"1", "0", "0", "5", 1},
  };
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", "DOM\\cy", "1"), 0u);
  for (const Case& c : cases) {
    SetUser("DOM\\cy", kNoDuplicate, c.userNoDuplicate);
    SetUser("DOM\\cy", kMaxSessions, c.userMax);
    SetUser("+DOM\\Daily", kNoDuplicate, c.groupNoDuplicate);
    SetUser("+DOM\\Monthly", kMaxSessions, c.groupMax);
    const AdmissionDecision d = DecideAdmission(ctx, "DOM\\cy", kCom1, now);
    SCOPED_TRACE(std::string(c.userNoDuplicate) + c.userMax + c.groupNoDuplicate + c.groupMax);
    EXPECT_EQ(d.sessionLimit, c.limit);
    EXPECT_EQ(d.code, c.limit == 1 ? kRefuseDuplicate : kAdmitted);
    if (c.limit == 1) {
      EXPECT_EQ(RefusalReason(d), "User already connected (1 of 1)");
    }
  }
}

// The decision reads; its application writes, beeps and reports, so that a
// decision alone (as session restore makes one) changes nothing.
TEST_F(AdmissionTest, TheDecisionChangesNothingItsApplicationDoesAll) {
  SetUser(kAnn, kNoDuplicate, "1");
  ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV7", kAnn, "1"), 0u);
  ctx.systemData.defaults.assignDefault = 1;
  ctx.systemData.defaults.maxTotalTime = 900;
  plat::TakeBeeps();
  const AdmissionDecision twice = DecideAdmission(ctx, kAnn, kCom1, now);
  const AdmissionDecision fresh = DecideAdmission(ctx, "DOM\\bob", kCom1, now);
  EXPECT_EQ(twice.code, kRefuseDuplicate);
  EXPECT_EQ(fresh.code, kAdmitted);
  EXPECT_TRUE(plat::TakeBeeps().empty());
  EXPECT_FALSE(HasProfile(ctx, "DOM\\bob"));
  EXPECT_EQ(Record(GetLogFileName(ctx, now), kCom1, Key(now)), "<none>");

  ApplyAdmission(ctx, twice, "ANNPC", kAnn, kCom1, now);
  EXPECT_EQ(plat::TakeBeeps().size(), 1u);
  EXPECT_EQ(Record(GetLogFileName(ctx, now), kCom1, Key(now)), "N_DOM\\ann?4");
  EXPECT_EQ(User(kAnn, kTotalDenieds), "1");
  ApplyAdmission(ctx, fresh, "BOBPC", "DOM\\bob", "SRV1\\COM2", now);
  EXPECT_EQ(User("DOM\\bob", kMaxTotalTime), "900");
  EXPECT_EQ(EntryOf("SRV1\\COM2").user, "DOM\\bob");
}

TEST_F(AdmissionTest, PortGroupsAdmitMembersOnly) {
  SetUser("DOM\\bob", kMaxSessionTime, "0");
  EXPECT_EQ(Check(kAnn), kAdmitted);  // no AllowedGroups: open to all
  SetHw(kCom1, "AllowedGroups", "*");
  EXPECT_EQ(Check(kAnn), kAdmitted);

  SetHw(kCom1, "AllowedGroups", "DOM\\Staff;");
  EXPECT_EQ(Check(kAnn), kRefusePortAccess);
  EXPECT_EQ(Check("DOM\\bob"), kAdmitted);
  SetHw(kCom1, "AllowedGroups", "dom\\dialers\\");  // case and trailing backslash
  EXPECT_EQ(Check(kAnn), kAdmitted);
  // A local group holding the user's global group.
  SetHw(kCom1, "AllowedGroups", "DOM\\Nobody;DOM\\RAS Users");
  EXPECT_EQ(Check("DOM\\bob"), kAdmitted);
  EXPECT_EQ(Check(kAnn), kRefusePortAccess);
}

TEST_F(AdmissionTest, OtherDomainsListRefusesOnlyWhileTheControllersAnswer) {
  plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV3");
  c.domain = "OTHER";
  const std::string srv3 = network_.AddMachine(c);
  ASSERT_EQ(plat::DomainCreate("OTHER", "SRV3"), 0u);
  ASSERT_EQ(plat::DomainAddLocalGroup("OTHER", "Remote"), 0u);
  SetHw(kCom1, "AllowedGroups", "OTHER\\Remote;OTHER\\Staff");

  EXPECT_EQ(Check(), kRefusePortAccess);
  // OTHER's controller down: the list cannot be checked, the user is admitted.
  ASSERT_EQ(plat::SetMachineDown(srv3, true), 0u);
  EXPECT_EQ(Check(), kAdmitted);
  ASSERT_EQ(plat::SetMachineDown(srv3, false), 0u);
  EXPECT_EQ(Check(), kRefusePortAccess);
  // The user's own controller down: the same.
  ASSERT_EQ(plat::SetMachineDown(dc, true), 0u);
  EXPECT_EQ(Check(), kAdmitted);
  ASSERT_EQ(plat::SetMachineDown(dc, false), 0u);
  EXPECT_EQ(CheckUserInAllowedGroups(kAnn, "OTHER\\Remote"), plat::ERROR_MEMBER_NOT_IN_GROUP);
}

TEST_F(AdmissionTest, PeriodAllowanceUsedUpRefusesWithSix) {
  SetUser(kAnn, kPeriodType, "1");
  SetUser(kAnn, kPeriodMax, "600");
  SetUser(kAnn, kPeriodStamp, Key(now - 3600));
  SetUser(kAnn, kPeriodUsage, "601");
  EXPECT_EQ(Check(), kRefusePeriodUsedUp);
  SetUser(kAnn, kPeriodUsage, "600");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, now);  // nothing left of the period
  EXPECT_EQ(EntryOf(kCom1).reason, kReasonPeriodAllowance);
  SetUser(kAnn, kPeriodUsage, "200");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 400);
}

TEST_F(AdmissionTest, FirstPeriodIsStampedAtAdmission) {
  SetUser(kAnn, kPeriodType, "2");
  SetUser(kAnn, kPeriodMax, "600");
  SetUser(kAnn, kPeriodUsage, "5000");  // left over, no stamp yet
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(User(kAnn, kPeriodStamp), Key(now));
  EXPECT_EQ(User(kAnn, kPeriodUsage), "0");
}

TEST_F(AdmissionTest, DailyAllowanceStampedOnFifthJanuaryResetsOnFifthFebruary) {
  SetUser(kAnn, kPeriodType, "1");
  SetUser(kAnn, kPeriodMax, "600");
  SetUser(kAnn, kPeriodStamp, Key(At(2024, 1, 5, 9)));
  SetUser(kAnn, kPeriodUsage, "9999");
  now = At(2024, 2, 5, 8);
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(User(kAnn, kPeriodUsage), "0");
  EXPECT_EQ(User(kAnn, kPeriodStamp), Key(now));
  EXPECT_EQ(EntryOf(kCom1).deadline, now + 600);
}

TEST_F(AdmissionTest, PeriodMaxZeroIsNoLimit) {
  SetUser(kAnn, kPeriodType, "3");
  SetUser(kAnn, kPeriodStamp, Key(now - 60));
  SetUser(kAnn, kPeriodUsage, "5000");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_EQ(EntryOf(kCom1).deadline, 0);
}

TEST(SamePeriodTest, DaysWeeksAndMonthsByTheCalendar) {
  plat::testing::TempNetwork network;
  struct Case {
    DWORD type;
    std::time_t a, b;
    bool same;
  };
  const Case cases[] = {
      {1, At(2024, 1, 5, 0), At(2024, 1, 5, 23, 59, 59), true},
      {1, At(2024, 1, 5, 23, 59, 59), At(2024, 1, 6), false},
      {1, At(2023, 1, 5), At(2024, 1, 5), false},
      {1, At(2024, 12, 31, 12), At(2025, 1, 1, 12), false},
      // 2024-03-10 is a Sunday, 03-11 a Monday.
      {2, At(2024, 3, 4), At(2024, 3, 10, 23, 59), true},
      {2, At(2024, 3, 10, 23, 59), At(2024, 3, 11), false},
      {2, At(2023, 3, 6), At(2024, 3, 4), false},
      // The week from Monday 2024-12-30 runs into 2025 and turns on Monday 01-06.
      {2, At(2024, 12, 30), At(2025, 1, 1), true},
      {2, At(2025, 1, 5, 23), At(2025, 1, 6), false},
      {3, At(2024, 1, 1), At(2024, 1, 31, 23), true},
      {3, At(2024, 1, 31, 23), At(2024, 2, 1), false},
      {3, At(2024, 12, 15), At(2025, 1, 2), false},
      {3, At(2024, 1, 15), At(2025, 1, 16), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SamePeriod(c.type, c.a, c.b), c.same)
        << "type " << c.type << " " << c.a << " " << c.b;
  }
}

TEST_F(AdmissionTest, GroupPeriodTypesGiveAMonthlyPeriodUnlessTheUserHasOne) {
  const std::string cy = "DOM\\cy";
  SetUser(cy, kMaxSessionTime, "0");
  SetUser("+DOM\\Daily", kPeriodType, "1");
  SetUser("+DOM\\Monthly", kPeriodType, "3");
  SetUser("+DOM\\Monthly", kPeriodMax, "600");
  SetUser(cy, kPeriodStamp, Key(now - 3 * 86400));  // same month, another day
  SetUser(cy, kPeriodUsage, "700");
  EXPECT_EQ(Check(cy), kRefusePeriodUsedUp);  // monthly: still the same period

  SetUser(cy, kPeriodType, "1");  // the user's own daily period
  ASSERT_EQ(Check(cy), kAdmitted);
  EXPECT_EQ(User(cy, kPeriodUsage), "0");

  GroupProperties g;
  ASSERT_EQ(GetGroupPropertiesForUser(ctx, cy, &g), 0u);
  EXPECT_EQ(g.periodType, 3u);
  EXPECT_EQ(g.periodMax, 600u);
}

TEST_F(AdmissionTest, ControllerTroubleLeavesGroupValuesZero) {
  SetUser("+DOM\\Dialers", kMaxTotalTime, "10");
  SetUser(kAnn, kTotalTime, "50");
  ASSERT_EQ(plat::SetMachineDown(dc, true), 0u);
  GroupProperties g;
  EXPECT_NE(GetGroupPropertiesForUser(ctx, kAnn, &g), 0u);
  EXPECT_EQ(g.maxTotalTime, 0u);
  EXPECT_EQ(Check(), kAdmitted);
}

TEST_F(AdmissionTest, MalformedNumbersReadAsTheirLeadingDigits) {
  SetUser(kAnn, kMaxTotalTime, "abc");     // 0: no limit
  SetUser(kAnn, kTotalTime, "");           // 0
  SetUser(kAnn, kExpiryTime, "-5");        // huge: never expires
  SetUser(kAnn, kFirstConnection, "12x");  // 12
  SetUser(kAnn, kMaxSessionTime, "-5");    // huge: no wrap into the past
  SetUser(kAnn, kPeriodType, "9");         // unknown type: never a new period
  SetUser(kAnn, kPeriodMax, "99999999999999999999");
  ASSERT_EQ(Check(), kAdmitted);
  EXPECT_GT(EntryOf(kCom1).deadline, now);
  SetUser(kAnn, kMaxTotalTime, " 100 seconds");
  SetUser(kAnn, kTotalTime, "101");
  EXPECT_EQ(Check(), kRefuseTotalTime);
}

TEST_F(AdmissionTest, HostileAccountNamesTouchNoOtherSection) {
  ctx.systemData.defaults.assignDefault = 1;
  ctx.systemData.dailyStatusEmailType = 1;
  SetUser("DOM\\bob", kTotalTime, "42");
  std::string before;
  ASSERT_EQ(plat::ReadWholeFile(ctx.paths.users, &before), 0u);
  for (const std::string name :
       {"DOM\\bob]\n[DOM\\bob", "DOM\\bob=1", "[DOM\\bob]", "DOM\\bob ", " DOM\\bob",
        ";DOM\\bob", "DOM\\x\r\nTotalTime=0", ""}) {
    // The check records its own refusal.
    EXPECT_EQ(IsThisUserOK(ctx, "*", name, kCom1, now), kRefuseNoProfile);
    Log_HangUp(ctx, name, kCom1, 60, now);
    now += 1;
  }
  std::string after;
  ASSERT_EQ(plat::ReadWholeFile(ctx.paths.users, &after), 0u);
  EXPECT_EQ(after, before);
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Denied"), "8");
  // Each refusal is recorded, under a harmless spelling of the name.
  const auto keys = plat::ProfileListKeys(GetLogFileName(ctx, now), kCom1);
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->size(), 8u);
  EXPECT_EQ(Record(GetLogFileName(ctx, now), kCom1, (*keys)[1]), "N_DOM\\bob_1?1");
}

TEST(GreetingTest, MacrosLineBreaksAndTargets) {
  GreetingValues v;
  v.account = "DOM\\ann";
  v.userMaxSession = 5400;
  v.userMaxTotal = 0;
  v.totalUsed = 600;
  v.portMaxSession = 3600;
  EXPECT_EQ(BuildGreetingText("Hello #uname,\r\n\r\nsession #UMS, total #UMTx used #UCUR port #PMS.",
                              v),
            "Hello DOM\\ann ,\nsession 90 min , total unlimited used 10 min port 60 min ");
  EXPECT_EQ(BuildGreetingText("#UN is not a macro", v), "#UN is not a macro");
  EXPECT_EQ(MessageTarget("ANNPC", "DOM\\ann"), "ANNPC");
  EXPECT_EQ(MessageTarget("*", "DOM\\ann"), "ann");
  EXPECT_EQ(MessageTarget("", "ann"), "ann");
}

TEST_F(AdmissionTest, GreetingsFollowTheRuleMaskAndTheLimits) {
  ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\greet_0.txt", "Welcome #UNAME"), 0u);
  ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\greet_1.txt", "Limit #UMS"), 0u);
  ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\greet_2.txt", "Port #PMS"), 0u);
  SetHw(kGreetingsSection, "RuleMask", "7");
  ReadSystemDataFromCentralDB(ctx);

  GreetingValues v;
  v.account = kAnn;
  auto lines = GreetingCommandLines(ctx.systemData, "*", v);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "NET SEND ann Welcome DOM\\ann ");
  v.userMaxTotal = 60;
  v.portMaxSession = 120;
  lines = GreetingCommandLines(ctx.systemData, "ANNPC", v);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "NET SEND ANNPC Limit unlimited ");
  EXPECT_EQ(lines[2], "NET SEND ANNPC Port 2 min ");
  ctx.systemData.ruleMask = 4;
  EXPECT_EQ(GreetingCommandLines(ctx.systemData, "ANNPC", v).size(), 1u);
}

TEST(GreetingTest, TheRecipientIsOneArgumentAndAPlausibleComputer) {
  for (const char* machine : {"$(touch /x)", "ANN PC", "ANNPC\"x", "ABCDEFGHIJKLMNOP", "-x", "a/b",
                              "PC;rm", "PC\nX"}) {
    EXPECT_FALSE(IsPlausibleComputerName(machine)) << machine;
    EXPECT_EQ(MessageRecipient(machine, "DOM\\ann"), std::nullopt) << machine;
  }
  for (const char* machine : {"ANNPC", "WKS-1", "pc_2.lab", "ABCDEFGHIJKLMNO"}) {
    EXPECT_EQ(MessageRecipient(machine, "DOM\\ann"), machine);
  }
  EXPECT_EQ(MessageRecipient("*", "DOM\\ann smith"), "\"ann smith\"");
  EXPECT_EQ(MessageRecipient("", "DOM\\a\"b"), std::nullopt);
  EXPECT_EQ(MessageRecipient("*", "DOM\\"), std::nullopt);
}

TEST_F(AdmissionTest, GreetingsReachTheWholeRecipientAndNoneOther) {
  ASSERT_EQ(plat::WriteWholeFile("C:\\PLData\\greet_0.txt", "Welcome"), 0u);
  SetHw(kGreetingsSection, "RuleMask", "1");
  ReadSystemDataFromCentralDB(ctx);
  GreetingValues v;
  v.account = "DOM\\ann smith";
  EXPECT_TRUE(GreetingCommandLines(ctx.systemData, "$(touch /x)", v).empty());
  const auto lines = GreetingCommandLines(ctx.systemData, "*", v);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "NET SEND \"ann smith\" Welcome");
  plat::ProcessOptions options;
  options.wait = true;
  plat::DWORD exitCode = 1;
  ASSERT_EQ(plat::RunCommandLine(lines[0], options, &exitCode), 0u);
  EXPECT_EQ(exitCode, 0u);
  std::vector<plat::NetMessage> messages;
  ASSERT_EQ(plat::ReadNetMessages("ann smith", &messages), 0u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Welcome");
  ASSERT_EQ(plat::ReadNetMessages("ann", &messages), 0u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdmissionTest, SystemDataKeepsEveryKey) {
  SetHw(kGeneralSection, "Notify1", "300");
  SetHw(kGeneralSection, "Notify2Text", "Bye now");
  SetHw(kGeneralSection, "DailyStatusEmailType", "2");
  SetHw(kGeneralSection, "DailyStatusEmailTo", "ops@example.com");
  SetHw(kGeneralSection, "AutoArchiveAge", "45");
  SetHw(kDefaultSection, "AssignDefault", "1");
  SetHw(kDefaultSection, "PeriodMax", "900");
  ReadSystemDataFromCentralDB(ctx);
  const SystemData& d = ctx.systemData;
  EXPECT_EQ(d.notify1, 300u);
  EXPECT_EQ(d.notify2, 0u);
  EXPECT_EQ(d.notify1Text, "0");
  EXPECT_EQ(d.notify2Text, "Bye now");
  EXPECT_EQ(d.dailyStatusEmailType, 2u);
  EXPECT_EQ(d.dailyStatusEmailTo, "ops@example.com");
  EXPECT_EQ(d.dailyStatusEmailFrom, "*");
  EXPECT_EQ(d.autoArchiveAge, 45u);
  EXPECT_EQ(d.defaults.assignDefault, 1u);
  EXPECT_EQ(d.defaults.periodMax, 900u);
}

}  // namespace
}  // namespace svc
