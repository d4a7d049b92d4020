// The protocol handler on a real data folder: what each message does to the
// port table, the files and the event log, and what it answers.
#include <gtest/gtest.h>

#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "service/pipe_server.h"
#include "service/port_table.h"
#include "service/session_log.h"
#include "service/session_restore.h"
#include "service/tests/policy_fixture.h"

namespace svc {
namespace {

using testing::kAnn;
using testing::kCom1;

class PipeProtocolTest : public testing::PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    ctx.sessionFile = "C:\\PLData\\~plsess.tmp";
    SetUser(kAnn, "MaxSessionTime", "3600");
  }

  std::string Send(const std::string& message) { return HandleClientMessage(ctx, message); }

  std::vector<plat::EventRecord> Events() {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    EXPECT_EQ(plat::EventLogReader::Open("", "Application", &reader), plat::ERROR_SUCCESS);
    reader.ReadAll(&records);
    return records;
  }

  PortEntry EntryFor(const std::string& port) {
    auto lock = ctx.portTable.Lock();
    return ctx.portTable.Entry(ctx.portTable.Find(port));
  }

  std::string DayLog() { return GetLogFileName(ctx, now); }

};

TEST_F(PipeProtocolTest, AnAdmittedConnectionIsRecordedEverywhere) {
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "00");
  const PortEntry e = EntryFor(kCom1);
  EXPECT_EQ(e.port, kCom1);
  EXPECT_EQ(e.user, kAnn);
  EXPECT_EQ(e.start, now) << "time 0 means now";
  EXPECT_EQ(e.deadline, now + 3600);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "1");
  EXPECT_EQ(Record(DayLog(), kCom1, Key(now)), "C_DOM\\ann");
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, 3u);
  EXPECT_EQ(events.back().strings, (std::vector<std::string>{kCom1, kAnn}));
}

TEST_F(PipeProtocolTest, ARefusedConnectionIsLoggedAndLeavesNoSession) {
  EXPECT_EQ(Send("0,COM1,DOM\\zed,*,0,0,0"), "10");
  EXPECT_EQ(EntryFor(kCom1).start, 0) << "no entry: the lookup lands on the empty spare";
  EXPECT_EQ(Record(DayLog(), kCom1, Key(now)), "N_DOM\\zed?1");
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", "DOM\\zed"), "<none>");
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, 4u);
  // The reason too: the event alone tells the administrator why.
  EXPECT_EQ(events.back().strings,
            (std::vector<std::string>{kCom1, "DOM\\zed", "1: User not defined"}));
}

TEST_F(PipeProtocolTest, AddressRequestsWithoutStaticAddressesKeepTheProposal) {
  EXPECT_EQ(Send("2,COM1,ann,*,*,167772170,0"), "20");
  EXPECT_EQ(Read(ctx.sessionFile, kCom1, "IP"), "167772170");
  // The admission then takes that address into the session.
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(EntryFor(kCom1).address, 167772170);
  // With IPConvert the stored address is byte-swapped on the way in.
  ctx.settings.ipConvert = 1;
  SetUser("DOM\\bob", "MaxSessionTime", "0");
  EXPECT_EQ(Send("2,COM2,bob,*,*,167772171,0"), "20");
  EXPECT_EQ(Send("0,COM2,DOM\\bob,*,0,0,0"), "00");
  EXPECT_EQ(EntryFor("SRV1\\COM2").address, common::RevertDWORD(167772171));
}

