// rassvc as the machine runs it: started through the service manager, with
// PL_RAS.dll as its administration extension, driven by rasctl and by
// RASSAPI.DLL. A scripted pipe stands in for the Portulon service.
#include <gtest/gtest.h>

#include <mutex>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/errors.h"
#include "platform/module.h"
#include "platform/ras/ras_service.h"
#include "platform/ras/rassapi.h"
#include "platform/registry.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "platform/wide.h"

namespace plat::ras {
namespace {

using namespace std::chrono_literals;
using testing::RunTool;
using testing::ScriptedPipeServer;
using testing::SystemEvents;

// The source under which the hook module under test reports what failed.
constexpr const char* kHookEventSource = "Portulon";

// The Portulon service's answers: admission "00" or "10", addresses "20" or
// "3<n>". The test changes them while the pipe thread answers.
class Answers {
 public:
  void SetAdmission(std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    admission_ = std::move(reply);
  }
  void SetAddress(std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    address_ = std::move(reply);
  }
  std::string Reply(const std::string& message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (message.rfind("0,", 0) == 0) return admission_;
    if (message.rfind("2,", 0) == 0) return address_;
    return "00";
  }

 private:
  mutable std::mutex mutex_;  // guards both replies
  std::string admission_ = "00";
  std::string address_ = "20";
};

class RassvcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PORTULON_BIN_DIR", testing::BinDir().c_str(), 1);
    net_ = std::make_unique<testing::TempNetwork>();
  }

  void StartWithHook() {
    testing::InstallAdminModule(*net_, "PL_RAS.dll", testing::kAdminModuleFolder);
    portulon_ = std::make_unique<ScriptedPipeServer>(
        "plsvcpipe", [this](const std::string& m) { return answers_.Reply(m); });
    ras_ = std::make_unique<testing::RasServiceRunner>();
  }

  testing::ToolResult Rasctl(const std::vector<std::string>& args) { return RunTool("rasctl", args); }

  std::vector<std::string> Messages() const { return portulon_->messages(); }

  std::unique_ptr<testing::TempNetwork> net_;
  Answers answers_;
  std::unique_ptr<ScriptedPipeServer> portulon_;
  std::unique_ptr<testing::RasServiceRunner> ras_;
};

// The message texts without the time field, which is "now".
std::string WithoutTime(const std::string& message) {
  std::vector<std::string> f;
  std::stringstream in(message);
  for (std::string field; std::getline(in, field, ',');) f.push_back(field);
  if (f.size() == 7 && f[0] == "0") f[4] = "T";
  std::string out;
  for (size_t i = 0; i < f.size(); ++i) out += (i ? "," : "") + f[i];
  return out;
}

TEST_F(RassvcTest, DialAsksForTheAddressThenAdmitsAndHangUpReportsTheCounts) {
  StartWithHook();
  const auto dial = Rasctl({"dial", "COM1", "DOM\\ann", "--address", "10.0.0.12"});
  ASSERT_EQ(dial.code, 0) << dial.err;
  EXPECT_EQ(dial.out, "COM1: DOM\\ann admitted, address 10.0.0.12\n");
  // 10.0.0.12 travels first octet high: 0x0A00000C.
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0], "2,COM1,ann,*,*,167772172,0");
  EXPECT_EQ(WithoutTime(Messages()[1]), "0,COM1,DOM\\ann,*,T,0,0");

  EXPECT_EQ(Rasctl({"traffic", "COM1", "--sent", "1500", "--received", "700"}).out,
            "COM1: 1500 bytes sent, 700 received\n");
  EXPECT_EQ(Rasctl({"traffic", "com1", "--received", "5"}).out,
            "COM1: 1500 bytes sent, 705 received\n");
  const auto ports = Rasctl({"ports"});
  ASSERT_EQ(ports.code, 0) << ports.err;
  std::istringstream lines(ports.out);
  std::string header, com1, com2;
  std::getline(lines, header);
  std::getline(lines, com1);
  std::getline(lines, com2);
  EXPECT_EQ(header.rfind("Port   State", 0), 0u) << header;
  for (const char* part : {"COM1", "connected", "DOM\\ann", "10.0.0.12", "1500", "705"}) {
    EXPECT_NE(com1.find(part), std::string::npos) << part << " in " << com1;
  }
  EXPECT_NE(com2.find("listening"), std::string::npos) << com2;

  const auto hangup = Rasctl({"hangup", "COM1"});
  ASSERT_EQ(hangup.code, 0) << hangup.err;
  EXPECT_EQ(hangup.out, "COM1: hung up; 1500 bytes sent, 705 received\n");
  ASSERT_EQ(Messages().size(), 3u);
  EXPECT_EQ(Messages()[2].rfind("1,COM1,DOM\\ann,*,", 0), 0u) << Messages()[2];
  const auto stats = SystemEvents(kEventSessionStatistics);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].strings[9], "1500");
  EXPECT_EQ(stats[0].strings[10], "705");
  EXPECT_TRUE(SystemEvents(kEventCallback).empty());
  EXPECT_NE(Rasctl({"ports"}).out.find("COM1   listening"), std::string::npos);
}

