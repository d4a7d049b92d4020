// The fault-injection suite (ctest -L faults): plsvc as a process, callers on
// its pipe, and the faults an unlucky administrator meets: the service killed
// at any point, a data folder that turns read-only, disappears and comes
// back, a full file system, and clients that connect and say nothing.
// Nothing may be lost silently: what is not written is reported, once per
// outage, and writing resumes by itself.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/testing/temp_network.h"
#include "service/tests/console_plsvc.h"
#include "service/tests/pipe_clients.h"
#include "service/write_health.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;
using testing::Account;
using testing::Dial;
using testing::Session;

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
constexpr int kUserCount = 12;
constexpr const char* kDayLog = "the day log";

namespace fs = std::filesystem;

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(testing::ProvideDataFolderAndDomain());
    ASSERT_NO_FATAL_FAILURE(testing::ProvideCallers(kUsers, kUserCount, {{"NoDuplicate", "1"}}));
  }

  void StartService() {
    service_ = std::make_unique<testing::ConsolePlsvc>();
    ASSERT_TRUE(service_->WaitFor("Success Create Named Pipe")) << service_->Output();
  }

  std::string DataFolder() const { return net_.DriveC("PLData"); }

  // Portulon's events `id` whose text begins with `file` (every one for "").
  static int Events(DWORD id, const std::string& file = "") {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    if (plat::EventLogReader::Open("", "Application", &reader) == plat::ERROR_SUCCESS) reader.ReadAll(&records);
    int n = 0;
    for (const auto& r : records) {
      if (r.source != "Portulon" || r.eventId != id) continue;
      if (file.empty() || (r.strings.size() == 2 && r.strings[1].rfind(file + ":", 0) == 0)) ++n;
    }
    return n;
  }

  // The files that had an outage: each reported once when it began...
  static std::map<std::string, int> OutagesByFile(DWORD id) {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    if (plat::EventLogReader::Open("", "Application", &reader) == plat::ERROR_SUCCESS) reader.ReadAll(&records);
    std::map<std::string, int> files;
    for (const auto& r : records) {
      if (r.source == "Portulon" && r.eventId == id && r.strings.size() == 2) {
        ++files[r.strings[1].substr(0, r.strings[1].find(':'))];
      }
    }
    return files;
  }

  static std::vector<common::LogRecord> Records() {
    return common::LoadLogRecords(testing::TodaysLog());
  }
  static bool HasConnectionRecord(const Session& s) {
    for (const auto& r : Records()) {
      if (r.kind == common::kRecordConnection && r.user == Account(s.user) &&
          r.port == testing::Port(s.port) && r.time == s.start) {
        return true;
      }
    }
    return false;
  }

  plat::testing::TempNetwork net_;
  std::unique_ptr<testing::ConsolePlsvc> service_;
};

// Mounts of this test process and the plsvc it starts only, gone with them.
// False without the right to make them (not root, or a container that
// forbids it).
bool PrivateMounts() {
  if (::geteuid() != 0) return false;
  if (::unshare(CLONE_NEWNS) != 0) return false;
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// The data folder made read-only for the service: a read-only bind mount as
// root (the modes would not stop root), the modes otherwise.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::string folder, bool mounts) : folder_(std::move(folder)), mounts_(mounts) {
    if (mounts_) {
      ok_ = ::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    } else {
      SetModes(false);
      ok_ = true;
    }
  }
  ~ReadOnlyFolder() { Restore(); }
  void Restore() {
    if (!ok_) return;
    if (mounts_) {
      ::umount2(folder_.c_str(), MNT_DETACH);
    } else {
      SetModes(true);
    }
    ok_ = false;
  }
  bool ok() const { return ok_; }

 private:
  void SetModes(bool writable) {
    for (const auto& e : fs::recursive_directory_iterator(folder_)) {
      fs::permissions(e.path(), e.is_directory() ? (writable ? fs::perms(0770) : fs::perms(0550))
                                                 : (writable ? fs::perms(0660) : fs::perms(0440)));
    }
    fs::permissions(folder_, writable ? fs::perms(0770) : fs::perms(0550));
  }
  std::string folder_;
  bool mounts_;
  bool ok_ = false;
};