TEST_F(PipeProtocolTest, StaticAddressesOfUsersBeatThoseOfPorts) {
  ctx.settings.staticIP = 1;
  ctx.settings.assumeDomain = "DOM";
  SetHw(kCom1, "StaticIP", "167772200");  // 10.0.0.40
  EXPECT_EQ(Send("2,COM1,bob,*,*,167772170,0"), common::FormatReply(3, common::RevertDWORD(167772200)));
  EXPECT_EQ(Read(ctx.sessionFile, kCom1, "IP"), "167772200");
  SetUser(kAnn, "StaticIP", "-2147483647");  // 128.0.0.1
  EXPECT_EQ(Send("2,COM1,ann,*,*,167772170,0"), common::FormatReply(3, common::RevertDWORD(-2147483647)));
  EXPECT_EQ(Read(ctx.sessionFile, kCom1, "IP"), "-2147483647");
  // Neither has one: keep the proposal.
  EXPECT_EQ(Send("2,COM3,bob,*,*,167772170,0"), "20");
  EXPECT_EQ(Read(ctx.sessionFile, "SRV1\\COM3", "IP"), "167772170");
}

TEST_F(PipeProtocolTest, BareUserNamesTakeTheDomainTheLookupFinds) {
  ctx.settings.assumeDomain = "";
  EXPECT_EQ(BuildUserAccount(ctx, "ann"), "DOM\\ann");
  EXPECT_EQ(BuildUserAccount(ctx, "nobody-here"), "nobody-here");
  ctx.settings.assumeDomain = "OTHER";
  EXPECT_EQ(BuildUserAccount(ctx, "ann"), "OTHER\\ann");
}

// Each message is answered on its own: one not acted on gets the one fixed
// refusal, never what the caller before was told (here: ann's address).
TEST_F(PipeProtocolTest, MessagesThatAreNotActedOnGetOneFixedRefusal) {
  ctx.settings.staticIP = 1;
  ctx.settings.assumeDomain = "DOM";
  SetUser(kAnn, "StaticIP", "167772237");
  const std::string annsAddress = common::FormatReply(3, common::RevertDWORD(167772237));
  for (const std::string& invalid :
       {std::string("0,COM1,DOM\\ann"), std::string(",,,,,,"), std::string(""),
        "0,COM1,DOM\\" + std::string(120, 'z') + ",*,0,0,0"}) {
    ASSERT_EQ(Send("2,COM1,ann,*,*,167772170,0"), annsAddress);
    EXPECT_EQ(Send(invalid), "10") << invalid;
  }
  EXPECT_EQ(Send("UPDATE_UPDATE"), "00") << "nor does the re-read request echo an address";
  EXPECT_EQ(EntryFor(kCom1).start, 0);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "<none>");
  // An unknown or unreadable kind is answered "00" and does nothing.
  EXPECT_EQ(Send("7,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(Send("x,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(EntryFor(kCom1).start, 0);
}

TEST_F(PipeProtocolTest, OverlongFieldsAreRefusedWithoutTouchingAnything) {
  const std::string longUser = "DOM\\" + std::string(96, 'a');  // 100 characters
  EXPECT_EQ(Send("0,COM1," + longUser + ",*,0,0,0"), "10");
  EXPECT_EQ(Send("2,COM1," + std::string(100, 'b') + ",*,*,167772170,0"), "10");
  EXPECT_EQ(Send("1,COM1,DOM\\ann," + std::string(120, 'm') + ",0,0,60"), "10");
  EXPECT_FALSE(plat::FileExists(DayLog()));
  EXPECT_FALSE(plat::FileExists(ctx.sessionFile));
}

// A session record holds 37 characters of account: a longer name is refused
// at the pipe with its reason, and nothing is written that a reader would cut
// into another name.
TEST_F(PipeProtocolTest, AccountsLongerThanARecordHoldsAreRefusedWithTheirReason) {
  ctx.settings.assumeDomain = "DOM";
  ctx.systemData.defaults.assignDefault = 1;
  const std::string longest = "DOM\\" + std::string(33, 'a');  // 37
  const std::string tooLong = longest + "b";
  ASSERT_EQ(tooLong.size(), common::kMaxRecordAccount + 1);
  SetUser(tooLong, "MaxSessionTime", "0");
  SetUser(tooLong, "LastConnection", Key(now - 60));
  SetUser(tooLong + "b", "StaticIP", "167772237");  // the address request's account
  std::string usersBefore, usersAfter;
  ASSERT_EQ(plat::ReadWholeFile(ctx.paths.users, &usersBefore), plat::ERROR_SUCCESS);
  EXPECT_EQ(Send("0,COM1," + tooLong + ",*,0,0,0"), "10");
  EXPECT_EQ(Send("0,COM1,DOM\\" + std::string(34, 'c') + ",*,0,0,0"), "10") << "no default profile for it";
  EXPECT_EQ(Send("1,COM1," + tooLong + ",*,0,0,60"), "10") << "a hang-up of it is not recorded either";
  ctx.settings.staticIP = 1;
  EXPECT_EQ(Send("2,COM1," + std::string(33, 'a') + "bb,*,*,167772170,0"), "10");
  EXPECT_EQ(EntryFor(kCom1).start, 0);
  EXPECT_FALSE(plat::FileExists(DayLog()));
  EXPECT_FALSE(plat::FileExists(ctx.sessionFile));
  ASSERT_EQ(plat::ReadWholeFile(ctx.paths.users, &usersAfter), plat::ERROR_SUCCESS);
  EXPECT_EQ(usersAfter, usersBefore);
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, 4u);
  ASSERT_EQ(events.back().strings.size(), 2u);
  EXPECT_NE(events.back().strings[1].find("38 characters long; a session record holds at most 37"),
            std::string::npos)
      << events.back().strings[1];

  EXPECT_EQ(Send("0,COM1," + longest + ",*,0,0,0"), "00") << "37 characters are a name";
  EXPECT_EQ(common::LoadLogRecords(DayLog()).front().user, longest);
}

