// The supervision pass on the real port table, with a clock and port
// operations the test controls.
#include "service/action_thread.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/eventlog.h"
#include "platform/registry.h"
#include "service/pipe_server.h"
#include "service/port_table.h"
#include "service/system_data.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::kAnn;
using testing::kCom1;

class ActionThreadTest : public testing::PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    ctx.settings.idleBytesLimit = 10000;
    ops.traffic = [this](const std::string& port, DWORD* sent, DWORD* received) {
      if (failing) return false;
      *sent = traffic[port].first;
      *received = traffic[port].second;
      return true;
    };
    ops.disconnect = [this](const std::string& port) {
      disconnected.push_back(port);
      return disconnectWorks;
    };
    ops.run = [this](const std::string& command) { commands.push_back(command); };
  }

  // A session on COM1 with the given deadline (0 = none) and computer, begun
  // `age` seconds before the next pass.
  int Session(std::int64_t deadline, const std::string& netbios = "WKS1", int portIdle = 0,
              std::int64_t age = 10) {
    auto lock = ctx.portTable.Lock();
    PortEntry& e = ctx.portTable.Entry(0);
    e = PortEntry{};
    e.port = kCom1;
    e.user = kAnn;
    e.netbios = netbios;
    e.start = now - age;
    e.deadline = deadline;
    e.reason = deadline ? kReasonUserMaxSession : 0;
    e.portIdleTimer = portIdle;
    return 0;
  }

  PortEntry Entry0() {
    auto lock = ctx.portTable.Lock();
    return ctx.portTable.Entry(0);
  }

  void Pass() {
    ActionPass(ctx, state, ops, now);
    now += 60;
  }

  int EventsWithId(DWORD id) {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    plat::EventLogReader::Open("", "Application", &reader);
    reader.ReadAll(&records);
    int n = 0;
    for (const auto& r : records) n += r.eventId == id;
    return n;
  }

  PortOperations ops;
  ActionState state;
  std::map<std::string, std::pair<DWORD, DWORD>> traffic;  // port -> sent, received
  bool failing = false;
  std::vector<std::string> disconnected;
  bool disconnectWorks = true;
  std::vector<std::string> commands;
};

TEST_F(ActionThreadTest, WarningsComeInTheirWindowsAndInsideTheSecondOnlyTheSecond) {
  ctx.systemData.notify1 = 300;
  ctx.systemData.notify2 = 60;
  ctx.systemData.notify1Text = "first";
  ctx.systemData.notify2Text = "Only a minute left.";
  Session(now + 400);
  Pass();  // 400 s left: no window before the next pass
  EXPECT_TRUE(commands.empty());
  Pass();  // 340 s: the first window opens before the next pass, so it goes now
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], "NET SEND WKS1 first");
  EXPECT_EQ(Entry0().notifyLevel, 1);
  Pass();  // 280 s
  Pass();  // 220 s
  Pass();  // 160 s
  EXPECT_EQ(commands.size(), 1u);
  Pass();  // 100 s: the second window opens before the next pass
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1], "NET SEND WKS1 Only a minute left.");
  EXPECT_EQ(Entry0().notifyLevel, 2);

  // A session first seen inside the second window gets the second warning
  // only, and the first never afterwards.
  commands.clear();
  Session(now + 50);
  Pass();
  Pass();
  Pass();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], "NET SEND WKS1 Only a minute left.");
}

// The console saves a new warning text in portulon.hw and sends
// UPDATE_UPDATE: the next warning carries it, without a restart.
// The warnings before a cut at the account's expiry say so; other cuts keep
// the configured text alone.
TEST_F(ActionThreadTest, WarningsBeforeTheExpiryCutSayTheAccountExpiresAtMidnight) {
  ctx.systemData.notify1 = 300;
  ctx.systemData.notify2 = 60;
  ctx.systemData.notify1Text = "Five minutes left.";
  ctx.systemData.notify2Text = "0";  // never set
  Session(now + 200);
  {
    auto lock = ctx.portTable.Lock();
    ctx.portTable.Entry(0).reason = kReasonAccountExpired;
  }
  Pass();  // 200 s left: inside the first window, not yet the second
  Pass();  // 140 s
  Pass();  // 80 s: the second window opens before the next pass
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "NET SEND WKS1 Five minutes left. (account expires at midnight)");
  EXPECT_EQ(commands[1], "NET SEND WKS1 Portulon: account expires at midnight");
  Pass();
  Pass();  // past the deadline
  EXPECT_EQ(disconnected, std::vector<std::string>{"COM1"});
  EXPECT_EQ(Entry0().reason, kReasonAccountExpired) << "the hang-up record says why";

  commands.clear();
  Session(now + 200);  // cut for its session time
  Pass();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], "NET SEND WKS1 Five minutes left.");
}

