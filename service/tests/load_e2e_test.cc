// plsvc under a stream of dial-ins through its pipe, while another process
// writes the same users file, and while the service itself is killed at
// random points: nothing is lost, nothing is left unreadable.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"
#include "service/settings.h"
#include "service/tests/console_plsvc.h"
#include "service/tests/pipe_clients.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
constexpr int kUserCount = 40;

using testing::Account;
using testing::Dial;
using testing::Port;
using testing::Session;

class LoadEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testing::ProvideDataFolderAndDomain());
    ASSERT_NO_FATAL_FAILURE(testing::ProvideCallers(kUsers, kUserCount));
  }

  void StartService() {
    service_ = std::make_unique<testing::ConsolePlsvc>();
    ASSERT_TRUE(service_->WaitFor("Success Create Named Pipe")) << service_->Output();
  }

  static long Number(const std::string& section, const char* key) {
    return std::stol(plat::ProfileGetString(kUsers, section, key, "0"));
  }

  plat::testing::TempNetwork net_;
  std::unique_ptr<testing::ConsolePlsvc> service_;
};

// The console (or another server through the share) edits profiles while the
// service records sessions: neither loses anything of the other.
TEST_F(LoadEndToEndTest, AnotherWriterOfTheUsersFileAndTheServiceLoseNothingOfEachOther) {
  StartService();
  constexpr int kEdits = 150;
  const pid_t editor = ::fork();
  if (editor == 0) {
    for (int i = 0; i < kEdits; ++i) {
      // New accounts, and a key of existing ones the service never writes.
      if (plat::ProfileWriteString(kUsers, "DOM\\new" + std::to_string(i), "MaxSessionTime",
                                   std::to_string(60 + i)) != plat::ERROR_SUCCESS ||
          plat::ProfileWriteString(kUsers, Account(i % kUserCount), "MaxTotalTime",
                                   std::to_string(1000000 + i)) != plat::ERROR_SUCCESS) {
        ::_exit(1);
      }
    }
    ::_exit(0);
  }
  std::mt19937 random(5);
  std::vector<Session> sessions;
  std::map<int, long> connects, time;
  for (int i = 0; i < 240; ++i) {
    const Session s = Dial(static_cast<int>(random() % kUserCount), i % 4, 30 + i % 50);
    ASSERT_TRUE(s.admitted && s.hungUp) << "session " << i;
    ++connects[s.user];
    time[s.user] += s.duration;
  }
  int status = -1;
  ASSERT_EQ(::waitpid(editor, &status, 0), editor);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  for (int u = 0; u < kUserCount; ++u) {
    EXPECT_EQ(Number(Account(u), "TotalConnects"), connects[u]) << Account(u);
    EXPECT_EQ(Number(Account(u), "TotalTime"), time[u]) << Account(u);
    EXPECT_EQ(Number(Account(u), "PeriodUsage"), time[u]) << Account(u);
  }
  for (int i = 0; i < kEdits; ++i) {
    EXPECT_EQ(Number("DOM\\new" + std::to_string(i), "MaxSessionTime"), 60 + i);
  }
  for (int u = 0; u < kUserCount; ++u) {
    const int lastEdit = u + (kEdits - 1 - u) / kUserCount * kUserCount;
    EXPECT_EQ(Number(Account(u), "MaxTotalTime"), 1000000 + lastEdit) << Account(u);
  }
}

// The service killed at random points of a load run and started again: every
// file still reads, and every admission it answered has its connection record.
TEST_F(LoadEndToEndTest, KilledAtRandomPointsItLeavesEveryFileReadableAndEveryAdmissionRecorded) {
  StartService();
  std::atomic<bool> stop{false};
  std::vector<Session> answered;
  std::thread caller([&] {
    std::mt19937 random(9);
    for (int i = 0; !stop.load() && i < 100000; ++i) {
      const Session s = Dial(static_cast<int>(random() % kUserCount), i % 4, 20);
      if (s.admitted) answered.push_back(s);
    }
  });
  std::mt19937 random(3);
  for (int kill = 0; kill < 6; ++kill) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 250));
    service_.reset();  // SIGKILL, wherever it is
    StartService();
  }
  std::this_thread::sleep_for(200ms);
  stop.store(true);
  caller.join();
  ASSERT_GT(answered.size(), 20u);

  // Every shared file reads as a whole.
  const auto users = plat::ProfileListSections(kUsers);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->size(), static_cast<size_t>(kUserCount));
  for (int u = 0; u < kUserCount; ++u) {
    EXPECT_TRUE(plat::ProfileReadSection(kUsers, Account(u))) << Account(u);
  }
  const std::vector<common::LogRecord> records = common::LoadLogRecords(testing::TodaysLog());
  for (const Session& s : answered) {
    bool found = false;
    for (const auto& r : records) {
      found = found || (r.kind == common::kRecordConnection && r.port == Port(s.port) &&
                        r.user == Account(s.user) && r.time == s.start);
    }
    EXPECT_TRUE(found) << Account(s.user) << " on " << Port(s.port) << " at " << s.start;
  }
}

}  // namespace
}  // namespace svc
