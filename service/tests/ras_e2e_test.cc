// End to end on an NT 4 RAS machine: plsvc and the remote-access service
// (rassvc) started through the service manager, rassvc calling the real
// PL_RAS.dll, callers driven by rasctl.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "common/data_folder.h"
#include "common/expiry_date.h"
#include "common/pipe_protocol.h"
#include "common/session_admin.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/messenger.h"
#include "platform/netapi.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/ras/ras_service.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "service/event_report.h"
#include "service/ras_ports.h"
#include "common/ras_kind.h"
#include "service/service_context.h"
#include "service/settings.h"
#include "service/tests/installed_plsvc.h"
#include "service/tests/ras_e2e_helpers.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::testing::RunTool;
using namespace testing::e2e;

class RasEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
    net_ = std::make_unique<plat::testing::TempNetwork>();
    InstallPortulon(*net_);
    common::testing::InstallAdminDll(*net_);
  }

  void TearDown() override {
    ras_.reset();
    if (bootedRas_) {
      plat::ServiceManager scm;
      plat::ServiceHandle ras;
      if (plat::ServiceManager::Open("", &scm) == plat::ERROR_SUCCESS &&
          scm.OpenService("RemoteAccess", &ras) == plat::ERROR_SUCCESS && ras.ProcessId() != 0) {
        ::kill(static_cast<pid_t>(ras.ProcessId()), SIGKILL);
        plat::WaitForServiceState(ras, plat::SERVICE_STOPPED, 10000);
      }
    }
    if (net_) KillPortulon();
  }

  void StartBoth() {
    StartPortulon();
    ras_ = std::make_unique<plat::testing::RasServiceRunner>();
  }

  std::unique_ptr<plat::testing::TempNetwork> net_;
  std::unique_ptr<plat::testing::RasServiceRunner> ras_;
  bool bootedRas_ = false;  // started by plmachine boot, not by ras_
};

TEST_F(RasEndToEndTest, ASessionFromDialInToHangUpIsRecordedWithTheBytesOfTheEventLog) {
  StartBoth();
  const auto dial = RunTool("rasctl", {"dial", "COM1", "DOM\\ann"});
  ASSERT_EQ(dial.code, 0) << dial.err;
  EXPECT_EQ(dial.out, "COM1: DOM\\ann admitted, address 10.0.0.10\n");
  EXPECT_EQ(Records("COM1"), (std::vector<std::string>{"C_DOM\\ann"}));
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", ""), "1");
  EXPECT_EQ(plat::ProfileGetString(kHw, "SRV1\\COM1", "Active", ""), "1");
  // The address was in the session file before the admission read it.
  EXPECT_EQ(plat::ProfileGetString("C:\\WINNT\\system32\\~plsess.tmp", "SRV1\\COM1", "IP", ""),
            "167772170");

  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM1", "--sent", "1500", "--received", "700"}).code, 0);
  const auto hangup = RunTool("rasctl", {"hangup", "COM1"});
  ASSERT_EQ(hangup.code, 0) << hangup.err;
  const auto records = Records("COM1");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(WithoutDuration(records[1]), "H_DOM\\ann?167772170?0::*:700:1500");
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", "gone"), "gone");
  EXPECT_EQ(plat::ProfileGetString(kHw, "SRV1\\COM1", "Active", ""), "0");
}

TEST_F(RasEndToEndTest, SupervisionWarnsAndCutsASessionAtItsDeadline) {
  // Passes every 200 ms instead of every minute, through the seam the product never sets.
  ::setenv("PORTULON_ACTION_INTERVAL_MS", "200", 1);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "MaxSessionTime", "3"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kHw, "General", "Notify2", "2"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kHw, "General", "Notify2Text", "Your time is up in 2 seconds \"now\" 100%"), 0u);
  StartBoth();
  ::unsetenv("PORTULON_ACTION_INTERVAL_MS");
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);

  // The port goes back to listening once the service has cut the session.
  ASSERT_TRUE(WaitUntil([] { return RunTool("rasctl", {"ports"}).out.find("COM1   listening") != std::string::npos; }, 20s));
  ASSERT_TRUE(WaitUntil([] { return Records("COM1").size() == 2; }));
  EXPECT_EQ(WithoutDuration(Records("COM1")[1]), "H_DOM\\ann?167772170?2::*:0:0")
      << "the hang-up record carries the reason: the user's session time";

  plat::EventLogReader reader;
  std::vector<plat::EventRecord> events;
  ASSERT_EQ(plat::EventLogReader::Open("", "Application", &reader), plat::ERROR_SUCCESS);
  reader.ReadAll(&events);
  int forced = 0;
  for (const auto& e : events) {
    if (e.source != "Portulon" || e.eventId != common::kEventForcedDisconnect) continue;
    ++forced;
    EXPECT_EQ(e.strings, (std::vector<std::string>{"SRV1\\COM1", "DOM\\ann"}));
  }
  EXPECT_EQ(forced, 1);

  // The warning went to the user (no computer name was known), word for word.
  std::vector<plat::NetMessage> inbox;
  ASSERT_TRUE(WaitUntil([&] { return plat::ReadNetMessages("ann", &inbox) == 0 && !inbox.empty(); }));
  EXPECT_EQ(inbox[0].text, "Your time is up in 2 seconds \"now\" 100%");
}

