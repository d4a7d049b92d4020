// The fault-injection suite on a Windows 2000 router (ctest -L faults): the
// outside port-data module missing, so that supervision cannot cut anybody.
// That is said once, where an administrator looks: the event log, the
// Service key the console reads, and plmachine show.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "common/service_values.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "service/event_report.h"
#include "service/tests/ras_e2e_helpers.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using namespace testing::e2e;
using plat::testing::RunTool;

std::vector<plat::EventRecord> EventsWithId(plat::DWORD id) {
  std::vector<plat::EventRecord> found;
  for (auto& e : common::testing::PortulonEvents()) {
    if (e.eventId == id) found.push_back(std::move(e));
  }
  return found;
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(FaultsRrasTest, WithoutItsPortDataModuleTheServerSaysOnceThatSessionsCannotBeCut) {
  ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
  plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("SRV1");
  config.osVersion = "5.0";
  config.ras = plat::RasFlavour::Rras;
  plat::testing::TempNetwork net(config);
  ASSERT_NO_FATAL_FAILURE(InstallPortulon(net));
  common::testing::InstallAdminDll(net, "PL_RRAS.dll");
  ASSERT_TRUE(std::filesystem::remove(net.DriveC("WINNT/system32/_plsvc.dll")));
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "MaxSessionTime", "1"), 0u);

  ::setenv("PORTULON_ACTION_INTERVAL_MS", "200", 1);
  struct Cleanup {
    ~Cleanup() {
      KillPortulon();
      ::unsetenv("PORTULON_ACTION_INTERVAL_MS");
    }
  } cleanup;
  ASSERT_NO_FATAL_FAILURE(StartPortulon());
  const auto router = std::make_unique<plat::testing::RasServiceRunner>();
  ASSERT_EQ(RunTool("rasctl", {"dial", "COM1", "DOM\\ann"}).code, 0);

  // Several passes find ann past her limit and fail to cut her.
  const std::string trace = net.DriveC("qcl_trace_plsvc.txt");
  ASSERT_TRUE(WaitUntil([&] { return Occurrences(plat::testing::ReadHostFile(trace), "DisconnectPort failed") >= 3; },
                        20s));
  const auto cannot = EventsWithId(common::kEventCannotDisconnect);
  ASSERT_EQ(cannot.size(), 1u) << "once, not once per pass";
  EXPECT_EQ(cannot[0].eventType, plat::EVENTLOG_ERROR_TYPE);
  ASSERT_EQ(cannot[0].strings.size(), 2u);
  EXPECT_NE(cannot[0].strings[1].find("_plsvc.dll could not be loaded"), std::string::npos) << cannot[0].strings[1];
  EXPECT_NE(cannot[0].strings[1].find("cannot cut sessions"), std::string::npos) << cannot[0].strings[1];
  EXPECT_TRUE(EventsWithId(common::kEventDisconnectsAgain).empty());

  std::string why;
  ASSERT_EQ(plat::RegReadString(kServiceKey, common::kCannotDisconnectValue, &why), 0u)
      << "the console reads it from the Service key";
  EXPECT_NE(why.find("_plsvc.dll"), std::string::npos) << why;
  EXPECT_NE(RunTool("plmachine", {"show"}).out.find("_plsvc.dll missing"),
            std::string::npos);
}

}  // namespace
}  // namespace svc
