#include "service/port_table.h"

#include <gtest/gtest.h>

#include <string>

#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::kCom1;
using testing::PolicyTest;

constexpr std::time_t kStart = 1'000'000'000;

// Every combination of the four limits, with two orderings of their sizes: the
// smallest present limit decides, with its own reason.
TEST(ChooseAllowanceTest, SmallestPresentLimitWinsInEveryCombination) {
  struct Sizes {
    DWORD port, user, totalLeft, period;
  };
  for (const Sizes s : {Sizes{3000, 2000, 1500, 1000}, Sizes{1000, 1500, 2000, 3000}}) {
    for (int mask = 0; mask < 16; ++mask) {
      SessionLimits l;
      if (mask & 1) l.portMaxSession = s.port;
      if (mask & 2) l.userMaxSession = s.user;
      if (mask & 4) {
        l.userMaxTotal = 50000;
        l.userTotalUsed = 50000 - s.totalLeft;
      }
      if (mask & 8) l.periodAllowance = s.period;

      std::int64_t best = -1;
      int reason = kReasonNone;
      const std::pair<DWORD, int> candidates[] = {{s.port, kReasonPortMaxSession},
                                                  {s.user, kReasonUserMaxSession},
                                                  {s.totalLeft, kReasonUserMaxTotal},
                                                  {s.period, kReasonPeriodAllowance}};
      for (int i = 0; i < 4; ++i) {
        if ((mask & (1 << i)) && (best < 0 || candidates[i].first < best)) {
          best = candidates[i].first;
          reason = candidates[i].second;
        }
      }
      const Allowance a = ChooseAllowance(kStart, l);
      SCOPED_TRACE("mask " + std::to_string(mask));
      EXPECT_EQ(a.deadline, best < 0 ? 0 : kStart + best);
      EXPECT_EQ(a.reason, reason);
    }
  }
}

TEST(ChooseAllowanceTest, TiesKeepTheEarlierLimitAndEdgesStaySound) {
  SessionLimits tie;
  tie.portMaxSession = 1800;
  tie.userMaxSession = 1800;
  tie.periodAllowance = 1800;
  EXPECT_EQ(ChooseAllowance(kStart, tie).reason, kReasonPortMaxSession);

  // Total time used up exactly: cut at once, not "no limit".
  SessionLimits exact;
  exact.portMaxSession = 3600;
  exact.userMaxTotal = 7200;
  exact.userTotalUsed = 7200;
  EXPECT_EQ(ChooseAllowance(kStart, exact).deadline, kStart);
  EXPECT_EQ(ChooseAllowance(kStart, exact).reason, kReasonUserMaxTotal);

  // Overrun: the deadline lies in the past, whatever other limits say.
  SessionLimits over;
  over.userMaxTotal = 7200;
  over.userTotalUsed = 7700;
  EXPECT_EQ(ChooseAllowance(kStart, over).deadline, kStart - 500);
  over.portMaxSession = 3600;
  EXPECT_EQ(ChooseAllowance(kStart, over).deadline, kStart - 500);

  // The period's allowance used up exactly is a limit of 0, not no limit.
  SessionLimits periodDone;
  periodDone.periodAllowance = 0;
  EXPECT_EQ(ChooseAllowance(kStart, periodDone).deadline, kStart);

  // A limit read from "-5" (huge unsigned) must not wrap into the past.
  SessionLimits huge;
  huge.userMaxSession = static_cast<DWORD>(-5);
  EXPECT_GT(ChooseAllowance(kStart, huge).deadline, kStart);

  EXPECT_EQ(ChooseAllowance(kStart, SessionLimits{}).deadline, 0);
  EXPECT_EQ(ChooseAllowance(kStart, SessionLimits{}).reason, kReasonNone);
}

class PortTableTest : public PolicyTest {
 protected:
  std::string Port(int i) { return "SRV1\\VPN0-" + std::to_string(i); }
};

TEST_F(PortTableTest, StoreFillsTheEntryAndReadsThePortIdleTimer) {
  SetHw(kCom1, "Idle", "5");
  SessionLimits l;
  l.userMaxSession = 900;
  const int index = PortTableStore(ctx.portTable, ctx.paths.systemData, "ANNPC", kCom1, kStart, "DOM\\ann", l);
  EXPECT_EQ(index, 0);
  PortTableStoreIP(ctx.portTable, kCom1, 167772170);

  std::string ipx = "x", netbios;
  EXPECT_EQ(PortTableGetIP(ctx.portTable, kCom1, &ipx, &netbios), 167772170);
  EXPECT_EQ(ipx, "");
  EXPECT_EQ(netbios, "ANNPC");
  EXPECT_EQ(PortTableGetUserOnPort(ctx.portTable, kCom1), "DOM\\ann");
  EXPECT_EQ(PortTableGetStartTime(ctx.portTable, kCom1), kStart);
  auto lock = ctx.portTable.Lock();
  const PortEntry& e = ctx.portTable.Entry(0);
  EXPECT_EQ(e.portIdleTimer, 300);
  EXPECT_EQ(e.deadline, kStart + 900);
  EXPECT_EQ(e.reason, kReasonUserMaxSession);
}