TEST_F(RasEndToEndTest, TheAdmissionCheckRefusesThePortAndRasctlSaysWhy) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "NoDuplicate", "1"), plat::ERROR_SUCCESS);
  StartBoth();
  const auto dial = RunTool("rasctl", {"dial", "COM2", "DOM\\eve"});  // no profile
  EXPECT_EQ(dial.code, 1);
  EXPECT_EQ(dial.out, "COM2: DOM\\eve refused (1: User not defined)\n");
  EXPECT_EQ(Records("COM2"), (std::vector<std::string>{"N_DOM\\eve?1"}));
  EXPECT_NE(RunTool("rasctl", {"ports"}).out.find("COM2   listening"), std::string::npos);

  // The reason is the one recorded for this attempt, not an earlier one.
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  const auto again = RunTool("rasctl", {"dial", "COM2", "dom\\ANN"});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(again.out, "COM2: dom\\ANN refused (4: User already connected)\n");
}

// The local date of `t` as ExpiryDate holds it.
std::string IsoDay(std::time_t t) {
  const std::tm local = plat::LocalTime(t);
  return common::FormatIsoDate({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

TEST_F(RasEndToEndTest, AnAccountPastItsLastDayIsRefusedAsExpired) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "ExpiryDate", IsoDay(plat::Now() - 86400)), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "ExpiryDate", IsoDay(plat::Now())), 0u);
  StartBoth();
  const auto dial = RunTool("rasctl", {"dial", "COM1", "DOM\\ann"});
  EXPECT_EQ(dial.code, 1);
  EXPECT_EQ(dial.out, "COM1: DOM\\ann refused (2: User Account expired)\n");
  EXPECT_EQ(Records("COM1"), (std::vector<std::string>{"N_DOM\\ann?2"}));
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\bob"}).code, 0) << "the last day itself admits";
}

// The server's clock is real; its time zone is set so that its midnight falls
// at the next whole minute (at least 15 s away). ann's last day is the day
// that midnight ends: she is admitted, warned that the account expires at
// midnight, cut at midnight with the reason in the hang-up record, and then
// refused as expired.
TEST_F(RasEndToEndTest, ASessionRunningIntoTheExpiryIsWarnedAndCutAtMidnight) {
  std::time_t midnight = (plat::Now() / 60 + 1) * 60;
  if (midnight - plat::Now() < 15) midnight += 60;
  // UTC = local + bias (minutes): local midnight at `midnight` UTC.
  long bias = static_cast<long>(midnight % 86400 / 60);
  if (bias > 720) bias -= 1440;
  ASSERT_EQ(plat::RegWriteDword(plat::kTimeZoneKey, "Bias", static_cast<plat::DWORD>(bias)), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::LocalTime(midnight).tm_hour, 0);
  ASSERT_EQ(plat::LocalTime(midnight).tm_min, 0);

  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "ExpiryDate", IsoDay(midnight - 1)), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kHw, "General", "Notify1", "8"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kHw, "General", "Notify1Text", "Eight seconds left."), 0u);
  ::setenv("PORTULON_ACTION_INTERVAL_MS", "200", 1);
  StartBoth();
  ::unsetenv("PORTULON_ACTION_INTERVAL_MS");
  ASSERT_LT(plat::Now(), midnight - 3) << "the service took too long to start: the test proves nothing";
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  const std::time_t admitted = plat::Now();

  ASSERT_TRUE(WaitUntil([] { return RunTool("rasctl", {"ports"}).out.find("COM1   listening") != std::string::npos; },
                        90s));
  EXPECT_GE(plat::Now(), midnight) << "cut before midnight";
  EXPECT_LE(plat::Now(), midnight + 5) << "cut long after midnight";

  // The records of both days: the connection before midnight, the hang-up after.
  std::vector<std::string> records;
  for (const std::time_t day : {midnight - 1, midnight}) {
    const std::string log = common::DayLogPath("C:\\PLData", common::DayLogName(day));
    ASSERT_TRUE(WaitUntil([&] { return day == midnight - 1 || plat::ProfileReadRecords(log, "SRV1\\COM1"); }));
    if (auto section = plat::ProfileReadRecords(log, "SRV1\\COM1")) {
      for (auto& [key, value] : *section) records.push_back(value);
    }
  }
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "C_DOM\\ann");
  EXPECT_EQ(WithoutDuration(records[1]), "H_DOM\\ann?167772170?11::*:0:0") << "the reason: the account expired";
  const long duration = std::stol(records[1].substr(1));
  EXPECT_GE(duration, static_cast<long>(midnight - admitted) - 1);

  std::vector<plat::NetMessage> inbox;
  ASSERT_TRUE(WaitUntil([&] { return plat::ReadNetMessages("ann", &inbox) == 0 && !inbox.empty(); }));
  EXPECT_EQ(inbox[0].text, "Eight seconds left. (account expires at midnight)");

  EXPECT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).out, "COM1: DOM\\ann refused (2: User Account expired)\n");
}

