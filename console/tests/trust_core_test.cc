// Scenarios of a console an administrator can trust, without a display:
// times of servers whose zone is not known, an OpenVPN server read through
// its adapter, the kind read by the one reader, the ports' addresses, the
// network sweep of Add Server and the servers told of new settings each with
// its own answer.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "accounts/settings_save.h"
#include "common/pipe_protocol.h"
#include "common/port_ops_client.h"
#include "common/port_ops_protocol.h"
#include "common/ras_kind.h"
#include "console/core/display_text.h"
#include "console/core/log_records.h"
#include "console/core/server_sweep.h"
#include "console/core/window_layout.h"
#include "console/tests/console_test_support.h"
#include "platform/pipe.h"
#include "platform/sysinfo.h"

namespace pladmin {
namespace {

using namespace testing;
using plat::RasFlavour;

class TrustCoreTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_{AdminConfig()};
  RecordingSink sink_;
  std::shared_ptr<QueueNotifier> notifier_ = std::make_shared<QueueNotifier>();

  // The console at UTC-5.
  static plat::MachineConfig AdminConfig() {
    plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("ADMINPC");
    config.timeZoneBiasMinutes = 300;
    return config;
  }
  void Start(CPladminDoc& doc) {
    doc.OnNewDocument(notifier_);
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc));
  }
  static std::int64_t ShownTime(const CPladminDoc& doc, const std::string& server, std::int64_t recorded) {
    std::vector<common::LogRecord> records(1);
    records[0].server = server;
    records[0].time = recorded;
    ShiftToServerTime(&records, doc.timeBias(), ServerBiases(doc.servers()));
    return records[0].time;
  }
};

TEST_F(TrustCoreTest, AServerWhoseZoneIsNotKnownIsShownAsRecordedAndItsLastZoneIsKept) {
  constexpr std::int64_t kNineAm = 1796806800;
  // SRV1 keeps the console's zone; SRV2 is an hour east of it. Both down at first.
  plat::MachineConfig c1 = plat::testing::TempNetwork::DefaultConfig("SRV1");
  c1.timeZoneBiasMinutes = 300;
  plat::MachineConfig c2 = plat::testing::TempNetwork::DefaultConfig("SRV2");
  c2.timeZoneBiasMinutes = 240;
  const std::string srv1 = net_.AddMachine(c1), srv2 = net_.AddMachine(c2);
  WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
  WriteServiceKey("SRV2", false, "\\\\SRV1\\PL_NT_DB");
  ASSERT_EQ(plat::SetMachineDown(srv1, true), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::SetMachineDown(srv2, true), plat::ERROR_SUCCESS);
  ListServers({"SRV1", "SRV2"});
  {
    CPladminDoc doc(sink_);
    ASSERT_NO_FATAL_FAILURE(Start(doc));
    ASSERT_EQ(doc.timeBias(), 300);
    // Never seen: no shift at all, and the views say so.
    EXPECT_EQ(ShownTime(doc, "SRV1", kNineAm), kNineAm);
    EXPECT_EQ(ShownTime(doc, "SRV2", kNineAm), kNineAm);
    EXPECT_EQ(TimeZoneNote(doc.servers()),
              "Times of SRV1, SRV2 are shown as recorded: its time zone is not known yet.");

    // Once reached, each server's own zone; SRV2's records move one hour on.
    ASSERT_EQ(plat::SetMachineDown(srv1, false), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::SetMachineDown(srv2, false), plat::ERROR_SUCCESS);
    doc.Refresh();
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc));
    EXPECT_EQ(ShownTime(doc, "SRV1", kNineAm), kNineAm);
    EXPECT_EQ(ShownTime(doc, "SRV2", kNineAm), kNineAm + 3600);
    EXPECT_EQ(TimeZoneNote(doc.servers()), "");

    // Down again: the zone it had is kept, not forgotten for 0.
    ASSERT_EQ(plat::SetMachineDown(srv2, true), plat::ERROR_SUCCESS);
    doc.Refresh();
    ASSERT_TRUE(notifier_->PumpUntilIdle(doc));
    EXPECT_EQ(doc.servers().At(doc.servers().Find("SRV2")).state, kStateNoRegistry);
    EXPECT_EQ(ShownTime(doc, "SRV2", kNineAm), kNineAm + 3600);
  }
  // The next start of the console, with SRV2 still down, knows its last zone.
  CPladminDoc next(sink_);
  ASSERT_NO_FATAL_FAILURE(Start(next));
  EXPECT_EQ(ShownTime(next, "SRV2", kNineAm), kNineAm + 3600);
  EXPECT_EQ(TimeZoneNote(next.servers()), "Times of SRV2 use the time zone it had when last reached.");
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
}

