// plsvc as a process, talked to through its pipe the way the hook modules and
// the console talk to it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/data_folder.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"
#include "service/pipe_server.h"
#include "service/settings.h"
#include "service/tests/console_plsvc.h"
#include "service/tests/pipe_clients.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
constexpr const char* kHw = "C:\\PLData\\portulon.hw";
constexpr const char* kLoggedIn = "C:\\PLData\\portulon.tmp";

class PipeEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testing::ProvideDataFolderAndDomain());
    ASSERT_EQ(plat::DomainAddUser("DOM", "ann", "", {}), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "MaxSessionTime", "3600"), plat::ERROR_SUCCESS);
  }

  // Starts plsvc and waits until its pipe is up.
  void StartService() {
    service_ = std::make_unique<testing::ConsolePlsvc>();
    ASSERT_TRUE(service_->WaitFor("Success Create Named Pipe")) << service_->Output();
  }

  static std::string Call(const std::string& message, DWORD* error = nullptr, DWORD waitMs = 10000) {
    std::string reply;
    const DWORD err = plat::CallNamedPipe(common::kPipeName, message, &reply, 2000, waitMs);
    if (error) *error = err;
    return err == plat::ERROR_SUCCESS ? reply : "error " + std::to_string(err);
  }

  static std::string Today() {
    return common::DayLogPath("C:\\PLData", common::DayLogName(plat::Now()));
  }

  plat::testing::TempNetwork net_;
  std::unique_ptr<testing::ConsolePlsvc> service_;
};

TEST_F(PipeEndToEndTest, AFullSessionThroughThePipe) {
  StartService();
  EXPECT_EQ(Call("2,COM1,ann,*,*,167772170,0"), "20");
  EXPECT_EQ(Call("0,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", ""), "1");
  EXPECT_EQ(plat::ProfileGetString(kHw, "SRV1\\COM1", "Active", ""), "1");
  EXPECT_EQ(Call("1,COM1,DOM\\ann,*,0,0,125"), "00");

  auto records = plat::ProfileReadRecords(Today(), "SRV1\\COM1");
  ASSERT_TRUE(records.has_value());
  ASSERT_EQ(records->size(), 2u);
  EXPECT_EQ((*records)[0].second, "C_DOM\\ann");
  EXPECT_EQ((*records)[1].second, "H125_DOM\\ann?167772170?0::*:-1:-1");
  EXPECT_EQ(plat::ProfileGetString(kUsers, "DOM\\ann", "TotalTime", ""), "125");
  EXPECT_EQ(plat::ProfileGetString(kUsers, "DOM\\ann", "TotalConnects", ""), "1");
  EXPECT_EQ(plat::ProfileGetString(kUsers, "DOM\\ann", "Lasted", ""), "125");
  EXPECT_EQ(plat::ProfileGetString(kHw, "SRV1\\COM1", "Active", ""), "0");
  EXPECT_EQ(plat::ProfileGetString(kLoggedIn, "SRV1", "DOM\\ann", "gone"), "gone");
  // The session file lies in the service's current directory, the system directory.
  EXPECT_EQ(plat::ProfileGetString("C:\\WINNT\\system32\\~plsess.tmp", "SRV1\\COM1", "IP", ""),
            "167772170");
}

// Runs the pipecall tool; its output and exit status.
std::pair<std::string, int> PipeCall(const std::string& args) {
  const std::string command = plat::testing::BinDir() + "/pipecall " + args + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  std::string out;
  char buf[256];
  while (p && std::fgets(buf, sizeof buf, p)) out += buf;
  const int status = p ? ::pclose(p) : -1;
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(PipeEndToEndTest, PipecallTalksToTheServiceFromTheCommandLine) {
  StartService();
  EXPECT_EQ(PipeCall("'0,COM1,DOM\\ann,*,0,0,0'"), (std::pair<std::string, int>{"00 (admitted)\n", 0}));
  EXPECT_EQ(PipeCall("--raw '1,COM1,DOM\\ann,*,0,0,60'"), (std::pair<std::string, int>{"00\n", 0}));
  // A bare code to UPDATE_UPDATE ("10") said nothing to a person.
  const auto [updated, updateStatus] = PipeCall("'\\\\SRV1' UPDATE_UPDATE");
  EXPECT_EQ(updateStatus, 0);
  EXPECT_NE(updated.find(" (settings re-read)\n"), std::string::npos) << updated;
  const auto [text, status] = PipeCall("'\\\\NOSUCH' UPDATE_UPDATE");
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find("error 53"), std::string::npos) << text;
  // A message the service would read cut is not sent at all.
  const auto [cut, cutStatus] = PipeCall(std::string(common::kMessageBufferSize + 1, 'x'));
  EXPECT_EQ(cutStatus, 1);
  EXPECT_NE(cut.find("not sent"), std::string::npos) << cut;
}

