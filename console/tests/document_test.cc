// The document: the console's own settings, the navigation rules (the
// content-view switch, the needs-the-master rule), the enable rules of the
// service commands against real services, and a port's disconnection.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "console/core/commands.h"
#include "console/core/pladmin_doc.h"
#include "console/tests/console_test_support.h"
#include "platform/path.h"
#include "common/testing/installed_portulon.h"

namespace pladmin {
namespace {

using namespace testing;
using plat::RasFlavour;

class DocumentTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_{plat::testing::TempNetwork::DefaultConfig("ADMINPC")};
  RecordingSink sink_;
  std::shared_ptr<QueueNotifier> notifier_ = std::make_shared<QueueNotifier>();
  CPladminDoc doc_{sink_};

  void WriteClient(const std::string& name, plat::DWORD value) {
    plat::RegKey key;
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key), plat::ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(name, value), plat::ERROR_SUCCESS);
  }
};

TEST_F(DocumentTest, ClientSettingsAndTheRefreshInterval) {
  EXPECT_EQ(doc_.ReadRefreshSetting(), kDefaultRefreshMs) << "no Client key";
  ListServers({});
  WriteClient("View Refresh", 0);
  WriteClient("HistoryViewColumns", 0);
  WriteClient("TimeFormatSeconds", 1);
  WriteClient("AutoSizeColumns", 3);
  {
    plat::RegKey key;
    ASSERT_EQ(plat::RegKey::Open(plat::Hive::LocalMachine, kClientKey, &key), plat::ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("InstallPath", "C:\\Program Files"), plat::ERROR_SUCCESS);
  }
  doc_.OnNewDocument(notifier_);
  EXPECT_EQ(doc_.ReadRefreshSetting(), 0);
  EXPECT_EQ(doc_.clientSettings().historyViewColumns, -1);
  EXPECT_TRUE(doc_.clientSettings().timeFormatSeconds);
  EXPECT_EQ(doc_.clientSettings().autoSizeColumns, 3u);
  EXPECT_EQ(doc_.clientSettings().installPath, "C:\\Program Files");
  EXPECT_TRUE(plat::EqualsIgnoringCase(plat::GetCurrentDirectory(), "C:\\Program Files"));

  // A value of the wrong type counts as missing.
  plat::RegKey key;
  ASSERT_EQ(plat::RegKey::Open(plat::Hive::LocalMachine, kClientKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.DeleteValue("View Refresh"), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("View Refresh", "fast"), plat::ERROR_SUCCESS);
  EXPECT_EQ(doc_.ReadRefreshSetting(), kDefaultRefreshMs);

  doc_.SetRefreshInterval(1000);
  EXPECT_EQ(doc_.refreshInterval(), 1000);
  EXPECT_EQ(doc_.ReadRefreshSetting(), 1000);
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(DocumentTest, NavigationNeedsTheMasterAndSwitchesOnlyOnChange) {
  ListServers({});
  doc_.OnNewDocument(notifier_);
  ASSERT_FALSE(doc_.servers().masterKnown());

  // History while no master is known: the wait message, the view stays.
  const SwitchRequest refused = doc_.Navigate(ID_VIEW_LOG);
  EXPECT_TRUE(refused.refused);
  EXPECT_FALSE(refused.view);
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0], "Can't show history\nPlease wait for connection to master server");
  EXPECT_EQ(sink_.icons[0], MessageIcon::Stop);
  EXPECT_EQ(doc_.selection().navItem, kNavStatus);
  EXPECT_EQ(doc_.Title(), "Portulon Administrator");
  EXPECT_FALSE(doc_.CheckMaster(ID_EXPORT_SESSIONS));
  EXPECT_EQ(sink_.messages.back(), "Can't export sessions\nPlease wait for connection to master server");
  EXPECT_TRUE(doc_.CheckMaster(ID_REFRESH));

  // Accounts need the master too.
  EXPECT_TRUE(doc_.SelectNode(Selection::Of(kNodeAccountsRoot)).refused);

  // A server, then its port; the same item again changes nothing.
  const Selection server = Selection::Of(kNodeServer, "SRV1");
  const auto ports = doc_.SelectNode(server);
  ASSERT_TRUE(ports.view);
  EXPECT_EQ(*ports.view, (ViewChoice{ContentView::Ports, "Ports", kHintSelection}));
  EXPECT_FALSE(doc_.SelectNode(server).view);
  const Selection port = Selection::Of(kNodePortInUse, "SRV1", "COM1");
  const auto status = doc_.SelectNode(port);
  ASSERT_TRUE(status.view);
  EXPECT_EQ(*status.view, (ViewChoice{ContentView::PortStatus, "Port Status", kHintNone}));
  EXPECT_FALSE(doc_.Navigate(ID_VIEW_STATUS).view) << "already the status item";
  // Kind 2 keeps whatever is shown.
  EXPECT_FALSE(doc_.SelectNode(Selection::Of(kNodeServerAlt)).view);
  EXPECT_EQ(doc_.content(), ContentView::PortStatus);
}