TEST_F(RasEndToEndTest, AfterBootEveryCallerIsCheckedAtOnce) {
  // Both services start automatically; boot returns once they run.
  const auto boot = RunTool("plmachine", {"boot"});
  bootedRas_ = true;
  ASSERT_EQ(boot.code, 0) << boot.out << boot.err;
  EXPECT_NE(boot.out.find("Portulon             running"), std::string::npos) << boot.out;
  EXPECT_NE(boot.out.find("RemoteAccess         running"), std::string::npos) << boot.out;
  for (const char* port : {"COM1", "COM2", "COM3"}) {
    const auto dial = RunTool("rasctl", {"dial", port, "DOM\\eve"});  // no profile
    EXPECT_EQ(dial.code, 1) << dial.out;
    EXPECT_EQ(dial.out, std::string(port) + ": DOM\\eve refused (1: User not defined)\n");
  }
  EXPECT_TRUE(common::testing::PortulonEvents().size() >= 3);
}

TEST_F(RasEndToEndTest, StaticAddressesOfUserAndPortReachThePort) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "StaticIP", 1), plat::ERROR_SUCCESS);
  // First octet high, written signed: 192.168.1.5 and 10.1.2.3.
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "StaticIP", "-1062731515"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kHw, "SRV1\\COM2", "StaticIP", "167838211"), 0u);
  StartBoth();
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann", "--address", "10.0.0.99"}).out,
            "COM1: DOM\\ann admitted, address 192.168.1.5\n");
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\bob"}).out,
            "COM2: DOM\\bob admitted, address 10.1.2.3\n");
  // The user's address wins over the port's.
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM2"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM1"}).code, 0);
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\ann"}).out,
            "COM2: DOM\\ann admitted, address 192.168.1.5\n");
}

TEST_F(RasEndToEndTest, TheMachineNameIsTheWorkstationOrStar) {
  StartBoth();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann", "--computer", "?123"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\bob", "--computer", "?9", "--wksta", "BOBPC"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM1"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM2"}).code, 0);
  EXPECT_EQ(WithoutDuration(Records("COM1").back()), "H_DOM\\ann?167772170?0::*:0:0");
  EXPECT_EQ(WithoutDuration(Records("COM2").back()), "H_DOM\\bob?167772171?0::BOBPC:0:0");
}

TEST_F(RasEndToEndTest, WithThePortulonServiceStoppedCallersAreAdmitted) {
  ras_ = std::make_unique<plat::testing::RasServiceRunner>();
  const auto dial = RunTool("rasctl", {"dial", "COM1", "DOM\\eve"});
  ASSERT_EQ(dial.code, 0) << dial.err;
  EXPECT_EQ(dial.out,
            "COM1: DOM\\eve admitted without a check: Portulon did not answer (error 2), "
            "address 10.0.0.10\n");
  int acceptFailures = 0;
  for (const auto& e : common::testing::PortulonEvents()) {
    if (e.strings.size() == 2 && e.strings[0] == "Transaction failed on AcceptConnection") {
      ++acceptFailures;
      EXPECT_EQ(e.strings[1], "Bad response from Portulon Service");
      EXPECT_EQ(e.eventId, 1u);
    }
  }
  EXPECT_EQ(acceptFailures, 1);
}

