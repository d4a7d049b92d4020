// The remote-access service in-process: the order of its calls to the
// administration extension, its ports, and the records it writes.
#include "platform/ras/ras_service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"

namespace plat::ras {
namespace {

using testing::SystemEvents;

// Records every call; answers as told. At the hang-up it notes which session
// records the System log already holds.
class RecordingExtension : public AdminExtension {
 public:
  DWORD RequestAddress(const PortInfo& port, rassapi::IPADDR* address,
                       bool* notifyRelease) override {
    std::lock_guard lock(mutex);
    calls.push_back("address " + port.name + " " + FormatIpAddress(*address));
    if (givenAddress) *address = givenAddress;
    *notifyRelease = wantRelease;
    return addressResult;
  }
  bool AcceptConnection(const PortInfo& port) override {
    std::lock_guard lock(mutex);
    calls.push_back("accept " + port.name + " " + port.domain + "\\" + port.user + " " +
                    FormatIpAddress(port.address) + " " + PortStateName(port.state));
    return admit;
  }
  void ConnectionEnded(const PortInfo& port) override {
    std::lock_guard lock(mutex);
    calls.push_back("ended " + port.name + " " + std::to_string(port.bytesSent) + "/" +
                    std::to_string(port.bytesReceived));
    recordsAtHangUp = SystemEvents(kEventSessionStatistics).size() +
                      SystemEvents(kEventCallback).size();
  }
  bool AcceptLink(const PortInfo& link) override {
    std::lock_guard lock(mutex);
    calls.push_back("link " + link.name + " " + std::to_string(link.connection));
    return refusedLink != link.name;
  }
  void LinkEnded(const PortInfo& link) override {
    std::lock_guard lock(mutex);
    calls.push_back("link ended " + link.name + " " + std::to_string(link.bytesReceived));
    recordsAtHangUp = SystemEvents(kEventRouterSessionStatistics).size();
  }
  void ReleaseAddress(const PortInfo& port, rassapi::IPADDR address) override {
    std::lock_guard lock(mutex);
    calls.push_back("release " + port.name + " " + FormatIpAddress(address));
  }
  std::string DescribeDecision(const PortInfo& port, bool admitted) override {
    return " (" + port.name + " " + port.user + (admitted ? " in)" : " out)");
  }

  std::mutex mutex;  // guards every member below
  std::vector<std::string> calls;
  bool admit = true;
  DWORD addressResult = 0;
  rassapi::IPADDR givenAddress = 0;
  bool wantRelease = false;
  size_t recordsAtHangUp = 0;
  std::string refusedLink;
};

class RasServiceTest : public ::testing::Test {
 protected:
  RasService& Make(RasFlavour flavour = RasFlavour::Ras, int ports = 4) {
    auto extension = std::make_unique<RecordingExtension>();
    ext = extension.get();
    RasServiceOptions options;
    options.serviceName = flavour == RasFlavour::Ras ? "RemoteAccess" : "Router";
    options.flavour = flavour;
    options.ports = ports;
    options.clock = [this] { return now; };
    service = std::make_unique<RasService>(options, std::move(extension));
    return *service;
  }

  DialRequest Request(const std::string& port, const std::string& user = "ann") {
    DialRequest r;
    r.port = port;
    r.domain = "DOM";
    r.user = user;
    return r;
  }

