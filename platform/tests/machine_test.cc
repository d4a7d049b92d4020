#include "platform/machine.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

TEST(MachineTest, ProvisionedMachineReadsBack) {
  MachineConfig c = testing::TempNetwork::DefaultConfig("SRV1");
  c.osVersion = "5.0";
  c.ras = RasFlavour::Rras;
  c.locale = 1031;
  c.timeZoneBiasMinutes = -60;
  c.rasPorts = 8;
  testing::TempNetwork net(c);
  MachineConfig back;
  ASSERT_EQ(ReadMachineConfig(net.root(), &back), ERROR_SUCCESS);
  EXPECT_EQ(back.name, "SRV1");
  EXPECT_EQ(back.osVersion, "5.0");
  EXPECT_EQ(back.ras, RasFlavour::Rras);
  EXPECT_EQ(back.locale, 1031u);
  EXPECT_EQ(back.timeZoneBiasMinutes, -60);
  EXPECT_EQ(back.rasPorts, 8);
  EXPECT_EQ(back.domain, "DOM");
  std::string display;
  EXPECT_EQ(RegReadString("System\\CurrentControlSet\\Services\\RemoteAccess", "DisplayName", &display),
            ERROR_SUCCESS);
  EXPECT_EQ(display, "Routing and Remote Access");

  EXPECT_EQ(ProvisionMachine(net.root(), c), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ProvisionMachine(net.network() + "/OTHER", c), ERROR_INVALID_NAME)
      << "the folder is named after the computer";
}

// The remote-access service is registered under the name the flavour gives it
// and started at boot; its daemon and RASSAPI.DLL sit in the system directory.
TEST(MachineTest, EveryMachineComesWithItsRemoteAccessService) {
  ::setenv("PORTULON_BIN_DIR", testing::BinDir().c_str(), 1);
  const struct {
    const char* os;
    RasFlavour flavour;
    const char* service;
  } cases[] = {{"4.0", RasFlavour::Ras, "RemoteAccess"},
               {"4.0", RasFlavour::Rras, "Router"},
               {"5.0", RasFlavour::Rras, "RemoteAccess"}};
  for (const auto& c : cases) {
    MachineConfig config = testing::TempNetwork::DefaultConfig("SRV1");
    config.osVersion = c.os;
    config.ras = c.flavour;
    testing::TempNetwork net(config);
    EXPECT_STREQ(RasServiceName(config), c.service);
    ServiceManager scm;
    ServiceHandle service;
    ASSERT_EQ(ServiceManager::Open("", &scm), ERROR_SUCCESS);
    ASSERT_EQ(scm.OpenService(c.service, &service), ERROR_SUCCESS) << c.service;
    ServiceConfig sc;
    ASSERT_EQ(service.QueryConfig(&sc), ERROR_SUCCESS);
    EXPECT_EQ(sc.binaryPath, "C:\\WINNT\\system32\\rassvc.exe");
    EXPECT_EQ(sc.type, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(sc.startType, SERVICE_AUTO_START);
    EXPECT_EQ(sc.errorControl, SERVICE_ERROR_NORMAL);
    EXPECT_EQ(sc.account, "LocalSystem");
    for (const char* file : {"rassvc.exe", "RASSAPI.DLL", "net.exe"}) {
      EXPECT_TRUE(FileExists(std::string("C:\\WINNT\\system32\\") + file)) << file;
    }
  }
}

TEST(MachineTest, FindMachineByNameAndDownState) {
  testing::TempNetwork net;
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  std::string root;
  ASSERT_EQ(FindMachine("srv2", &root), ERROR_SUCCESS);
  EXPECT_EQ(root, srv2);
  ASSERT_EQ(FindMachine("", &root), ERROR_SUCCESS);
  EXPECT_EQ(root, net.root());
  EXPECT_EQ(FindMachine("domains", &root), ERROR_BAD_NETPATH);
  EXPECT_EQ(FindMachine("..", &root), ERROR_BAD_NETPATH);
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_TRUE(IsMachineDown(srv2));
  EXPECT_EQ(FindMachine("SRV2", &root), ERROR_BAD_NETPATH);
  EXPECT_EQ(FindMachine("SRV2", &root, false), ERROR_SUCCESS);
  ASSERT_EQ(SetMachineDown(srv2, false), ERROR_SUCCESS);
  EXPECT_EQ(FindMachine("SRV2", &root), ERROR_SUCCESS);
}

}  // namespace
}  // namespace plat