TEST_F(ActionThreadTest, AWarningTextSavedInTheSharedSettingsIsSentAfterUpdate) {
  SetHw("General", "Notify1", "300");
  SetHw("General", "Notify1Text", "Old text");
  ReadSystemDataFromCentralDB(ctx);
  Session(now + 100);
  Pass();
  SetHw("General", "Notify1Text", "Five minutes left");
  SetHw("General", "Notify2", "60");
  Session(now + 100);
  Pass();  // not yet re-read
  EXPECT_EQ(HandleClientMessage(ctx, "UPDATE_UPDATE"), "00");
  Session(now + 200);  // outside the second window, which now applies too
  Pass();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0], "NET SEND WKS1 Old text");
  EXPECT_EQ(commands[1], "NET SEND WKS1 Old text");
  EXPECT_EQ(commands[2], "NET SEND WKS1 Five minutes left");
  EXPECT_EQ(ctx.SystemDataSnapshot().notify2, 60u);
}

TEST_F(ActionThreadTest, WarningsGoToTheUserWhenTheComputerIsUnknown) {
  ctx.systemData.notify1 = 300;
  ctx.systemData.notify1Text = "Time \"is\" almost up: 100% used; $(whoami)";
  Session(now + 100, "*");
  Pass();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], "NET SEND ann Time \"is\" almost up: 100% used; $(whoami)");
  commands.clear();
  Session(now + 100, "");
  Pass();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].rfind("NET SEND ann ", 0), 0u);
}

TEST_F(ActionThreadTest, QuietSessionsAccumulateIdleTimeUntilTheyAreCut) {
  ctx.settings.idleTimerSeconds = 180;  // server-wide, 3 minutes
  Session(0, "WKS1", 0, /*age=*/3600);
  traffic["COM1"] = {5000, 5000};  // below the limit in both directions
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 61);
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 122);
  EXPECT_TRUE(disconnected.empty());
  Pass();  // 183 s counted idle: past the 180 s time-out
  EXPECT_EQ(Entry0().idleSoFar, 183);
  ASSERT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(disconnected[0], "COM1");
  EXPECT_EQ(Entry0().reason, kReasonIdle);
  EXPECT_EQ(Entry0().forced, 1);
  EXPECT_EQ(Entry0().notifyLevel, 3);
  EXPECT_EQ(EventsWithId(5), 1);
}

// A pass plans over one reading of the table and the ports, then acts: every
// port is asked before any is cut, and what it planned for a session that
// ended meanwhile does not touch the session the port holds now.
TEST_F(ActionThreadTest, APassPlansOverOneReadingThenActsOnlyOnTheSessionsItRead) {
  ctx.settings.idleTimerSeconds = 60;
  Session(0, "WKS1", 0, /*age=*/3600);
  PortEntry second = Entry0();
  second.port = "SRV1\\COM2";
  {
    auto lock = ctx.portTable.Lock();
    ctx.portTable.Entry(1) = second;
  }
  std::vector<std::string> calls;
  ops.traffic = [&](const std::string& port, DWORD* sent, DWORD* received) {
    calls.push_back("traffic " + port);
    *sent = *received = 0;
    if (port == "COM2") {  // the pipe thread ends COM1's session and stores another
      PortTableClear(ctx.portTable, kCom1);
      auto lock = ctx.portTable.Lock();
      ctx.portTable.Entry(0).port = kCom1;
      ctx.portTable.Entry(0).user = "DOM\\bob";
      ctx.portTable.Entry(0).start = now;
    }
    return true;
  };
  ops.disconnect = [&](const std::string& port) {
    calls.push_back("cut " + port);
    return true;
  };
  Pass();
  EXPECT_EQ(calls, (std::vector<std::string>{"traffic COM1", "traffic COM2", "cut COM2"}));
  EXPECT_EQ(Entry0().user, "DOM\\bob");
  EXPECT_EQ(Entry0().idleSoFar, 0);
  EXPECT_EQ(Entry0().forced, 0);
}

TEST_F(ActionThreadTest, ADisconnectTheServerRefusedIsNeitherReportedNorRecordedAsForced) {
  ctx.settings.idleTimerSeconds = 60;
  Session(0, "WKS1", /*portIdle=*/0, /*age=*/3600);
  traffic["COM1"] = {0, 0};
  disconnectWorks = false;
  Pass();  // 61 s idle: past the time-out, but the server keeps the session
  ASSERT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(Entry0().forced, 0);
  EXPECT_EQ(Entry0().reason, 0);
  EXPECT_NE(Entry0().notifyLevel, 3);
  EXPECT_EQ(EventsWithId(5), 0);
  disconnectWorks = true;
  Pass();  // tried again, and this time cut
  ASSERT_EQ(disconnected.size(), 2u);
  EXPECT_EQ(Entry0().reason, kReasonIdle);
  EXPECT_EQ(Entry0().forced, 1);
  EXPECT_EQ(EventsWithId(5), 1);
}

TEST_F(ActionThreadTest, APortsOwnIdleTimeOutTakesPrecedence) {
  ctx.settings.idleTimerSeconds = 0;
  Session(0, "WKS1", /*portIdle=*/120, /*age=*/3600);
  traffic["COM1"] = {0, 0};
  Pass();
  EXPECT_TRUE(disconnected.empty());
  Pass();
  ASSERT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(Entry0().reason, kReasonIdle);
}