  testing::TempNetwork net;
  std::time_t now = 1000000000;
  RecordingExtension* ext = nullptr;
  std::unique_ptr<RasService> service;
};

TEST_F(RasServiceTest, AsksForTheAddressBeforeAdmittingAndKeepsTheAddressGiven) {
  RasService& ras = Make();
  ext->givenAddress = 0x0501A8C0;  // 192.168.1.5
  DialRequest r = Request("com2");
  r.address = "10.0.0.12";
  bool admitted = false;
  PortInfo port;
  std::string why;
  ASSERT_EQ(ras.Dial(r, &admitted, &port, &why), ERROR_SUCCESS) << why;
  EXPECT_TRUE(admitted);
  EXPECT_EQ(ext->calls, (std::vector<std::string>{"address COM2 10.0.0.12",
                                                  "accept COM2 DOM\\ann 192.168.1.5 connected"}));
  EXPECT_EQ(port.name, "COM2");
  EXPECT_EQ(port.state, PortState::Connected);
  EXPECT_EQ(FormatIpAddress(port.address), "192.168.1.5");
  EXPECT_EQ(port.start, now);

  // Without --address the port proposes its pool address.
  ext->givenAddress = 0;
  ASSERT_EQ(ras.Dial(Request("COM3", "bob"), &admitted, &port, &why), ERROR_SUCCESS);
  EXPECT_EQ(ext->calls[2], "address COM3 10.0.0.12");
  EXPECT_EQ(FormatIpAddress(port.address), "10.0.0.12");
}

TEST_F(RasServiceTest, ARefusedCallFreesThePortAndReleasesAnAddressItWasGiven) {
  RasService& ras = Make();
  ext->admit = false;
  ext->wantRelease = true;
  bool admitted = true;
  PortInfo port;
  std::string why;
  ASSERT_EQ(ras.Dial(Request("COM1"), &admitted, &port, &why), ERROR_SUCCESS);
  EXPECT_FALSE(admitted);
  EXPECT_EQ(port.state, PortState::Listening);
  EXPECT_EQ(port.user, "");
  EXPECT_EQ(ext->calls.back(), "release COM1 10.0.0.10");

  // An address that cannot be given refuses the call before admission is asked.
  ext->calls.clear();
  ext->admit = true;
  ext->addressResult = ERROR_NOT_ENOUGH_MEMORY;
  ASSERT_EQ(ras.Dial(Request("COM1"), &admitted, &port, &why), ERROR_SUCCESS);
  EXPECT_FALSE(admitted);
  EXPECT_EQ(ext->calls, (std::vector<std::string>{"address COM1 10.0.0.10"}));
  EXPECT_EQ(ras.Ports()[0].state, PortState::Listening);
}

TEST_F(RasServiceTest, TheExtensionsWordsOnEachDecisionReachTheCaller) {
  RasService& ras = Make();
  bool admitted = false;
  PortInfo port;
  std::string why, note;
  ASSERT_EQ(ras.Dial(Request("COM1"), &admitted, &port, &why, &note), ERROR_SUCCESS);
  EXPECT_EQ(note, " (COM1 ann in)");
  ext->admit = false;
  ASSERT_EQ(ras.Dial(Request("COM2", "bob"), &admitted, &port, &why, &note), ERROR_SUCCESS);
  EXPECT_EQ(note, " (COM2 bob out)") << "told after the port was freed, of the caller it refused";

  // A module's export: its text becomes one field of one line; no export, no words.
  auto describe = [](const char* portName, const char* account, BOOL in, long long start,
                     char* text, DWORD size) -> BOOL {
    std::snprintf(text, size, " (%s\t%s %s\n%lld)", portName, account, in ? "in" : "out", start);
    return TRUE;
  };
  PortInfo called;
  called.name = "COM3";
  called.domain = "DOM";
  called.user = "eve";
  called.start = 42;
  EXPECT_EQ(DescribeDecisionThrough(describe, called, false), " (COM3 DOM\\eve out 42)");
  EXPECT_EQ(DescribeDecisionThrough(nullptr, called, true), "");
}

TEST_F(RasServiceTest, UnknownBusyAndMalformedRequestsAreRefusedWithReasons) {
  RasService& ras = Make(RasFlavour::Ras, 2);
  bool admitted = false;
  PortInfo port;
  std::string why;
  EXPECT_EQ(ras.Dial(Request("COM3"), &admitted, &port, &why), ERROR_DEV_NOT_EXIST);
  EXPECT_EQ(why, "there is no port COM3 on this machine (its ports are COM1 to COM2)");
  ASSERT_EQ(ras.Dial(Request("COM1"), &admitted, &port, &why), ERROR_SUCCESS);
  EXPECT_EQ(ras.Dial(Request("COM1", "bob"), &admitted, &port, &why), ERROR_BUSY);
  EXPECT_EQ(why, "port COM1 is in use by DOM\\ann");
  DialRequest bad = Request("COM2", "a,b");
  EXPECT_EQ(ras.Dial(bad, &admitted, &port, &why), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ras.Ports()[1].state, PortState::Listening);

  EXPECT_EQ(ras.AddTraffic("COM2", 1, 1, &port, &why), ERROR_NOT_CONNECTED);
  EXPECT_EQ(ras.HangUp("COM2", &port, &why), ERROR_NOT_CONNECTED);
  EXPECT_EQ(why, "nobody is connected on port COM2");
  EXPECT_EQ(ras.HangUp("LPT1", &port, &why), ERROR_DEV_NOT_EXIST);
  EXPECT_EQ(ext->calls.size(), 2u) << "nothing refused reached the extension";
}

TEST_F(RasServiceTest, HangUpWritesTheRecordsBeforeTheExtensionHearsOfIt) {
  RasService& ras = Make();
  ext->wantRelease = true;
  DialRequest r = Request("COM1");
  r.callback = "555-0100";
  bool admitted = false;
  PortInfo port;
  std::string why;
  ASSERT_EQ(ras.Dial(r, &admitted, &port, &why), ERROR_SUCCESS);
  ASSERT_EQ(ras.AddTraffic("COM1", 1000, 20, &port, &why), ERROR_SUCCESS);
  ASSERT_EQ(ras.AddTraffic("com1", 234, 3, &port, &why), ERROR_SUCCESS);
  EXPECT_EQ(port.bytesSent, 1234u);
  EXPECT_EQ(port.bytesReceived, 23u);

  now += 125;
  ASSERT_EQ(ras.HangUp("COM1", &port, &why), ERROR_SUCCESS);
  EXPECT_EQ(ext->recordsAtHangUp, 2u);
  EXPECT_EQ(ext->calls[2], "ended COM1 1234/23");
  EXPECT_EQ(ext->calls[3], "release COM1 10.0.0.10");
  EXPECT_EQ(ras.Ports()[0].state, PortState::Listening);

  // Where the service reads them: user 1, port 2, bytes out 9, bytes in 10,
  // call-back number 3.
  const auto stats = SystemEvents(kEventSessionStatistics);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].source, "RemoteAccess");
  const auto& s = stats[0].strings;
  ASSERT_EQ(s.size(), 11u);
  EXPECT_EQ(s[0], "DOM");
  EXPECT_EQ(s[1], "ann");
  EXPECT_EQ(s[2], "COM1");
  EXPECT_EQ(s[7], "2");
  EXPECT_EQ(s[8], "5");
  EXPECT_EQ(s[9], "1234");
  EXPECT_EQ(s[10], "23");
  EXPECT_EQ(stats[0].timeGenerated, static_cast<DWORD>(now));
  const auto callback = SystemEvents(kEventCallback);
  ASSERT_EQ(callback.size(), 1u);
  EXPECT_EQ(callback[0].strings, (std::vector<std::string>{"DOM", "ann", "COM1", "555-0100"}));
}

