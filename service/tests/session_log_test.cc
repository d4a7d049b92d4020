#include "service/session_log.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "common/data_folder.h"
#include "platform/eventlog.h"
#include "platform/fault_seam.h"
#include "platform/file.h"
#include "platform/path.h"
#include "service/admission.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/tests/policy_fixture.h"
#include "service/write_health.h"
#include "platform/testing/host_tools.h"

namespace svc {
namespace {

using testing::At;
using testing::kAnn;
using testing::kCom1;

class SessionLogTest : public testing::PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    SetUser(kAnn, kMaxSessionTime, "0");
  }

  // An admitted session as the pipe handler makes it: admission, address, roster.
  void Connect(const std::string& port = kCom1, const std::string& user = kAnn) {
    ASSERT_EQ(IsThisUserOK(ctx, "ANNPC", user, port, now), kAdmitted);
    PortTableStoreIP(ctx.portTable, port, 167772170);
    ASSERT_EQ(plat::ProfileWriteString(ctx.paths.loggedIn, "SRV1", user, "1"), 0u);
  }
  std::string DayLog(std::time_t when, const std::string& key, const std::string& port = kCom1) {
    return Record(GetLogFileName(ctx, when), port, key);
  }

  // Writes a record of the remote-access service into the System log.
  void SystemEvent(std::time_t when, DWORD id, std::vector<std::string> strings) {
    plat::EventSource source;
    ASSERT_EQ(plat::EventSource::Register("", "RemoteAccess", &source), 0u);
    ASSERT_EQ(source.logName(), "System");
    ASSERT_EQ(source.ReportAt(when, plat::EVENTLOG_INFORMATION_TYPE, 0, id, strings), 0u);
  }
  // NT 4: domain, user, port, ... bytes out in 9, bytes in in 10.
  static std::vector<std::string> Nt4Stats(const char* user, const char* port, const char* out,
                                           const char* in) {
    return {"DOM", user, port, "3", "4", "5", "6", "7", "8", out, in};
  }
};

TEST_F(SessionLogTest, RecordTextsOfAConnectionAndItsHangUp) {
  const std::time_t start = now;
  Connect();
  EXPECT_EQ(DayLog(start, Key(start)), "C_DOM\\ann");
  EXPECT_EQ(GetLogFileName(ctx, start), "\\\\SRV1\\PL_NT_DB\\LogData\\2024-Mar-12.log");
  EXPECT_EQ(Hw(kCom1, "Active"), "1");
  EXPECT_TRUE(plat::FileExists("C:\\PLData\\LogData\\2024-Mar-12.log"));

  now += 600;
  Log_HangUp(ctx, kAnn, kCom1, 600, start);
  EXPECT_EQ(DayLog(now, Key(now)), "H600_DOM\\ann?167772170?0::ANNPC:-1:-1");
  EXPECT_EQ(Hw(kCom1, "Active"), "0");
  EXPECT_EQ(Read(ctx.paths.loggedIn, "SRV1", kAnn), "<none>");
  EXPECT_EQ(PortTableGetStartTime(ctx.portTable, kCom1), 0);

  now += 5;
  Log_DeniedConnection(ctx, kAnn, now, kCom1, kRefuseTotalTime);
  EXPECT_EQ(DayLog(now, Key(now)), "N_DOM\\ann?3");
}

TEST_F(SessionLogTest, CopiesGoToTheCombinedLogWhenAsked) {
  ctx.settings.logToLargeFile = 1;
  Connect();
  EXPECT_EQ(Record(ctx.paths.combinedLog, kCom1, Key(now)), "C_DOM\\ann");
  ctx.settings.logToLargeFile = 0;
  now += 1;
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  EXPECT_EQ(Record(ctx.paths.combinedLog, kCom1, Key(now)), "<none>");
}

class GermanSessionLogTest : public testing::PolicyTest {
 protected:
  GermanSessionLogTest() : PolicyTest(plat::LOCALE_GERMAN) {}
};

