#include "platform/pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

constexpr const char* kPipe = "\\\\.\\pipe\\plsvcpipe";

// Answers every message with "re:" + message until told to stop.
class EchoServer {
 public:
  explicit EchoServer(int handlingDelayMs = 0) : delayMs_(handlingDelayMs) {
    EXPECT_EQ(NamedPipeServer::Create(kPipe, 1, &server_), ERROR_SUCCESS);
    thread_ = std::thread([this] { Run(); });
  }
  ~EchoServer() {
    stop_ = true;
    thread_.join();
  }
  int served() const { return served_; }

 private:
  void Run() {
    while (!stop_) {
      PipeConnection c;
      if (server_.WaitForClient(&c, 50) != ERROR_SUCCESS) continue;
      std::string msg;
      if (c.Read(&msg, 2000, 2000) != ERROR_SUCCESS) continue;
      if (delayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
      c.Write("re:" + msg);
      ++served_;
    }
  }
  NamedPipeServer server_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  int delayMs_;
};

class PipeTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
};

TEST_F(PipeTest, OneMessageOneReply) {
  EchoServer server;
  std::string reply;
  ASSERT_EQ(CallNamedPipe(kPipe, "0,COM1,DOM\\ann,*,0,0,0", &reply, 2000, 10000), ERROR_SUCCESS);
  EXPECT_EQ(reply, "re:0,COM1,DOM\\ann,*,0,0,0");
  // An empty message is a message, not a hang-up.
  ASSERT_EQ(CallNamedPipe("\\\\.\\PIPE\\PLSVCPIPE", "", &reply, 2000, 10000), ERROR_SUCCESS);
  EXPECT_EQ(reply, "re:");
  // A reply longer than the buffer is cut and says so.
  ASSERT_EQ(CallNamedPipe(kPipe, "abcdef", &reply, 4, 10000), ERROR_MORE_DATA);
  EXPECT_EQ(reply, "re:a");
}

TEST_F(PipeTest, MissingPipesAndMachines) {
  std::string reply;
  EXPECT_EQ(CallNamedPipe(kPipe, "x", &reply, 2000, 1000), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CallNamedPipe("\\\\NOSUCH\\pipe\\plsvcpipe", "x", &reply, 2000, 1000), ERROR_BAD_NETPATH);
  EXPECT_EQ(CallNamedPipe("\\\\SRV1\\share\\plsvcpipe", "x", &reply, 2000, 1000), ERROR_INVALID_NAME);
}

TEST_F(PipeTest, RemoteMachinesAnswerWhileUp) {
  EchoServer server;  // on SRV1
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  SetCurrentMachineRoot(srv2);
  std::string reply;
  EXPECT_EQ(CallNamedPipe("\\\\srv1\\pipe\\plsvcpipe", "hi", &reply, 2000, 5000), ERROR_SUCCESS);
  EXPECT_EQ(reply, "re:hi");
  EXPECT_EQ(CallNamedPipe(kPipe, "hi", &reply, 2000, 1000), ERROR_FILE_NOT_FOUND) << "SRV2 has none";
  ASSERT_EQ(SetMachineDown(net.root(), true), ERROR_SUCCESS);
  EXPECT_EQ(CallNamedPipe("\\\\SRV1\\pipe\\plsvcpipe", "hi", &reply, 2000, 1000), ERROR_BAD_NETPATH);
  SetCurrentMachineRoot(net.root());
}

TEST_F(PipeTest, ABusyServerMakesClientsWaitThenTimeOut) {
  EchoServer server(/*handlingDelayMs=*/800);
  std::atomic<int> ok{0}, timedOut{0}, other{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 6; ++i) {
    clients.emplace_back([&, i] {
      std::string reply;
      const DWORD err = CallNamedPipe(kPipe, std::to_string(i), &reply, 2000, 1000);
      if (err == ERROR_SUCCESS && reply == "re:" + std::to_string(i)) {
        ++ok;
      } else if (err == ERROR_SEM_TIMEOUT) {
        ++timedOut;
      } else {
        ++other;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_GE(ok, 1);
  EXPECT_GE(timedOut, 1) << "one instance cannot serve six 800 ms requests within 1 s";
  EXPECT_EQ(other, 0);
}

TEST_F(PipeTest, ManyClientsGetTheirOwnReplies) {
  EchoServer server;
  std::atomic<int> ok{0}, bad{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 64; ++i) {
    clients.emplace_back([&, i] {
      std::string reply;
      const DWORD err = CallNamedPipe(kPipe, "client " + std::to_string(i), &reply, 2000, 10000);
      if (err == ERROR_SUCCESS && reply == "re:client " + std::to_string(i)) {
        ++ok;
      } else if (err != ERROR_SEM_TIMEOUT) {
        ++bad;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(ok, 64);
}

TEST_F(PipeTest, AStaleSocketDoesNotBlockANewServerButALiveOneDoes) {
  const std::string path = PipesDir(net.root()) + "/plsvcpipe";
  {
    // A socket file whose server is gone, as a killed process leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  NamedPipeServer first;
  ASSERT_EQ(NamedPipeServer::Create(kPipe, 1, &first), ERROR_SUCCESS);
  NamedPipeServer second;
  EXPECT_EQ(NamedPipeServer::Create(kPipe, 1, &second), ERROR_PIPE_BUSY);

  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "other users cannot reach the pipe";
}

// Servers created on several threads at once: each socket is owner-only, and
// the process's umask is as it was (narrowing it around bind, two threads
// could leave it narrowed for good), so files made meanwhile keep their modes.
TEST_F(PipeTest, PipesCreatedOnManyThreadsLeaveTheUmaskAlone) {
  const mode_t before = ::umask(022);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 50; ++i) {
        NamedPipeServer server;
        const std::string name = "\\\\.\\pipe\\many" + std::to_string(t) + "_" + std::to_string(i);
        if (NamedPipeServer::Create(name, 1, &server) != ERROR_SUCCESS) ++failures;
        struct stat st;
        if (::stat(server.socketPath().c_str(), &st) != 0 || (st.st_mode & 077) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(::umask(before), 022u);
  EXPECT_EQ(failures, 0);
}

TEST_F(PipeTest, ServerReadsTimeOutAndNoticeVanishedClients) {
  NamedPipeServer server;
  ASSERT_EQ(NamedPipeServer::Create(kPipe, 1, &server), ERROR_SUCCESS);
  // A raw client that connects and never writes.
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", server.socketPath().c_str());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  PipeConnection c;
  ASSERT_EQ(server.WaitForClient(&c, 1000), ERROR_SUCCESS);
  std::string msg;
  EXPECT_EQ(c.Read(&msg, 2000, 200), ERROR_SEM_TIMEOUT);
  ::close(fd);
  EXPECT_EQ(c.Read(&msg, 2000, 1000), ERROR_BROKEN_PIPE);
  EXPECT_EQ(server.WaitForClient(&c, 100), ERROR_SEM_TIMEOUT);
}

}  // namespace
}  // namespace plat