TEST_F(RasServiceTest, TheRouterWritesItsOwnRecordLayout) {
  // As on an NT 4 router, whose service "Router" logs to the System log.
  RegKey source;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine,
                           std::string(kEventLogServicesKey) + "\\System\\Router", &source),
            ERROR_SUCCESS);
  RasService& ras = Make(RasFlavour::Rras);
  DialRequest r = Request("COM2");
  r.callback = "42";
  bool admitted = false;
  PortInfo port;
  std::string why;
  ASSERT_EQ(ras.Dial(r, &admitted, &port, &why), ERROR_SUCCESS);
  ASSERT_EQ(ras.AddTraffic("COM2", 70, 80, &port, &why), ERROR_SUCCESS);
  ASSERT_EQ(ras.HangUp("COM2", &port, &why), ERROR_SUCCESS);
  const auto stats = SystemEvents(kEventRouterSessionStatistics);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].source, "Router");
  ASSERT_EQ(stats[0].strings.size(), 10u);
  EXPECT_EQ(stats[0].strings[0], "DOM\\ann");
  EXPECT_EQ(stats[0].strings[1], "COM2");
  EXPECT_EQ(stats[0].strings[8], "70");
  EXPECT_EQ(stats[0].strings[9], "80");
  const auto callback = SystemEvents(kEventRouterCallback);
  ASSERT_EQ(callback.size(), 1u);
  EXPECT_EQ(callback[0].strings, (std::vector<std::string>{"DOM\\ann", "COM2", "42"}));
}

