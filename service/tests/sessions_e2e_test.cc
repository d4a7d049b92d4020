// Sessions at once across two servers that share one data folder: SRV1 holds
// it (\\SRV1\PL_NT_DB), SRV2's plsvc reaches it through the share; each
// machine runs plsvc and its remote-access service with PL_RAS.dll, callers
// driven by rasctl on either machine.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/data_folder.h"
#include "common/event_ids.h"
#include "common/product_keys.h"
#include "common/service_values.h"
#include "common/profile_keys.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "service/tests/installed_plsvc.h"
#include "service/tests/ras_e2e_helpers.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using common::kMasterShareValue;
using plat::testing::RunTool;
using namespace testing::e2e;

constexpr const char* kModule = "PL_RAS.dll";

class TwoServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
    net_ = std::make_unique<plat::testing::TempNetwork>();
    srv1_ = net_->root();
    ASSERT_NO_FATAL_FAILURE(InstallPortulon(*net_));
    common::testing::InstallAdminDll(*net_, kModule);
    srv2_ = net_->AddMachine(plat::testing::TempNetwork::DefaultConfig("SRV2"));
    On(srv2_);
    ASSERT_NO_FATAL_FAILURE(InstallSecondServer());
    On(srv1_);
  }

  void TearDown() override {
    for (const std::string& root : {srv2_, srv1_}) {
      if (root.empty()) continue;
      On(root);
      ras_[root == srv2_].reset();
      KillPortulon();
    }
  }

  static void On(const std::string& root) { plat::SetCurrentMachineRoot(root); }

  // plsvc and PL_RAS.dll on the current machine, as the installer puts them,
  // with the data folder of SRV1.
  static void InstallSecondServer() {
    std::string folder;
    ASSERT_EQ(plat::ResolvePath("C:\\Program Files\\Portulon", &folder), plat::ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(common::testing::InstallPlsvcInto(folder));
    std::filesystem::copy_file(plat::testing::BinDir() + "/" + kModule, folder + "/" + kModule);
    ASSERT_EQ(plat::RegWriteString("Software\\Microsoft\\RAS\\AdminDLL", "DLLPath",
                                   std::string("C:\\Program Files\\Portulon\\") + kModule),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, kMasterShareValue, "\\\\SRV1\\PL_NT_DB"),
              plat::ERROR_SUCCESS);
  }

  // plsvc and the remote-access service of `root`.
  void StartServer(const std::string& root) {
    On(root);
    ASSERT_NO_FATAL_FAILURE(StartPortulon());
    ras_[root == srv2_] = std::make_unique<plat::testing::RasServiceRunner>();
  }

  // rasctl on machine `root`: its words on the dial-in.
  std::string Dial(const std::string& root, const char* port) {
    On(root);
    return RunTool("rasctl", {"dial", port, "DOM\\ann"}).out;
  }

  // ann's sessions on `server` as the logged-in users file has them, read
  // through the share from whichever machine is current.
  static std::string Sessions(const char* server) {
    const std::string file = common::DataFile("\\\\SRV1\\PL_NT_DB", common::kLoggedInFile);
    return plat::ProfileGetString(file, server, "DOM\\ann", "none");
  }

  // The reason of the latest refusal event on `root`.
  static std::string LastRefusalReason(const std::string& root) {
    On(root);
    std::string reason = "no refusal event";
    for (const auto& e : common::testing::PortulonEvents()) {
      if (e.eventId == common::kEventConnectionRefused && e.strings.size() == 3) reason = e.strings[2];
    }
    return reason;
  }

  std::unique_ptr<plat::testing::TempNetwork> net_;
  std::string srv1_, srv2_;
  std::unique_ptr<plat::testing::RasServiceRunner> ras_[2];  // SRV1's, SRV2's
};

TEST_F(TwoServersTest, ThreeOfThreeAcrossBothServersAlsoAfterAKilledServerRestarts) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", common::kMaxSessions, "3"), 0u);
  ASSERT_NO_FATAL_FAILURE(StartServer(srv1_));
  ASSERT_NO_FATAL_FAILURE(StartServer(srv2_));

  EXPECT_EQ(Dial(srv1_, "COM1"), "COM1: DOM\\ann admitted, address 10.0.0.10\n");
  EXPECT_EQ(Dial(srv2_, "COM1"), "COM1: DOM\\ann admitted, address 10.0.0.10\n");
  EXPECT_EQ(Dial(srv1_, "COM2"), "COM2: DOM\\ann admitted, address 10.0.0.11\n");
  EXPECT_EQ(Sessions("SRV1"), "2");
  EXPECT_EQ(Sessions("SRV2"), "1");

  const std::string refused = "COM2: DOM\\ann refused (4: User already connected)\n";
  EXPECT_EQ(Dial(srv2_, "COM2"), refused);
  EXPECT_EQ(LastRefusalReason(srv2_), "4: User already connected (3 of 3)");

  // SRV1's plsvc dies: its sessions still count while it is down, and it
  // takes them back at its restart.
  On(srv1_);
  KillPortulon();
  EXPECT_EQ(Dial(srv2_, "COM2"), refused);
  On(srv1_);
  ASSERT_NO_FATAL_FAILURE(StartPortulon());
  EXPECT_EQ(Sessions("SRV1"), "2");
  EXPECT_EQ(Dial(srv1_, "COM3"), "COM3: DOM\\ann refused (4: User already connected)\n");
  EXPECT_EQ(LastRefusalReason(srv1_), "4: User already connected (3 of 3)");
  EXPECT_EQ(Dial(srv2_, "COM2"), refused);

  // One hang-up on SRV1 frees one place, on either server.
  On(srv1_);
  ASSERT_EQ(RunTool("rasctl", {"hangup", "COM1"}).code, 0);
  ASSERT_TRUE(WaitUntil([] { return Sessions("SRV1") == "1"; }));
  EXPECT_EQ(Dial(srv2_, "COM2"), "COM2: DOM\\ann admitted, address 10.0.0.11\n");
  EXPECT_EQ(Sessions("SRV2"), "2");
  EXPECT_EQ(Dial(srv1_, "COM1"), "COM1: DOM\\ann refused (4: User already connected)\n");
}

}  // namespace
}  // namespace svc
