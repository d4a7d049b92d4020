// PL_RAS.dll loaded as the remote-access service loads it, talking to a
// scripted stand-in for the Portulon service's pipe.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/product_keys.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/ras/rassapi.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "platform/wide.h"

namespace {

using namespace std::chrono_literals;
using plat::BOOL;
using plat::DWORD;
using plat::WCHAR;
namespace rassapi = plat::rassapi;
using plat::testing::ScriptedPipeServer;

class PlRasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string module = plat::HostToWindowsPath(plat::testing::BinDir() + "/PL_RAS.dll");
    ASSERT_EQ(hook_.Load(module), plat::ERROR_SUCCESS) << hook_.loaderError();
    accept_ = reinterpret_cast<rassapi::PFN_RasAdminAcceptNewConnection>(
        hook_.GetProcAddress("RasAdminAcceptNewConnection"));
    hangup_ = reinterpret_cast<rassapi::PFN_RasAdminConnectionHangupNotification>(
        hook_.GetProcAddress("RasAdminConnectionHangupNotification"));
    getIp_ = reinterpret_cast<rassapi::PFN_RasAdminGetIpAddressForUser>(
        hook_.GetProcAddress("RasAdminGetIpAddressForUser"));
    release_ = reinterpret_cast<rassapi::PFN_RasAdminReleaseIpAddress>(
        hook_.GetProcAddress("RasAdminReleaseIpAddress"));
    using DllMainFunction = BOOL (*)(void*, DWORD, void*);
    dllMain_ = reinterpret_cast<DllMainFunction>(hook_.GetProcAddress("DllMain"));
    ASSERT_TRUE(accept_ && hangup_ && getIp_ && release_ && dllMain_);
  }

  void Serve(const std::string& reply) {
    portulon_ = std::make_unique<ScriptedPipeServer>("plsvcpipe",
                                                     [reply](const std::string&) { return reply; });
  }
  std::string LastMessage() const {
    const auto m = portulon_->messages();
    return m.empty() ? std::string() : m.back();
  }

  static rassapi::RAS_PORT_1 Port(const std::string& port, const std::string& domain,
                                  const std::string& user, const std::string& computer,
                                  const std::string& wksta, bool netbios) {
    rassapi::RAS_PORT_1 p{};
    plat::CopyToWide(port, p.rasport0.wszPortName, rassapi::RASSAPI_MAX_PORT_NAME);
    plat::CopyToWide(domain, p.rasport0.wszLogonDomain, rassapi::DNLEN + 1);
    plat::CopyToWide(user, p.rasport0.wszUserName, rassapi::UNLEN + 1);
    plat::CopyToWide(computer, p.rasport0.wszComputer, rassapi::NETBIOS_NAME_LEN);
    plat::CopyToWide(wksta, p.ProjResult.nbf.wszWksta, rassapi::NETBIOS_NAME_LEN + 1);
    p.ProjResult.nbf.dwError = netbios ? 0 : 50;
    return p;
  }

  BOOL Accept(rassapi::RAS_PORT_1 port) {
    rassapi::RAS_PORT_STATISTICS stats{};
    rassapi::RAS_PARAMETERS params[1]{};
    return accept_(&port, &stats, params);
  }

  std::string TraceText() const { return plat::testing::ReadHostFile(net_.DriveC("qcl_trace_plras.txt")); }

  plat::testing::TempNetwork net_;
  plat::Module hook_;
  rassapi::PFN_RasAdminAcceptNewConnection accept_ = nullptr;
  rassapi::PFN_RasAdminConnectionHangupNotification hangup_ = nullptr;
  rassapi::PFN_RasAdminGetIpAddressForUser getIp_ = nullptr;
  rassapi::PFN_RasAdminReleaseIpAddress release_ = nullptr;
  BOOL (*dllMain_)(void*, DWORD, void*) = nullptr;
  std::unique_ptr<ScriptedPipeServer> portulon_;
};

// "0,<port>,<account>,<machine>,<time>,0,0" with <time> between the bounds.
void ExpectNewConnection(const std::string& message, const std::string& head, std::time_t before) {
  ASSERT_EQ(message.rfind(head, 0), 0u) << message;
  const std::string rest = message.substr(head.size());
  const auto comma = rest.find(',');
  ASSERT_NE(comma, std::string::npos) << message;
  const long t = std::stol(rest.substr(0, comma));
  EXPECT_GE(t, before);
  EXPECT_LE(t, plat::Now());
  EXPECT_EQ(rest.substr(comma), ",0,0");
}