TEST_F(RassvcTest, TheServicesAnswersDecideAdmissionAndAddress) {
  StartWithHook();
  // A static address: the service answers in the remote-access order.
  answers_.SetAddress("3" + std::to_string(static_cast<std::int32_t>(0x0501A8C0)));  // 192.168.1.5
  const auto fixed = Rasctl({"dial", "COM2", "DOM\\bob", "--wksta", "BOBPC"});
  ASSERT_EQ(fixed.code, 0) << fixed.err;
  EXPECT_EQ(fixed.out, "COM2: DOM\\bob admitted, address 192.168.1.5\n");
  // The pool proposes 10.0.0.11 for COM2; the workstation names the machine.
  EXPECT_EQ(Messages()[0], "2,COM2,bob,*,*,167772171,0");
  EXPECT_EQ(WithoutTime(Messages()[1]), "0,COM2,DOM\\bob,BOBPC,T,0,0");

  answers_.SetAddress("20");
  answers_.SetAdmission("10");
  const auto refused = Rasctl({"dial", "COM3", "DOM\\eve", "--computer", "?unknown"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "COM3: DOM\\eve refused\n");
  EXPECT_EQ(WithoutTime(Messages()[3]), "0,COM3,DOM\\eve,*,T,0,0");
  EXPECT_NE(Rasctl({"ports"}).out.find("COM3   listening"), std::string::npos);

  answers_.SetAdmission("00");
  ASSERT_EQ(Rasctl({"dial", "COM3", "DOM\\eve", "--computer", "EVEPC", "--callback", "555-0100"}).code, 0);
  EXPECT_EQ(WithoutTime(Messages()[5]), "0,COM3,DOM\\eve,EVEPC,T,0,0");
  ASSERT_EQ(Rasctl({"hangup", "COM3"}).code, 0);
  EXPECT_EQ(Messages()[6].rfind("1,COM3,DOM\\eve,EVEPC,", 0), 0u) << Messages()[6];
  const auto callback = SystemEvents(kEventCallback);
  ASSERT_EQ(callback.size(), 1u);
  EXPECT_EQ(callback[0].strings[3], "555-0100");
}

TEST_F(RassvcTest, WithThePortulonServiceDownCallersAreAdmittedAfterOneReport) {
  testing::InstallAdminModule(*net_, "PL_RAS.dll", testing::kAdminModuleFolder);
  testing::RasServiceRunner ras;
  const auto dial = Rasctl({"dial", "COM1", "DOM\\ann", "--address", "10.0.0.12"});
  ASSERT_EQ(dial.code, 0) << dial.err;
  EXPECT_EQ(dial.out, "COM1: DOM\\ann admitted, address 10.0.0.12\n");
  // One report for the address request, one for the admission.
  const auto events = testing::ApplicationEvents(kHookEventSource);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].strings,
            (std::vector<std::string>{"Transaction failed on GetIP", "Bad response from Portulon Service"}));
  EXPECT_EQ(events[1].strings, (std::vector<std::string>{"Transaction failed on AcceptConnection",
                                                         "Bad response from Portulon Service"}));
  EXPECT_EQ(events[1].eventId, 1u);
  EXPECT_EQ(events[1].eventType, EVENTLOG_ERROR_TYPE);
}

