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

#include "common/dial_outcome.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/testing/temp_network.h"
#include "service/tests/console_plsvc.h"
#include "service/event_report.h"
#include "service/tests/pipe_clients.h"
#include "service/write_health.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;
using testing::Account;
using testing::Dial;
using testing::Port;
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

  // The second texts of Portulon's events `id`, oldest first.
  static std::vector<std::string> EventTexts(DWORD id) {
    plat::EventLogReader reader;
    std::vector<plat::EventRecord> records;
    if (plat::EventLogReader::Open("", "Application", &reader) == plat::ERROR_SUCCESS) reader.ReadAll(&records);
    std::vector<std::string> texts;
    for (const auto& r : records) {
      if (r.source == "Portulon" && r.eventId == id) texts.push_back(r.strings.size() == 2 ? r.strings[1] : "");
    }
    return texts;
  }

  // The spool where the service keeps what the data folder would not take.
  std::string SpoolFile() const { return net_.DriveC("WINNT/system32/plspool.dat"); }

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
  EXPECT_EQ(Events(common::kEventCannotRecord, kDayLog), 1) << "once per outage, not once per message";
  for (const auto& [file, n] : OutagesByFile(common::kEventCannotRecord)) EXPECT_EQ(n, 1) << file;

  readOnly.Restore();
  const Session after = Dial(4, 4, 10);
  EXPECT_TRUE(after.hungUp);
  EXPECT_TRUE(HasConnectionRecord(after));
  EXPECT_EQ(Events(common::kEventRecordingAgain, kDayLog), 1);

  // Gone: profiles cannot be read either.
  fs::rename(DataFolder(), DataFolder() + ".away");
  const Session gone = Dial(5, 5, 10);
  EXPECT_TRUE(gone.answered) << "the caller is answered, not left to time out";
  EXPECT_FALSE(gone.admitted) << "no profile can be read: refused as without one";
  EXPECT_EQ(Events(common::kEventCannotRecord, kDayLog), 2) << "a second outage, reported once";
  EXPECT_GE(Events(1), 1) << "the folder test reports it";

  fs::rename(DataFolder() + ".away", DataFolder());
  const Session back = Dial(6, 6, 10);
  EXPECT_TRUE(back.hungUp);
  EXPECT_TRUE(HasConnectionRecord(back));
  EXPECT_EQ(Events(common::kEventRecordingAgain, kDayLog), 2);
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
  // Whatever fits now and then, it is one outage: what does not fit is kept,
  // and what comes after waits behind it.
  EXPECT_EQ(Events(common::kEventCannotRecord, kDayLog), 1) << "one outage, not one per change of the free room";
  for (const auto& [file, n] : OutagesByFile(common::kEventCannotRecord)) EXPECT_EQ(n, 1) << file;
  EXPECT_EQ(Events(common::kEventRecordingAgain), 0) << "nothing ended while the disk was full";
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
  EXPECT_EQ(Events(common::kEventRecordingAgain, kDayLog), 1) << "the outage ends with its report";
  for (const Session& s : during) EXPECT_TRUE(HasConnectionRecord(s)) << "kept and written late: " << s.user;
  EXPECT_FALSE(fs::exists(SpoolFile()));
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

// A dial-in that began `ago` seconds back and its hang-up after all of them.
Session DialLasting(int user, int port, long ago) {
  Session s{user, port, static_cast<long>(plat::Now()) - ago, false, false, false, ago};
  std::string reply;
  const std::string startText = std::to_string(s.start);
  if (plat::CallNamedPipe(common::kPipeName, *common::NewConnectionMessage(Port(port), Account(user), "*", startText),
                          &reply, 2000, 10000) != plat::ERROR_SUCCESS) {
    return s;
  }
  s.answered = true;
  s.admitted = common::ReplyCode(reply) == common::kReplyAccepted;
  if (s.admitted) {
    s.hungUp = plat::CallNamedPipe(common::kPipeName,
                                   *common::HangUpMessage(Port(port), Account(user), "*", startText, ago), &reply,
                                   2000, 10000) == plat::ERROR_SUCCESS;
  }
  return s;
}

