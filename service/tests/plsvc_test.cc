// The service program as it runs for real: started by the service control
// manager or from a shell, on a temporary machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "platform/registry.h"
#include "service/event_report.h"
#include "service/service_process.h"
#include "service/tests/console_plsvc.h"
#include "service/tests/installed_plsvc.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;

using testing::OpenPortulon;

std::vector<plat::EventRecord> PortulonEvents() {
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> all, ours;
  EXPECT_EQ(plat::EventLogReader::Open("", "Application", &reader), plat::ERROR_SUCCESS);
  reader.ReadAll(&all);
  for (auto& r : all) {
    if (r.source == "Portulon") ours.push_back(r);
  }
  return ours;
}

// Waits until the Portulon source has reported `id`.
bool WaitForEvent(DWORD id, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    for (const auto& r : PortulonEvents()) {
      if (r.eventId == id) return true;
    }
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

std::vector<std::pair<DWORD, DWORD>> StatesAndCheckpoints(const plat::ServiceHandle& service) {
  std::vector<plat::SERVICE_STATUS> history;
  EXPECT_EQ(service.QueryStatusHistory(&history), plat::ERROR_SUCCESS);
  std::vector<std::pair<DWORD, DWORD>> out;
  for (const auto& s : history) out.emplace_back(s.dwCurrentState, s.dwCheckPoint);
  return out;
}

class PlsvcServiceTest : public ::testing::Test {
 protected:
  // A network whose Portulon service this test owns.
  plat::testing::TempNetwork& Network(
      const plat::MachineConfig& c = plat::testing::TempNetwork::DefaultConfig("SRV1")) {
    net_ = std::make_unique<plat::testing::TempNetwork>(c);
    testing::InstallPlsvc(*net_);
    return *net_;
  }

  void TearDown() override {
    // A service a failing test left running goes before its machine does.
    if (net_) {
      if (DWORD pid = OpenPortulon().ProcessId(); pid != 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
  }

  std::unique_ptr<plat::testing::TempNetwork> net_;
};

TEST_F(PlsvcServiceTest, StartsThroughThePendingCheckpointsAndStopsAfterItsPause) {
  plat::testing::TempNetwork& net = Network();  // NT 4 RAS without RASSAPI.DLL
  std::filesystem::remove(net.DriveC("WINNT/system32/RASSAPI.DLL"));
  plat::ServiceHandle service = OpenPortulon();
  ASSERT_EQ(service.Start(), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::WaitForServiceState(service, plat::SERVICE_RUNNING, 10000), plat::ERROR_SUCCESS);
  using P = std::pair<DWORD, DWORD>;
  const std::vector<P> started = StatesAndCheckpoints(service);
  ASSERT_GE(started.size(), 4u);
  EXPECT_EQ(std::vector<P>(started.begin(), started.begin() + 3),
            (std::vector<P>{{plat::SERVICE_START_PENDING, 1}, {plat::SERVICE_START_PENDING, 2},
                            {plat::SERVICE_START_PENDING, 3}}));
  // A start slowed by a busy machine keeps its checkpoint moving every 4 s.
  for (size_t i = 3; i + 1 < started.size(); ++i) {
    EXPECT_EQ(started[i], (P{plat::SERVICE_START_PENDING, static_cast<DWORD>(i + 1)}));
  }
  EXPECT_EQ(started.back(), (P{plat::SERVICE_RUNNING, 4}));
  plat::SERVICE_STATUS status;
  ASSERT_EQ(service.QueryStatus(&status), plat::ERROR_SUCCESS);
  EXPECT_EQ(status.dwControlsAccepted, plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN);

  // Without the remote-access functions the start-up fails with 89, and the
  // service keeps running.
  ASSERT_TRUE(WaitForEvent(common::kEventStartFailed, 10s));
  for (const auto& r : PortulonEvents()) {
    if (r.eventId != common::kEventStartFailed) continue;
    EXPECT_EQ(r.eventType, plat::EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(r.strings, (std::vector<std::string>{"Error in step ", "89"}));
  }

  // Pause and interrogate change nothing and report nothing.
  const size_t reported = StatesAndCheckpoints(service).size();
  EXPECT_NE(service.Control(plat::SERVICE_CONTROL_PAUSE, &status), plat::ERROR_SUCCESS);
  EXPECT_EQ(service.Control(plat::SERVICE_CONTROL_INTERROGATE, &status), plat::ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_RUNNING);
  EXPECT_EQ(StatesAndCheckpoints(service).size(), reported);

  const auto stopAsked = std::chrono::steady_clock::now();
  ASSERT_EQ(service.Control(plat::SERVICE_CONTROL_STOP, &status), plat::ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_STOP_PENDING);
  ASSERT_EQ(plat::WaitForServiceState(service, plat::SERVICE_STOPPED, 10000), plat::ERROR_SUCCESS);
  EXPECT_GE(std::chrono::steady_clock::now() - stopAsked, 3900ms);
  const auto history = StatesAndCheckpoints(service);
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history.back(), (P{plat::SERVICE_STOPPED, 2}));
  EXPECT_EQ(history[history.size() - 2], (P{plat::SERVICE_STOP_PENDING, 1}));
  EXPECT_TRUE(WaitForEvent(common::kEventStopped, 2s));

  // The service traced to its file on drive C:, header first.
  std::ifstream trace(net.DriveC("qcl_trace_plsvc.txt"));
  std::stringstream text;
  text << trace.rdbuf();
  EXPECT_NE(text.str().find("Portulon starting..."), std::string::npos);
  EXPECT_NE(text.str().find("Version is : 2,1,0,2"), std::string::npos);
  EXPECT_NE(text.str().find("FirstTimeInitialize: Read Settings from Registry : 0"), std::string::npos);
  EXPECT_NE(text.str().find("This is standard RAS"), std::string::npos);
}

TEST_F(PlsvcServiceTest, SucceedsOnARouterAndReportsIt) {
  plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV1");
  c.osVersion = "5.0";
  c.ras = plat::RasFlavour::Rras;
  Network(c);
  plat::ServiceHandle service = OpenPortulon();
  ASSERT_EQ(service.Start(), plat::ERROR_SUCCESS);
  ASSERT_TRUE(WaitForEvent(common::kEventStarted, 10s));
  for (const auto& r : PortulonEvents()) {
    if (r.eventId != common::kEventStarted) continue;
    EXPECT_EQ(r.eventType, plat::EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(r.strings, (std::vector<std::string>{"Initialization completed successfully",
                                                   "The Portulon service is up and running"}));
  }
  DWORD rasType = 0;
  EXPECT_EQ(plat::RegReadDword(kServiceKey, "RAS Type", &rasType), plat::ERROR_SUCCESS);
  EXPECT_EQ(rasType, 1u);
  plat::SERVICE_STATUS status;
  service.Control(plat::SERVICE_CONTROL_STOP, &status);
  EXPECT_EQ(plat::WaitForServiceState(service, plat::SERVICE_STOPPED, 10000), plat::ERROR_SUCCESS);
}

TEST_F(PlsvcServiceTest, AStopDuringStartUpIsHonoured) {
  Network();
  plat::ServiceHandle service = OpenPortulon();
  ASSERT_EQ(service.Start(), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::WaitForServiceState(service, plat::SERVICE_RUNNING, 10000), plat::ERROR_SUCCESS);
  // The pipe is up; the export scheduler may still be starting.
  plat::SERVICE_STATUS status;
  ASSERT_EQ(service.Control(plat::SERVICE_CONTROL_STOP, &status), plat::ERROR_SUCCESS);
  EXPECT_EQ(plat::WaitForServiceState(service, plat::SERVICE_STOPPED, 10000), plat::ERROR_SUCCESS);
  EXPECT_TRUE(WaitForEvent(common::kEventStopped, 2s));
}

TEST_F(PlsvcServiceTest, NetStartReturnsOnlyOnceThePipeAnswers) {
  Network();
  const auto start = plat::testing::RunTool("net", {"start", "Portulon"});
  ASSERT_EQ(start.code, 0) << start.out << start.err;
  EXPECT_NE(start.out.find("The Portulon service was started successfully."), std::string::npos)
      << start.out;
  // No waiting for the pipe to appear: a hook module asking now must reach
  // the service (a missing pipe fails at once, whatever the time-out).
  std::string reply;
  EXPECT_EQ(plat::CallNamedPipe("\\\\.\\pipe\\plsvcpipe", "UPDATE_UPDATE", &reply, 2000, 2000),
            plat::ERROR_SUCCESS);
}

TEST_F(PlsvcServiceTest, ASecondCopyInEitherModeChangesNothingAndSaysSo) {
  plat::testing::TempNetwork& net = Network();
  plat::ServiceHandle service = OpenPortulon();
  ASSERT_EQ(service.Start(), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::WaitForServiceState(service, plat::SERVICE_RUNNING, 10000), plat::ERROR_SUCCESS);
  // Without a data folder setting the service works in its current
  // directory: a caller it admitted is in the logged-in users file there.
  const char* loggedIn = "C:\\WINNT\\system32\\portulon.tmp";
  ASSERT_EQ(plat::ProfileWriteString(loggedIn, "SRV1", "DOM\\ann", "1"), plat::ERROR_SUCCESS);
  const std::string before = plat::testing::ReadHostFile(net.DriveC("WINNT/system32/portulon.tmp"));

  {
    testing::ConsolePlsvc second;
    ASSERT_EQ(second.WaitForExit(), 1) << second.Output();
    const std::string out = second.Output();
    EXPECT_NE(out.find("Portulon is already running on this machine (process " +
                       std::to_string(service.ProcessId()) + ")"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Console Mode"), std::string::npos) << out;
  }
  {
    testing::ConsolePlsvc help("--help");
    ASSERT_EQ(help.WaitForExit(), 0) << help.Output();
    EXPECT_NE(help.Output().find("runs in console mode"), std::string::npos);
  }
  EXPECT_EQ(plat::testing::ReadHostFile(net.DriveC("WINNT/system32/portulon.tmp")), before);
  plat::SERVICE_STATUS status;
  ASSERT_EQ(service.QueryStatus(&status), plat::ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_RUNNING);

  // The other way round: a copy in console mode keeps the service from starting.
  ::kill(static_cast<pid_t>(service.ProcessId()), SIGKILL);
  ASSERT_EQ(plat::WaitForServiceState(service, plat::SERVICE_STOPPED, 10000), plat::ERROR_SUCCESS);
  testing::ConsolePlsvc console;
  ASSERT_TRUE(console.WaitFor("Service launched in Console Mode OK.")) << console.Output();
  ASSERT_EQ(plat::ProfileWriteString(loggedIn, "SRV1", "DOM\\bob", "1"), plat::ERROR_SUCCESS);
  const std::string withBob = plat::testing::ReadHostFile(net.DriveC("WINNT/system32/portulon.tmp"));
  const auto start = plat::testing::RunTool("net", {"start", "Portulon"});
  EXPECT_NE(start.code, 0);
  EXPECT_NE(start.err.find("An instance of the service is already running."), std::string::npos)
      << start.out << start.err;
  ASSERT_EQ(service.QueryStatus(&status), plat::ERROR_SUCCESS);
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, plat::ERROR_SERVICE_ALREADY_RUNNING);
  EXPECT_EQ(plat::testing::ReadHostFile(net.DriveC("WINNT/system32/portulon.tmp")), withBob);
  EXPECT_TRUE(console.Alive());
}

TEST(PlsvcProcessTest, WithoutArgumentsOutsideTheServiceManagerItReturns1063) {
  plat::testing::TempNetwork net;
  ::unsetenv("PORTULON_SERVICE_NAME");
  EXPECT_EQ(PlsvcMain(false), static_cast<int>(plat::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

TEST(PlsvcProcessTest, ConsoleModePrintsTheBannerAndTracesToStandardOutput) {
  plat::testing::TempNetwork net;
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("Service launched in Console Mode OK."));
  // The start-up thread's lines follow.
  ASSERT_TRUE(service.WaitFor("bGroupPropertiesUsed"));
  const std::string out = service.Output();
  std::istringstream lines(out);
  std::string first, second, third, version;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  std::getline(lines, version);
  EXPECT_EQ(first, std::string(59, ':'));
  EXPECT_EQ(second, "::     Portulon Service launched in Console Mode       ::");
  EXPECT_EQ(third, std::string(59, ':'));
  EXPECT_EQ(version.rfind(":: Version   : 2.1b ", 0), 0u) << version;
  EXPECT_EQ(version.size(), 59u);
  EXPECT_NE(out.find("Service launched in Console Mode OK."), std::string::npos);
  EXPECT_NE(out.find("FirstTimeInitialize: Step1 : 0"), std::string::npos);
  // RASSAPI.DLL lies beside plsvc and in system32: the start-up succeeds.
  EXPECT_NE(out.find("bGroupPropertiesUsed: TRUE"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(net.DriveC("qcl_trace_plsvc.txt")))
      << "console mode traces to the screen, not the file";
}

}  // namespace
}  // namespace svc