TEST_F(PipeProtocolTest, UpdateRereadsTheSettingsWithoutTokenising) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "IdleTimer", 7), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "MasterShare", "\\\\SRV1\\PL_NT_DB"), plat::ERROR_SUCCESS);
  EXPECT_EQ(Send("0,COM1,DOM\\zed,*,0,0,0"), "10");
  EXPECT_EQ(Send("UPDATE_UPDATE,0,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(ctx.settings.idleTimerSeconds, 420u);
  EXPECT_EQ(EntryFor(kCom1).start, 0) << "the rest of the message is not a connection";
}

TEST_F(PipeProtocolTest, AFullSessionTellsOneStoryEverywhere) {
  SetHw(kCom1, "MaxSessionTime", "0");
  EXPECT_EQ(Send("2,COM1,ann,*,*,167772170,0"), "20");
  const std::time_t start = now;
  EXPECT_EQ(Send("0,COM1,DOM\\ann,WKS1," + Key(start) + ",0,0"), "00");
  EXPECT_EQ(Hw(kCom1, "Active"), "1");
  EXPECT_EQ(User(kAnn, "TotalConnects"), "1");
  EXPECT_EQ(User(kAnn, "Lasted"), "0");
  now += 600;
  EXPECT_EQ(Send("1,COM1,DOM\\ann,*," + Key(start) + ",0,600"), "00");
  EXPECT_EQ(Record(DayLog(), kCom1, Key(start)), "C_DOM\\ann");
  EXPECT_EQ(Record(DayLog(), kCom1, Key(now)), "H600_DOM\\ann?167772170?0::WKS1:-1:-1");
  EXPECT_EQ(User(kAnn, "TotalTime"), "600");
  EXPECT_EQ(User(kAnn, "Lasted"), "600");
  EXPECT_EQ(User(kAnn, "LastConnection"), Key(start));
  EXPECT_EQ(User(kAnn, "FirstConnection"), Key(start));
  EXPECT_EQ(Hw(kCom1, "Active"), "0");
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "<none>");
  EXPECT_EQ(EntryFor(kCom1).start, 0);
}