TEST_F(RasEndToEndTest, ADisconnectThroughRassapiEndsTheSessionAndTheServiceRecordsIt) {
  StartBoth();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM3", "DOM\\ann"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM3", "--sent", "99", "--received", "11"}).code, 0);
  RemoteAccess context;
  context.kind = common::kRasKindRas;
  ASSERT_EQ(RAS_LoadOrdinals(context, "SRV1"), 0u);
  DWORD sent = 0, received = 0;
  ASSERT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "COM3", &sent, &received), 0u);
  EXPECT_EQ(sent, 99u);
  ASSERT_EQ(DisconnectPort(context, "SRV1", "COM3"), 0u);
  ASSERT_TRUE(WaitUntil([] { return Records("COM3").size() == 2; }));
  EXPECT_EQ(WithoutDuration(Records("COM3")[1]), "H_DOM\\ann?167772172?0::*:11:99");
  EXPECT_TRUE(WaitUntil([] {
    return RunTool("rasctl", {"ports"}).out.find("COM3   listening") != std::string::npos;
  }));
}

// The administrator's view on a RAS machine, through plsvc: who is on (with
// the deadline and the port's traffic), and a cut that the hang-up record
// puts down to the administrator.
TEST_F(RasEndToEndTest, WhoIsOnAndTheAdministratorsDisconnect) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "MaxSessionTime", "7200"), 0u);
  StartBoth();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann", "--wksta", "ANNPC"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM3", "DOM\\bob"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM3", "--sent", "99", "--received", "11"}).code, 0);
  std::vector<common::SessionRow> rows;
  ASSERT_EQ(common::ListSessions("", &rows), 0u);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].port, "COM1");
  EXPECT_EQ(rows[0].machine, "ANNPC");
  EXPECT_EQ(rows[1].account, "DOM\\bob");
  EXPECT_EQ(rows[1].address, 167772172);
  EXPECT_EQ(rows[1].sent, 99);
  EXPECT_EQ(rows[1].received, 11);
  EXPECT_NEAR(static_cast<double>(rows[1].deadline - rows[1].start), 7200.0, 1.0);

  const auto who = RunTool("plreport", {"who", "--format", "csv"});
  ASSERT_EQ(who.code, 0) << who.err;
  EXPECT_NE(who.out.find("COM3,DOM\\bob,10.0.0.12,,"), std::string::npos) << who.out;
  // In, out, and the time left of bob's two hours.
  EXPECT_TRUE(who.out.find(",11,99,2:00:00") != std::string::npos ||
              who.out.find(",11,99,1:59:") != std::string::npos)
      << who.out;

  EXPECT_EQ(common::DisconnectSession("", "COM2"), plat::ERROR_FILE_NOT_FOUND);  // nobody there
  const auto cut = RunTool("plreport", {"disconnect", "COM3"});
  ASSERT_EQ(cut.code, 0) << cut.err;
  ASSERT_TRUE(WaitUntil([] { return Records("COM3").size() == 2; }));
  EXPECT_EQ(WithoutDuration(Records("COM3")[1]), "H_DOM\\bob?167772172?10::*:11:99");
  ASSERT_EQ(common::ListSessions("", &rows), 0u);
  EXPECT_EQ(rows.size(), 1u);
}

TEST_F(RasEndToEndTest, KilledAndRestartedItStillRefusesTheDuplicateAndCutsAtTheDeadline) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "NoDuplicate", "1"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "MaxSessionTime", "8"), 0u);
  ::setenv("PORTULON_ACTION_INTERVAL_MS", "200", 1);
  StartBoth();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann", "--wksta", "ANNPC"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\bob"}).code, 0);

  KillPortulon();
  StartPortulon();
  ::unsetenv("PORTULON_ACTION_INTERVAL_MS");
  ASSERT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", ""), "1");
  ASSERT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\bob", ""), "1");
  ASSERT_NE(RunTool("rasctl", {"ports"}).out.find("COM2   connected"), std::string::npos)
      << "bob's deadline passed before the restart: the test proves nothing";

  EXPECT_EQ(RunTool("rasctl", {"dial", "COM3", "DOM\\ann"}).out,
            "COM3: DOM\\ann refused (4: User already connected)\n");
  // bob is cut by the restarted service, at the deadline of his admission.
  ASSERT_TRUE(WaitUntil([] { return Records("COM2").size() == 2; }, 20s));
  EXPECT_EQ(WithoutDuration(Records("COM2")[1]), "H_DOM\\bob?167772171?2::*:0:0");
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\bob", "gone"), "gone");
  // ann's session, from before the restart, ends as any other.
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM1"}).code, 0);
  EXPECT_EQ(WithoutDuration(Records("COM1").back()), "H_DOM\\ann?167772170?0::ANNPC:0:0");
  EXPECT_EQ(Records("COM1").size(), 2u) << "one connection record, from the admission";
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM3", "DOM\\ann"}).code, 0);
}

