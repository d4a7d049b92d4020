// Fetches of monitored servers against real machines of a temporary network:
// RAS and RRAS servers with sessions, servers that are down, do not exist,
// hang or carry garbage in their registry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "console/core/pladmin_doc.h"
#include "console/tests/console_test_support.h"

namespace pladmin {
namespace {

using namespace testing;
using plat::RasFlavour;

class FetchTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_{plat::testing::TempNetwork::DefaultConfig("ADMINPC")};
  RecordingSink sink_;
  std::shared_ptr<QueueNotifier> notifier_ = std::make_shared<QueueNotifier>();
  CPladminDoc doc_{sink_};

  const CServer& Server(const std::string& name) {
    const int index = doc_.servers().Find(name);
    EXPECT_GE(index, 0) << name;
    return doc_.servers().At(index < 0 ? 0 : index);
  }
  void Start() {
    doc_.OnNewDocument(notifier_);
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc_));
  }
  void Poll() {
    notifier_->ClearDelivered();
    doc_.PollAllServers();
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc_));
  }
};

TEST_F(FetchTest, RasServerWithSessionsIsReadyAndKnownAsMaster) {
  const std::string root = AddServer(net_, "SRV1", RasFlavour::Ras, 4, /*master=*/true);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(Dial(root, "COM2", "DOM\\ann"));
  ASSERT_EQ(plat::testing::RunTool("rasctl", {"--machine", root, "traffic", "COM2", "--sent", "1500",
                                              "--received", "7000"}).code, 0);
  ListServers({"SRV1"});
  EXPECT_FALSE(doc_.servers().masterKnown());
  Start();

  const CServer& srv1 = Server("SRV1");
  EXPECT_EQ(srv1.StateText(), "SRV1 is ready");
  EXPECT_EQ(srv1.rasKind, kKindRas);
  EXPECT_EQ(srv1.totalPorts, 4);
  EXPECT_EQ(srv1.portsInUse, 1);
  ASSERT_EQ(srv1.ports.size(), 4u);
  const PortEntry* com2 = srv1.FindPort("COM2");
  ASSERT_NE(com2, nullptr);
  EXPECT_TRUE(com2->inUse);
  EXPECT_EQ(com2->user, "DOM\\ann");
  EXPECT_NE(com2->start, 0);
  EXPECT_EQ(com2->bytesSent, 1500);
  EXPECT_EQ(com2->bytesReceived, 7000);
  EXPECT_FALSE(srv1.FindPort("COM1")->inUse);
  EXPECT_EQ(srv1.FindPort("COM1")->user, "");
  EXPECT_EQ(srv1.settings.version, "2.1b");
  EXPECT_EQ(srv1.settings.idleTimer, 10u);
  EXPECT_TRUE(doc_.servers().masterKnown());
  EXPECT_EQ(doc_.servers().masterName(), "SRV1");
  EXPECT_EQ(doc_.servers().systemDataPath(), "\\\\SRV1\\PL_NT_DB\\portulon.hw");
  EXPECT_EQ(doc_.servers().profilePath(), "\\\\SRV1\\PL_NT_DB\\portulon.usr");
  EXPECT_TRUE(sink_.messages.empty());

  // Nothing changed: the fetch asks for a redraw only, at its start and its end.
  const std::uint64_t id = srv1.id;
  Poll();
  auto told = notifier_->DeliveredFor(id);
  ASSERT_EQ(told.size(), 2u);
  for (const auto& n : told) EXPECT_EQ(n.message, kMsgServerRedraw);
  EXPECT_EQ(told.front().state, kStateConnecting);

  // The caller hangs up: the ports changed.
  ASSERT_EQ(plat::testing::RunTool("rasctl", {"--machine", root, "hangup", "COM2"}).code, 0);
  Poll();
  told = notifier_->DeliveredFor(id);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back().message, kMsgServerChanged);
  EXPECT_EQ(Server("SRV1").portsInUse, 0);
  EXPECT_FALSE(Server("SRV1").FindPort("COM2")->inUse);
}