TEST_F(RasServiceTest, StoppingHangsUpEverySession) {
  RasService& ras = Make();
  bool admitted = false;
  PortInfo port;
  std::string why;
  ASSERT_EQ(ras.Dial(Request("COM1"), &admitted, &port, &why), ERROR_SUCCESS);
  ASSERT_EQ(ras.Dial(Request("COM4", "bob"), &admitted, &port, &why), ERROR_SUCCESS);
  ras.HangUpAll();
  EXPECT_EQ(SystemEvents(kEventSessionStatistics).size(), 2u);
  for (const PortInfo& p : ras.Ports()) EXPECT_EQ(p.state, PortState::Listening) << p.name;
}

// ---- The module named by DLLPath ----

class ConfiguredExtensionTest : public ::testing::Test {
 protected:
  std::unique_ptr<AdminExtension> LoadWithPath(const std::string& path) {
    EXPECT_EQ(RegWriteString(kAdminDllKey, kAdminDllValue, path), ERROR_SUCCESS);
    return LoadConfiguredExtension(RasServiceOptions());
  }

  // The extension admits every caller and keeps the proposed address.
  static void ExpectAdmitsEveryone(AdminExtension& e) {
    PortInfo p;
    p.name = "COM1";
    rassapi::IPADDR address = 77;
    bool release = true;
    EXPECT_EQ(e.RequestAddress(p, &address, &release), ERROR_SUCCESS);
    EXPECT_EQ(address, 77u);
    EXPECT_FALSE(release);
    EXPECT_TRUE(e.AcceptConnection(p));
  }

  testing::TempNetwork net;
};

TEST_F(ConfiguredExtensionTest, WithoutDllPathThereIsNoneAndNothingIsReported) {
  auto e = LoadConfiguredExtension(RasServiceOptions());
  ASSERT_TRUE(e);
  ExpectAdmitsEveryone(*e);
  EXPECT_TRUE(SystemEvents(kEventAdminDllNotLoaded).empty());
}

TEST_F(ConfiguredExtensionTest, AnUnusableModuleIsReportedOnceAndEveryoneIsAdmitted) {
  const std::string folder = net.DriveC("Program Files/Portulon");
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/notamodule.dll") << "text, not a module";
  std::filesystem::create_symlink(testing::BinDir() + "/RASSAPI.DLL", folder + "/rassapi.dll");
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {"C:\\Program Files\\Portulon\\missing.dll", "cannot be found"},
      {"C:\\Program Files\\Portulon\\notamodule.dll", "cannot be loaded"},
      {"C:\\Program Files\\Portulon\\rassapi.dll", "does not export RasAdminAcceptNewConnection"},
  };
  size_t reported = 0;
  for (const auto& c : cases) {
    auto e = LoadWithPath(c.path);
    ASSERT_TRUE(e);
    ExpectAdmitsEveryone(*e);
    const auto events = SystemEvents(kEventAdminDllNotLoaded);
    ASSERT_EQ(events.size(), ++reported) << c.path;
    EXPECT_EQ(events.back().eventType, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events.back().source, "RemoteAccess");
    ASSERT_EQ(events.back().strings.size(), 2u);
    EXPECT_EQ(events.back().strings[0], c.path);
    EXPECT_NE(events.back().strings[1].find(c.reason), std::string::npos) << events.back().strings[1];
  }
}