TEST_F(PipeEndToEndTest, WithoutItsDataFolderTheServiceOffersNoPipe) {
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "MasterShare", "\\\\SRV1\\NOSHARE"), plat::ERROR_SUCCESS);
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("NP_PipeMessageLoop - TestMasterShare: Failed to access folder"))
      << service.Output();
  DWORD err = 0;
  const auto before = std::chrono::steady_clock::now();
  Call("0,COM1,DOM\\ann,*,0,0,0", &err);
  EXPECT_EQ(err, plat::ERROR_FILE_NOT_FOUND);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "fails at once, without waiting";
}

// A data folder that comes back later: the service has waited for it, said so
// once, and answers as soon as it is there; "up and running" comes only then.
TEST_F(PipeEndToEndTest, AMissingDataFolderIsAwaitedAndThePipeComesWithIt) {
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "MasterShare", "\\\\SRV1\\LATER"), plat::ERROR_SUCCESS);
  testing::ConsolePlsvc service;
  ASSERT_TRUE(service.WaitFor("NP_PipeMessageLoop - TestMasterShare: Failed to access folder"))
      << service.Output();
  auto events = [] {
    std::vector<plat::EventRecord> records;
    plat::EventLogReader reader;
    if (plat::EventLogReader::Open("", "Application", &reader) == plat::ERROR_SUCCESS) reader.ReadAll(&records);
    return records;
  };
  auto count = [&](DWORD id) {
    int n = 0;
    for (const auto& r : events()) n += r.eventId == id ? 1 : 0;
    return n;
  };
  for (int i = 0; i < 100 && count(1) == 0; ++i) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(200ms);  // the start-up's own reports are all in
  const int reported = count(1);
  EXPECT_GE(reported, 1) << "the wait is reported";
  std::this_thread::sleep_for(std::chrono::seconds(2 * kDataFolderRetrySeconds + 1));
  EXPECT_EQ(count(1), reported) << "once, not at every try";
  EXPECT_EQ(count(10), 0) << "not up and running without a pipe";
  DWORD err = 0;
  Call("0,COM1,DOM\\ann,*,0,0,0", &err, 100);
  EXPECT_EQ(err, plat::ERROR_FILE_NOT_FOUND);

  // The share appears.
  ASSERT_EQ(plat::RegWriteString(plat::kSharesKey, "LATER", "Path=C:\\PLData"), plat::ERROR_SUCCESS);
  ASSERT_TRUE(service.WaitFor("Success Create Named Pipe", std::chrono::seconds(kDataFolderRetrySeconds + 10)))
      << service.Output();
  EXPECT_EQ(Call("0,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(count(1), reported);
  EXPECT_EQ(count(10), 1);
}

TEST_F(PipeEndToEndTest, BadMessagesAreAnsweredOrDroppedAndServingGoesOn) {
  StartService();
  DWORD err = 0;
  EXPECT_EQ(Call(""), "10");
  EXPECT_EQ(Call(std::string(2000, 'A')), "10") << "exactly 2000 bytes is a message, refused as invalid";
  Call(std::string(2001, 'A'), &err);
  EXPECT_EQ(err, plat::ERROR_BROKEN_PIPE) << "longer is dropped unanswered";
  // Binary names are no account: refused.
  EXPECT_EQ(Call(std::string("0,\x01\xff\n\0,COM1\r", 12) + ",x,y,z,w"), "10");
  EXPECT_EQ(Call("0,COM1,DOM\\" + std::string(120, 'z') + ",*,0,0,0"), "10");
  EXPECT_EQ(Call("zz,COM1,DOM\\ann,*,0,0,0"), "00");
  EXPECT_EQ(Call("0,COM1,DOM\\nobody,*,abc,0,0"), "10");
  EXPECT_EQ(Call(",,,,,,,,,,"), "10");
  // Still serving, and nothing half-done: only the one refusal was recorded.
  EXPECT_EQ(Call("0,COM2,DOM\\ann,*,0,0,0"), "00");
  EXPECT_TRUE(service_->Alive());
  auto com1 = plat::ProfileReadRecords(Today(), "SRV1\\COM1");
  ASSERT_TRUE(com1.has_value());
  ASSERT_EQ(com1->size(), 1u);
  EXPECT_EQ((*com1)[0].second, "N_DOM\\nobody?1");
  auto users = plat::ProfileListSections(kUsers);
  ASSERT_TRUE(users.has_value());
  EXPECT_EQ(users->size(), 1u) << "no profile was created by the bad messages";
}

// Two callers one after the other: the second, whose message cannot be acted
// on, is refused, and never hears the address the first was given.
TEST_F(PipeEndToEndTest, ACallerNeverGetsTheReplyOfTheCallerBefore) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "StaticIP", 1), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "AssumeDomain", "DOM"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "StaticIP", "167772237"), plat::ERROR_SUCCESS);
  StartService();
  const std::string annsAddress = common::FormatReply(3, common::RevertDWORD(167772237));
  for (const char* invalid : {"0,COM2,DOM\\eve", "2,COM2", ",,,,,,,"}) {
    ASSERT_EQ(Call("2,COM1,ann,*,*,167772170,0"), annsAddress);
    EXPECT_EQ(Call(invalid), "10") << invalid;
  }
  ASSERT_EQ(Call("2,COM1,ann,*,*,167772170,0"), annsAddress);
  EXPECT_EQ(Call("UPDATE_UPDATE"), "00");
}

