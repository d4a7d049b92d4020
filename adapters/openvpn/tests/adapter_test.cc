// The adapter between a scripted OpenVPN management interface and a scripted
// Portulon pipe: the orders of events a real server produces only by chance
// (a client gone before it was answered, OpenVPN killed under its clients,
// clients let in before the adapter came).
#include "adapters/openvpn/adapter.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/pipe_protocol.h"
#include "common/port_ops_protocol.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/pipe.h"
#include "platform/testing/ras_testing.h"
#include "platform/testing/temp_network.h"

namespace ovpn {
namespace {

using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// One OpenVPN process's management interface: a Unix socket that takes one
// client, greets it, answers its commands and sends what the test says.
class FakeOpenVpn {
 public:
  FakeOpenVpn(std::string path, long pid) : path_(std::move(path)), pid_(pid) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path_.c_str());
    ::unlink(path_.c_str());
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(::listen(listener_, 1), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeOpenVpn() { Kill(); }

  // Gone without a word, as a killed process goes.
  void Kill() {
    ::shutdown(listener_, SHUT_RDWR);
    {
      std::lock_guard lock(mutex_);
      if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    }
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  void Notify(const std::vector<std::string>& lines) {
    ASSERT_TRUE(WaitUntil([this] { return connected(); }));
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    std::lock_guard lock(mutex_);
    ASSERT_EQ(::write(client_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void SetClients(std::vector<std::string> clientLines) {
    std::lock_guard lock(mutex_);
    clients_ = std::move(clientLines);
  }
  std::vector<std::string> commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool connected() {
    std::lock_guard lock(mutex_);
    return client_ >= 0;
  }

 private:
  void Serve() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    {
      std::lock_guard lock(mutex_);
      client_ = fd;
    }
    Send(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
    std::string buffer, block;
    char chunk[1024];
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
      for (std::size_t nl; (nl = buffer.find('\n')) != std::string::npos;) {
        const std::string line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        if (!block.empty()) {  // client-auth: lines up to END
          block += "\n" + line;
          if (line != "END") continue;
          Answer(block);
          block.clear();
        } else if (line.rfind("client-auth ", 0) == 0) {
          block = line;
        } else {
          Answer(line);
        }
      }
    }
    std::lock_guard lock(mutex_);
    ::close(fd);
    client_ = -1;
  }
  void Answer(const std::string& command) {
    std::vector<std::string> clients;
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(command);
      clients = clients_;
    }
    if (command == "pid") {
      Send("SUCCESS: pid=" + std::to_string(pid_));
    } else if (command == "status 3") {
      Send("TITLE\tOpenVPN 2.6.14");
      for (const auto& c : clients) Send(c);
      Send("END");
    } else {
      Send("SUCCESS: " + command.substr(0, command.find(' ')) + " command succeeded");
    }
  }
  void Send(const std::string& line) {
    std::lock_guard lock(mutex_);
    const std::string text = line + "\r\n";
    if (client_ >= 0) (void)!::write(client_, text.data(), text.size());
  }

  std::string path_;
  long pid_;
  int listener_ = -1;
  std::thread thread_;
  std::mutex mutex_;  // guards client_, commands_, clients_ and writes to client_
  int client_ = -1;
  std::vector<std::string> commands_;
  std::vector<std::string> clients_;  // CLIENT_LIST lines of "status 3"
};

// Portulon's pipe: admits everybody but DOM\eve, records every message.
class FakePortulon {
 public:
  FakePortulon() {
    EXPECT_EQ(plat::NamedPipeServer::Create(common::kPipeName, 1, &server_), 0u);
    thread_ = std::thread([this] {
      while (!stop_) {
        plat::PipeConnection c;
        if (server_.WaitForClient(&c, 100) != 0) continue;
        std::string m;
        if (c.Read(&m, 2000, 2000) != 0) continue;
        {
          std::lock_guard lock(mutex_);
          messages_.push_back(m);
        }
        const bool refused = m.rfind("0,", 0) == 0 && m.find(",DOM\\eve,") != std::string::npos;
        c.Write(m[0] == '2' ? "20" : refused ? "10" : "00");
        c.Disconnect();
      }
    });
  }
  ~FakePortulon() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (const auto& m : messages()) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

 private:
  plat::NamedPipeServer server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;  // guards messages_
  std::vector<std::string> messages_;
};

std::vector<plat::EventRecord> SessionRecords() {
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> all, out;
  if (plat::EventLogReader::Open("", "System", &reader) == 0) reader.ReadAll(&all);
  for (auto& r : all) {
    if (r.eventId == 20048) out.push_back(r);
  }
  return out;
}

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig("SRV1");
    config.osVersion = "5.0";
    config.ras = plat::RasFlavour::Rras;  // registers RemoteAccess as a System-log source
    net_ = std::make_unique<plat::testing::TempNetwork>(config);
    settings_.management = net_->root() + "/mgmt.sock";
    settings_.domain = "DOM";
    settings_.managementRelay = net_->root() + "/relay.sock";
  }
  void StartAdapter() {
    adapter_ = std::make_unique<Adapter>(settings_);
    thread_ = std::thread([this] { adapter_->Run(); });
  }
  void TearDown() override {
    if (adapter_) adapter_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> Connect(int cid, const std::string& cn, long when,
                                   const std::string& username = "") {
    std::vector<std::string> lines{">CLIENT:CONNECT," + std::to_string(cid) + ",0",
                                   ">CLIENT:ENV,common_name=" + cn,
                                   ">CLIENT:ENV,time_unix=" + std::to_string(when)};
    if (!username.empty()) lines.push_back(">CLIENT:ENV,username=" + username);
    lines.push_back(">CLIENT:ENV,END");
    return lines;
  }
  void StopAdapter() {
    adapter_->Stop();
    thread_.join();
    adapter_.reset();
  }
  static int Sent(FakeOpenVpn& openvpn, const std::string& prefix) {
    int n = 0;
    for (const auto& c : openvpn.commands()) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  static std::string PortOps(const std::string& request) {
    std::string reply;
    EXPECT_EQ(plat::CallNamedPipe(common::kPortOpsPipeName, request, &reply,
                                  common::kPortOpsBufferSize, 5000), 0u);
    return reply;
  }

  std::unique_ptr<plat::testing::TempNetwork> net_;
  AdapterSettings settings_;
  std::unique_ptr<Adapter> adapter_;
  std::thread thread_;
};

TEST_F(AdapterTest, AClientGoneBeforeItWasAnsweredStillGetsItsWholeSession) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  // CONNECT and DISCONNECT in one breath, the second before any answer.
  auto lines = Connect(3, "ann smith", 1796000000);
  for (const char* l : {">CLIENT:DISCONNECT,3", ">CLIENT:ENV,common_name=ann smith",
                        ">CLIENT:ENV,bytes_received=1234", ">CLIENT:ENV,bytes_sent=5678",
                        ">CLIENT:ENV,time_duration=0", ">CLIENT:ENV,END"}) {
    lines.push_back(l);
  }
  openvpn.Notify(lines);
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("1,") == 1; }));
  const auto m = portulon.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], "2,VPN1,ann smith,*,*,0,0");
  EXPECT_EQ(m[1], "0,VPN1,DOM\\ann smith,*,1796000000,0,0");
  EXPECT_EQ(m[2], "1,VPN1,DOM\\ann smith,*,1796000000,0,0");
  const auto records = SessionRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings[0], "DOM\\ann smith");
  EXPECT_EQ(records[0].strings[1], "VPN1");
  EXPECT_EQ(records[0].strings[8], "5678");  // sent
  EXPECT_EQ(records[0].strings[9], "1234");  // received
}