// Killed at random points of a load run and started again each time: a usage
// counter may lag its records (a kill between the record and the counter),
// never run ahead of them, and it lags by no more than the kills can explain.
TEST_F(FaultsTest, KilledAtRandomPointsNoCounterRunsAheadOfItsRecords) {
  StartService();
  std::atomic<bool> stop{false};
  std::atomic<int> admitted{0};
  std::thread caller([&] {
    std::mt19937 random(11);
    for (int i = 0; !stop.load(); ++i) {
      const Session s = Dial(static_cast<int>(random() % kUserCount), i % 4, 10 + i % 20);
      if (s.admitted) ++admitted;
      if (!s.answered) std::this_thread::sleep_for(20ms);
    }
  });
  constexpr int kKills = 8;
  std::mt19937 random(4);
  for (int kill = 0; kill < kKills; ++kill) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 600));
    service_.reset();  // SIGKILL, wherever it is
    StartService();
  }
  std::this_thread::sleep_for(300ms);
  stop.store(true);
  caller.join();
  service_.reset();
  ASSERT_GT(admitted.load(), 40);

  std::map<std::string, long> connects, seconds;
  for (const auto& r : Records()) {
    if (r.kind == common::kRecordConnection) ++connects[r.user];
    if (r.kind == common::kRecordHangUp) seconds[r.user] += r.duration;
  }
  long connectLag = 0, secondLag = 0;
  for (int u = 0; u < kUserCount; ++u) {
    const std::string a = Account(u);
    const long c = std::stol(plat::ProfileGetString(kUsers, a, "TotalConnects", "0"));
    const long t = std::stol(plat::ProfileGetString(kUsers, a, "TotalTime", "0"));
    const long p = std::stol(plat::ProfileGetString(kUsers, a, "PeriodUsage", "0"));
    EXPECT_LE(c, connects[a]) << a << ": more connections counted than recorded";
    EXPECT_LE(t, seconds[a]) << a << ": more time charged than recorded";
    EXPECT_LE(p, seconds[a]) << a << ": more period use charged than recorded";
    connectLag += connects[a] - c;
    secondLag += seconds[a] - t;
  }
  RecordProperty("admitted", admitted.load());
  RecordProperty("connections_lagging", static_cast<int>(connectLag));
  RecordProperty("seconds_lagging", static_cast<int>(secondLag));
  // Each kill interrupts at most one message.
  EXPECT_LE(connectLag, kKills);
  EXPECT_LE(secondLag, kKills * 29L);
}

// The data folder turns read-only, then disappears, then comes back: callers
// are answered throughout, each outage of a file is reported once, and
// recording resumes by itself.
TEST_F(FaultsTest, ADataFolderReadOnlyThenGoneThenBackIsReportedOnceAndRecordingResumes) {
  const bool mounts = PrivateMounts();
  if (!mounts && ::geteuid() == 0) GTEST_SKIP() << "root without the right to mount: no way to make the folder read-only";
  StartService();
  ASSERT_TRUE(Dial(1, 0, 10).hungUp);
  const size_t recordsBefore = Records().size();
  ASSERT_EQ(recordsBefore, 2u);

  ReadOnlyFolder readOnly(DataFolder(), mounts);
  ASSERT_TRUE(readOnly.ok());
  // Admitted unrecorded, as the policy says; the session still counts.
  const Session on = Dial(2, 1, 0, /*hangUp=*/false);
  EXPECT_TRUE(on.admitted);
  EXPECT_FALSE(Dial(2, 2, 0, false).admitted) << "a second login on this server is still refused";
  EXPECT_TRUE(Dial(3, 3, 10).hungUp);
  EXPECT_EQ(Records().size(), recordsBefore) << "nothing could be written";
  EXPECT_EQ(Events(kEventCannotRecord, kDayLog), 1) << "once per outage, not once per message";
  for (const auto& [file, n] : OutagesByFile(kEventCannotRecord)) EXPECT_EQ(n, 1) << file;

  readOnly.Restore();
  const Session after = Dial(4, 4, 10);
  EXPECT_TRUE(after.hungUp);
  EXPECT_TRUE(HasConnectionRecord(after));
  EXPECT_EQ(Events(kEventRecordingAgain, kDayLog), 1);

  // Gone: profiles cannot be read either.
  fs::rename(DataFolder(), DataFolder() + ".away");
  const Session gone = Dial(5, 5, 10);
  EXPECT_TRUE(gone.answered) << "the caller is answered, not left to time out";
  EXPECT_FALSE(gone.admitted) << "no profile can be read: refused as without one";
  EXPECT_EQ(Events(kEventCannotRecord, kDayLog), 2) << "a second outage, reported once";
  EXPECT_GE(Events(1), 1) << "the folder test reports it";

  fs::rename(DataFolder() + ".away", DataFolder());
  const Session back = Dial(6, 6, 10);
  EXPECT_TRUE(back.hungUp);
  EXPECT_TRUE(HasConnectionRecord(back));
  EXPECT_EQ(Events(kEventRecordingAgain, kDayLog), 2);
  // The session from the read-only time ends normally.
  std::string reply;
  ASSERT_EQ(plat::CallNamedPipe(common::kPipeName,
                                *common::HangUpMessage("COM2", Account(2), "*", std::to_string(on.start), 5),
                                &reply, 2000, 10000), 0u);
  EXPECT_TRUE(Dial(2, 2, 10).admitted) << "its hang-up freed the user";
}