TEST_F(ConfiguredExtensionTest, TheHookModuleLoadsAndIsHeldInUse) {
  testing::InstallAdminModule(net, "PL_RAS.dll", testing::kAdminModuleFolder);
  auto e = LoadConfiguredExtension(RasServiceOptions());
  ASSERT_TRUE(e);
  EXPECT_NE(dynamic_cast<RasAdminModule*>(e.get()), nullptr);
  EXPECT_TRUE(SystemEvents(kEventAdminDllNotLoaded).empty());
  // As on Windows, a loaded module cannot be deleted.
  const std::string module = std::string("C:\\Program Files\\") + testing::kAdminModuleFolder + "\\PL_RAS.dll";
  EXPECT_EQ(DeleteFile(module), ERROR_ACCESS_DENIED);
  e.reset();
  EXPECT_EQ(DeleteFile(module), ERROR_SUCCESS);
}

// ---- Texts of the protocol ----

TEST(RasProtocolTest, AddressesKeepTheFirstOctetInTheLowByte) {
  rassapi::IPADDR a = 0;
  ASSERT_TRUE(ParseIpAddress("192.168.1.5", &a));
  EXPECT_EQ(a, 0x0501A8C0u);
  EXPECT_EQ(FormatIpAddress(a), "192.168.1.5");
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "a.b.c.d", "1.2.3.4 ",
                          "-1.2.3.4", "1.2.3.0004"}) {
    EXPECT_FALSE(ParseIpAddress(bad, &a)) << bad;
  }
}