TEST_F(AdapterTest, WithoutPortulonClientsAreLetInAndEachUnansweredQuestionReportedOnce) {
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  openvpn.Notify(Connect(1, "ann", 1796000000));
  ASSERT_TRUE(WaitUntil([&] { return Sent(openvpn, "client-auth 1 0") == 1; }));
  EXPECT_EQ(Sent(openvpn, "client-deny"), 0);
  openvpn.Notify({">CLIENT:DISCONNECT,1", ">CLIENT:ENV,END"});
  ASSERT_TRUE(WaitUntil([&] { return SessionRecords().size() == 1; }));
  std::this_thread::sleep_for(200ms);
  std::vector<std::string> reported;
  for (const auto& e : common::testing::PortulonEvents()) {
    EXPECT_EQ(e.eventType, plat::EVENTLOG_ERROR_TYPE);
    reported.push_back(e.strings.at(0) + " / " + e.strings.at(1));
  }
  EXPECT_EQ(reported, (std::vector<std::string>{
                          "Transaction failed on GetIP / Bad response from Portulon Service: 2",
                          "Transaction failed on AcceptConnection / Bad response from Portulon Service: 2"}))
      << "the hang-up nobody heard is traced only";
}

TEST_F(AdapterTest, RefusedClientsAreToldWhyAndTheirDisconnectIsNoHangUp) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  openvpn.Notify(Connect(1, "eve", 1796000000));
  openvpn.Notify(Connect(2, std::string(120, 'x'), 1796000000));
  openvpn.Notify(Connect(3, "a,b", 1796000000));
  // DOM\ and 34 characters: one more than a session record holds.
  openvpn.Notify(Connect(5, std::string(34, 'l'), 1796000000));
  ASSERT_TRUE(WaitUntil([&] {
    int denied = 0;
    for (const auto& c : openvpn.commands()) denied += c.rfind("client-deny", 0) == 0 ? 1 : 0;
    return denied == 4;
  }));
  openvpn.Notify({">CLIENT:DISCONNECT,1", ">CLIENT:ENV,END"});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(portulon.Count("0,"), 1);  // only eve was put to Portulon; the others cannot be
  EXPECT_EQ(portulon.Count("1,"), 0);
  const auto commands = openvpn.commands();
  bool eveDenied = false;
  for (const auto& c : commands)
    eveDenied = eveDenied || c.rfind("client-deny 1 0 \"Portulon: refused", 0) == 0;
  EXPECT_TRUE(eveDenied);
  bool tooLongToldWhy = false;
  for (const auto& c : commands) {
    tooLongToldWhy = tooLongToldWhy || (c.rfind("client-deny 5 0 ", 0) == 0 &&
                                        c.find("38 characters long; a session record holds at most 37") !=
                                            std::string::npos);
  }
  EXPECT_TRUE(tooLongToldWhy);
  // The port eve was refused on is free again.
  openvpn.Notify(Connect(4, "bob", 1796000000));
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("0,VPN1,DOM\\bob,") == 1; }));
}