// A full file system under the data folder: what cannot be written is
// reported, what was written stays whole, and recording resumes once there
// is room again.
TEST_F(FaultsTest, AFullFileSystemLosesNothingSilentlyAndKeepsWhatWasWritten) {
  if (!PrivateMounts()) GTEST_SKIP() << "a full file system needs root and the right to mount a small tmpfs";
  // The folder's files onto a 1 MB tmpfs mounted over it.
  const std::string folder = DataFolder();
  const std::string copy = net_.root() + "/PLData.copy";
  fs::copy(folder, copy, fs::copy_options::recursive);
  ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m,mode=0770"), 0) << errno;
  struct Unmount {
    std::string folder;
    ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
  } unmount{folder};
  fs::copy(copy, folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);

  StartService();
  ASSERT_TRUE(Dial(1, 0, 10).hungUp);
  {
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  std::vector<Session> during;
  // Enough records that the day log needs room it cannot have.
  for (int i = 0; i < 60; ++i) during.push_back(Dial(2 + i % 8, i % 4, 10));
  for (const Session& s : during) EXPECT_TRUE(s.answered && s.admitted);
  // A record that fits in the file's last block is still written, one that
  // does not is reported: the day log's outages come and go with the room.
  EXPECT_GE(Events(kEventCannotRecord, kDayLog), 1) << "the file system was never full";
  // Every user is still there with its limits: no rewrite left a file cut short.
  const auto users = plat::ProfileListSections(kUsers);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->size(), static_cast<size_t>(kUserCount));
  for (int u = 0; u < kUserCount; ++u) {
    EXPECT_EQ(plat::ProfileGetString(kUsers, Account(u), "MaxSessionTime", ""), "3600") << u;
  }

  fs::remove(folder + "/filler");
  const Session after = Dial(9, 1, 10);
  EXPECT_TRUE(after.hungUp);
  EXPECT_TRUE(HasConnectionRecord(after));
  EXPECT_EQ(Events(kEventRecordingAgain, kDayLog), Events(kEventCannotRecord, kDayLog))
      << "every outage ends with its report";
  // No failed append left a piece of a record that the next one continued.
  std::string text;
  ASSERT_EQ(plat::ReadWholeFile(testing::TodaysLog(), &text), 0u);
  std::string section;
  size_t lines = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find('=');
    common::LogRecord r;
    ASSERT_NE(eq, std::string::npos) << line;
    EXPECT_TRUE(common::ParseLogRecord(section, line.substr(0, eq), line.substr(eq + 1), &r)) << line;
    ++lines;
  }
  EXPECT_EQ(lines, Records().size());
}

// Sixteen clients that connect and say nothing, while the service is killed
// and started again under them: a caller is answered within the hook
// module's wait before and after.
TEST_F(FaultsTest, SixteenSilentClientsAndARestartLeaveCallersAnswered) {
  StartService();
  const testing::SilentClients silent(net_.root(), 16);
  std::this_thread::sleep_for(300ms);
  auto callers = [](int round) {
    for (int i = 0; i < 6; ++i) {
      const auto before = std::chrono::steady_clock::now();
      const Session s = Dial(i, i % 4, 5);
      EXPECT_TRUE(s.admitted && s.hungUp) << "round " << round << ", caller " << i;
      EXPECT_LT(std::chrono::steady_clock::now() - before, 2 * std::chrono::milliseconds(common::kPipeWaitMs));
    }
  };
  callers(1);
  service_.reset();
  StartService();
  std::this_thread::sleep_for(300ms);
  callers(2);
}

}  // namespace
}  // namespace svc
