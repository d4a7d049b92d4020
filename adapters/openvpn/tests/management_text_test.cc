#include "adapters/openvpn/management_text.h"

#include <gtest/gtest.h>

#include "adapters/openvpn/adapter_settings.h"
#include "adapters/openvpn/vpn_ports.h"
#include "common/port_ops_protocol.h"

namespace ovpn {
namespace {

std::optional<ClientEvent> FeedAll(ClientEventReader& r, std::initializer_list<const char*> lines) {
  std::optional<ClientEvent> last;
  for (const char* l : lines) {
    if (auto e = r.Feed(l)) last = e;
  }
  return last;
}

TEST(ClientEventReader, CollectsTheEnvironmentUpToItsEnd) {
  ClientEventReader r;
  EXPECT_FALSE(r.Feed(">CLIENT:CONNECT,7,2\r"));
  EXPECT_FALSE(r.Feed(">CLIENT:ENV,common_name=Ann Smith\\, = x\r"));
  EXPECT_FALSE(r.Feed(">CLIENT:ENV,time_unix=1796000000"));
  auto e = r.Feed(">CLIENT:ENV,END");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, ClientEventKind::Connect);
  EXPECT_EQ(e->cid, 7u);
  EXPECT_EQ(e->kid, 2u);
  // Everything after the first '=' is the value, blanks and backslashes kept.
  EXPECT_EQ(e->Env("common_name"), "Ann Smith\\, = x");
  EXPECT_EQ(e->Env("time_unix"), "1796000000");
  EXPECT_EQ(e->Env("missing"), "");
}

TEST(ClientEventReader, AGarbledOrForeignLineNeverMergesTwoClients) {
  ClientEventReader r;
  // A DISCONNECT cut short by a new heading: the first is dropped, not merged.
  auto e = FeedAll(r, {">CLIENT:DISCONNECT,1", ">CLIENT:ENV,bytes_sent=5", ">CLIENT:DISCONNECT,2",
                       ">CLIENT:ENV,bytes_sent=9", ">CLIENT:ENV,END"});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->cid, 2u);
  EXPECT_EQ(e->Env("bytes_sent"), "9");
  // Headings with a wrong number of fields, and ENV lines without a heading.
  EXPECT_FALSE(FeedAll(r, {">CLIENT:CONNECT,1", ">CLIENT:ENV,a=b", ">CLIENT:ENV,END"}));
  EXPECT_FALSE(FeedAll(r, {">CLIENT:DISCONNECT,x", ">CLIENT:ENV,END"}));
  EXPECT_FALSE(FeedAll(r, {">CLIENT:ENV,END"}));
  // ADDRESS is one line.
  auto a = r.Feed(">CLIENT:ADDRESS,4,10.8.0.6,1");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->kind, ClientEventKind::Address);
  EXPECT_EQ(a->Env("address"), "10.8.0.6");
}

TEST(StatusClients, ReadsTheTabSeparatedClientList) {
  int bad = -1;
  const auto clients = ParseStatusClients(
      {"TITLE\tOpenVPN 2.6.14", "TIME\t2026-12-08 13:00:00\t1796000000",
       "HEADER\tCLIENT_LIST\tCommon Name\tReal Address\tVirtual Address\tVirtual IPv6 "
       "Address\tBytes "
       "Received\tBytes Sent\tConnected Since\tConnected Since (time_t)\tUsername\tClient ID\tPeer "
       "ID\tData Channel Cipher",
       "CLIENT_LIST\tcarol smith\t127.0.0.1:40000\t10.8.0.77\t\t5000000000\t1234\t2026-12-08 "
       "12:59:00\t1795999940\tUNDEF\t12\t0\tAES-256-GCM\r",
       "CLIENT_LIST\tbroken\t127.0.0.1:1\t\t\tmany\t1\tx\t1\tUNDEF\t3\t0\tx",
       "ROUTING_TABLE\t10.8.0.77\tcarol smith\t127.0.0.1:40000\t2026-12-08 12:59:00\t1795999940",
       "GLOBAL_STATS\tMax bcast/mcast queue length\t0"},
      &bad);
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(bad, 1);
  EXPECT_EQ(clients[0].commonName, "carol smith");
  EXPECT_EQ(clients[0].cid, 12u);
  EXPECT_EQ(clients[0].bytesReceived, 5000000000u);  // past 32 bits
  EXPECT_EQ(clients[0].bytesSent, 1234u);
  EXPECT_EQ(clients[0].connectedSince, 1795999940);
  EXPECT_EQ(clients[0].virtualAddress, "10.8.0.77");
}