TEST_F(FetchTest, RrasServerWithMorePortsThanShownKeepsTheFirst256) {
  const std::string root = AddServer(net_, "SRV2", RasFlavour::Rras, 300);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV2"));
  ASSERT_NO_FATAL_FAILURE(Dial(root, "COM1", "DOM\\grace", {"--links", "2", "--computer", "GRACEPC"}));
  ListServers({"SRV2"});
  Start();

  const CServer& srv2 = Server("SRV2");
  EXPECT_EQ(srv2.StateText(), "SRV2 is ready");
  EXPECT_EQ(srv2.rasKind, kKindRras);
  EXPECT_EQ(srv2.totalPorts, 300);
  EXPECT_EQ(srv2.portsInUse, 2);
  ASSERT_EQ(srv2.ports.size(), kMaxPorts);
  EXPECT_EQ(srv2.ports.back().name, srv2.ports[255].name);
  for (const char* port : {"COM1", "COM2"}) {
    const PortEntry* p = srv2.FindPort(port);
    ASSERT_NE(p, nullptr) << port;
    EXPECT_EQ(p->user, "DOM\\grace");
    EXPECT_NE(p->start, 0);
    EXPECT_FALSE(p->extra.empty()) << "the caller's address";
    EXPECT_GE(p->bytesSent, 0) << "traffic read through the router interface";
  }
  // Not the master: the list still waits for one.
  EXPECT_FALSE(doc_.servers().masterKnown());
}

// The port-data module keeps one listing per process: routers fetched at the
// same time must still each get their own ports.
TEST_F(FetchTest, RoutersFetchedTogetherEachKeepTheirOwnPorts) {
  RunningServices services;
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "RTR" + std::to_string(i);
    const std::string root = AddServer(net_, name, RasFlavour::Rras, 2 + i);
    ASSERT_NO_FATAL_FAILURE(services.Start(name));
    ASSERT_NO_FATAL_FAILURE(Dial(root, "COM1", "DOM\\u" + std::to_string(i)));
    names.push_back(name);
  }
  // The wrapper alone, from many threads at once.
  RasAdmin admin;
  std::atomic<int> mixed{0};
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < 6; ++i) {
      threads.emplace_back([&, i] {
        for (int n = 0; n < 40; ++n) {
          PortListing listing;
          if (admin.rras.ReadPorts(names[static_cast<size_t>(i)], &listing) != kStateReady ||
              listing.ports.size() != static_cast<size_t>(2 + i) ||
              listing.ports[0].user != "DOM\\u" + std::to_string(i)) {
            ++mixed;
          }
        }
      });
    }
  }
  EXPECT_EQ(mixed.load(), 0);

  // And through the document's fetches.
  ListServers(names);
  Start();
  for (int round = 0; round < 4; ++round) {
    doc_.Refresh();
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc_));
    for (int i = 0; i < 6; ++i) {
      const CServer& s = Server(names[static_cast<size_t>(i)]);
      ASSERT_EQ(s.state, kStateReady) << s.name;
      EXPECT_EQ(s.totalPorts, 2 + i) << s.name;
      EXPECT_EQ(s.ports.size(), static_cast<size_t>(2 + i)) << s.name;
      EXPECT_EQ(s.FindPort("COM1")->user, "DOM\\u" + std::to_string(i)) << s.name;
    }
  }
}