TEST(RasProtocolTest, AccountsMustBeDomainBackslashUser) {
  std::string d, u, why;
  ASSERT_TRUE(SplitAccount("DOM\\ann smith", &d, &u, &why));
  EXPECT_EQ(d, "DOM");
  EXPECT_EQ(u, "ann smith");
  for (const char* bad : {"ann", "\\ann", "DOM\\", "DOM\\a\\b", "DOMAINNAMETOOLONG\\ann",
                          "DOM\\a,b", "DOM\\a\tb", "DOM\\a:b", "   \\ann"}) {
    EXPECT_FALSE(SplitAccount(bad, &d, &u, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  EXPECT_TRUE(SplitAccount("DOM\\" + std::string(256, 'u'), &d, &u, &why));
  EXPECT_FALSE(SplitAccount("DOM\\" + std::string(257, 'u'), &d, &u, &why));
}

TEST(RasProtocolTest, PortRecordsSurviveTheWire) {
  PortInfo p;
  p.name = "COM3";
  p.state = PortState::Disconnecting;
  p.domain = "DOM";
  p.user = "ann smith";
  p.computer = "?x";
  p.wksta = "ANNPC";
  p.callback = "555 0100";
  p.start = 1700000000;
  p.address = 0x0501A8C0;
  p.bytesSent = 1ull << 40;
  p.bytesReceived = 7;
  p.lineSpeed = 28800;
  PortInfo back;
  ASSERT_TRUE(DecodePort(EncodePort(p), &back));
  EXPECT_EQ(EncodePort(back), EncodePort(p));
  EXPECT_EQ(back.state, PortState::Disconnecting);
  EXPECT_EQ(back.bytesSent, 1ull << 40);
  EXPECT_FALSE(DecodePort("COM1\tbusy\t\t\t\t\t\t0\t0\t0\t0\t0", &back));
  EXPECT_FALSE(DecodePort("COM1\tlistening", &back));
}

}  // namespace

namespace {

// The router: one connection announced once, then each link; links end one
// by one, the connection with its last link.
class RouterServiceTest : public RasServiceTest {
 protected:
  void SetUp() override {
    RegKey source;
    ASSERT_EQ(RegKey::Create(Hive::LocalMachine,
                             std::string(kEventLogServicesKey) + "\\System\\Router", &source),
              ERROR_SUCCESS);
  }

  std::vector<LinkResult> DialLinks(RasService& ras, const std::string& port, int links,
                                    DWORD* err = nullptr) {
    DialRequest r = Request(port);
    r.links = links;
    std::vector<LinkResult> out;
    std::string why;
    const DWORD e = ras.DialConnection(r, &out, &why);
    if (err) *err = e;
    return out;
  }
};

TEST_F(RouterServiceTest, AMultilinkConnectionIsAnnouncedOnceThenLinkByLink) {
  RasService& ras = Make(RasFlavour::Rras);
  ext->refusedLink = "COM3";
  const auto links = DialLinks(ras, "COM2", 2);
  ASSERT_EQ(links.size(), 2u);
  const std::string handle = std::to_string(kFirstConnectionHandle);
  EXPECT_EQ(ext->calls, (std::vector<std::string>{"address COM2 10.0.0.11",
                                                  "accept COM2 DOM\\ann 10.0.0.11 connected",
                                                  "link COM2 " + handle, "link COM3 " + handle}));
  EXPECT_TRUE(links[0].admitted);
  EXPECT_FALSE(links[1].admitted) << "each link is judged on its own";
  PortInfo p;
  std::string why;
  ASSERT_EQ(ras.GetPort("COM3", &p, &why), ERROR_SUCCESS);
  EXPECT_EQ(p.state, PortState::Listening);
  EXPECT_EQ(p.connection, 0u);

  // With both links up, the connection ends with its last link, after the
  // link's session record.
  ext->refusedLink.clear();
  ext->calls.clear();
  const auto second = DialLinks(ras, "COM3", 2);  // COM3 and the next free, COM4
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].port.name, "COM4");
  const DWORD connection = second[0].port.connection;
  EXPECT_NE(connection, kFirstConnectionHandle);
  ext->calls.clear();
  ASSERT_EQ(ras.HangUp("COM3", &p, &why), ERROR_SUCCESS);
  EXPECT_EQ(ext->calls, (std::vector<std::string>{"link ended COM3 0"}));
  EXPECT_EQ(ext->recordsAtHangUp, 1u);
  ASSERT_EQ(ras.HangUp("COM4", &p, &why), ERROR_SUCCESS);
  EXPECT_EQ(ext->calls, (std::vector<std::string>{"link ended COM3 0", "link ended COM4 0",
                                                  "ended COM4 0/0"}));
  const auto records = SystemEvents(kEventRouterSessionStatistics);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].strings[0], "DOM\\ann");
  EXPECT_EQ(records[0].strings[1], "COM3");

  // The handle is the router's to give again.
  ASSERT_EQ(ras.HangUp("COM2", &p, &why), ERROR_SUCCESS);
  EXPECT_EQ(DialLinks(ras, "COM1", 1).at(0).port.connection, kFirstConnectionHandle);
}

TEST_F(RouterServiceTest, ConnectionsThatCannotStandLeaveEveryPortFree) {
  RasService& ras = Make(RasFlavour::Rras, 2);
  DWORD err = 0;
  EXPECT_TRUE(DialLinks(ras, "COM1", 3, &err).empty());
  EXPECT_EQ(err, ERROR_BUSY) << "three links need three free ports";
  // Every link refused: the connection ends as soon as it began.
  ext->admit = true;
  ext->refusedLink = "COM1";
  const auto one = DialLinks(ras, "COM1", 1);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_FALSE(one[0].admitted);
  EXPECT_EQ(ext->calls.back(), "ended COM1 0/0");
  // A refused connection asks about no link.
  ext->calls.clear();
  ext->admit = false;
  const auto refused = DialLinks(ras, "COM1", 2);
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_FALSE(refused[0].admitted || refused[1].admitted);
  EXPECT_EQ(ext->calls.size(), 2u);
  for (const PortInfo& p : ras.Ports()) EXPECT_EQ(p.state, PortState::Listening) << p.name;

  RasService& nt4 = Make(RasFlavour::Ras);
  EXPECT_TRUE(DialLinks(nt4, "COM1", 2, &err).empty());
  EXPECT_EQ(err, ERROR_INVALID_PARAMETER) << "only a router has multilink connections";
}

}  // namespace
}  // namespace plat::ras