TEST(ManagementText, QuotingAndAddresses) {
  EXPECT_EQ(QuoteArgument("refused (4: \"x\" \\ y)\nz"), "\"refused (4: \\\"x\\\" \\\\ y) z\"");
  EXPECT_EQ(DottedAddress(0x0A08004D), "10.8.0.77");
  std::uint32_t a = 0;
  EXPECT_TRUE(ParseDottedAddress("10.8.0.77", &a));
  EXPECT_EQ(a, 0x0A08004Du);
  for (const char* bad : {"10.8.0", "10.8.0.256", "10.8.0.x", "1.2.3.4.5", "", "10..0.1"}) {
    EXPECT_FALSE(ParseDottedAddress(bad, &a)) << bad;
  }
}

VpnClient Client(std::uint32_t cid, const char* account) {
  VpnClient c;
  c.cid = cid;
  c.account = account;
  return c;
}

TEST(VpnPorts, LowestFreeSlotSameClientKeepsItsPortFullTableRefuses) {
  VpnPorts ports("VPN", 2);
  EXPECT_EQ(ports.Take(Client(5, "DOM\\ann")), "VPN1");
  EXPECT_EQ(ports.Take(Client(6, "DOM\\bob")), "VPN2");
  EXPECT_FALSE(ports.Take(Client(7, "DOM\\eve")));
  EXPECT_EQ(ports.Take(Client(5, "DOM\\ann2")), "VPN1");  // the record replaced, no second port
  EXPECT_EQ(ports.Find("vpn1")->account, "DOM\\ann2");
  auto gone = ports.Release(5);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->first, "VPN1");
  EXPECT_FALSE(ports.Release(5));
  EXPECT_EQ(ports.Take(Client(7, "DOM\\eve")), "VPN1");
  EXPECT_EQ(ports.used(), 2u);
}

TEST(PortOpsProtocol, RequestsAndRepliesRoundTripAndJunkIsRefused) {
  using common::PortOp;
  common::PortOpsRequest r;
  ASSERT_TRUE(
      common::ParsePortOpsRequest(common::FormatPortOpsRequest(PortOp::Disconnect, "VPN3"), &r));
  EXPECT_EQ(r.op, PortOp::Disconnect);
  EXPECT_EQ(r.port, "VPN3");
  EXPECT_EQ(common::FormatPortOpsRequest(PortOp::Traffic, "two words"), "");
  EXPECT_EQ(common::FormatPortOpsRequest(PortOp::Traffic, std::string(100, 'x')), "");
  for (const char* bad : {"", "TRAFFIC", "STEAL VPN1", "TRAFFIC VPN1 VPN2"}) {
    EXPECT_FALSE(common::ParsePortOpsRequest(bad, &r)) << bad;
  }
  common::PortOpsReply reply;
  reply.sent = 5000000000ull;
  reply.received = 7;
  common::PortOpsReply back;
  ASSERT_TRUE(common::ParsePortOpsReply(PortOp::Traffic,
                                        common::FormatPortOpsReply(PortOp::Traffic, reply), &back));
  EXPECT_EQ(back.sent, 5000000000ull);
  EXPECT_EQ(back.received, 7u);
  ASSERT_TRUE(common::ParsePortOpsReply(PortOp::Traffic, "2", &back));
  EXPECT_EQ(back.error, 2u);
  // A success without counters is no answer: the idle check must not read zeros.
  for (const char* bad : {"0", "0 1", "0 1 x", "-1", "", "0 -1 2"}) {
    EXPECT_FALSE(common::ParsePortOpsReply(PortOp::Traffic, bad, &back)) << bad;
  }

  // Sessions: asked by number, the account the rest of the line.
  ASSERT_TRUE(common::ParsePortOpsRequest(common::FormatSessionRequest(12), &r));
  EXPECT_EQ(r.op, PortOp::Session);
  EXPECT_EQ(r.index, 12u);
  EXPECT_FALSE(common::ParsePortOpsRequest("SESSION x", &r));
  common::PortOpsReply session;
  session.port = "VPN2";
  session.start = 1796000100;
  session.account = "DOM\\grace  hopper";
  ASSERT_TRUE(common::ParsePortOpsReply(
      PortOp::Session, common::FormatPortOpsReply(PortOp::Session, session), &back));
  EXPECT_EQ(back.port, "VPN2");
  EXPECT_EQ(back.start, 1796000100);
  EXPECT_EQ(back.account, "DOM\\grace  hopper");
  ASSERT_TRUE(common::ParsePortOpsReply(PortOp::Session, "259", &back));
  EXPECT_EQ(back.error, common::kNoMoreSessions);
  for (const char* bad : {"0", "0 VPN1 12", "0 VPN1 x DOM\\ann", "0 VPN1 -5 DOM\\ann"}) {
    EXPECT_FALSE(common::ParsePortOpsReply(PortOp::Session, bad, &back)) << bad;
  }
}