TEST_F(PortTableTest, DisconnectReasonOnlyWhenForced) {
  SessionLimits l;
  l.portMaxSession = 60;
  PortTableStore(ctx.portTable, ctx.paths.systemData, "*", kCom1, kStart, "DOM\\ann", l);
  EXPECT_EQ(PortTableGetDisconnectReason(ctx.portTable, kCom1), 0);
  {
    auto lock = ctx.portTable.Lock();
    ctx.portTable.Entry(0).forced = 1;
  }
  EXPECT_EQ(PortTableGetDisconnectReason(ctx.portTable, kCom1), kReasonPortMaxSession);
}

TEST_F(PortTableTest, The257thSessionLandsInTheSpareAndUnknownPortsReadIt) {
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(PortTableStore(ctx.portTable, ctx.paths.systemData, "*", Port(i), kStart + i, "DOM\\u" + std::to_string(i), {}), i);
  }
  EXPECT_EQ(PortTableStore(ctx.portTable, ctx.paths.systemData, "PC257", Port(256), kStart + 256, "DOM\\late", {}),
            PortTable::kSpare);
  // Any port the table does not hold answers from the spare.
  EXPECT_EQ(PortTableGetUserOnPort(ctx.portTable, "SRV1\\COM9"), "DOM\\late");

  // Clearing an unknown port clears the spare only.
  PortTableClear(ctx.portTable, "SRV1\\COM9");
  EXPECT_EQ(PortTableGetStartTime(ctx.portTable, Port(256)), 0);
  EXPECT_EQ(PortTableGetStartTime(ctx.portTable, Port(255)), kStart + 255);
  EXPECT_EQ(PortTableGetUserOnPort(ctx.portTable, Port(0)), "DOM\\u0");

  // A freed entry is taken again before the spare.
  PortTableClear(ctx.portTable, Port(17));
  EXPECT_EQ(PortTableStore(ctx.portTable, ctx.paths.systemData, "*", "SRV1\\COM1", kStart, "DOM\\ann", {}), 17);
}

TEST_F(PortTableTest, ANewSessionOnABusyPortReplacesTheStaleEntry) {
  PortTableStore(ctx.portTable, ctx.paths.systemData, "*", Port(0), kStart, "DOM\\a", {});
  PortTableStore(ctx.portTable, ctx.paths.systemData, "*", kCom1, kStart, "DOM\\old", {});
  PortTableStore(ctx.portTable, ctx.paths.systemData, "*", Port(2), kStart, "DOM\\c", {});
  PortTableClear(ctx.portTable, Port(0));
  // Entry 0 is free, but COM1's session is in entry 1: the new one goes there.
  EXPECT_EQ(PortTableStore(ctx.portTable, ctx.paths.systemData, "*", kCom1, kStart + 99, "DOM\\new", {}), 1);
  EXPECT_EQ(PortTableGetUserOnPort(ctx.portTable, kCom1), "DOM\\new");
}

TEST_F(PortTableTest, ClearKeepsIpxAndIdleTimerUntilTheNextStore) {
  SetHw(kCom1, "Idle", "2");
  PortTableStore(ctx.portTable, ctx.paths.systemData, "PC", kCom1, kStart, "DOM\\ann", {});
  {
    auto lock = ctx.portTable.Lock();
    PortEntry& e = ctx.portTable.Entry(0);
    e.ipx = "00AA";
    e.forced = 1;
    e.reason = 9;
    e.notifyLevel = 3;
  }
  PortTableClear(ctx.portTable, kCom1);
  auto lock = ctx.portTable.Lock();
  const PortEntry& e = ctx.portTable.Entry(0);
  EXPECT_EQ(e.start, 0);
  EXPECT_EQ(e.port, "");
  EXPECT_EQ(e.user, "");
  EXPECT_EQ(e.netbios, "");
  EXPECT_EQ(e.forced, 0);
  EXPECT_EQ(e.reason, 0);
  EXPECT_EQ(e.notifyLevel, 0);
  EXPECT_EQ(e.ipx, "00AA");
  EXPECT_EQ(e.portIdleTimer, 120);
}

}  // namespace
}  // namespace svc
