// End to end on a Windows 2000 router: plsvc and the router (rassvc) started
// through the service manager, rassvc calling the real PL_RRAS.dll, plsvc
// starting the real plcollect and disconnecting through the real _plsvc.dll,
// callers driven by rasctl.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "common/testing/installed_modules.h"
#include "platform/eventlog.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "service/event_report.h"
#include "service/tests/ras_e2e_helpers.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using namespace testing::e2e;
using plat::testing::RunTool;

plat::MachineConfig Windows2000Router() {
  plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV1");
  c.osVersion = "5.0";
  c.ras = plat::RasFlavour::Rras;
  return c;
}

bool Listening(const std::string& port) {
  return RunTool("rasctl", {"ports"}).out.find(port + "   listening") != std::string::npos;
}

int ForcedDisconnectEvents() {
  int n = 0;
  for (const auto& e : common::testing::PortulonEvents()) n += e.eventId == common::kEventForcedDisconnect;
  return n;
}

class RrasEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
    net_ = std::make_unique<plat::testing::TempNetwork>(Windows2000Router());
    InstallPortulon(*net_);
    common::testing::InstallAdminDll(*net_, "PL_RRAS.dll");
    // The collector goes beside the service, as the installer puts it.
    std::filesystem::create_symlink(plat::testing::BinDir() + "/plcollect",
                                    net_->DriveC("Program Files/Portulon/plcollect.exe"));
  }

  void TearDown() override {
    router_.reset();
    if (net_) KillPortulon();
    ::unsetenv("PORTULON_ACTION_INTERVAL_MS");
  }

  // Supervision passes every `intervalMs` instead of every minute, through
  // the seam the product never sets.
  void StartBoth(const char* intervalMs = nullptr) {
    if (intervalMs) ::setenv("PORTULON_ACTION_INTERVAL_MS", intervalMs, 1);
    StartPortulon();
    router_ = std::make_unique<plat::testing::RasServiceRunner>();
  }

  std::unique_ptr<plat::testing::TempNetwork> net_;
  std::unique_ptr<plat::testing::RasServiceRunner> router_;
};

TEST_F(RrasEndToEndTest, EachLinkOfAMultilinkCallIsAdmittedOrRefusedOnItsOwn) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "NoDuplicate", "1"), 0u);
  StartBoth();
  const auto dial = RunTool("rasctl", {"dial", "COM1", "DOM\\ann", "--links", "2"});
  EXPECT_EQ(dial.code, 1);
  EXPECT_EQ(dial.out, "COM1: DOM\\ann admitted, address 10.0.0.10\nCOM2: DOM\\ann refused (4: User already connected)\n");
  EXPECT_EQ(Records("COM1"), (std::vector<std::string>{"C_DOM\\ann"}));
  EXPECT_EQ(Records("COM2"), (std::vector<std::string>{"N_DOM\\ann?4"}))
      << "the second link of the same account is a duplicate login";

  // Without NoDuplicate both links are sessions of their own.
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "NoDuplicate", "0"), 0u);
  const auto bob = RunTool("rasctl", {"dial", "COM3", "DOM\\bob", "--links", "2"});
  EXPECT_EQ(bob.code, 0) << bob.out;
  EXPECT_EQ(Records("COM3"), (std::vector<std::string>{"C_DOM\\bob"}));
  EXPECT_EQ(Records("COM4"), (std::vector<std::string>{"C_DOM\\bob"}));

  // A link that ends is recorded with its bytes from the router's record.
  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM4", "--sent", "300", "--received", "200"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM4"}).code, 0);
  ASSERT_TRUE(WaitUntil([] { return Records("COM4").size() == 2; }));
  // The connection asked for its address on its first port, COM3: the second
  // link has none of its own.
  EXPECT_EQ(WithoutDuration(Records("COM4")[1]), "H_DOM\\bob?0?0::*:200:300");
  const std::string hangUp = Records("COM4")[1];
  const long duration = std::stol(hangUp.substr(1, hangUp.find('_') - 1));
  EXPECT_LE(duration, 5) << "never a session decades long: " << hangUp;
}

