// PL_RRAS.dll loaded as the router loads it, talking to a scripted stand-in
// for the Portulon service's pipe.
#include <gtest/gtest.h>

#include <memory>

#include "platform/errors.h"
#include "common/testing/installed_modules.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/ras/mprapi.h"
#include "platform/sysinfo.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"
#include "platform/wide.h"

namespace {

using plat::BOOL;
using plat::DWORD;
namespace mprapi = plat::mprapi;
using plat::testing::ScriptedPipeServer;

constexpr const char* kScratch = "~rras.tmp";

class PlRrasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string module = plat::HostToWindowsPath(plat::testing::BinDir() + "/PL_RRAS.dll");
    ASSERT_EQ(hook_.Load(module), plat::ERROR_SUCCESS) << hook_.loaderError();
    connection_ = reinterpret_cast<mprapi::PFN_MprAdminAcceptNewConnection>(
        hook_.GetProcAddress("MprAdminAcceptNewConnection"));
    link_ = reinterpret_cast<mprapi::PFN_MprAdminAcceptNewLink>(
        hook_.GetProcAddress("MprAdminAcceptNewLink"));
    linkHangup_ = reinterpret_cast<mprapi::PFN_MprAdminLinkHangupNotification>(
        hook_.GetProcAddress("MprAdminLinkHangupNotification"));
    getIp_ = reinterpret_cast<mprapi::PFN_MprAdminGetIpAddressForUser>(
        hook_.GetProcAddress("MprAdminGetIpAddressForUser"));
    ASSERT_TRUE(connection_ && link_ && linkHangup_ && getIp_);
    for (const char* name : {"MprAdminConnectionHangupNotification", "MprAdminReleaseIpAddress",
                             "DllMain"}) {
      EXPECT_NE(hook_.GetProcAddress(name), nullptr) << name;
    }
  }

  void Serve(const std::string& reply) {
    portulon_ = std::make_unique<ScriptedPipeServer>("plsvcpipe",
                                                     [reply](const std::string&) { return reply; });
  }
  std::vector<std::string> Messages() const { return portulon_->messages(); }

  BOOL Connect(DWORD handle, const std::string& domain, const std::string& user,
               const std::string& computer) {
    mprapi::RAS_CONNECTION_0 c0{};
    mprapi::RAS_CONNECTION_1 c1{};
    c0.hConnection = mprapi::MakeHandle(handle);
    plat::CopyToWide(domain, c0.wszLogonDomain, mprapi::DNLEN + 1);
    plat::CopyToWide(user, c0.wszUserName, mprapi::UNLEN + 1);
    plat::CopyToWide(computer, c0.wszRemoteComputer, mprapi::NETBIOS_NAME_LEN + 1);
    return connection_(&c0, &c1);
  }

  static mprapi::RAS_PORT_0 Link(DWORD connection, const std::string& port, DWORD duration = 0) {
    mprapi::RAS_PORT_0 p{};
    p.hConnection = mprapi::MakeHandle(connection);
    p.dwConnectDuration = duration;
    plat::CopyToWide(port, p.wszPortName, mprapi::MAX_PORT_NAME + 1);
    return p;
  }
  BOOL AcceptLink(DWORD connection, const std::string& port) {
    mprapi::RAS_PORT_0 p = Link(connection, port);
    mprapi::RAS_PORT_1 p1{};
    return link_(&p, &p1);
  }
  void HangUpLink(DWORD connection, const std::string& port, DWORD duration) {
    mprapi::RAS_PORT_0 p = Link(connection, port, duration);
    mprapi::RAS_PORT_1 p1{};
    linkHangup_(&p, &p1);
  }

  std::string TraceText() const {
    return plat::testing::ReadHostFile(net_.DriveC("qcl_trace_plrras.txt"));
  }

  plat::testing::TempNetwork net_;
  plat::Module hook_;
  mprapi::PFN_MprAdminAcceptNewConnection connection_ = nullptr;
  mprapi::PFN_MprAdminAcceptNewLink link_ = nullptr;
  mprapi::PFN_MprAdminLinkHangupNotification linkHangup_ = nullptr;
  mprapi::PFN_MprAdminGetIpAddressForUser getIp_ = nullptr;
  std::unique_ptr<ScriptedPipeServer> portulon_;
};

TEST_F(PlRrasTest, EachLinkOfAConnectionIsAskedForAndRefusedOnItsOwn) {
  // The second link is refused, as a duplicate login would be.
  portulon_ = std::make_unique<ScriptedPipeServer>("plsvcpipe", [](const std::string& m) {
    return m.rfind("0,COM2,", 0) == 0 ? std::string("10") : std::string("00");
  });
  const std::time_t before = plat::Now();
  EXPECT_EQ(Connect(0x10001, "DOM", "ann", "ANNPC"), plat::TRUE);
  EXPECT_TRUE(Messages().empty()) << "the connection call sends nothing";
  const std::string t = plat::ProfileGetString(kScratch, "00010001", "T", "");
  ASSERT_FALSE(t.empty());
  EXPECT_GE(std::stoll(t), before);
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00010001", "U", ""), "DOM\\ann");
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00010001", "C", ""), "ANNPC");

  EXPECT_EQ(AcceptLink(0x10001, "COM1"), plat::TRUE);
  EXPECT_EQ(AcceptLink(0x10001, "COM2"), plat::FALSE);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"0,COM1,DOM\\ann,ANNPC," + t + ",0,0",
                                                  "0,COM2,DOM\\ann,ANNPC," + t + ",0,0"}));
  EXPECT_NE(TraceText().find("Not Accepting Connection: 10 : 1"), std::string::npos);
}

