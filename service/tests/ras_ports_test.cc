// The port operations against the machine's remote-access service: RAS
// through RASSAPI.DLL and rassvc, RRAS through the collector's file.
#include "service/ras_ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <thread>

#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/ras/ras_service.h"
#include "platform/sysinfo.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "common/ras_kind.h"
#include "service/service_context.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::testing::RunTool;

class RasPortsTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1); }
};

TEST_F(RasPortsTest, TrafficAndDisconnectThroughTheAdministrationFunctions) {
  plat::testing::TempNetwork net;
  plat::testing::RasServiceRunner ras;  // no extension: every caller is admitted
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM2", "DOM\\ann"}).code, 0);
  ASSERT_EQ(RunTool("rasctl", {"traffic", "COM2", "--sent", "3000000000", "--received", "512"}).code, 0);

  RemoteAccess context;
  context.kind = common::kRasKindRas;
  ASSERT_EQ(RAS_LoadOrdinals(context, "SRV1"), 0u);
  DWORD sent = 0, received = 0;
  ASSERT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "COM2", &sent, &received), 0u);
  EXPECT_EQ(sent, 3000000000u);
  EXPECT_EQ(received, 512u);
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "\\\\SRV1", "COM9", &sent, &received),
            plat::ras::ERROR_DEV_NOT_EXIST);

  ASSERT_EQ(DisconnectPort(context, "SRV1", "COM2"), 0u);
  // The hang-up follows the request: the session's record, then a free port.
  for (int i = 0; i < 100 && plat::testing::SystemEvents(plat::ras::kEventSessionStatistics).empty(); ++i) {
    std::this_thread::sleep_for(50ms);
  }
  const auto records = plat::testing::SystemEvents(plat::ras::kEventSessionStatistics);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings[9], "3000000000");
  EXPECT_EQ(DisconnectPort(context, "SRV1", "COM2"), plat::ras::ERROR_NOT_CONNECTED);

  ASSERT_TRUE(ras.Stop());
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "COM1", &sent, &received),
            plat::RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(RasPortsTest, OnARouterTheTrafficComesFromTheCollectorsFile) {
  plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV1");
  c.osVersion = "5.0";
  c.ras = plat::RasFlavour::Rras;
  plat::testing::TempNetwork net(c);
  ASSERT_EQ(plat::ProfileWriteString("C:\\WINNT\\rrasdata.dat", "VPN0-1", "dwBytesTX", "4000000000"), 0u);
  ASSERT_EQ(plat::ProfileWriteString("C:\\WINNT\\rrasdata.dat", "VPN0-1", "dwBytesRX", "77"), 0u);
  RemoteAccess context;
  ASSERT_TRUE(common::ReadRemoteAccessKind("", &context.kind));
  ASSERT_EQ(context.kind, common::kRasKindRras);
  ASSERT_EQ(RAS_LoadOrdinals(context, "SRV1"), 0u);
  plat::TakeBeeps();

  DWORD sent = 1, received = 1;
  ASSERT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "vpn0-1", &sent, &received), 0u);
  EXPECT_EQ(sent, 4000000000u);
  EXPECT_EQ(received, 77u);
  // A port the snapshot cannot tell about is not quiet: it cannot be read.
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN0-2", &sent, &received),
            plat::ERROR_INVALID_DATA);
  ASSERT_EQ(plat::ProfileWriteString("C:\\WINNT\\rrasdata.dat", "VPN0-3", "dwBytesTX", "12"), 0u);
  ASSERT_EQ(plat::ProfileWriteString("C:\\WINNT\\rrasdata.dat", "VPN0-3", "dwBytesRX", "-5"), 0u);
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN0-3", &sent, &received),
            plat::ERROR_INVALID_DATA);
  const auto beeps = plat::TakeBeeps();
  ASSERT_EQ(beeps.size(), 3u);
  EXPECT_EQ(beeps[0].frequency, 4000u);
  EXPECT_EQ(beeps[0].duration, 100u);

  // A snapshot nobody refreshed for long tells nothing either.
  const std::string file = net.DriveC("WINNT/rrasdata.dat");
  const auto old = std::filesystem::last_write_time(file) - std::chrono::minutes(10);
  std::filesystem::last_write_time(file, old);
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN0-1", &sent, &received),
            plat::ERROR_INVALID_DATA);
  std::filesystem::remove(file);
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN0-1", &sent, &received),
            plat::ERROR_FILE_NOT_FOUND);

  // The disconnect goes through _plsvc.dll to the router, which is not running here.
  EXPECT_EQ(DisconnectPort(context, "SRV1", "VPN0-1"), plat::ERROR_GEN_FAILURE);
}

}  // namespace
}  // namespace svc