TEST_F(TrustCoreTest, TheKindIsReadByTheOneReaderAndOpenVpnIsToldOnEveryVersion) {
  AddServer(net_, "NT4RAS", RasFlavour::Ras);
  AddServer(net_, "W2KRRAS", RasFlavour::Rras);
  plat::MachineConfig vpn = plat::testing::TempNetwork::DefaultConfig("VPN");
  vpn.osVersion = "5.0";
  net_.AddMachine(vpn);
  plat::RegKey hklm, service;
  ASSERT_EQ(plat::RegKey::Connect("VPN", plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kRemoteAccessServiceKey, &service), plat::ERROR_SUCCESS);
  ASSERT_EQ(service.SetString("DisplayName", common::kOpenVpnDisplayName), plat::ERROR_SUCCESS);

  EXPECT_EQ(GetRemoteAccessKind("NT4RAS"), kKindRas);
  EXPECT_EQ(GetRemoteAccessKind("W2KRRAS"), kKindRras);
  EXPECT_EQ(GetRemoteAccessKind("\\\\VPN"), kKindOpenVpn);
  EXPECT_EQ(GetRemoteAccessKind("NOWHERE"), -1);
  // A machine whose version cannot be read is still an OpenVPN server when its service says so.
  plat::RegKey version;
  ASSERT_EQ(hklm.OpenSubKey(plat::kWindowsVersionKey, &version), plat::ERROR_SUCCESS);
  ASSERT_EQ(version.DeleteValue("CurrentVersion"), plat::ERROR_SUCCESS);
  EXPECT_EQ(GetRemoteAccessKind("VPN"), kKindOpenVpn);
  plat::DWORD kind = 99;
  EXPECT_FALSE(common::ReadRemoteAccessKind("NOWHERE", &kind));
  EXPECT_EQ(kind, common::kRasKindRas) << "what the service falls back to";
}

