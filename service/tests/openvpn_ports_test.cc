// The service's OpenVPN flavour: told from the machine's RemoteAccess
// service, and the port operations asked of the adapter's pipe, here a
// scripted one.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/port_ops_protocol.h"
#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"
#include "service/ras_ports.h"
#include "common/ras_kind.h"
#include "service/service_context.h"

namespace svc {
namespace {

constexpr const char* kRemoteAccessKey = "System\\CurrentControlSet\\Services\\RemoteAccess";

// Answers each request on \\.\pipe\plportops with the next scripted reply
// and remembers the requests.
class ScriptedAdapter {
 public:
  explicit ScriptedAdapter(std::vector<std::string> replies) : replies_(std::move(replies)) {
    EXPECT_EQ(plat::NamedPipeServer::Create(common::kPortOpsPipeName, 1, &server_), 0u);
    thread_ = std::thread([this] {
      for (const std::string& reply : replies_) {
        plat::PipeConnection c;
        if (server_.WaitForClient(&c, 5000) != 0) return;
        std::string request;
        c.Read(&request, common::kPortOpsBufferSize, 2000);
        requests_.push_back(request);
        c.Write(reply);
        c.Disconnect();
      }
    });
  }
  ~ScriptedAdapter() { Finish(); }
  // Waits until every reply was given; the requests it got, in order.
  std::vector<std::string> Finish() {
    if (thread_.joinable()) thread_.join();
    return requests_;
  }

 private:
  std::vector<std::string> requests_;  // written by the thread until Finish
  std::vector<std::string> replies_;
  plat::NamedPipeServer server_;
  std::thread thread_;
};

TEST(OpenVpnFlavour, ToldFromTheRemoteAccessServiceOnAnyVersion) {
  for (const char* os : {"4.0", "5.0"}) {
    plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("SRV1");
    config.osVersion = os;
    plat::testing::TempNetwork net(config);
    DWORD kind = 0;
    ASSERT_TRUE(common::ReadRemoteAccessKind("", &kind));
    EXPECT_NE(kind, common::kRasKindOpenVpn) << os;
    ASSERT_EQ(plat::RegWriteString(kRemoteAccessKey, "DisplayName", "openvpn remote access"), 0u);
    ASSERT_TRUE(common::ReadRemoteAccessKind("", &kind));
    EXPECT_EQ(kind, common::kRasKindOpenVpn) << os;
    EXPECT_STREQ(common::RemoteAccessKindName(common::kRasKindOpenVpn), "OpenVPN");
  }
}

TEST(OpenVpnFlavour, TrafficAndDisconnectAreAskedOfTheAdapter) {
  plat::testing::TempNetwork net;
  RemoteAccess context;
  context.kind = common::kRasKindOpenVpn;
  ASSERT_EQ(RAS_LoadOrdinals(context, "SRV1"), 0u);  // nothing to load, the adapter may come later
  DWORD sent = 1, received = 1;
  {
    ScriptedAdapter adapter({"0 5000000123 77", "0", "2", "0 12", "garbage"});
    ASSERT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN3", &sent, &received), 0u);
    EXPECT_EQ(sent, static_cast<DWORD>(5000000123ull));  // the low 32 bits keep growing
    EXPECT_EQ(received, 77u);
    EXPECT_EQ(DisconnectPort(context, "SRV1", "VPN3"), 0u);
    // The adapter's error is the operation's; a reply without both counters or
    // one that does not read fails, never reads as a quiet port.
    EXPECT_EQ(DisconnectPort(context, "SRV1", "VPN4", 10), plat::ERROR_FILE_NOT_FOUND);
    sent = received = 9;
    EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN3", &sent, &received),
              plat::ERROR_INVALID_DATA);
    EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN3", &sent, &received),
              plat::ERROR_INVALID_DATA);
    EXPECT_EQ(sent, 9u);
    EXPECT_EQ(received, 9u);
    EXPECT_EQ(adapter.Finish(),
              (std::vector<std::string>{"TRAFFIC VPN3", "DISCONNECT VPN3", "DISCONNECT VPN4 10",
                                        "TRAFFIC VPN3", "TRAFFIC VPN3"}));
  }
  // No adapter at all: the pipe's own error.
  EXPECT_EQ(RAS_GetTrafficBytesForPort(context, "SRV1", "VPN3", &sent, &received),
            plat::ERROR_FILE_NOT_FOUND);
  EXPECT_NE(DisconnectPort(context, "SRV1", "VPN3"), 0u);
}

// A restarted service asks the adapter for its sessions, one per request,
// until it has no more; an adapter that cannot be asked lists none.
TEST(OpenVpnFlavour, TheRunningSessionsAreAskedOfTheAdapterOneByOne) {
  plat::testing::TempNetwork net;
  RemoteAccess context;
  context.kind = common::kRasKindOpenVpn;
  std::vector<RunningSession> sessions;
  {
    ScriptedAdapter adapter({"0 VPN1 1796000000 VPN\\ann", "0 VPN3 1796000100 VPN\\grace hopper", "259"});
    ASSERT_EQ(RAS_EnumRunningSessions(context, "SRV1", &sessions), 0u);
    EXPECT_EQ(adapter.Finish(), (std::vector<std::string>{"SESSION 0", "SESSION 1", "SESSION 2"}));
  }
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[1].port, "VPN3");
  EXPECT_EQ(sessions[1].user, "VPN\\grace hopper");
  EXPECT_EQ(sessions[1].machine, "*");
  EXPECT_EQ(sessions[1].start, 1796000100);
  {
    ScriptedAdapter adapter({"0 VPN1 1796000000 VPN\\ann", "garbage"});
    EXPECT_EQ(RAS_EnumRunningSessions(context, "SRV1", &sessions), plat::ERROR_INVALID_DATA);
  }
  EXPECT_EQ(RAS_EnumRunningSessions(context, "SRV1", &sessions), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(sessions.empty());
}

}  // namespace
}  // namespace svc