TEST_F(GermanSessionLogTest, DayNamesUseEnglishMonthsWhateverTheLocale) {
  EXPECT_EQ(common::DayLogName(At(2024, 3, 1)), "2024-Mar-01");
  EXPECT_EQ(common::DayLogName(At(2024, 5, 9)), "2024-May-09");
  EXPECT_EQ(common::DayLogName(At(2000, 10, 21)), "2000-Oct-21");
  EXPECT_EQ(common::DayLogName(At(2000, 12, 31, 23, 59, 59)), "2000-Dec-31");
}

TEST_F(SessionLogTest, ASessionOverMidnightHasItsRecordsInTwoFiles) {
  now = At(2024, 3, 12, 23, 50);
  const std::time_t start = now;
  Connect();
  now = At(2024, 3, 13, 0, 10);
  Log_HangUp(ctx, kAnn, kCom1, 1200, start);
  EXPECT_EQ(Read("C:\\PLData\\LogData\\2024-Mar-12.log", kCom1, Key(start)), "C_DOM\\ann");
  EXPECT_EQ(Read("C:\\PLData\\LogData\\2024-Mar-13.log", kCom1, Key(now)),
            "H1200_DOM\\ann?167772170?0::ANNPC:-1:-1");
  EXPECT_EQ(Read("C:\\PLData\\LogData\\2024-Mar-12.log", kCom1, Key(now)), "<none>");

  // Started before midnight, handled after it: the call-back number still
  // finds the connection record in the new day's file.
  const std::time_t late = At(2024, 3, 13, 23, 59, 58);
  now = late + 4;
  ASSERT_EQ(IsThisUserOK(ctx, "*", kAnn, kCom1, late), kAdmitted);
  now += 60;
  SystemEvent(now, 20068, {"DOM", "ann", "COM1", "555"});
  Log_HangUp(ctx, kAnn, kCom1, 64, late);
  EXPECT_EQ(Read("C:\\PLData\\LogData\\2024-Mar-14.log", kCom1, Key(late)), "C_DOM\\ann*555");
  EXPECT_EQ(Read("C:\\PLData\\LogData\\2024-Mar-13.log", kCom1, Key(late)), "<none>");
}

TEST_F(SessionLogTest, ZeroDurationTakesThePortTablesStart) {
  const std::time_t start = now;
  Connect();
  now += 754;
  Log_HangUp(ctx, kAnn, kCom1, 0, 0);
  EXPECT_EQ(DayLog(now, Key(now)).substr(0, 5), "H754_");
  EXPECT_EQ(User(kAnn, kLasted), "754");
  EXPECT_EQ(User(kAnn, kTotalTime), "754");
  (void)start;
}

// Nothing tells how long such a session ran (a refused caller's hang-up):
// the profile's latest connection is no measure of it.
TEST_F(SessionLogTest, ZeroDurationWithoutATableEntryChargesNothing) {
  Connect();
  PortTableClear(ctx.portTable, kCom1);
  now += 90;
  Log_HangUp(ctx, kAnn, kCom1, 0, 0);
  EXPECT_EQ(User(kAnn, kLasted), "0");
  EXPECT_EQ(User(kAnn, kTotalTime), "<none>");
  EXPECT_EQ(DayLog(now, Key(now)), "<none>");
}

TEST_F(SessionLogTest, UsageKeysMoveWithEachEvent) {
  SetUser(kAnn, kTotalTime, "100");
  const std::time_t first = now;
  Connect();
  EXPECT_EQ(User(kAnn, kTotalConnects), "1");
  EXPECT_EQ(User(kAnn, kFirstConnection), Key(first));
  EXPECT_EQ(User(kAnn, kLastConnection), Key(first));
  EXPECT_EQ(User(kAnn, kLasted), "0");
  now += 300;
  Log_HangUp(ctx, kAnn, kCom1, 300, first);
  EXPECT_EQ(User(kAnn, kLasted), "300");
  EXPECT_EQ(User(kAnn, kTotalTime), "400");
  EXPECT_EQ(User(kAnn, kPeriodUsage), "<none>");  // no period: untouched

  now += 1000;
  const std::time_t second = now;
  SetUser(kAnn, kPeriodType, "3");
  Connect();
  EXPECT_EQ(User(kAnn, kTotalConnects), "2");
  EXPECT_EQ(User(kAnn, kFirstConnection), Key(first));
  EXPECT_EQ(User(kAnn, kLastConnection), Key(second));
  EXPECT_EQ(User(kAnn, kPeriodStamp), Key(second));
  now += 50;
  Log_HangUp(ctx, kAnn, kCom1, 50, second);
  EXPECT_EQ(User(kAnn, kTotalTime), "450");
  EXPECT_EQ(User(kAnn, kPeriodUsage), "50");

  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  EXPECT_EQ(User(kAnn, kTotalDenieds), "2");
}