TEST(ContentViewTable, HintsFollowTheNodeAndTheItem) {
  EXPECT_EQ(ChooseContentView(kNodeServersRoot, kNavHistory)->hint, kHintDay);
  EXPECT_EQ(ChooseContentView(kNodeServer, kNavHistory)->hint, kHintSelection);
  EXPECT_EQ(ChooseContentView(kNodePort, kNavHistory)->hint, kHintSelection);
  EXPECT_EQ(ChooseContentView(kNodeGroup, kNavHistory)->hint, kHintSelection);
  EXPECT_EQ(*ChooseContentView(kNodeServersRoot, kNavStatus),
            (ViewChoice{ContentView::Servers, "Status", kHintServerList}));
  EXPECT_EQ(*ChooseContentView(kNodeDefaultProfile, kNavStatus),
            (ViewChoice{ContentView::Users, "Users", kHintAccounts}));
  EXPECT_EQ(*ChooseContentView(kNodeUser, kNavUsage), (ViewChoice{ContentView::Usage, "Usage", kHintDay}));
  EXPECT_FALSE(ChooseContentView(kNodeUserAlt, kNavStatus));  // above 12
  EXPECT_FALSE(ChooseContentView(kNodeServerAlt, kNavHistory));
}

TEST(CommandRules, EnableStatesFollowTheContext) {
  CommandContext c;
  c.serverSelected = true;
  EXPECT_FALSE(IsCommandEnabled(ID_VIEW_STATUS, c));
  EXPECT_FALSE(IsCommandEnabled(ID_VIEW_LOG, c)) << "no master";
  EXPECT_FALSE(IsCommandEnabled(ID_DAY_BACK, c));
  EXPECT_FALSE(IsCommandEnabled(ID_FILE_SAVE_AS, c));
  // Unknown service states disable both commands.
  for (int id : {ID_START_PORTULON, ID_STOP_PORTULON, ID_START_RAS, ID_STOP_RAS}) {
    EXPECT_FALSE(IsCommandEnabled(id, c)) << id;
  }
  c.masterKnown = true;
  c.portulonService = kServiceRunning;
  c.rasService = kServiceNotRunning;
  EXPECT_TRUE(IsCommandEnabled(ID_VIEW_LOG, c));
  EXPECT_TRUE(IsCommandEnabled(ID_STOP_PORTULON, c));
  EXPECT_FALSE(IsCommandEnabled(ID_START_PORTULON, c));
  EXPECT_TRUE(IsCommandEnabled(ID_START_RAS, c));
  EXPECT_FALSE(IsCommandEnabled(ID_STOP_RAS, c));
  c.navItem = kNavUsage;
  EXPECT_FALSE(IsCommandEnabled(ID_VIEW_USAGE, c));
  EXPECT_FALSE(IsCommandEnabled(ID_FILE_SAVE_AS, c)) << "never for usage";
  EXPECT_TRUE(IsCommandEnabled(ID_DAY_FORWARD, c));
  c.navItem = kNavStatus;
  c.content = ContentView::Users;
  EXPECT_TRUE(IsCommandEnabled(ID_FILE_SAVE_AS, c));
  c.serverSelected = false;
  EXPECT_FALSE(IsCommandEnabled(ID_STOP_PORTULON, c));
  EXPECT_FALSE(IsCommandEnabled(ID_REMOVE_SERVER, c));
}

TEST_F(DocumentTest, DaysStepAcrossMonthsAndShowInTheTitle) {
  doc_.SetDay(2026, 2, 28);
  doc_.StepDay(1);
  EXPECT_EQ(doc_.dayShown().tm_mon + 1, 3);
  EXPECT_EQ(doc_.dayShown().tm_mday, 1);
  doc_.StepDay(-1);
  EXPECT_EQ(doc_.dayShown().tm_mday, 28);
  EXPECT_EQ(doc_.EventPaneText(), "");
  EXPECT_EQ(doc_.GetLanguageLocale("NOWHERE"), 0x400u);
}