TEST_F(TrustCoreTest, AnOpenVpnServerShowsItsPortsSessionsAndTrafficAndItsPortsDisconnect) {
  plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("VPNSRV");
  config.osVersion = "5.0";
  const std::string root = net_.AddMachine(config);
  WriteServiceKey("VPNSRV", true, "\\\\VPNSRV\\PL_NT_DB");
  plat::RegKey hklm, key;
  ASSERT_EQ(plat::RegKey::Connect("VPNSRV", plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kRemoteAccessServiceKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("DisplayName", common::kOpenVpnDisplayName), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kOpenVpnAdapterKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("Ports", 3), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("PortPrefix", "TUN"), plat::ERROR_SUCCESS);
  // The adapter: ann on TUN2 since a known second, with her traffic.
  Responder adapter(root, common::kPortOpsPipeName, [](const std::string& request) -> std::string {
    common::PortOpsRequest r;
    if (!common::ParsePortOpsRequest(request, &r)) return "87";
    common::PortOpsReply reply;
    if (r.op == common::PortOp::Session) {
      if (r.index > 0) reply.error = common::kNoMoreSessions;
      reply.port = "TUN2";
      reply.start = 1796806800;
      reply.account = "VPN\\ann";
    } else if (r.op == common::PortOp::Client) {
      if (r.port != "TUN2") reply.error = 1168;
      reply.sent = 2500000;
      reply.received = 4096;
      reply.address = "10.8.0.6";
      reply.commonName = "ann";
    }
    return common::FormatPortOpsReply(r.op, reply);
  });
  ListServers({"VPNSRV"});
  CPladminDoc doc(sink_);
  ASSERT_NO_FATAL_FAILURE(Start(doc));

  const CServer& vpn = doc.servers().At(0);
  EXPECT_EQ(vpn.StateText(), "VPNSRV is ready");
  EXPECT_EQ(KindText(vpn), "OpenVPN");
  EXPECT_EQ(PortsText(vpn), "1/3");
  ASSERT_EQ(vpn.ports.size(), 3u);
  EXPECT_EQ(vpn.ports[0].name, "TUN1");
  EXPECT_FALSE(vpn.ports[0].inUse);
  const PortEntry* tun2 = vpn.FindPort("TUN2");
  ASSERT_NE(tun2, nullptr);
  EXPECT_TRUE(tun2->inUse);
  EXPECT_EQ(tun2->user, "VPN\\ann");
  EXPECT_EQ(tun2->start, 1796806800);
  EXPECT_EQ(BytesText(tun2->bytesSent), "2.4 MB");
  EXPECT_EQ(BytesText(tun2->bytesReceived), "4096 B");
  EXPECT_EQ(tun2->extra, "10.8.0.6");

  EXPECT_EQ(doc.DisconnectPort("VPNSRV", "TUN2"), plat::ERROR_SUCCESS);
  const std::vector<std::string> asked = adapter.requests();
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.back(), "DISCONNECT TUN2");
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(TrustCoreTest, AnOpenVpnServerWhoseAdapterIsGoneSaysSoAsAFailure) {
  plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("VPNSRV");
  net_.AddMachine(config);
  WriteServiceKey("VPNSRV", false, "\\\\VPNSRV\\PL_NT_DB");
  plat::RegKey hklm, key;
  ASSERT_EQ(plat::RegKey::Connect("VPNSRV", plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(common::kRemoteAccessServiceKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("DisplayName", common::kOpenVpnDisplayName), plat::ERROR_SUCCESS);
  ListServers({"VPNSRV"});
  CPladminDoc doc(sink_);
  ASSERT_NO_FATAL_FAILURE(Start(doc));
  EXPECT_EQ(doc.servers().At(0).StateText(), "OpenVPN read failure for VPNSRV");
  EXPECT_TRUE(IsFailureState(doc.servers().At(0).state));
  EXPECT_EQ(PortsText(doc.servers().At(0)), "-");
}

TEST_F(TrustCoreTest, ConnectedRasPortsCarryTheCallersAddressAndTrafficReadsInMegabytes) {
  const std::string root = AddServer(net_, "SRV1", RasFlavour::Ras, 4, true);
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  ASSERT_NO_FATAL_FAILURE(Dial(root, "COM2", "DOM\\ann", {"--address", "10.1.2.3"}));
  ListServers({"SRV1"});
  CPladminDoc doc(sink_);
  ASSERT_NO_FATAL_FAILURE(Start(doc));
  const CServer& srv1 = doc.servers().At(0);
  ASSERT_NE(srv1.FindPort("COM2"), nullptr);
  EXPECT_EQ(srv1.FindPort("COM2")->extra, "10.1.2.3");
  EXPECT_EQ(srv1.FindPort("COM1")->extra, "");
  EXPECT_EQ(BytesText(1200000), "1.1 MB");
  EXPECT_EQ(BytesText(1048575), "1024.0 KB");
  EXPECT_EQ(BytesText(9999), "9999 B");
}

TEST_F(TrustCoreTest, TheSweepOffersOtherMachinesRunningPortulonOnly) {
  AddServer(net_, "SRV1", RasFlavour::Ras);                                     // runs Portulon
  net_.AddMachine(plat::testing::TempNetwork::DefaultConfig("PLAIN"));          // a dial-in server without it
  WriteServiceKey("ADMINPC", false, "\\\\SRV1\\PL_NT_DB");                      // the workstation itself
  const SweepResult found = SweepForServers(plat::GetComputerName());
  ASSERT_EQ(found.error, plat::ERROR_SUCCESS);
  ASSERT_EQ(found.servers.size(), 1u);
  EXPECT_EQ(found.servers[0].name, "SRV1");
  EXPECT_EQ(found.servers[0].description, "Windows 4.0, DOM");
  EXPECT_EQ(found.withoutPortulon, 1);
}

TEST_F(TrustCoreTest, EachServerToldOfNewSettingsAnswersForItselfAndAHungOneDoesNotHoldTheOthers) {
  const std::string hung = AddServer(net_, "HUNG", RasFlavour::Ras);
  const std::string live = AddServer(net_, "LIVE", RasFlavour::Ras);
  AddServer(net_, "IDLE", RasFlavour::Ras);  // Portulon installed, not running
  PipeOn stuck(hung, common::kPipeName);     // takes no call: a hung service
  Responder service(live, common::kPipeName, [](const std::string&) { return std::string("10"); });
  std::vector<std::string> order;
  const std::vector<accounts::UpdateNotice> notices = accounts::NotifyServers(
      {"HUNG", "LIVE", "IDLE"}, [&](const accounts::UpdateNotice& n) { order.push_back(n.server); });
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].text, "HUNG did not answer; it will read the settings at its next start");
  EXPECT_FALSE(notices[0].took);
  EXPECT_EQ(notices[1].text, "LIVE re-read the settings");
  EXPECT_EQ(notices[2].text, "IDLE is not running; it reads the settings at its start");
  // The hung one answered last: the others were not kept waiting behind it.
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order.back(), "HUNG");
  EXPECT_EQ(service.requests(), std::vector<std::string>{"UPDATE_UPDATE"});
  EXPECT_EQ(NoticeFailures(notices), "HUNG did not answer; it will read the settings at its next start\n");
  EXPECT_EQ(NoticeSummary(notices),
            "HUNG did not answer; it will read the settings at its next start; LIVE re-read the settings; "
            "IDLE is not running; it reads the settings at its start");
}

TEST_F(TrustCoreTest, TheWindowLayoutIsKeptAndADamagedOneIsNotApplied) {
  EXPECT_FALSE(ReadWindowLayout()) << "nothing kept yet";
  const WindowLayout kept{1280, 720, 90, 240, kNavUsage};
  ASSERT_TRUE(WriteWindowLayout(kept));
  EXPECT_EQ(ReadWindowLayout(), kept);
  for (const char* damaged : {"", "1280 720 90 240", "1280 720 90 240 7", "1280 720 90 240 2 x", "10 10 0 0 0",
                              "1280 720 1300 240 0", "wide tall 1 2 3"}) {
    EXPECT_FALSE(ParseWindowLayout(damaged)) << damaged;
  }
  EXPECT_EQ(ParseWindowLayout(FormatWindowLayout(kept)), kept);
}

}  // namespace
}  // namespace pladmin