// A users file as an administrator writes it: the first session that must
// replace it brings every account into the service's form in that one
// replacement, so that no other account's first session replaces it again.
TEST_F(SessionLogTest, AHandWrittenUsersFileIsReplacedOnceNotOncePerAccount) {
  std::string text = "; by hand\n[+DOM\\Dialers]\nPeriodType=1\n[DOM\\ann]\nTotalConnects=4\nTotalTime=100\n";
  for (int i = 0; i < 2000; ++i) {
    text += "[DOM\\u" + std::to_string(i) + "]\nMaxSessionTime=0\nRoom=\"B 2\"\n";
    if (i % 2) text += "TotalConnects=" + std::to_string(i) + "\nLastConnection=1000\n";
  }
  ASSERT_EQ(plat::WriteWholeFile(ctx.paths.users, text), plat::ERROR_SUCCESS);
  std::string host;
  ASSERT_EQ(plat::ResolvePath(ctx.paths.users, &host), plat::ERROR_SUCCESS);
  // Whether the name still leads to the file open on `fd` (held open, its
  // inode number cannot go to a replacement).
  const auto stillThere = [&](int fd) {
    struct stat named {}, held {};
    return ::stat(host.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 && named.st_ino == held.st_ino;
  };

  Connect();  // ann's TotalConnects grows past its width: the file is replaced
  EXPECT_EQ(User(kAnn, kTotalConnects), "5");
  const int laidOut = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  const std::string after = plat::testing::ReadHostFile(host);
  EXPECT_EQ(after.find("; by hand\n[+DOM\\Dialers]\nPeriodType=1\n[DOM\\ann]\n"), 0u);
  EXPECT_NE(after.find("[DOM\\u7]\nMaxSessionTime=0\nRoom=\"B 2\"\nTotalConnects=7          \n"
                       "LastConnection=1000       \nTotalDenieds=0          \n"),
            std::string::npos);
  EXPECT_EQ(User("DOM\\u8", kTotalConnects), "0");
  EXPECT_EQ(User("DOM\\u8", "Room"), "B 2");

  for (const char* user : {"DOM\\u8", "DOM\\u9", "DOM\\u1500"}) {
    now += 10;
    Log_Connection(ctx, user, now, kCom1);
    now += 60;
    Log_HangUp(ctx, user, kCom1, 60, now - 60);
  }
  EXPECT_TRUE(stillThere(laidOut)) << "every later session is written where it stands";
  ::close(laidOut);
  EXPECT_EQ(User("DOM\\u9", kTotalConnects), "10");
  EXPECT_EQ(User("DOM\\u1500", kTotalTime), "60");
}

TEST_F(SessionLogTest, AGroupPeriodIsChargedAtHangUp) {
  SetUser("+DOM\\Dialers", kPeriodType, "1");
  SetUser("+DOM\\Dialers", kPeriodMax, "600");
  const std::time_t start = now;
  Connect();
  now += 500;
  Log_HangUp(ctx, kAnn, kCom1, 500, start);
  EXPECT_EQ(User(kAnn, kPeriodUsage), "500");
  now += 60;
  Connect();
  now += 101;
  Log_HangUp(ctx, kAnn, kCom1, 101, now - 101);
  now += 60;
  EXPECT_EQ(IsThisUserOK(ctx, "*", kAnn, kCom1, now), kRefusePeriodUsedUp);
}

TEST_F(SessionLogTest, RefusalWithoutProfileWritesRecordAndCounterOnly) {
  ctx.systemData.dailyStatusEmailType = 1;
  Log_DeniedConnection(ctx, "DOM\\nobody", now, kCom1, kRefuseNoProfile);
  EXPECT_EQ(DayLog(now, Key(now)), "N_DOM\\nobody?1");
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Denied"), "1");
  EXPECT_FALSE(HasProfile(ctx, "DOM\\nobody"));
}

TEST_F(SessionLogTest, CountersOnlyWhileTheStatusMailIsOn) {
  Connect();
  now += 10;
  Log_HangUp(ctx, kAnn, kCom1, 10, now - 10);
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  EXPECT_FALSE(plat::FileExists(ctx.paths.statusCounters));

  ctx.systemData.dailyStatusEmailType = 1;
  now += 10;
  Connect();
  {
    auto lock = ctx.portTable.Lock();
    PortEntry& e = ctx.portTable.Entry(ctx.portTable.Find(kCom1));
    e.forced = 1;
    e.reason = kReasonIdle;
  }
  now += 10;
  Log_HangUp(ctx, kAnn, kCom1, 10, now - 10);
  EXPECT_EQ(DayLog(now, Key(now)), "H10_DOM\\ann?167772170?9::ANNPC:-1:-1");
  now += 10;
  Connect("SRV1\\COM2");
  now += 10;
  Log_HangUp(ctx, kAnn, "SRV1\\COM2", 10, now - 10);  // normal hang-up: no Disconnect
  Log_DeniedConnection(ctx, kAnn, now, kCom1, 4);
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Sessions"), "2");
  EXPECT_EQ(Read(ctx.paths.statusCounters, "Users", kAnn), "2");
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Disconnect"), "1");
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Denied"), "1");
}

// One count per account: a count that grows by a digit is written where it
// stands, however many accounts the file holds.
TEST_F(SessionLogTest, CountersGrowingByADigitLeaveTheFileWhereItStands) {
  ctx.systemData.dailyStatusEmailType = 1;
  std::string text = "[General]\nSessions=9\n[Users]\n";
  for (int i = 0; i < 5000; ++i) text += "DOM\\u" + std::to_string(i) + "=1\n";
  ASSERT_EQ(plat::WriteWholeFile(ctx.paths.statusCounters, text), plat::ERROR_SUCCESS);
  Connect();  // Sessions 9 -> 10 and ann's first count, appended: the file is replaced once
  std::string host;
  ASSERT_EQ(plat::ResolvePath(ctx.paths.statusCounters, &host), plat::ERROR_SUCCESS);
  const int held = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  for (int i = 0; i < 10; ++i) {
    now += 60;
    Log_HangUp(ctx, kAnn, kCom1, 30, now - 30);
    now += 1;
    Connect();
  }
  struct stat named {}, open {};
  EXPECT_TRUE(::stat(host.c_str(), &named) == 0 && ::fstat(held, &open) == 0 && named.st_ino == open.st_ino)
      << "ann's count grew from 9 to 10 where it stands";
  ::close(held);
  EXPECT_EQ(Read(ctx.paths.statusCounters, "General", "Sessions"), "20");
  EXPECT_EQ(Read(ctx.paths.statusCounters, "Users", kAnn), "11");
  EXPECT_EQ(ReadStatusCounters(ctx).sessions, 20);
}

TEST_F(SessionLogTest, TwoEventsInOneSecondKeepBothRecordsAndTheirSecond) {
  ctx.settings.logToLargeFile = 1;
  Log_DeniedConnection(ctx, "DOM\\bob", now, kCom1, kRefuseNoProfile);
  Connect();
  Log_DeniedConnection(ctx, "DOM\\cy", now, kCom1, kRefuseNoProfile);
  EXPECT_EQ(DayLog(now, Key(now)), "N_DOM\\bob?1");
  // The next second is still free: no record drifts into it.
  EXPECT_EQ(DayLog(now, Key(now + 1)), "<none>");
  EXPECT_EQ(DayLog(now, Key(now) + ".1"), "C_DOM\\ann");
  EXPECT_EQ(DayLog(now, Key(now) + ".2"), "N_DOM\\cy?1");
  EXPECT_EQ(Record(ctx.paths.combinedLog, kCom1, Key(now) + ".2"), "N_DOM\\cy?1");
  // Another port's section has its own seconds.
  Log_DeniedConnection(ctx, "DOM\\cy", now, "SRV1\\COM2", kRefuseNoProfile);
  EXPECT_EQ(DayLog(now, Key(now), "SRV1\\COM2"), "N_DOM\\cy?1");

  // A call-back number finds the connection record where it went.
  const std::time_t start = now;
  now += 60;
  SystemEvent(now - 2, 20068, {"DOM", "ann", "COM1", "5551234"});
  Log_HangUp(ctx, kAnn, kCom1, 60, start);
  EXPECT_EQ(DayLog(start, Key(start) + ".1"), "C_DOM\\ann*5551234");
  EXPECT_EQ(Record(ctx.paths.combinedLog, kCom1, Key(start) + ".1"), "C_DOM\\ann*5551234");
  EXPECT_EQ(DayLog(start, Key(start)), "N_DOM\\bob?1");
}

TEST_F(SessionLogTest, HangUpForAnUnknownPortReadsAndClearsTheSpareOnly) {
  Connect();
  {
    auto lock = ctx.portTable.Lock();
    PortEntry& spare = ctx.portTable.Entry(PortTable::kSpare);
    spare.port = "SRV1\\VPN9";
    spare.start = now - 100;
    spare.address = 42;
    spare.netbios = "SPAREPC";
  }
  now += 30;
  Log_HangUp(ctx, kAnn, "SRV1\\COM7", 0, 0);
  EXPECT_EQ(DayLog(now, Key(now), "SRV1\\COM7"), "H130_DOM\\ann?42?0::SPAREPC:-1:-1");
  auto lock = ctx.portTable.Lock();
  EXPECT_EQ(ctx.portTable.Entry(PortTable::kSpare).start, 0);
  EXPECT_EQ(ctx.portTable.Entry(0).port, kCom1);
  EXPECT_NE(ctx.portTable.Entry(0).start, 0);
}

TEST_F(SessionLogTest, HangUpOfAnAccountNeverLoggedWritesNothingButEndsTheEntry) {
  Connect();
  SetUser("DOM\\zed", kMaxSessionTime, "0");
  now += 30;
  Log_HangUp(ctx, "DOM\\zed", kCom1, 30, now - 30);
  EXPECT_EQ(DayLog(now, Key(now)), "<none>");
  EXPECT_EQ(User("DOM\\zed", kTotalTime), "<none>");
  EXPECT_EQ(PortTableGetStartTime(ctx.portTable, kCom1), 0);
}

TEST_F(SessionLogTest, Nt4EventRecordsGiveBytesAndCallBack) {
  const std::time_t start = now;
  Connect();
  now += 600;
  SystemEvent(start - 3600, 20050, Nt4Stats("ann", "COM1", "1", "1"));  // an earlier session
  SystemEvent(now - 1, 20068, {"DOM", "ann", "COM1", "5551234"});
  SystemEvent(now - 1, 20050, Nt4Stats("bob", "COM1", "7", "7"));   // another user
  SystemEvent(now - 1, 20050, Nt4Stats("ann", "COM2", "8", "8"));   // another port
  SystemEvent(now, 20050, Nt4Stats("ANN", "com1", "2048", "1024"));
  Log_HangUp(ctx, kAnn, kCom1, 600, start);
  EXPECT_EQ(DayLog(now, Key(now)), "H600_DOM\\ann?167772170?0::ANNPC:1024:2048");
  EXPECT_EQ(DayLog(start, Key(start)), "C_DOM\\ann*5551234");
}

TEST_F(SessionLogTest, RrasEventRecordsGiveBytesAndCallBack) {
  const std::time_t start = now;
  Connect("SRV1\\VPN0-1");
  now += 60;
  SystemEvent(now, 20064, {"DOM\\ann", "VPN0-1", "5559876"});
  SystemEvent(now, 20048,
              {"OTHERDOM\\ann", "VPN0-1", "2", "3", "4", "5", "6", "7", "300", "100"});
  Log_HangUp(ctx, kAnn, "SRV1\\VPN0-1", 60, start);
  EXPECT_EQ(DayLog(now, Key(now), "SRV1\\VPN0-1"), "H60_DOM\\ann?167772170?0::ANNPC:100:300");
  EXPECT_EQ(DayLog(start, Key(start), "SRV1\\VPN0-1"), "C_DOM\\ann*5559876");
}

TEST_F(SessionLogTest, EventRecordsFromBeforeTheSessionAreNotRead) {
  const std::time_t start = now;
  Connect();
  now += 600;
  SystemEvent(start - 6, 20050, Nt4Stats("ann", "COM1", "2048", "1024"));
  SystemEvent(start - 6, 20068, {"DOM", "ann", "COM1", "5551234"});
  Log_HangUp(ctx, kAnn, kCom1, 600, start);
  EXPECT_EQ(DayLog(now, Key(now)), "H600_DOM\\ann?167772170?0::ANNPC:-1:-1");
  EXPECT_EQ(DayLog(start, Key(start)), "C_DOM\\ann");

  const SessionEventData inWindow = FindSessionEventData(kAnn, "COM1", start - 6);
  EXPECT_EQ(inWindow.bytesIn, 1024);
  EXPECT_EQ(inWindow.callbackNumber, "5551234");
}

}  // namespace
}  // namespace svc