TEST_F(FetchTest, FailuresShowTheirStateAndTheTimerSkipsThemUntilRefresh) {
  const std::string down = AddServer(net_, "SRV3", RasFlavour::Ras);
  AddServer(net_, "SRV4", RasFlavour::Rras);  // its router does not run
  AddServer(net_, "SRV5", RasFlavour::Ras);   // nor does its remote-access service
  ASSERT_EQ(plat::SetMachineDown(down, true), plat::ERROR_SUCCESS);
  ListServers({"NOWHERE", "SRV3", "SRV4", "SRV5"});
  Start();

  EXPECT_EQ(Server("NOWHERE").StateText(), "Couldn't connect to NOWHERE's registry");
  EXPECT_EQ(Server("SRV3").StateText(), "Couldn't connect to SRV3's registry");
  EXPECT_EQ(Server("SRV4").StateText(), "RRAS read failure for SRV4");
  EXPECT_EQ(Server("SRV5").StateText(), "RAS read failure for SRV5");
  for (const char* name : {"NOWHERE", "SRV3", "SRV4", "SRV5"}) {
    EXPECT_EQ(Server(name).totalPorts, kPortsUnknown) << name;
    EXPECT_EQ(Server(name).portsInUse, kPortsUnknown) << name;
  }

  // The timer's poll leaves servers in a failure state alone.
  doc_.PollAllServers();
  for (int i = 0; i < doc_.servers().size(); ++i) EXPECT_FALSE(doc_.servers().FetchRunning(i));
  EXPECT_FALSE(doc_.forcePoll());

  // The machine is back; Refresh tries every server once more.
  ASSERT_EQ(plat::SetMachineDown(down, false), plat::ERROR_SUCCESS);
  notifier_->ClearDelivered();
  doc_.Refresh();
  EXPECT_FALSE(doc_.forcePoll());
  ASSERT_TRUE(notifier_->PumpUntilIdle(doc_));
  EXPECT_EQ(Server("SRV3").StateText(), "RAS read failure for SRV3");
  EXPECT_FALSE(notifier_->DeliveredFor(Server("NOWHERE").id).empty());
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(FetchTest, RegistryGarbageGivesAStateNeverACrash) {
  AddServer(net_, "SRV1", RasFlavour::Ras, 2);
  plat::RegKey hklm, key;
  ASSERT_EQ(plat::RegKey::Connect("SRV1", plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.OpenSubKey(std::string(kProductKey) + "\\Service", &key), plat::ERROR_SUCCESS);
  // The share as a number and the master flag as text.
  ASSERT_EQ(key.DeleteValue("MasterShare"), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("MasterShare", 7), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.DeleteValue("Master"), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Master", "1"), plat::ERROR_SUCCESS);
  ListServers({"SRV1"});
  Start();
  EXPECT_EQ(Server("SRV1").StateText(), "Couldn't read all data from SRV1's registry");
  EXPECT_FALSE(doc_.servers().masterKnown());

  // Repaired share, but no version: still incomplete. Refresh reads it again.
  ASSERT_EQ(key.DeleteValue("MasterShare"), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("MasterShare", "\\\\SRV1\\PL_NT_DB"), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.DeleteValue("Version"), plat::ERROR_SUCCESS);
  doc_.Refresh();
  ASSERT_TRUE(notifier_->PumpUntilIdle(doc_));
  EXPECT_EQ(Server("SRV1").state, kStateRegistryIncomplete);
  EXPECT_EQ(Server("SRV1").settings.masterShare, "\\\\SRV1\\PL_NT_DB");
  EXPECT_FALSE(Server("SRV1").settings.master) << "a master flag of the wrong type is no flag";
}

TEST_F(FetchTest, AHungServerNeverHoldsTheWindow) {
  const std::string root = AddServer(net_, "SRV2", RasFlavour::Rras, 2);
  AddServer(net_, "SRV1", RasFlavour::Ras, 2, /*master=*/true);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV2"));
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ListServers({"SRV1", "SRV2"});
  Start();
  ASSERT_EQ(Server("SRV2").state, kStateReady);

  ASSERT_EQ(plat::testing::RunTool("rasctl", {"--machine", root, "stall", "4"}).code, 0);
  const auto before = std::chrono::steady_clock::now();
  doc_.PollAllServers();
  doc_.PollAllServers();  // at most one fetch per server: the second poll adds none
  const std::uint64_t hung = Server("SRV2").id;
  // SRV1 answers while SRV2 hangs; SRV2's row shows the fetch's progress.
  ASSERT_TRUE(notifier_->Pump(doc_, [&] {
    return !doc_.servers().FetchRunning(0) && Server("SRV2").state == kStateConnecting;
  }, 3s));
  EXPECT_EQ(Server("SRV1").state, kStateReady);
  EXPECT_TRUE(doc_.servers().FetchRunning(1));
  // Removing the hung server does not wait for its fetch.
  sink_.answer = true;
  EXPECT_TRUE(doc_.RemoveServer("SRV2"));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(doc_.servers().size(), 1);
  // Whatever the removed server's fetch still posts is dropped.
  EXPECT_EQ(doc_.OnServerNotification(kMsgServerChanged, hung, kStateReady), -1);
}

}  // namespace
}  // namespace pladmin