// ann's first session ever began while plsvc was down: taken back at the
// restart, it is recorded and charged at its hang-up like any other.
TEST_F(RasEndToEndTest, AFirstSessionAdmittedWhileTheServiceWasDownIsChargedAtItsHangUp) {
  ras_ = std::make_unique<plat::testing::RasServiceRunner>();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  StartPortulon();
  ASSERT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", ""), "1") << "taken back at start";
  ASSERT_EQ(plat::ProfileGetString(kUsers, "DOM\\ann", "LastConnection", "0"), "0");
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM1"}).code, 0);
  ASSERT_TRUE(WaitUntil([] { return Records("COM1").size() == 1; }));
  // Its address was never asked of the service, so the record has none.
  EXPECT_EQ(WithoutDuration(Records("COM1")[0]), "H_DOM\\ann?0?0::*:0:0");
  EXPECT_NE(plat::ProfileGetString(kUsers, "DOM\\ann", "TotalTime", "never charged"), "never charged");
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", "gone"), "gone");
}

// ---- plsvc's start-up on different machines ----

DWORD RasTypeAfterStart() {
  StartPortulon();
  DWORD type = 99;
  WaitUntil([&type] {
    return plat::RegReadDword(kServiceKey, "RAS Type", &type) == plat::ERROR_SUCCESS;
  });
  KillPortulon();
  return type;
}

TEST(RasTypeTest, DecidedByVersionTitleAndDisplayName) {
  ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
  const struct {
    const char* os;
    plat::RasFlavour flavour;
    const char* title;        // NT 4's RAS title, when set by the test
    const char* displayName;  // Windows 2000's service name, when set by the test
    DWORD type;
  } cases[] = {
      {"4.0", plat::RasFlavour::Ras, nullptr, nullptr, 0},
      // "Routing..." is not "Routin2": still RAS.
      {"4.0", plat::RasFlavour::Rras, "Routing and Remote Access Service", nullptr, 0},
      {"5.0", plat::RasFlavour::Rras, nullptr, "Routing and Remote Access", 1},
      {"5.0", plat::RasFlavour::Ras, nullptr, "Remote Access Server", 1},
      {"5.0", plat::RasFlavour::Ras, nullptr, "remote access service", 0},
  };
  for (const auto& c : cases) {
    plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("SRV1");
    config.osVersion = c.os;
    config.ras = c.flavour;
    plat::testing::TempNetwork net(config);
    InstallPortulon(net);
    if (c.title) {
      ASSERT_EQ(plat::RegWriteString(plat::kRasKey, "Title", c.title), 0u);
    }
    if (c.displayName) {
      ASSERT_EQ(plat::RegWriteString("System\\CurrentControlSet\\Services\\RemoteAccess",
                                     "DisplayName", c.displayName),
                0u);
    }
    EXPECT_EQ(RasTypeAfterStart(), c.type) << c.os << " " << (c.title ? c.title : c.displayName);
  }
}

TEST(RassapiMissingTest, TheServiceStartsWith89AndStillAnswers) {
  ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
  plat::testing::TempNetwork net;
  InstallPortulon(net);
  ASSERT_TRUE(std::filesystem::remove(net.DriveC("WINNT/system32/RASSAPI.DLL")));
  StartPortulon();
  EXPECT_TRUE(WaitUntil([] {
    for (const auto& e : common::testing::PortulonEvents()) {
      if (e.eventId == common::kEventStartFailed && e.strings == std::vector<std::string>{"Error in step ", "89"}) {
        return true;
      }
    }
    return false;
  }));
  std::string reply;
  EXPECT_EQ(plat::CallNamedPipe(common::kPipeName, "2,COM1,ann,*,*,167772170,0", &reply, 2000, 10000),
            plat::ERROR_SUCCESS);
  EXPECT_EQ(reply, "20");
  KillPortulon();
}

}  // namespace
}  // namespace svc