namespace svc {
namespace {

using testing::kAnn;

class WriteHealthTest : public testing::PolicyTest {
 protected:
  int EventsWithId(DWORD id) {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    if (plat::EventLogReader::Open("", "Application", &reader) == plat::ERROR_SUCCESS) reader.ReadAll(&records);
    int n = 0;
    for (const auto& r : records) n += r.eventId == id ? 1 : 0;
    return n;
  }
  // Puts a file where a folder should be, or a folder where a file should be.
  void Break(const std::string& relative, bool asFile) {
    const std::string host = network_.DriveC("PLData/" + relative);
    std::filesystem::remove_all(host);
    if (asFile) {
      plat::testing::WriteHostFile(host, "");
    } else {
      std::filesystem::create_directories(host);
    }
  }
  void Mend(const std::string& relative, bool isFolder) {
    const std::string host = network_.DriveC("PLData/" + relative);
    std::filesystem::remove_all(host);
    if (isFolder) std::filesystem::create_directories(host);
  }
};

// Records that cannot be written are noticed: traced, one event per outage,
// one when writing works again; the caller is admitted, and its session still
// counts against a second login on this server.
TEST_F(WriteHealthTest, UnwritableRecordsAreReportedOnceAndTheSessionStillCounts) {
  SetUser(kAnn, "MaxSessionTime", "3600");
  SetUser(kAnn, "NoDuplicate", "1");
  Break("LogData", /*asFile=*/true);      // no day log can be written
  Break("portulon.tmp", /*asFile=*/false);  // nor the logged-in users

  EXPECT_EQ(IsThisUserOK(ctx, "*", kAnn, "SRV1\\COM1", now), kAdmitted);
  EXPECT_TRUE(ctx.writeHealth.failing());
  EXPECT_EQ(EventsWithId(common::kEventCannotRecord), 2) << "the day log and portulon.tmp";
  EXPECT_EQ(IsThisUserOK(ctx, "*", kAnn, "SRV1\\COM2", now + 1), kRefuseDuplicate)
      << "the session in the port table counts without the roster";
  EXPECT_EQ(EventsWithId(common::kEventCannotRecord), 2) << "once per outage";
  const long lost = ctx.writeHealth.lostWrites();
  EXPECT_GE(lost, 3);

  Mend("LogData", /*isFolder=*/true);
  Mend("portulon.tmp", /*isFolder=*/false);
  Log_HangUp(ctx, kAnn, "SRV1\\COM1", 60, now);
  EXPECT_FALSE(ctx.writeHealth.failing());
  EXPECT_EQ(EventsWithId(common::kEventRecordingAgain), 2);
  EXPECT_EQ(IsThisUserOK(ctx, "*", kAnn, "SRV1\\COM3", now + 90), kAdmitted);
  EXPECT_EQ(EventsWithId(common::kEventCannotRecord), 2);
}

// Charges kept while portulon.usr cannot be written add up: each hang-up
// read the same stale profile, and the spool keeps what each one adds, not
// the total it computed. Written in order once the file takes them, with one
// report when the outage began and one when everything kept was written.
TEST_F(WriteHealthTest, ChargesKeptInAnOutageAddUpWhenTheyAreWrittenLate) {
  ctx.spool.Open("C:\\spool.dat");
  SetUser(kAnn, "MaxSessionTime", "3600");
  SetUser(kAnn, "TotalTime", "1000");
  SetUser(kAnn, "TotalConnects", "5");
  SetUser(kAnn, "FirstConnection", "12345");
  SetUser(kAnn, "LastConnection", "12345");
  plat::SetFaultForTesting(plat::FaultCall::Write, "portulon.usr", EACCES);
  struct Clear {
    ~Clear() { plat::ClearFaultsForTesting(); }
  } clear;
  for (int i = 0; i < 2; ++i) {
    const std::string port = "SRV1\\COM" + std::to_string(i + 1);
    ASSERT_EQ(IsThisUserOK(ctx, "*", kAnn, port, now), kAdmitted);
    Log_HangUp(ctx, kAnn, port, 100, now);
  }
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalTime"), "1000") << "nothing reached the file";
  EXPECT_EQ(EventsWithId(common::kEventCannotRecord), 1) << "portulon.usr, once; the records wait behind it";
  const long kept = ctx.spool.pending();
  EXPECT_GE(kept, 4) << "at least both sessions' records and charges";

  plat::ClearFaultsForTesting();
  EXPECT_EQ(Log_WriteKept(ctx), kept);
  EXPECT_EQ(ctx.spool.pending(), 0);
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalTime"), "1200") << "both charges, not the last total twice";
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalConnects"), "7");
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "FirstConnection"), "12345") << "the first connection stays the first";
  const std::string log = common::DayLogPath(ctx.paths.folder, common::DayLogName(now));
  const auto records = plat::ProfileReadRecords(log, "SRV1\\COM2");
  ASSERT_TRUE(records);
  EXPECT_EQ(records->size(), 2u) << "connection and hang-up, in order";
  EXPECT_EQ(EventsWithId(common::kEventRecordingAgain), 1);
  EXPECT_FALSE(plat::FileExists("C:\\spool.dat"));
}