// The data folder read-only while a user is charged, and the service killed
// meanwhile: the records and charges it could not write wait in its spool on
// drive C:, and the next start writes them, in order, before it decides the
// next caller. The user's limit holds, and the day's log is whole.
TEST_F(FaultsTest, WhatAWriteOutageKeptIsWrittenLateEvenAfterARestartAndTheLimitHolds) {
  const bool mounts = PrivateMounts();
  if (!mounts && ::geteuid() == 0) GTEST_SKIP() << "root without the right to mount: no way to make the folder read-only";
  const long now = static_cast<long>(plat::Now());
  ASSERT_EQ(plat::ProfileApply(kUsers, {{Account(2), "MaxTotalTime", "100"},
                                        {Account(2), "LastConnection", std::to_string(now - 86400)},
                                        {Account(3), "LastConnection", std::to_string(now - 86400)}}),
            0u);
  StartService();
  ReadOnlyFolder readOnly(DataFolder(), mounts);
  ASSERT_TRUE(readOnly.ok());
  const Session charged = DialLasting(2, 0, 500);
  ASSERT_TRUE(charged.admitted && charged.hungUp);
  const Session other = Dial(3, 1, 10);
  ASSERT_TRUE(other.hungUp);
  EXPECT_TRUE(Records().empty()) << "nothing could be written";
  EXPECT_TRUE(fs::exists(SpoolFile()));
  ASSERT_FALSE(EventTexts(common::kEventCannotRecord).empty());
  const std::string cannot = EventTexts(common::kEventCannotRecord)[0];
  EXPECT_NE(cannot.find("kept in"), std::string::npos) << cannot;

  service_.reset();  // killed with its writes kept
  readOnly.Restore();
  StartService();
  const Session again = Dial(2, 2, 10, false);
  ASSERT_TRUE(again.answered);
  EXPECT_FALSE(again.admitted) << "the 500 s charged in the outage count against MaxTotalTime 100";
  EXPECT_EQ(plat::ProfileGetString(kUsers, Account(2), "TotalTime", ""), "500");
  EXPECT_EQ(plat::ProfileGetString(kUsers, Account(2), "TotalConnects", ""), "1");
  EXPECT_EQ(plat::ProfileGetString(kUsers, Account(3), "TotalTime", ""), "10");

  std::vector<std::string> u2;
  for (const auto& r : Records()) {
    if (r.user != Account(2)) continue;
    if (r.kind == common::kRecordConnection) {
      u2.push_back("C");
      EXPECT_EQ(r.time, charged.start);
    }
    if (r.kind == common::kRecordHangUp) u2.push_back("H" + std::to_string(r.duration));
    if (r.kind == common::kRecordRefusal) u2.push_back("N" + std::to_string(r.reason));
  }
  EXPECT_EQ(u2, (std::vector<std::string>{"C", "H500", "N3"}));
  EXPECT_TRUE(HasConnectionRecord(other));
  const auto late = EventTexts(common::kEventRecordingAgain);
  ASSERT_FALSE(late.empty());
  bool dayLogLate = false;
  for (const auto& text : late) dayLogLate |= text.rfind(std::string(kDayLog) + ": 4 writes were kept and written late", 0) == 0;
  EXPECT_TRUE(dayLogLate) << ::testing::PrintToString(late);
  EXPECT_FALSE(fs::exists(SpoolFile())) << "everything written";
}