TEST_F(PlRasTest, NewConnectionNamesTheClientAndFollowsTheReplyCode) {
  Serve("00");
  EXPECT_EQ(dllMain_(nullptr, 1, nullptr), plat::TRUE);
  const std::time_t before = plat::Now();
  const struct {
    std::string computer, wksta;
    bool netbios;
    std::string machine;
  } cases[] = {
      {"ANNPC", "ANNWKS", true, "ANNWKS"},  // the NetBIOS workstation first
      {"ANNPC", "ANNWKS", false, "ANNPC"},  // without NetBIOS: the remote computer
      {"ANNPC", "", true, "ANNPC"},         // NetBIOS without a name
      {"?1234", "", false, "*"},            // an unknown computer
      {"", "", false, "*"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Accept(Port("COM1", "DOM", "ann", c.computer, c.wksta, c.netbios)), plat::TRUE);
    ExpectNewConnection(LastMessage(), "0,COM1,DOM\\ann," + c.machine + ",", before);
  }
  portulon_->SetReply([](const std::string&) { return "10"; });
  EXPECT_EQ(Accept(Port("COM2", "DOM", "bob", "", "", false)), plat::FALSE);
  portulon_->SetReply([](const std::string&) { return "2"; });
  EXPECT_EQ(Accept(Port("COM2", "DOM", "bob", "", "", false)), plat::FALSE);
  EXPECT_TRUE(common::testing::PortulonEvents().empty());
}

TEST_F(PlRasTest, AddressRequestsTravelFirstOctetHighAndTakeTheStaticAddress) {
  Serve("20");
  std::u16string user = u"ann", port = u"COM1";
  rassapi::IPADDR address = 0x0C00000A;  // 10.0.0.12
  BOOL notify = plat::TRUE;
  EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
  EXPECT_EQ(LastMessage(), "2,COM1,ann,*,*,167772172,0");
  EXPECT_EQ(address, 0x0C00000Au);
  EXPECT_EQ(notify, plat::FALSE);

  const struct {
    std::string reply;
    rassapi::IPADDR expected;
  } replies[] = {
      {"383994816", 0x0501A8C0u},    // 192.168.1.5
      {"3-939524086", 0xC800000Au},  // 10.0.0.200: a negative number
      {"3", 0x0C00000Au},            // no number: unchanged
      {"3x1", 0x0C00000Au},
      {"2083994816", 0x0C00000Au},   // keep the proposal
  };
  for (const auto& r : replies) {
    portulon_->SetReply([&r](const std::string&) { return r.reply; });
    address = 0x0C00000A;
    EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
    EXPECT_EQ(address, r.expected) << r.reply;
  }
  std::u16string noPort;
  EXPECT_EQ(getIp_(user.data(), noPort.data(), &address, &notify), 0u);
  EXPECT_EQ(LastMessage(), "2,??,ann,*,*,167772172,0");
}

TEST_F(PlRasTest, HangUpCarriesTheStartAndTheDuration) {
  Serve("00");
  rassapi::RAS_PORT_1 p = Port("COM3", "DOM", "ann", "ANNPC", "WKS", true);
  const std::time_t start = plat::Now() - 90;
  p.rasport0.dwStartSessionTime = static_cast<DWORD>(start);
  rassapi::RAS_PORT_STATISTICS stats{};
  hangup_(&p, &stats, nullptr);
  const std::string head = "1,COM3,DOM\\ann,ANNPC," + std::to_string(start) + ",0,";
  ASSERT_EQ(LastMessage().rfind(head, 0), 0u) << LastMessage();
  const long duration = std::stol(LastMessage().substr(head.size()));
  EXPECT_GE(duration, 90);
  EXPECT_LE(duration, 92);

  // Without a computer name "*"; without a start time the service measures.
  p = Port("COM3", "DOM", "ann", "", "", false);
  hangup_(&p, &stats, nullptr);
  EXPECT_EQ(LastMessage(), "1,COM3,DOM\\ann,*,0,0,0");
}

TEST_F(PlRasTest, WithoutTheServiceCallersAreAdmittedAfterOneReportEach) {
  EXPECT_EQ(Accept(Port("COM1", "DOM", "ann", "", "", false)), plat::TRUE);
  auto events = common::testing::PortulonEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 1u);
  EXPECT_EQ(events[0].eventType, plat::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, (std::vector<std::string>{"Transaction failed on AcceptConnection",
                                                         "Bad response from Portulon Service"}));

  std::u16string user = u"ann", port = u"COM1";
  rassapi::IPADDR address = 0x0C00000A;
  BOOL notify = plat::TRUE;
  EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
  EXPECT_EQ(address, 0x0C00000Au);
  events = common::testing::PortulonEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].strings[0], "Transaction failed on GetIP");

  // A hang-up nobody hears is traced, not reported.
  rassapi::RAS_PORT_1 p = Port("COM1", "DOM", "ann", "", "", false);
  hangup_(&p, nullptr, nullptr);
  EXPECT_EQ(common::testing::PortulonEvents().size(), 2u);
  EXPECT_NE(TraceText().find("in<-failed (error:2)"), std::string::npos);
}