// A service that starts again asks which sessions stand: the admitted ones,
// not the refused, in port order, one per request.
TEST_F(AdapterTest, TheSessionsThatStandAreListedOneByOne) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  auto decided = [&](const char* command, int count) {
    return WaitUntil([&] {
      int n = 0;
      for (const auto& c : openvpn.commands()) n += c.rfind(command, 0) == 0 ? 1 : 0;
      return n == count;
    });
  };
  openvpn.Notify(Connect(1, "ann", 1796000000));
  ASSERT_TRUE(decided("client-auth", 1));
  openvpn.Notify(Connect(2, "eve", 1796000050));
  ASSERT_TRUE(decided("client-deny", 1));
  openvpn.Notify(Connect(3, "grace hopper", 1796000100));
  ASSERT_TRUE(decided("client-auth", 2));
  std::vector<std::string> replies;
  for (unsigned i = 0; i < 3; ++i) {
    std::string reply;
    ASSERT_EQ(plat::CallNamedPipe(common::kPortOpsPipeName, common::FormatSessionRequest(i), &reply,
                                  common::kPortOpsBufferSize, 5000), 0u);
    replies.push_back(reply);
  }
  EXPECT_EQ(replies, (std::vector<std::string>{"0 VPN1 1796000000 DOM\\ann",
                                               "0 VPN2 1796000100 DOM\\grace hopper", "259"}));
}

TEST_F(AdapterTest, AfterOpenVpnWasKilledItsLostSessionsAreHungUpAndNoClientIsPutTwice) {
  FakePortulon portulon;
  auto openvpn = std::make_unique<FakeOpenVpn>(settings_.management, 100);
  StartAdapter();
  openvpn->Notify(Connect(0, "ann", 1796000000));
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& c : openvpn->commands()) {
      if (c.rfind("client-auth 0 0", 0) == 0) return true;
    }
    return false;
  }));
  // Supervision reads her counters: they are what the hang-up will carry.
  openvpn->SetClients(
      {"CLIENT_LIST\tann\t127.0.0.1:1\t10.8.0.2\t\t400\t300\t-\t1796000000\tUNDEF\t0\t0\tx"});
  std::string reply;
  ASSERT_EQ(plat::CallNamedPipe(common::kPortOpsPipeName, "TRAFFIC VPN1", &reply, 200, 5000), 0u);
  EXPECT_EQ(reply, "0 300 400");

  openvpn.reset();  // killed: no DISCONNECT
  openvpn = std::make_unique<FakeOpenVpn>(settings_.management, 200);
  // The new process lists a client of its own with the same id, not yet decided.
  openvpn->SetClients({"CLIENT_LIST\tann\t127.0.0.1:2\t\t\t10\t10\t-\t1796000100\tUNDEF\t0\t0\tx"});
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("1,") == 1; }));
  EXPECT_EQ(portulon.Count("1,VPN1,DOM\\ann,*,1796000000,0,"), 1);
  ASSERT_EQ(SessionRecords().size(), 1u);
  EXPECT_EQ(SessionRecords()[0].strings[9], "400");
  // Its CONNECT comes once we are there: that client is put to Portulon once.
  openvpn->Notify(Connect(0, "ann", 1796000100));
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("0,") == 2; }));
  std::this_thread::sleep_for(6s);  // past the grace for unclaimed clients
  EXPECT_EQ(portulon.Count("0,"), 2);
  EXPECT_EQ(portulon.Count("1,"), 1);
}