TEST_F(RassvcTest, RasctlRefusesBadInputWithClearMessages) {
  StartWithHook();
  ASSERT_EQ(Rasctl({"dial", "COM1", "DOM\\ann"}).code, 0);
  const struct {
    std::vector<std::string> args;
    int code;
    std::string message;
  } cases[] = {
      {{"dial", "COM9", "DOM\\bob"}, 1, "rasctl: there is no port COM9 on this machine (its ports are COM1 to COM4)\n"},
      {{"dial", "com1", "DOM\\bob"}, 1, "rasctl: port COM1 is in use by DOM\\ann\n"},
      {{"dial", "COM2", "bob"}, 2, "the account must be written DOMAIN\\user"},
      {{"dial", "COM2", "DOM\\b\\ob"}, 2, "more than one backslash"},
      {{"dial", "COM2", "DOM\\a,b"}, 2, "not allowed (',')"},
      {{"dial", "COM2", "DOM\\bob", "--address", "10.0.0"}, 2, "a.b.c.d"},
      {{"dial", "COM2", "DOM\\bob", "--computer", "AVERYLONGCOMPUTERNAME"}, 2, "longer than 15"},
      {{"traffic", "COM2", "--sent", "1"}, 1, "rasctl: nobody is connected on port COM2\n"},
      {{"traffic", "COM1", "--sent", "-1"}, 2, "whole numbers"},
      {{"traffic", "COM1"}, 2, "--sent"},
      {{"hangup", "COM5"}, 1, "no port COM5"},
      {{"hangup"}, 2, "exactly one PORT"},
      {{"reboot"}, 2, "unknown command"},
  };
  for (const auto& c : cases) {
    const auto r = Rasctl(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(Messages().size(), 2u) << "nothing refused reached the service";
}

TEST_F(RassvcTest, AMissingHookModuleIsReportedAndEveryoneAdmitted) {
  ASSERT_EQ(RegWriteString(kAdminDllKey, kAdminDllValue, "C:\\Program Files\\Portulon\\PL_RAS.dll"),
            ERROR_SUCCESS);
  portulon_ = std::make_unique<ScriptedPipeServer>("plsvcpipe", [](const std::string&) { return "10"; });
  testing::RasServiceRunner ras;
  const auto events = SystemEvents(kEventAdminDllNotLoaded);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].strings[1].find("cannot be found"), std::string::npos);
  EXPECT_EQ(Rasctl({"dial", "COM1", "DOM\\ann"}).code, 0);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(RassvcTest, WithoutTheServiceRasctlSaysSo) {
  const auto r = Rasctl({"ports"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the remote-access service does not run on this machine"), std::string::npos)
      << r.err;
  EXPECT_EQ(Rasctl({"--help"}).out.rfind("rasctl - ", 0), 0u);
  // The daemon itself runs only under the service manager; started by hand it
  // says so and fails (1, not the 39 that 1063 leaves in an exit status).
  const auto daemon = RunTool("rassvc", {});
  EXPECT_EQ(daemon.code, 1);
  EXPECT_NE(daemon.err.find("sc start RemoteAccess"), std::string::npos) << daemon.err;
}

TEST_F(RassvcTest, StoppingTheServiceHangsUpItsCallers) {
  StartWithHook();
  ASSERT_EQ(Rasctl({"dial", "COM4", "DOM\\ann"}).code, 0);
  ASSERT_TRUE(ras_->Stop());
  ASSERT_EQ(Messages().size(), 3u);
  EXPECT_EQ(Messages()[2].rfind("1,COM4,DOM\\ann,", 0), 0u);
  EXPECT_EQ(SystemEvents(kEventSessionStatistics).size(), 1u);
}

// A slow answer to one dial-in holds up nobody else.
TEST_F(RassvcTest, AWaitingDialInDoesNotBlockQueries) {
  testing::InstallAdminModule(*net_, "PL_RAS.dll", testing::kAdminModuleFolder);
  portulon_ = std::make_unique<ScriptedPipeServer>("plsvcpipe", [](const std::string& m) {
    if (m.rfind("0,", 0) == 0) std::this_thread::sleep_for(1500ms);
    return m.rfind("2,", 0) == 0 ? "20" : "00";
  });
  testing::RasServiceRunner ras;
  std::thread dialer([] { EXPECT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0); });
  ASSERT_TRUE(portulon_->WaitForMessages(2, 5s));
  const auto started = std::chrono::steady_clock::now();
  const auto ports = Rasctl({"ports"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
  EXPECT_NE(ports.out.find("COM1   connecting"), std::string::npos) << ports.out;
  dialer.join();
}

// ---- RASSAPI.DLL ----

class RassapiTest : public RassvcTest {
 protected:
  void SetUp() override {
    RassvcTest::SetUp();
    ASSERT_EQ(rassapi_.Load("RASSAPI.DLL"), ERROR_SUCCESS);
    portEnum_ = reinterpret_cast<rassapi::PFN_RasAdminPortEnum>(rassapi_.GetProcAddress("RasAdminPortEnum"));
    getInfo_ = reinterpret_cast<rassapi::PFN_RasAdminPortGetInfo>(rassapi_.GetProcAddress("RasAdminPortGetInfo"));
    disconnect_ = reinterpret_cast<rassapi::PFN_RasAdminPortDisconnect>(
        rassapi_.GetProcAddress("RasAdminPortDisconnect"));
    free_ = reinterpret_cast<rassapi::PFN_RasAdminFreeBuffer>(rassapi_.GetProcAddress("RasAdminFreeBuffer"));
    ASSERT_TRUE(portEnum_ && getInfo_ && disconnect_ && free_);
  }

  Module rassapi_;
  rassapi::PFN_RasAdminPortEnum portEnum_ = nullptr;
  rassapi::PFN_RasAdminPortGetInfo getInfo_ = nullptr;
  rassapi::PFN_RasAdminPortDisconnect disconnect_ = nullptr;
  rassapi::PFN_RasAdminFreeBuffer free_ = nullptr;
};

TEST_F(RassapiTest, ItIsFoundInTheSystemDirectory) {
  EXPECT_EQ(rassapi_.hostPath(), net_->DriveC("WINNT/system32/RASSAPI.DLL"));
}

TEST_F(RassapiTest, PortsAndTrafficAsTheAdministrationInterfaceReportsThem) {
  StartWithHook();
  ASSERT_EQ(Rasctl({"dial", "COM2", "DOM\\ann", "--wksta", "ANNPC", "--address", "10.0.0.12"}).code, 0);
  ASSERT_EQ(Rasctl({"traffic", "COM2", "--sent", "4000", "--received", "300"}).code, 0);
  const std::u16string server = ToWide("\\\\SRV1");

  rassapi::RAS_PORT_0* ports = nullptr;
  WORD count = 0;
  ASSERT_EQ(portEnum_(server.c_str(), &ports, &count), ERROR_SUCCESS);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(FromWide(ports[1].wszPortName, rassapi::RASSAPI_MAX_PORT_NAME), "COM2");
  EXPECT_EQ(FromWide(ports[1].wszUserName, rassapi::UNLEN + 1), "ann");
  EXPECT_EQ(FromWide(ports[0].wszUserName, rassapi::UNLEN + 1), "");
  EXPECT_EQ(free_(ports), ERROR_SUCCESS);
  EXPECT_EQ(free_(ports), ERROR_INVALID_PARAMETER) << "a buffer is freed once";
  int local = 0;
  EXPECT_EQ(free_(&local), ERROR_INVALID_PARAMETER) << "only its own buffers";

  rassapi::RAS_PORT_1 info;
  rassapi::RAS_PORT_STATISTICS stats;
  rassapi::RAS_PARAMETERS* params = nullptr;
  const std::u16string com2 = u"COM2";
  ASSERT_EQ(getInfo_(server.c_str(), com2.c_str(), &info, &stats, &params), ERROR_SUCCESS);
  EXPECT_EQ(stats.dwBytesXmited, 4000u);
  EXPECT_EQ(stats.dwBytesRcved, 300u);
  EXPECT_EQ(info.LineCondition, rassapi::RAS_PORT_AUTHENTICATED);
  EXPECT_EQ(info.ProjResult.nbf.dwError, 0u);
  EXPECT_EQ(FromWide(info.ProjResult.nbf.wszWksta, 17), "ANNPC");
  EXPECT_EQ(FromWide(info.ProjResult.ip.wszAddress, 16), "10.0.0.12");
  EXPECT_EQ(FromWide(info.rasport0.wszLogonDomain, 16), "DOM");
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(free_(params), ERROR_SUCCESS);

  const std::u16string com7 = u"COM7";
  EXPECT_EQ(getInfo_(server.c_str(), com7.c_str(), &info, &stats, &params), ERROR_DEV_NOT_EXIST);
  const std::u16string other = ToWide("\\\\NOSUCH");
  EXPECT_EQ(getInfo_(other.c_str(), com2.c_str(), &info, &stats, &params), ERROR_BAD_NETPATH);
}

TEST_F(RassapiTest, DisconnectEndsTheSessionLikeAHangUp) {
  StartWithHook();
  ASSERT_EQ(Rasctl({"dial", "COM3", "DOM\\ann"}).code, 0);
  ASSERT_EQ(Rasctl({"traffic", "COM3", "--sent", "10", "--received", "20"}).code, 0);
  const std::u16string server = ToWide("\\\\SRV1"), com3 = u"COM3";
  ASSERT_EQ(disconnect_(server.c_str(), com3.c_str()), ERROR_SUCCESS);
  ASSERT_TRUE(portulon_->WaitForMessages(3, 10s));
  EXPECT_EQ(Messages()[2].rfind("1,COM3,DOM\\ann,*,", 0), 0u) << Messages()[2];
  for (int i = 0; i < 100 && Rasctl({"ports"}).out.find("COM3   listening") == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(Rasctl({"ports"}).out.find("COM3   listening"), std::string::npos);
  const auto stats = SystemEvents(kEventSessionStatistics);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].strings[9], "10");
  EXPECT_EQ(disconnect_(server.c_str(), com3.c_str()), ERROR_NOT_CONNECTED);
}

TEST_F(RassapiTest, WithoutTheServiceTheServerIsUnavailable) {
  rassapi::RAS_PORT_0* ports = nullptr;
  WORD count = 7;
  EXPECT_EQ(portEnum_(nullptr, &ports, &count), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(ports, nullptr);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace plat::ras