TEST_F(ActionThreadTest, AFreshSessionIsCutOnlyOnceUpForAFullIdlePeriod) {
  ctx.settings.idleTimerSeconds = 60;  // one minute, the shortest setting
  Session(0);                          // began 10 s before the pass
  traffic["COM1"] = {0, 0};
  Pass();  // counted 61 s idle, but up only 10 s
  EXPECT_EQ(Entry0().idleSoFar, 61);
  EXPECT_TRUE(disconnected.empty());
  EXPECT_EQ(Entry0().notifyLevel, 0);
  Pass();  // up 70 s now
  ASSERT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(Entry0().reason, kReasonIdle);
}

TEST_F(ActionThreadTest, TrafficInOneDirectionResetsTheIdleCount) {
  ctx.settings.idleTimerSeconds = 600;
  Session(0);
  traffic["COM1"] = {0, 0};
  Pass();
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 122);
  traffic["COM1"] = {0, 20001};  // only received
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 0);
  EXPECT_EQ(Entry0().receivedBase, 20001u);
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 61);
  traffic["COM1"] = {30000, 20001};  // only sent
  Pass();
  EXPECT_EQ(Entry0().idleSoFar, 0);
  EXPECT_EQ(Entry0().sentBase, 30000u);
}

TEST_F(ActionThreadTest, AFailedTrafficQueryLeavesTheEntryAlone) {
  ctx.settings.idleTimerSeconds = 600;
  Session(0);
  traffic["COM1"] = {0, 0};
  Pass();
  const PortEntry before = Entry0();
  failing = true;
  Pass();
  Pass();
  const PortEntry after = Entry0();
  EXPECT_EQ(after.idleSoFar, before.idleSoFar);
  EXPECT_EQ(after.sentBase, before.sentBase);
  EXPECT_TRUE(disconnected.empty());
}

// Passes that ran late (a busy machine): the deadline has passed, but the
// second warning went out less than its interval ago. The cut waits for the
// interval; a session that never had that much time is cut on time.
TEST_F(ActionThreadTest, AWarningPrecedesTheCutByItsInterval) {
  ctx.systemData.notify2 = 60;
  ctx.systemData.notify2Text = "bye";
  const std::int64_t deadline = now + 125;
  Session(deadline, "WKS1", 0, 600);  // a long session, 125 s left
  Pass();  // the window does not open before the next pass
  EXPECT_TRUE(commands.empty());
  now = deadline - 30;  // the next pass ran late
  Pass();
  ASSERT_EQ(commands.size(), 1u);
  now = deadline + 5;
  Pass();
  EXPECT_TRUE(disconnected.empty());  // only 35 s since the warning
  now = deadline + 31;
  Pass();
  ASSERT_EQ(disconnected.size(), 1u);

  // Never held past the deadline: a session that never had the interval.
  disconnected.clear();
  commands.clear();
  Session(now + 30);
  Pass();
  Pass();
  EXPECT_EQ(commands.size(), 1u);
  EXPECT_EQ(disconnected.size(), 1u);
}

TEST_F(ActionThreadTest, TheDeadlineCutsOnceOnly) {
  ctx.systemData.notify2 = 60;
  ctx.systemData.notify2Text = "bye";
  Session(now + 30);
  Pass();  // warning
  Pass();  // past the deadline: cut
  ASSERT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(Entry0().notifyLevel, 3);
  EXPECT_EQ(Entry0().forced, 1);
  EXPECT_EQ(Entry0().reason, kReasonUserMaxSession);
  // The hang-up has not arrived yet: no second warning, no second disconnect.
  Pass();
  Pass();
  EXPECT_EQ(disconnected.size(), 1u);
  EXPECT_EQ(commands.size(), 1u);
  EXPECT_EQ(EventsWithId(5), 1);
}

TEST_F(ActionThreadTest, SessionsWithoutLimitsAreLeftAlone) {
  Session(0);
  for (int i = 0; i < 5; ++i) Pass();
  EXPECT_TRUE(disconnected.empty());
  EXPECT_TRUE(commands.empty());
}

TEST_F(ActionThreadTest, EveryHourTheSessionsAreCounted) {
  Session(0);
  std::time_t countedAt = 0;
  for (int i = 0; i < 60; ++i) {
    countedAt = now;
    Pass();
  }
  EXPECT_EQ(Read(ctx.paths.portStat, "SRV1", Key(countedAt)), "1");
  auto keys = plat::ProfileListKeys(ctx.paths.portStat, "SRV1");
  ASSERT_TRUE(keys.has_value());
  EXPECT_EQ(keys->size(), 1u);
}

TEST_F(ActionThreadTest, StaticAddressesCanBeTurnedOff) {
  EXPECT_EQ(IsIPUsed(), 1);
  ASSERT_EQ(plat::RegWriteString("Software\\Microsoft\\RAS\\AdminDLL", "DisableStaticIP", "1"),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(IsIPUsed(), 0);
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  plat::EventLogReader::Open("", "Application", &reader);
  reader.ReadAll(&records);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().source, "Portulon Server");
  EXPECT_EQ(records.back().strings, (std::vector<std::string>{"Static IP Assignment is turned off in Portulon."}));
}

}  // namespace
}  // namespace svc