TEST_F(AdapterTest, ClientsLetInBeforeTheAdapterCameAreSupervisedNotReadmitted) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  openvpn.SetClients(
      {"CLIENT_LIST\tbob\t127.0.0.1:1\t10.8.0.3\t\t50\t60\t-\t1796000000\tUNDEF\t7\t0\tx"});
  StartAdapter();
  std::string reply;
  // Before the grace period the port is not there yet; after it, it is.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return plat::CallNamedPipe(common::kPortOpsPipeName, "TRAFFIC VPN1", &reply, 200, 5000) ==
                   0 &&
               reply == "0 60 50";
      },
      15s));
  ASSERT_EQ(plat::CallNamedPipe(common::kPortOpsPipeName, "DISCONNECT VPN1", &reply, 200, 5000),
            0u);
  EXPECT_EQ(reply, "0");
  bool killed = false;
  for (const auto& c : openvpn.commands())
    killed = killed || c == "client-kill 7 \"HALT,Portulon: disconnected\"";
  EXPECT_TRUE(killed);
  EXPECT_EQ(portulon.Count("0,"), 0);
  ASSERT_EQ(plat::CallNamedPipe(common::kPortOpsPipeName, "TRAFFIC VPN2", &reply, 200, 5000), 0u);
  EXPECT_EQ(reply, std::to_string(plat::ERROR_FILE_NOT_FOUND));
}

// A status line of the fake server: client id, name, tunnel address, bytes.
std::string Listed(int cid, const std::string& cn, const std::string& address, int in, int out) {
  return "CLIENT_LIST\t" + cn + "\t127.0.0.1:1\t" + address + "\t\t" + std::to_string(in) + "\t" +
         std::to_string(out) + "\t-\t1796000000\tUNDEF\t" + std::to_string(cid) + "\t0\tx";
}

TEST_F(AdapterTest, ARestartedAdapterGivesEveryClientItsPortBackAndHangsUpWhoLeft) {
  FakePortulon portulon;
  auto openvpn = std::make_unique<FakeOpenVpn>(settings_.management, 100);
  StartAdapter();
  for (int cid : {0, 1, 2}) {
    openvpn->Notify(Connect(cid, cid == 0 ? "ann" : cid == 1 ? "bob" : "carol", 1796000000 + cid));
    ASSERT_TRUE(WaitUntil([&] { return Sent(*openvpn, "client-auth") == cid + 1; }));
  }
  // ann leaves: bob and carol keep VPN2 and VPN3, the lowest port is free.
  openvpn->Notify({">CLIENT:DISCONNECT,0", ">CLIENT:ENV,END"});
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("1,VPN1,") == 1; }));
  StopAdapter();
  // While no adapter is there, carol leaves; bob and a new client dave stay.
  openvpn.reset();
  openvpn = std::make_unique<FakeOpenVpn>(settings_.management, 100);
  openvpn->SetClients({Listed(1, "bob", "10.8.0.3", 10, 20), Listed(5, "dave", "10.8.0.9", 1, 2)});
  StartAdapter();
  ASSERT_TRUE(WaitUntil([&] { return portulon.Count("1,VPN3,DOM\\carol,") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return PortOps("SESSION 1") != "259"; }, 15s));  // dave adopted
  EXPECT_EQ(PortOps("SESSION 0"), "0 VPN1 1796000000 DOM\\dave");
  EXPECT_EQ(PortOps("SESSION 1"), "0 VPN2 1796000001 DOM\\bob");
  EXPECT_EQ(PortOps("SESSION 2"), "259");
  // What the who-is-on listing asks of a port: OpenVPN's counts, address and name.
  EXPECT_EQ(PortOps("CLIENT VPN2"), "0 20 10 10.8.0.3 bob");
  EXPECT_EQ(portulon.Count("0,"), 3);  // nobody was put to Portulon twice
}