// A first connection kept while portulon.usr cannot be written, and its
// hang-up while the whole data folder is away: the session ran, so both
// records and every charge arrive once the folder is back, the first
// connection's keys and the period's use included.
TEST_F(WriteHealthTest, ASessionWhoseFolderWentAwayIsRecordedAndChargedWholeLater) {
  ctx.spool.Open("C:\\spool.dat");
  SetUser(kAnn, "MaxSessionTime", "3600");
  SetUser(kAnn, "PeriodType", "1");
  {
    plat::ScopedFault unwritable(plat::FaultCall::Write, "portulon.usr", EACCES);
    ASSERT_EQ(IsThisUserOK(ctx, "*", kAnn, "SRV1\\COM1", now), kAdmitted);
  }
  const std::time_t start = now;
  now += 100;
  const std::string folder = network_.DriveC("PLData");
  std::filesystem::rename(folder, folder + ".away");
  Log_HangUp(ctx, kAnn, "SRV1\\COM1", 100, start);
  std::filesystem::rename(folder + ".away", folder);
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalConnects"), "<none>") << "nothing reached the file yet";

  EXPECT_GE(Log_WriteKept(ctx), 4) << "both records and both charges";
  EXPECT_EQ(ctx.spool.pending(), 0);
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalConnects"), "1");
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "FirstConnection"), std::to_string(start));
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "TotalTime"), "100");
  EXPECT_EQ(Read(ctx.paths.users, kAnn, "PeriodUsage"), "100");
  const auto records =
      plat::ProfileReadRecords(common::DayLogPath(ctx.paths.folder, common::DayLogName(now)), "SRV1\\COM1");
  ASSERT_TRUE(records);
  EXPECT_EQ(records->size(), 2u) << "connection and hang-up";
}

}  // namespace
}  // namespace svc