// Texts as long as the buffers hold, and longer than any message could carry.
TEST_F(PlRasTest, LongNamesNeverOverrunABuffer) {
  Serve("00");
  // Every text field full to its last unit, without a terminator.
  rassapi::RAS_PORT_1 p{};
  auto fill = [](WCHAR* field, size_t units, char16_t c) {
    for (size_t i = 0; i < units; ++i) field[i] = c;
  };
  fill(p.rasport0.wszPortName, rassapi::RASSAPI_MAX_PORT_NAME, u'P');
  fill(p.rasport0.wszLogonDomain, rassapi::DNLEN + 1, u'D');
  fill(p.rasport0.wszUserName, rassapi::UNLEN + 1, u'U');
  fill(p.rasport0.wszComputer, rassapi::NETBIOS_NAME_LEN, u'C');
  EXPECT_EQ(Accept(p), plat::TRUE);
  ExpectNewConnection(LastMessage(),
                      "0," + std::string(16, 'P') + "," + std::string(16, 'D') + "\\" +
                          std::string(257, 'U') + "," + std::string(16, 'C') + ",",
                      plat::Now() - 5);

  // 300-character names reach the service whole.
  struct Guarded {
    DWORD before = 0xDEADBEEF;
    rassapi::IPADDR address = 0x0C00000A;
    DWORD between = 0xDEADBEEF;
    BOOL notify = plat::TRUE;
    DWORD after = 0xDEADBEEF;
  } g;
  std::u16string user(300, u'u'), port(300, u'p');
  EXPECT_EQ(getIp_(user.data(), port.data(), &g.address, &g.notify), 0u);
  EXPECT_EQ(LastMessage(), "2," + std::string(300, 'p') + "," + std::string(300, 'u') + ",*,*,167772172,0");
  EXPECT_EQ(g.before, 0xDEADBEEFu);
  EXPECT_EQ(g.between, 0xDEADBEEFu);
  EXPECT_EQ(g.after, 0xDEADBEEFu);
  release_(user.data(), port.data(), &g.address);

  // A name no message could carry is not sent cut: the call fails as if the
  // service were away, and the address stays.
  const size_t sent = portulon_->messages().size();
  std::u16string huge(3000, u'h');
  EXPECT_EQ(getIp_(huge.data(), port.data(), &g.address, &g.notify), 0u);
  EXPECT_EQ(g.address, 0x0C00000Au);
  EXPECT_EQ(portulon_->messages().size(), sent);
  ASSERT_EQ(common::testing::PortulonEvents().size(), 1u);
  EXPECT_EQ(common::testing::PortulonEvents()[0].strings[0], "Transaction failed on GetIP");
}

TEST_F(PlRasTest, TracesEveryCallAndTransaction) {
  Serve("20");
  std::u16string user = u"ann", port = u"COM1";
  rassapi::IPADDR address = 0x0C00000A;
  BOOL notify = plat::FALSE;
  getIp_(user.data(), port.data(), &address, &notify);
  release_(user.data(), port.data(), &address);
  const std::string trace = TraceText();
  for (const char* expected : {
           "Portulon starting...", "Version is : 2,1,0,2", "Log max size is 100 KB",
           "PL_RAS::RasAdminGetIpAddressForUser", "RevertDWORD: 201326602 : 167772172",
           "PL_RAS::Transact: out->(2,COM1,ann,*,*,167772172,0), in<-(20) : 2",
           "PL_RAS::RasAdminReleaseIpAddress: user name:(ann), port name:(COM1) : 0"}) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace;
  }
  // Each line: number, local date and time, " -> ", then the body.
  EXPECT_EQ(trace.rfind("1 ", 0), 0u);
  EXPECT_NE(trace.find(" -> Portulon starting..."), std::string::npos);
}

TEST(PlRasTraceTest, ALimitOfZeroWritesNoTraceFile) {
  plat::testing::TempNetwork net;
  ASSERT_EQ(plat::RegWriteDword(common::kRasHookKey, "LogMaxSizeKB", 0),
            plat::ERROR_SUCCESS);
  plat::Module hook;
  ASSERT_EQ(hook.Load(plat::HostToWindowsPath(plat::testing::BinDir() + "/PL_RAS.dll")),
            plat::ERROR_SUCCESS);
  auto release = reinterpret_cast<rassapi::PFN_RasAdminReleaseIpAddress>(
      hook.GetProcAddress("RasAdminReleaseIpAddress"));
  std::u16string user = u"ann", port = u"COM1";
  rassapi::IPADDR address = 0;
  release(user.data(), port.data(), &address);
  EXPECT_FALSE(plat::FileExists("C:\\qcl_trace_plras.txt"));
}

}  // namespace