// Durations and times from a message are held to what is possible: no
// counter wraps, and no limit is switched off by a date in the future.
TEST_F(PipeProtocolTest, DurationsAndTimesAreHeldToWhatIsPossible) {
  SetUser(kAnn, "MaxTotalTime", "3600");
  SetUser(kAnn, "TotalTime", "4000");
  SetUser(kAnn, "ExpiryTime", "30");
  SetUser(kAnn, "FirstConnection", std::to_string(now - 40 * 86400));
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "10") << "over its total time";
  for (int i = 0; i < 2; ++i) {
    Send("1,COM1,DOM\\ann,*," + std::to_string(now - 60) + ",0,99999999999");
  }
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "10") << "still over its total time";
  EXPECT_LE(std::stoll(Read(ctx.paths.users, kAnn, "TotalTime")), 4000 + 2 * (60 + kClockSkewSeconds));
  EXPECT_GE(std::stoll(Read(ctx.paths.users, kAnn, "TotalTime")), 4000);

  // A start in 2038 is taken as now: expiry stays on.
  SetUser("DOM\\bob", "MaxSessionTime", "3600");
  SetUser("DOM\\bob", "ExpiryTime", "30");
  EXPECT_EQ(Send("0,COM2,DOM\\bob,*,2147483647,0,0"), "00");
  EXPECT_EQ(std::stoll(Read(ctx.paths.users, "DOM\\bob", "FirstConnection")), now);

  // A counter near the top stops there instead of wrapping.
  SetUser("DOM\\bob", "TotalTime", "2147483000");
  Send("1,COM2,DOM\\bob,*," + std::to_string(now) + ",0,0");
  const std::time_t start = now;
  now += 5000;
  EXPECT_EQ(Send("0,COM2,DOM\\bob,*," + std::to_string(start) + ",0,0"), "00");
  Send("1,COM2,DOM\\bob,*," + std::to_string(start) + ",0,4000");
  EXPECT_EQ(Read(ctx.paths.users, "DOM\\bob", "TotalTime"), "2147483647");
}

// Port names become sections of the shared files: made-up ones are turned
// away before anything is written, and so are accounts a record cannot hold.
TEST_F(PipeProtocolTest, ImplausiblePortsAndAccountsWriteNothing) {
  const auto before = plat::ProfileListSections(ctx.paths.systemData);
  for (const std::string& port : {std::string(40, 'P'), std::string("COM 1"), std::string("COM1]"),
                                 std::string("..\\x"), std::string("-x")}) {
    EXPECT_EQ(Send("0," + port + ",DOM\\ann,*,0,0,0"), "10") << port;
    Send("1," + port + ",DOM\\ann,*,0,0,5");
    Send("2," + port + ",ann,*,*,167772170,0");
  }
  EXPECT_EQ(plat::ProfileListSections(ctx.paths.systemData), before);
  EXPECT_FALSE(plat::ProfileListSections(DayLog())) << "no record of any of them";
  EXPECT_FALSE(plat::ProfileListSections(ctx.sessionFile));

  SetUser("DOM\\x?3", "MaxSessionTime", "3600");
  EXPECT_EQ(Send("0,COM1,DOM\\x?3,*,0,0,0"), "10");
  for (const auto& r : common::LoadLogRecords(DayLog())) {
    EXPECT_EQ(r.address, 0u) << "the name was read back whole, not as user and address";
  }
}