TEST(PortOpsProtocol, DisconnectCarriesItsReasonAndClientItsName) {
  using common::PortOp;
  common::PortOpsRequest r;
  EXPECT_EQ(common::FormatPortOpsRequest(PortOp::Disconnect, "VPN3", 10), "DISCONNECT VPN3 10");
  ASSERT_TRUE(common::ParsePortOpsRequest("DISCONNECT VPN3 10", &r));
  EXPECT_EQ(r.reason, 10);
  ASSERT_TRUE(common::ParsePortOpsRequest("DISCONNECT VPN3", &r));
  EXPECT_EQ(r.reason, 0);
  // A reason belongs to a disconnect only, and is a number.
  for (const char* bad : {"TRAFFIC VPN1 10", "DISCONNECT VPN1 x", "DISCONNECT VPN1 -2",
                          "CLIENT VPN1 2", "DISCONNECT VPN1 2 3"}) {
    EXPECT_FALSE(common::ParsePortOpsRequest(bad, &r)) << bad;
  }
  ASSERT_TRUE(common::ParsePortOpsRequest(common::FormatPortOpsRequest(PortOp::Client, "VPN2"), &r));
  EXPECT_EQ(r.op, PortOp::Client);
  common::PortOpsReply client, back;
  client.sent = 6000000000ull;
  client.received = 12;
  client.commonName = "grace  hopper";
  ASSERT_TRUE(common::ParsePortOpsReply(
      PortOp::Client, common::FormatPortOpsReply(PortOp::Client, client), &back));
  EXPECT_EQ(back.sent, 6000000000ull);
  EXPECT_EQ(back.address, "-");
  EXPECT_EQ(back.commonName, "grace  hopper");
  for (const char* bad : {"0 1 2 10.8.0.6", "0 x 2 10.8.0.6 ann", "0 1"}) {
    EXPECT_FALSE(common::ParsePortOpsReply(PortOp::Client, bad, &back)) << bad;
  }
}

TEST(AccountFor, KeepsBlanksAndBackslashesRefusesWhatTheProtocolCannotCarry) {
  AdapterSettings s;
  s.domain = "DOM";
  EXPECT_EQ(AccountFor(s, "grace hopper"), "DOM\\grace hopper");
  EXPECT_EQ(AccountFor(s, "a\\b"), "DOM\\a\\b");
  EXPECT_EQ(AccountFor(s, std::string(33, 'x')).value_or("").size(), 37u);
  for (const std::string& bad : {std::string(), std::string(34, 'x'), std::string(300, 'y'),
                                 std::string("ann,1"), std::string("ann\nbob"), std::string("a?b")}) {
    std::string why;
    EXPECT_FALSE(AccountFor(s, bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  s.domain.clear();
  EXPECT_EQ(AccountFor(s, "ann"), "ann");
}

}  // namespace
}  // namespace ovpn