TEST_F(PlRrasTest, HangUpDurationsComeFromTheRouterElseFromTheConnectionCall) {
  Serve("00");
  ASSERT_EQ(Connect(0x10001, "DOM", "ann", ""), plat::TRUE);
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00010001", "C", ""), "*");
  HangUpLink(0x10001, "COM1", 75);
  EXPECT_EQ(Messages().back(), "1,COM1,DOM\\ann,*,0,0,75");
  // A duration of 0: the time since the connection call.
  const std::time_t start = plat::Now() - 300;
  ASSERT_EQ(plat::ProfileWriteString(kScratch, "00010001", "T", std::to_string(start)),
            plat::ERROR_SUCCESS);
  HangUpLink(0x10001, "COM1", 0);
  const std::string head = "1,COM1,DOM\\ann,*,0,0,";
  ASSERT_EQ(Messages().back().rfind(head, 0), 0u) << Messages().back();
  const long duration = std::stol(Messages().back().substr(head.size()));
  EXPECT_GE(duration, 300);
  EXPECT_LE(duration, 302);
}

TEST_F(PlRrasTest, ALinkOfAnUnknownConnectionTravelsWithStarsAndNoMadeUpDuration) {
  Serve("00");
  EXPECT_EQ(AcceptLink(0x20002, "COM3"), plat::TRUE);
  EXPECT_EQ(Messages().back(), "0,COM3,*,*,*,0,0");
  // Neither a lost section nor a garbled start makes "now minus 1970".
  HangUpLink(0x20002, "COM3", 0);
  EXPECT_EQ(Messages().back(), "1,COM3,*,*,0,0,0");
  ASSERT_EQ(plat::ProfileWriteString(kScratch, "00020002", "T", "12x"), plat::ERROR_SUCCESS);
  HangUpLink(0x20002, "COM3", 0);
  EXPECT_EQ(Messages().back(), "1,COM3,*,*,0,0,0");
}

TEST_F(PlRrasTest, AReusedHandleOverwritesItsSection) {
  Serve("00");
  ASSERT_EQ(Connect(0x10001, "DOM", "ann", "ANNPC"), plat::TRUE);
  ASSERT_EQ(Connect(0x10001, "DOM", "bob", ""), plat::TRUE);
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00010001", "U", ""), "DOM\\bob");
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00010001", "C", ""), "*");
  EXPECT_EQ(AcceptLink(0x10001, "COM1"), plat::TRUE);
  EXPECT_EQ(Messages().back().rfind("0,COM1,DOM\\bob,*,", 0), 0u);
}

TEST_F(PlRrasTest, AddressRequestsAndLongNames) {
  Serve("3-939524086");  // 10.0.0.200
  std::u16string user(300, u'u'), port = u"COM1";
  DWORD address = 0x0C00000A;
  BOOL notify = plat::TRUE;
  EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
  EXPECT_EQ(Messages().back(), "2,COM1," + std::string(300, 'u') + ",*,*,167772172,0");
  EXPECT_EQ(address, 0xC800000Au);
  EXPECT_EQ(notify, plat::FALSE);
  portulon_->SetReply([](const std::string&) { return "20"; });
  address = 0x0C00000A;
  EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
  EXPECT_EQ(address, 0x0C00000Au);
  const std::string trace = TraceText();
  EXPECT_NE(trace.find("Use alternative IP address"), std::string::npos);
  EXPECT_NE(trace.find("Use Original IP address"), std::string::npos);

  // Names filling the router's buffers to the last unit, without terminators.
  mprapi::RAS_CONNECTION_0 c0{};
  mprapi::RAS_CONNECTION_1 c1{};
  c0.hConnection = mprapi::MakeHandle(7);
  for (auto& c : c0.wszUserName) c = u'U';
  for (auto& c : c0.wszLogonDomain) c = u'D';
  for (auto& c : c0.wszRemoteComputer) c = u'C';
  EXPECT_EQ(connection_(&c0, &c1), plat::TRUE);
  EXPECT_EQ(plat::ProfileGetString(kScratch, "00000007", "U", ""),
            std::string(16, 'D') + "\\" + std::string(257, 'U'));
}

TEST_F(PlRrasTest, WithoutTheServiceLinksAreAdmittedAfterOneReportWithTheError) {
  ASSERT_EQ(Connect(0x10001, "DOM", "ann", ""), plat::TRUE);
  EXPECT_EQ(AcceptLink(0x10001, "COM1"), plat::TRUE);
  auto events = common::testing::PortulonEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 1u);
  EXPECT_EQ(events[0].eventType, plat::EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, (std::vector<std::string>{"Transaction failed on AcceptConnection",
                                                         "Bad response from Portulon Service: 2"}));
  std::u16string user = u"ann", port = u"COM1";
  DWORD address = 0x0C00000A;
  BOOL notify = plat::TRUE;
  EXPECT_EQ(getIp_(user.data(), port.data(), &address, &notify), 0u);
  EXPECT_EQ(address, 0x0C00000Au);
  events = common::testing::PortulonEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].strings[0], "Transaction failed on GetIP");
  EXPECT_NE(TraceText().find("Communicate to Portulon Service Failed!!"), std::string::npos);
}

}  // namespace