// An address that a live session holds goes to no second session, whoever's
// profile names it: the second caller keeps the proposal, and the event says why.
TEST_F(PipeProtocolTest, AStaticAddressHeldByALiveSessionGoesToNoSecondSession) {
  ctx.settings.staticIP = 1;
  ctx.settings.assumeDomain = "DOM";
  SetUser(kAnn, "StaticIP", "167772237");  // 10.0.0.77
  SetUser("DOM\\bob", "StaticIP", "167772237");
  SetUser("DOM\\bob", "MaxSessionTime", "0");
  const std::string address = common::FormatReply(3, common::RevertDWORD(167772237));
  ASSERT_EQ(Send("2,COM1,ann,*,*,167772170,0"), address);
  ASSERT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(EntryFor(kCom1).address, 167772237);

  EXPECT_EQ(Send("2,COM2,bob,*,*,167772171,0"), "20");
  EXPECT_EQ(Send("2,COM3,ann,*,*,167772172,0"), "20") << "nor to a second session of the same user";
  ASSERT_EQ(Send("0,COM2,DOM\\bob,*,0,0,0"), "00");
  EXPECT_EQ(EntryFor("SRV1\\COM2").address, 167772171) << "bob has the proposed address";
  const auto events = Events();
  int inUse = 0;
  for (const auto& e : events) {
    if (e.eventId != 6) continue;
    ++inUse;
    ASSERT_EQ(e.strings.size(), 2u);
    EXPECT_NE(e.strings[1].find("10.0.0.77"), std::string::npos) << e.strings[1];
    EXPECT_NE(e.strings[1].find("held by DOM\\ann on SRV1\\COM1"), std::string::npos) << e.strings[1];
  }
  EXPECT_EQ(inUse, 2);

  // A new call on ann's own port (her hang-up lost) may have it again, and once
  // she has hung up, so may bob.
  EXPECT_EQ(Send("2,COM1,ann,*,*,167772170,0"), address);
  ASSERT_EQ(Send("1,COM1,DOM\\ann,*,0,0,60"), "00");
  ASSERT_EQ(Send("1,COM2,DOM\\bob,*,0,0,60"), "00");
  EXPECT_EQ(Send("2,COM2,bob,*,*,167772171,0"), address);
}

// Only what really ran is charged: a start from 1970 is no start, a stray
// hang-up is no session, and a session taken back at start-up is one.
TEST_F(PipeProtocolTest, WhatRanIsChargedAndNothingElse) {
  SetUser(kAnn, "ExpiryTime", "30");
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,1,0,0"), "00");
  EXPECT_EQ(User(kAnn, "FirstConnection"), Key(now)) << "1970 is taken as now";
  EXPECT_EQ(EntryFor(kCom1).deadline, now + 3600);
  now += 600;
  ASSERT_EQ(Send("1,COM1,DOM\\ann,*,0,0,600"), "00");
  EXPECT_EQ(Send("0,COM1,DOM\\ann,*,0,0,0"), "00") << "not expired";
  // A start within the day stands (a further link of a running connection).
  SetUser("DOM\\bob", "MaxSessionTime", "0");
  EXPECT_EQ(Send("0,COM4,DOM\\bob,*," + Key(now - 7200) + ",0,0"), "00");
  EXPECT_EQ(EntryFor("SRV1\\COM4").start, now - 7200);

  // A hang-up on a port without a session and without a length: nothing ran.
  const std::string total = User(kAnn, "TotalTime");
  EXPECT_EQ(Send("0,COM2,DOM\\ann,*,0,0,0"), "00");  // ann's second session, on COM2
  now += 600;
  EXPECT_EQ(Send("1,COM3,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(User(kAnn, "TotalTime"), total);
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "2") << "her two sessions still count";
  EXPECT_EQ(EntryFor("SRV1\\COM2").start, now - 600);

  // A first session, admitted unchecked while the service was away and taken
  // back at start-up, is recorded and charged at its hang-up.
  SetUser("DOM\\carol", "MaxSessionTime", "0");
  ASSERT_EQ(ResumeRunningSessions(ctx, {RunningSession{"COM5", "DOM\\carol", "*", now - 300}}), 1);
  now += 100;
  ASSERT_EQ(Send("1,COM5,DOM\\carol,*,0,0,400"), "00");
  EXPECT_EQ(User("DOM\\carol", "TotalTime"), "400");
  EXPECT_EQ(Record(DayLog(), "SRV1\\COM5", Key(now)), "H400_DOM\\carol?0?0::*:-1:-1");
  EXPECT_EQ(EntryFor("SRV1\\COM5").start, 0);
}

}  // namespace
}  // namespace svc