// Once the folder writes again, a server nobody dials writes what it kept on
// its own (between supervision passes), not only before the next caller.
TEST_F(FaultsTest, AQuietServerWritesWhatItKeptOnceTheFolderWritesAgain) {
  const bool mounts = PrivateMounts();
  if (!mounts && ::geteuid() == 0) GTEST_SKIP() << "root without the right to mount: no way to make the folder read-only";
  ::setenv("PORTULON_ACTION_INTERVAL_MS", "200", 1);
  struct Unset {
    ~Unset() { ::unsetenv("PORTULON_ACTION_INTERVAL_MS"); }
  } unset;
  StartService();
  ReadOnlyFolder readOnly(DataFolder(), mounts);
  ASSERT_TRUE(readOnly.ok());
  const Session kept = Dial(1, 0, 10);
  ASSERT_TRUE(kept.hungUp);
  std::this_thread::sleep_for(1s);  // passes while the folder is still read-only
  ASSERT_TRUE(fs::exists(SpoolFile()));
  readOnly.Restore();
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (fs::exists(SpoolFile()) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(fs::exists(SpoolFile())) << "nobody dialled, and the spool was written all the same";
  EXPECT_TRUE(HasConnectionRecord(kept));
  EXPECT_EQ(Events(common::kEventRecordingAgain, kDayLog), 1);
}

// The data folder gone while callers dial in: one event when it goes (saying
// what is done to them) and one when it is back, not one per caller; each
// caller's reason says the profile could not be read, before and after its
// record reaches the day log.
TEST_F(FaultsTest, AnUnreadableDataFolderIsOneOutageAndEachCallerIsToldWhatWasDone) {
  StartService();
  ASSERT_TRUE(Dial(1, 0, 10).hungUp);
  fs::rename(DataFolder(), DataFolder() + ".away");
  const long since = static_cast<long>(plat::Now());
  constexpr int kCallers = 12;
  for (int i = 0; i < kCallers; ++i) {
    const Session s = Dial(2 + i % 8, i % 4, 10);
    EXPECT_TRUE(s.answered);
    EXPECT_FALSE(s.admitted) << "no profile can be read";
  }
  const auto gone = EventTexts(common::kEventShareAccessFailed);
  ASSERT_EQ(gone.size(), 1u) << "one event when the outage begins, not one per caller";
  EXPECT_NE(gone[0].find("callers are refused"), std::string::npos) << gone[0];
  for (const auto& text : EventTexts(common::kEventCannotRecord)) {
    EXPECT_EQ(text.find("admitted"), std::string::npos) << "nobody was admitted: " << text;
  }
  const std::string unreadable = " (7: Profile could not be read: data folder unreachable";
  EXPECT_EQ(common::DescribeDialOutcome(false, "COM1", Account(2), since),
            unreadable + "; kept by Portulon until its data folder can be written)");

  fs::rename(DataFolder() + ".away", DataFolder());
  EXPECT_TRUE(Dial(1, 0, 10).admitted);
  EXPECT_EQ(EventTexts(common::kEventShareAccessFailed).size(), 1u);
  const auto back = EventTexts(common::kEventDataFolderBack);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_NE(back[0].find(std::to_string(kCallers) + " failed"), std::string::npos) << back[0];
  int refusals = 0;
  for (const auto& r : Records()) refusals += r.kind == common::kRecordRefusal && r.reason == 7;
  EXPECT_EQ(refusals, kCallers) << "every refusal reached the day log";
  EXPECT_EQ(common::DescribeDialOutcome(false, "COM1", Account(2), since), unreadable + ")");
}

// portulon.hw unreadable at an UPDATE_UPDATE and at a start: the default
// profile given to newcomers stays in force, that is reported once, and the
// file is read again as soon as the folder is back.
TEST_F(FaultsTest, SharedSettingsThatCannotBeReadStayInForceAndAreReadAgainOnceTheFolderIsBack) {
  ASSERT_EQ(plat::ProfileApply("C:\\PLData\\portulon.hw",
                               {{"Default", "AssignDefault", "1"}, {"Default", "MaxSessionTime", "600"}}),
            0u);
  for (const char* user : {"new1", "new2"}) ASSERT_EQ(plat::DomainAddUser("DOM", user, "", {}), 0u);
  auto newcomer = [](const char* user, const char* port) {
    std::string reply;
    return plat::CallNamedPipe(common::kPipeName, *common::NewConnectionMessage(port, std::string("DOM\\") + user, "*", "0"),
                               &reply, 2000, 10000) == plat::ERROR_SUCCESS &&
           common::ReplyCode(reply) == common::kReplyAccepted;
  };
  auto update = [] {
    std::string reply;
    return plat::CallNamedPipe(common::kPipeName, "UPDATE_UPDATE", &reply, 2000, 10000);
  };
  StartService();
  fs::rename(DataFolder(), DataFolder() + ".away");
  ASSERT_EQ(update(), 0u);
  ASSERT_EQ(update(), 0u);
  EXPECT_EQ(EventTexts(common::kEventSharedSettingsKept).size(), 1u) << "reported once";
  fs::rename(DataFolder() + ".away", DataFolder());
  EXPECT_TRUE(newcomer("new1", "COM1")) << "the default profile still applies";
  EXPECT_EQ(plat::ProfileGetString(kUsers, "DOM\\new1", "MaxSessionTime", ""), "600");
  EXPECT_EQ(EventTexts(common::kEventSharedSettingsRead).size(), 1u);

  // A start while the folder is away: nothing to keep yet, read once it is back.
  service_.reset();
  fs::rename(DataFolder(), DataFolder() + ".away");
  service_ = std::make_unique<testing::ConsolePlsvc>();
  ASSERT_TRUE(service_->WaitFor("Cannot read portulon.hw")) << service_->Output();
  fs::rename(DataFolder() + ".away", DataFolder());
  ASSERT_TRUE(service_->WaitFor("Success Create Named Pipe", 30s)) << service_->Output();
  EXPECT_TRUE(newcomer("new2", "COM2")) << "read as soon as the folder was back";
  EXPECT_EQ(EventTexts(common::kEventSharedSettingsKept).size(), 2u);
  EXPECT_EQ(EventTexts(common::kEventSharedSettingsRead).size(), 2u);
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