TEST_F(PipeEndToEndTest, SixtyFourClientsAtOnceEachGetTheirOwnReply) {
  ASSERT_EQ(plat::RegWriteDword(kServiceKey, "StaticIP", 1), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "AssumeDomain", "DOM"), plat::ERROR_SUCCESS);
  std::vector<plat::ProfileChange> ports;
  for (int i = 0; i < 64; ++i) {
    ports.push_back({"SRV1\\COM" + std::to_string(i), "StaticIP", std::to_string(1000 + i)});
  }
  ASSERT_EQ(plat::ProfileApply(kHw, ports), plat::ERROR_SUCCESS);
  StartService();
  std::atomic<int> answered{0}, timedOut{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 64; ++i) {
    clients.emplace_back([&, i] {
      DWORD err = 0;
      const std::string reply = Call("2,COM" + std::to_string(i) + ",ann,*,*,1,0", &err);
      if (err == plat::ERROR_SEM_TIMEOUT) {
        ++timedOut;
      } else if (reply == common::FormatReply(3, common::RevertDWORD(1000 + i))) {
        ++answered;
      } else {
        ++wrong;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(answered + timedOut, 64);
  EXPECT_GT(answered, 0);
  EXPECT_TRUE(service_->Alive());
}

TEST_F(PipeEndToEndTest, ASilentClientHoldsTheServiceOnlyBriefly) {
  StartService();
  // Connects and never writes.
  const int silent = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = plat::PipesDir(net_.root()) + "/plsvcpipe";
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  // One that connects and goes away at once.
  const int gone = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  ASSERT_EQ(::connect(gone, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(gone);

  const auto before = std::chrono::steady_clock::now();
  DWORD err = 0;
  EXPECT_EQ(Call("0,COM1,DOM\\ann,*,0,0,0", &err, 10000), "00");
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_LT(waited, std::chrono::milliseconds(kClientMessageTimeoutMs) + 3s);
  ::close(silent);
}

// Sixteen clients that connect and say nothing, over and over, while callers
// dial in: each caller is still answered within the hook module's wait.
TEST_F(PipeEndToEndTest, SilentClientsNeverStarveRealOnes) {
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "NoDuplicate", "0"), plat::ERROR_SUCCESS);
  StartService();
  const testing::SilentClients silent(net_.root(), 16);
  std::this_thread::sleep_for(300ms);  // every silent client holds a connection
  for (int i = 0; i < 12; ++i) {
    DWORD err = 0;
    const std::string port = "COM" + std::to_string(i % 4 + 1);
    EXPECT_EQ(Call("0," + port + ",DOM\\ann,*,0,0,0", &err, common::kPipeWaitMs), "00") << i;
    EXPECT_EQ(Call("1," + port + ",DOM\\ann,*,0,0,5", &err, common::kPipeWaitMs), "00") << i;
  }
}

}  // namespace
}  // namespace svc