// Starting and stopping Portulon and the remote-access service of a server,
// with the enable state following the service state.
TEST(ServiceCommands, StartAndStopFollowTheServiceState) {
  plat::testing::TempNetwork net;  // SRV1: the console runs on the server itself
  ASSERT_NO_FATAL_FAILURE(common::testing::InstallPortulon(net));
  WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
  ListServers({"SRV1"});
  RecordingSink sink;
  CPladminDoc doc(sink);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 1), kServiceNotRunning);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 0), kServiceNotRunning);
  EXPECT_EQ(doc.IsServiceRunning("NOWHERE", 1), kServiceUnknown);

  CommandContext c;
  c.serverSelected = true;
  c.portulonService = doc.IsServiceRunning("SRV1", 1);
  EXPECT_TRUE(IsCommandEnabled(ID_START_PORTULON, c));
  EXPECT_FALSE(IsCommandEnabled(ID_STOP_PORTULON, c));

  ASSERT_EQ(CPladminDoc::ControlService("SRV1", 0, true), plat::ERROR_SUCCESS);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 0), kServiceRunning);
  ASSERT_EQ(CPladminDoc::ControlService("SRV1", 1, true), plat::ERROR_SUCCESS);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 1), kServiceRunning);
  c.portulonService = doc.IsServiceRunning("SRV1", 1);
  EXPECT_FALSE(IsCommandEnabled(ID_START_PORTULON, c));
  EXPECT_TRUE(IsCommandEnabled(ID_STOP_PORTULON, c));
  EXPECT_EQ(CPladminDoc::ControlService("SRV1", 1, true), plat::ERROR_SERVICE_ALREADY_RUNNING);

  // A session on the server, ended from the console.
  ASSERT_NO_FATAL_FAILURE(Dial(net.root(), "COM1", "DOM\\ann"));
  auto notifier = std::make_shared<QueueNotifier>();
  doc.OnNewDocument(notifier);
  ASSERT_TRUE(notifier->PumpUntilIdle(doc));
  ASSERT_EQ(doc.servers().At(0).portsInUse, 1);
  EXPECT_EQ(doc.DisconnectPort("SRV1", "COM1"), plat::ERROR_SUCCESS);
  // The remote-access service hangs up on its own time: poll until it has.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    doc.PollAllServers();
    ASSERT_TRUE(notifier->PumpUntilIdle(doc));
    if (doc.servers().At(0).portsInUse == 0 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(doc.servers().At(0).portsInUse, 0);
  EXPECT_EQ(doc.DisconnectPort("NOWHERE", "COM1"), plat::ERROR_BAD_NETPATH);
  EXPECT_EQ(sink.messages.back(), "Server NOWHERE not found in server list");

  ASSERT_EQ(CPladminDoc::ControlService("SRV1", 1, false), plat::ERROR_SUCCESS);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 1), kServiceNotRunning);
  ASSERT_EQ(CPladminDoc::ControlService("SRV1", 0, false), plat::ERROR_SUCCESS);
  EXPECT_EQ(doc.IsServiceRunning("SRV1", 0), kServiceNotRunning);
}

// The painter's block moves a pixel a step through the pane, starts again at
// the left, and stops (cleared) once the load signals "WaitProgressDraw".
TEST(WaitProgressTest, TheBlockMovesUntilTheLoadSignals) {
  WaitProgress p;
  EXPECT_FALSE(p.signalled()) << "created non-signalled";
  for (int i = 1; i <= 80; ++i) {
    ASSERT_TRUE(p.Step(105));
    ASSERT_EQ(p.position(), i);
  }
  ASSERT_TRUE(p.Step(105));
  EXPECT_EQ(p.position(), 0) << "past the right edge: back to the left";
  ASSERT_TRUE(p.Step(20));
  EXPECT_EQ(p.position(), 0) << "a pane narrower than the block keeps it at the left";
  p.Signal();
  EXPECT_FALSE(p.Step(105));
  EXPECT_EQ(p.position(), 0);
  p.Begin();
  EXPECT_FALSE(p.signalled());
  EXPECT_TRUE(p.Step(105));
}

}  // namespace
}  // namespace pladmin
