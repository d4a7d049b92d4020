// rassvc as a Windows 2000 router: PL_RRAS.dll as its administration
// extension, multilink callers from rasctl, its ports read through MPRAPI.DLL
// and the port-data module. A scripted pipe stands in for the Portulon service.
#include <gtest/gtest.h>

#include <thread>

#include "platform/errors.h"
#include "platform/module.h"
#include "platform/ras/mprapi.h"
#include "platform/ras/port_data.h"
#include "platform/ras/ras_service.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "platform/wide.h"

namespace plat::ras {
namespace {

using namespace std::chrono_literals;
using testing::RunTool;
using testing::ScriptedPipeServer;

MachineConfig Windows2000Router() {
  MachineConfig c = testing::TempNetwork::DefaultConfig("SRV2");
  c.osVersion = "5.0";
  c.ras = RasFlavour::Rras;
  return c;
}

class RouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PORTULON_BIN_DIR", testing::BinDir().c_str(), 1);
    net_ = std::make_unique<testing::TempNetwork>(Windows2000Router());
  }

  // The router with PL_RRAS.dll; the Portulon service refuses what `refuse` says.
  void Start(std::string refusePrefix = "") {
    testing::InstallAdminModule(*net_, "PL_RRAS.dll", testing::kAdminModuleFolder);
    portulon_ = std::make_unique<ScriptedPipeServer>(
        "plsvcpipe", [refusePrefix](const std::string& m) {
          return !refusePrefix.empty() && m.rfind(refusePrefix, 0) == 0 ? "10" : "00";
        });
    ras_ = std::make_unique<testing::RasServiceRunner>();
  }
  void StartWithoutHook() { ras_ = std::make_unique<testing::RasServiceRunner>(); }

  testing::ToolResult Rasctl(const std::vector<std::string>& args) { return RunTool("rasctl", args); }
  std::vector<std::string> Messages() const { return portulon_->messages(); }

  std::unique_ptr<testing::TempNetwork> net_;
  std::unique_ptr<ScriptedPipeServer> portulon_;
  std::unique_ptr<testing::RasServiceRunner> ras_;
};

TEST_F(RouterTest, AMultilinkCallerIsAskedForLinkByLinkAndEachLinkEndsOnItsOwn) {
  Start("0,COM2,");  // the second link is refused
  const auto dial = Rasctl({"dial", "COM1", "DOM\\ann", "--computer", "ANNPC", "--links", "2"});
  EXPECT_EQ(dial.code, 1) << dial.err;
  EXPECT_EQ(dial.out, "COM1: DOM\\ann admitted, address 10.0.0.10\nCOM2: DOM\\ann refused\n");
  const auto m = Messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], "2,COM1,ann,*,*,167772170,0");
  EXPECT_EQ(m[1].rfind("0,COM1,DOM\\ann,ANNPC,", 0), 0u) << m[1];
  EXPECT_EQ(m[2].rfind("0,COM2,DOM\\ann,ANNPC,", 0), 0u) << m[2];
  EXPECT_EQ(m[1].substr(m[1].rfind(',', m[1].size() - 5)), m[2].substr(m[2].rfind(',', m[2].size() - 5)))
      << "one connection, one start";
  EXPECT_NE(Rasctl({"ports"}).out.find("COM2   listening"), std::string::npos);

  ASSERT_EQ(Rasctl({"traffic", "COM1", "--sent", "30", "--received", "40"}).code, 0);
  ASSERT_EQ(Rasctl({"hangup", "COM1"}).code, 0);
  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_EQ(Messages()[3].rfind("1,COM1,DOM\\ann,*,0,0,", 0), 0u) << Messages()[3];
  const auto stats = testing::SystemEvents(kEventRouterSessionStatistics);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].strings[1], "COM1");
  EXPECT_EQ(stats[0].strings[9], "40");

  const auto bad = Rasctl({"dial", "COM1", "DOM\\ann", "--links", "9"});
  EXPECT_EQ(bad.code, 2);
  const auto tooMany = Rasctl({"dial", "COM3", "DOM\\ann", "--links", "5"});
  EXPECT_EQ(tooMany.code, 1);
  EXPECT_NE(tooMany.err.find("free"), std::string::npos) << tooMany.err;
}

// ---- MPRAPI.DLL ----