// The router's port listing tells a restarted service who is still on.
TEST_F(RrasEndToEndTest, KilledAndRestartedItFindsTheSessionsInTheRoutersListing) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "NoDuplicate", "1"), 0u);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "MaxSessionTime", "8"), 0u);
  StartBoth("200");
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\bob"}).code, 0);
  KillPortulon();
  StartPortulon();
  ASSERT_FALSE(Listening("COM2")) << "bob's deadline passed before the restart: the test proves nothing";
  EXPECT_EQ(RunTool("rasctl", {"dial", "COM3", "DOM\\ann"}).out,
            "COM3: DOM\\ann refused (4: User already connected)\n");
  ASSERT_TRUE(WaitUntil([] { return Records("COM2").size() == 2; }, 20s));
  EXPECT_EQ(WithoutDuration(Records("COM2")[1]), "H_DOM\\bob?167772171?2::*:0:0");
  EXPECT_EQ(ForcedDisconnectEvents(), 1);
}

TEST_F(RrasEndToEndTest, AnIdleSessionIsCutFromTheCollectorsSnapshotThroughThePortDataModule) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "IdleTimer", 1), 0u);  // one minute
  StartBoth("300");
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\ann"}).code, 0);
  // Each pass counts 61 s of silence: the first pass that reads the snapshot cuts.
  ASSERT_TRUE(WaitUntil([] { return Listening("COM2"); }, 20s));
  ASSERT_TRUE(WaitUntil([] { return Records("COM2").size() == 2; }));
  EXPECT_EQ(WithoutDuration(Records("COM2")[1]), "H_DOM\\ann?167772171?9::*:0:0")
      << "the hang-up record carries the idle time-out";
  EXPECT_EQ(ForcedDisconnectEvents(), 1);
  EXPECT_FALSE(plat::ProfileGetString("C:\\WINNT\\rrasdata.dat", "COM2", "dwBytesRX", "").empty())
      << "plsvc started the collector";
}

TEST_F(RrasEndToEndTest, ADamagedOrMissingSnapshotNeverMakesASessionIdle) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "IdleTimer", 1), 0u);
  // Without the router's administration interface the collector never
  // replaces the snapshot: the test alone writes it.
  ASSERT_TRUE(std::filesystem::remove(net_->DriveC("WINNT/system32/MPRAPI.DLL")));
  StartBoth("200");
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  const std::string snapshot = net_->DriveC("WINNT/rrasdata.dat");
  const std::vector<std::string> damaged = {
      "",                                           // no snapshot at all
      "[COM1]\r\ndwPortCondition=5\r\ndwBytesRX=0\r\n",  // cut off before dwBytesTX
      "[COM2]\r\ndwBytesRX=0\r\ndwBytesTX=0\r\n",   // no section for the port
      "[COM1]\r\ndwBytesRX=\x01\x02garbage\r\ndwBytesTX=0\r\n",
  };
  for (const std::string& text : damaged) {
    if (text.empty()) {
      std::filesystem::remove(snapshot);
    } else {
      plat::testing::WriteHostFile(snapshot, text);
    }
    std::this_thread::sleep_for(1500ms);  // several passes
    EXPECT_FALSE(Listening("COM1")) << "cut on a snapshot of: " << text;
    EXPECT_EQ(Records("COM1").size(), 1u);
  }
  EXPECT_EQ(ForcedDisconnectEvents(), 0);
  // A whole snapshot of a quiet port: now it is idle.
  plat::testing::WriteHostFile(snapshot, "[COM1]\r\ndwBytesRX=0\r\ndwBytesTX=0\r\n");
  EXPECT_TRUE(WaitUntil([] { return Listening("COM1"); }, 20s));
}

}  // namespace
}  // namespace svc