TEST_F(AdapterTest, ADisconnectTellsTheClientWhy) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  openvpn.Notify(Connect(4, "ann", 1796000000));
  ASSERT_TRUE(WaitUntil([&] { return Sent(openvpn, "client-auth") == 1; }));
  EXPECT_EQ(PortOps("DISCONNECT VPN1 10"), "0");
  EXPECT_EQ(PortOps("DISCONNECT VPN1 2"), "0");
  EXPECT_EQ(Sent(openvpn, "client-kill 4 \"HALT,Portulon: disconnected by the administrator\""), 1);
  EXPECT_EQ(Sent(openvpn, "client-kill 4 \"HALT,Portulon: session time limit reached\""), 1);
}

TEST_F(AdapterTest, AUsernameNobodyVerifiedIsRefused) {
  settings_.nameFrom = "username";
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  StartAdapter();
  // erin's certificate claiming to be ann: refused, never put to Portulon.
  openvpn.Notify(Connect(1, "erin", 1796000000, "ann"));
  ASSERT_TRUE(WaitUntil([&] { return Sent(openvpn, "client-deny 1 0 \"Portulon: user name not verified\"") == 1; }));
  // The certificate's own name, or no username at all, is the certificate's word.
  openvpn.Notify(Connect(2, "ann", 1796000000, "ann"));
  openvpn.Notify(Connect(3, "bob", 1796000000));
  ASSERT_TRUE(WaitUntil([&] { return Sent(openvpn, "client-auth") == 2; }));
  EXPECT_EQ(portulon.Count("0,"), 2);
  EXPECT_EQ(portulon.Count("0,VPN1,DOM\\ann,"), 1);

  AdapterSettings verified = settings_;
  verified.usernameVerified = true;
  EXPECT_EQ(NameToCheck(verified, "ann", "erin"), "ann");
  EXPECT_EQ(NameToCheck(settings_, "ann", "erin"), std::nullopt);
  EXPECT_EQ(NameToCheck(settings_, "UNDEF", "erin"), "erin");
}

TEST_F(AdapterTest, TheRelayPassesTheAdministratorsCommandsAndNoOthers) {
  FakePortulon portulon;
  FakeOpenVpn openvpn(settings_.management, 100);
  openvpn.SetClients({Listed(1, "bob", "10.8.0.3", 10, 20)});
  StartAdapter();
  ASSERT_TRUE(WaitUntil([&] { return openvpn.connected() && Sent(openvpn, "hold release") == 1; }));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", settings_.managementRelay.c_str());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  const std::string asked = "status 3\nclient-auth 1 0\nlog on\npid\nquit\n";
  ASSERT_EQ(::write(fd, asked.data(), asked.size()), static_cast<ssize_t>(asked.size()));
  std::string answer;
  char chunk[1024];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) answer.append(chunk, static_cast<std::size_t>(n));
  ::close(fd);
  EXPECT_NE(answer.find(">INFO:"), std::string::npos);
  EXPECT_NE(answer.find("CLIENT_LIST\tbob"), std::string::npos) << answer;
  EXPECT_NE(answer.find("END\r\n"), std::string::npos);
  EXPECT_NE(answer.find("SUCCESS: pid=100"), std::string::npos);
  // The adapter's own commands do not pass.
  EXPECT_EQ(Sent(openvpn, "client-auth 1 0"), 0);
  EXPECT_EQ(Sent(openvpn, "log on"), 0);
  bool multi = false;
  EXPECT_TRUE(RelayAllows("log 20", &multi));
  EXPECT_TRUE(multi);
  EXPECT_TRUE(RelayAllows("kill bob", &multi));
  EXPECT_FALSE(multi);
  for (const char* refused : {"kill", "log on", "hold release", "signal SIGTERM", "client-kill 1",
                              "pid 3", "state on"}) {
    EXPECT_FALSE(RelayAllows(refused, &multi)) << refused;
  }
}

}  // namespace
}  // namespace ovpn