class MprapiTest : public RouterTest {
 protected:
  void SetUp() override {
    RouterTest::SetUp();
    ASSERT_EQ(mprapi_.Load("MPRAPI.DLL"), ERROR_SUCCESS);
    connect_ = Get<mprapi::PFN_MprAdminServerConnect>("MprAdminServerConnect");
    disconnect_ = Get<mprapi::PFN_MprAdminServerDisconnect>("MprAdminServerDisconnect");
    enum_ = Get<mprapi::PFN_MprAdminPortEnum>("MprAdminPortEnum");
    portInfo_ = Get<mprapi::PFN_MprAdminPortGetInfo>("MprAdminPortGetInfo");
    connectionInfo_ = Get<mprapi::PFN_MprAdminConnectionGetInfo>("MprAdminConnectionGetInfo");
    free_ = Get<mprapi::PFN_MprAdminBufferFree>("MprAdminBufferFree");
  }
  template <typename F>
  F Get(const char* name) {
    auto f = reinterpret_cast<F>(mprapi_.GetProcAddress(name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }

  Module mprapi_;
  mprapi::PFN_MprAdminServerConnect connect_ = nullptr;
  mprapi::PFN_MprAdminServerDisconnect disconnect_ = nullptr;
  mprapi::PFN_MprAdminPortEnum enum_ = nullptr;
  mprapi::PFN_MprAdminPortGetInfo portInfo_ = nullptr;
  mprapi::PFN_MprAdminConnectionGetInfo connectionInfo_ = nullptr;
  mprapi::PFN_MprAdminBufferFree free_ = nullptr;
};

TEST_F(MprapiTest, PortsAndConnectionsAsTheRouterReportsThem) {
  Start();
  ASSERT_EQ(Rasctl({"dial", "COM2", "DOM\\ann", "--wksta", "ANNWKS", "--links", "2"}).code, 0);
  ASSERT_EQ(Rasctl({"traffic", "COM2", "--sent", "100", "--received", "10"}).code, 0);
  ASSERT_EQ(Rasctl({"traffic", "COM3", "--sent", "200", "--received", "20"}).code, 0);

  mprapi::MPR_SERVER_HANDLE server = nullptr;
  ASSERT_EQ(connect_(nullptr, &server), ERROR_SUCCESS);
  BYTE* buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  ASSERT_EQ(enum_(server, 0, mprapi::INVALID_HANDLE_VALUE, &buffer, mprapi::MAX_PREFERRED_LENGTH,
                  &read, &total, &resume),
            ERROR_SUCCESS);
  ASSERT_EQ(read, 4u);
  EXPECT_EQ(total, 4u);
  const auto* ports = reinterpret_cast<const mprapi::RAS_PORT_0*>(buffer);
  EXPECT_EQ(FromWide(ports[0].wszPortName, 17), "COM1");
  EXPECT_EQ(ports[0].hConnection, nullptr);
  EXPECT_EQ(ports[0].dwPortCondition, mprapi::RAS_PORT_LISTENING);
  EXPECT_EQ(ports[1].dwPortCondition, mprapi::RAS_PORT_AUTHENTICATED);
  EXPECT_EQ(ports[1].hConnection, ports[2].hConnection) << "two links of one connection";
  const mprapi::HANDLE com3 = ports[2].hPort;
  const mprapi::HANDLE connection = ports[1].hConnection;
  EXPECT_EQ(free_(buffer), ERROR_SUCCESS);
  EXPECT_EQ(free_(buffer), ERROR_INVALID_PARAMETER) << "a buffer is freed once";

  ASSERT_EQ(portInfo_(server, 1, com3, &buffer), ERROR_SUCCESS);
  const auto* p1 = reinterpret_cast<const mprapi::RAS_PORT_1*>(buffer);
  EXPECT_EQ(p1->dwBytesXmited, 200u);
  EXPECT_EQ(p1->dwBytesRcved, 20u);
  free_(buffer);

  ASSERT_EQ(connectionInfo_(server, 0, connection, &buffer), ERROR_SUCCESS);
  const auto* c0 = reinterpret_cast<const mprapi::RAS_CONNECTION_0*>(buffer);
  EXPECT_EQ(FromWide(c0->wszUserName, 257), "ann");
  EXPECT_EQ(FromWide(c0->wszLogonDomain, 16), "DOM");
  free_(buffer);
  ASSERT_EQ(connectionInfo_(server, 1, connection, &buffer), ERROR_SUCCESS);
  const auto* c1 = reinterpret_cast<const mprapi::RAS_CONNECTION_1*>(buffer);
  EXPECT_EQ(c1->dwBytesXmited, 300u) << "the connection counts all its links";
  EXPECT_EQ(c1->PppInfo.nbf.dwError, 0u);
  EXPECT_EQ(FromWide(c1->PppInfo.nbf.wszWksta, 17), "ANNWKS");
  EXPECT_EQ(FromWide(c1->PppInfo.ip.wszRemoteAddress, 16), "10.0.0.11");
  free_(buffer);

  EXPECT_EQ(portInfo_(server, 1, mprapi::MakeHandle(99), &buffer), 6u) << "no such port";
  EXPECT_EQ(connectionInfo_(server, 1, mprapi::MakeHandle(99), &buffer), 6u);
  disconnect_(server);
  EXPECT_EQ(portInfo_(server, 1, com3, &buffer), 6u) << "a handle ends with its disconnect";
}

TEST_F(MprapiTest, WithoutTheRouterThereIsNothingToConnectTo) {
  mprapi::MPR_SERVER_HANDLE server = reinterpret_cast<mprapi::MPR_SERVER_HANDLE>(1);
  EXPECT_EQ(connect_(nullptr, &server), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(server, nullptr);
}

// ---- The port-data module ----

TEST_F(RouterTest, ThePortDataModuleListsPortsAndDisconnectsLikeAHangUp) {
  Start();
  ASSERT_EQ(Rasctl({"dial", "COM3", "DOM\\bob", "--address", "10.0.0.77"}).code, 0);
  for (const char* name : {"_plsvc.dll", "_pladmin.dll"}) {
    Module module;
    ASSERT_EQ(module.Load(name), ERROR_SUCCESS) << name;
    auto init = reinterpret_cast<portdata::PFN_RRAS_Init>(module.GetProcAddress("RRAS_Init"));
    auto number = reinterpret_cast<portdata::PFN_RRAS_GetNumberOfPorts>(
        module.GetProcAddress("RRAS_GetNumberOfPorts"));
    auto update = reinterpret_cast<portdata::PFN_RRAS_UpdatePortData>(
        module.GetProcAddress("RRAS_UpdatePortData"));
    auto get = reinterpret_cast<portdata::PFN_RRAS_GetPortData>(module.GetProcAddress("RRAS_GetPortData"));
    ASSERT_TRUE(init && number && update && get) << name;
    EXPECT_NE(init(), FALSE);
    DWORD total = 0, inUse = 0, count = 0;
    ASSERT_NE(number("SRV2", &total, &inUse), FALSE);
    EXPECT_EQ(total, 4u);
    EXPECT_EQ(inUse, 1u);
    ASSERT_NE(update("\\\\SRV2", &count), FALSE);
    ASSERT_EQ(count, 4u);
    char port[portdata::kPortNameSize], user[portdata::kUserSize], extra[portdata::kExtraSize];
    DWORD start = 0;
    ASSERT_NE(get(2, port, user, extra, &start), FALSE);
    EXPECT_STREQ(port, "COM3");
    EXPECT_STREQ(user, "DOM\\bob");
    EXPECT_STREQ(extra, "10.0.0.77");
    EXPECT_NE(start, 0u);
    ASSERT_NE(get(0, port, user, extra, &start), FALSE);
    EXPECT_STREQ(user, "");
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(get(4, port, user, extra, &start), FALSE) << "beyond the listing";
    EXPECT_EQ(number("NOSUCH", &total, &inUse), FALSE);
  }
  Module plsvc;
  ASSERT_EQ(plsvc.Load("_plsvc.dll"), ERROR_SUCCESS);
  auto disconnect = reinterpret_cast<portdata::PFN_RRAS_DisconnectPort>(
      plsvc.GetProcAddress("RRAS_DisconnectPort"));
  ASSERT_NE(disconnect("SRV2", "COM3"), FALSE);
  ASSERT_TRUE(portulon_->WaitForMessages(3, 10s));
  EXPECT_EQ(Messages()[2].rfind("1,COM3,DOM\\bob,*,0,0,", 0), 0u) << Messages()[2];
  for (int i = 0; i < 100 && Rasctl({"ports"}).out.find("COM3   listening") == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(Rasctl({"ports"}).out.find("COM3   listening"), std::string::npos);
  EXPECT_EQ(disconnect("SRV2", "COM3"), FALSE) << "nobody left to disconnect";
}

}  // namespace
}  // namespace plat::ras
