// plcollect as the Portulon service starts it, against a Windows 2000 router
// whose callers come from rasctl.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/errors.h"
#include "common/testing/installed_modules.h"
#include "platform/eventlog.h"
#include "platform/profile.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"

namespace {

using plat::testing::RunTool;

constexpr const char* kSnapshot = "C:\\WINNT\\rrasdata.dat";

plat::MachineConfig Windows2000Router() {
  plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV2");
  c.osVersion = "5.0";
  c.ras = plat::RasFlavour::Rras;
  return c;
}

class PlcollectTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1); }

  std::string Key(const std::string& port, const std::string& key) {
    return plat::ProfileGetString(kSnapshot, port, key, "(none)");
  }
  std::string Trace() const { return plat::testing::ReadHostFile(net_.DriveC("qcl_trace_plcollect.txt")); }

  plat::testing::TempNetwork net_{Windows2000Router()};
};

TEST_F(PlcollectTest, EveryPortGetsItsDeviceDataAndOnlyConnectedPortsTheirCaller) {
  plat::testing::RasServiceRunner router;
  // A router with no active connections.
  ASSERT_EQ(RunTool("plcollect", {}).code, 0);
  for (const char* port : {"COM1", "COM2", "COM3", "COM4"}) {
    EXPECT_EQ(Key(port, "szDeviceName"), std::string("Modem on ") + port);
    EXPECT_EQ(Key(port, "szDeviceType"), "modem");
    EXPECT_EQ(Key(port, "dwBytesRcved"), "0");
    EXPECT_EQ(Key(port, "dwBytesRX"), "0");
    EXPECT_EQ(Key(port, "szUserName"), "(none)");
  }
  EXPECT_FALSE(std::filesystem::exists(net_.DriveC("WINNT/\xA8rrasdat.tmp")));
  const std::string trace = Trace();
  for (const char* line : {"  Start application\r\n", "  Create\r\n",
                           "  PortEnum returned 4 ports of 4 in total\r\n", "  Free Buffer Memory\r\n",
                           "  Disconnect\r\n", "  End\r\n", "  End of End\r\n"}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
  }

  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\ann", "--computer", "ANNPC", "--wksta", "ANNWKS"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM2", "--sent", "5000", "--received", "700"}).code, 0);
  ASSERT_EQ(RunTool("plcollect", {}).code, 0);
  EXPECT_EQ(Key("COM2", "dwBytesTX"), "5000");
  EXPECT_EQ(Key("COM2", "dwBytesRX"), "700");
  EXPECT_EQ(Key("COM2", "szUserName"), "DOM\\ann");
  EXPECT_EQ(Key("COM2", "szComputer"), "ANNPC");
  EXPECT_EQ(Key("COM2", "szNBF"), "ANNWKS");
  EXPECT_EQ(Key("COM2", "szIP"), "10.0.0.11");
  EXPECT_EQ(Key("COM2", "dwBytesRcved"), "(none)");
  EXPECT_EQ(Key("COM1", "szUserName"), "(none)");
}

TEST_F(PlcollectTest, AHungRouterEndsTheRunAfterTwentySecondsAndKeepsTheLastSnapshot) {
  plat::testing::RasServiceRunner router;
  ASSERT_EQ(RunTool("plcollect", {}).code, 0);
  const std::string before = plat::testing::ReadHostFile(net_.DriveC("WINNT/rrasdata.dat"));
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"stall", "60"}).code, 0);

  const auto started = std::chrono::steady_clock::now();
  const auto run = RunTool("plcollect", {});
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(run.code, 1);
  EXPECT_GE(seconds, 19);
  EXPECT_LE(seconds, 40);
  const auto events = common::testing::PortulonEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 1u);
  EXPECT_EQ(events[0].eventType, plat::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, (std::vector<std::string>{"An error occured while enumerating RRAS ports"}));
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("WINNT/rrasdata.dat")), before);
  ASSERT_EQ(RunTool("rasctl", {"stall", "0"}).code, 0);
}

TEST_F(PlcollectTest, WithoutTheRouterTheSnapshotStaysAsItWas) {
  plat::testing::WriteHostFile(net_.DriveC("WINNT/rrasdata.dat"), "[COM1]\r\ndwBytesRX=5\r\n");
  EXPECT_EQ(RunTool("plcollect", {}).code, 1);
  EXPECT_EQ(plat::testing::ReadHostFile(net_.DriveC("WINNT/rrasdata.dat")), "[COM1]\r\ndwBytesRX=5\r\n");
  EXPECT_NE(Trace().find("Admin server connect failed with error 1722"), std::string::npos) << Trace();
  EXPECT_TRUE(common::testing::PortulonEvents().empty()) << "a router that is away is no hung router";
}

}  // namespace
