// Two servers on real hosts (scripts/host_network.sh): plsvc, the
// remote-access service and PL_RAS.dll on SRV1 and on SRV2, both with the
// data folder \\SRV1\PL_NT_DB reached over SMB (SRV1's own plsvc through its
// own smbd), callers dialling in through rasctl on either host.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/data_folder.h"
#include "common/event_ids.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/record_spool.h"
#include "common/product_keys.h"
#include "common/profile_keys.h"
#include "common/service_values.h"
#include "common/testing/installed_modules.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/testing/host_network.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "service/settings.h"
#include "service/system_data.h"
#include "service/tests/installed_plsvc.h"

namespace svc {
namespace {

using namespace std::chrono_literals;
using plat::DWORD;

constexpr const char* kShare = "\\\\SRV1\\PL_NT_DB";
constexpr const char* kProgramFolder = "C:\\Program Files\\Portulon";
constexpr const char* kModule = "PL_RAS.dll";
constexpr int kPorts = 4;  // COM1..COM4 of each host's remote-access service

using plat::testing::Shell;

std::string Quote(const std::string& s) { return plat::testing::ShellQuote(s); }

std::string Account(int u) { return "DOM\\u" + std::to_string(u); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

// Stops the callers and waits for them, also when a test ends early.
struct StopCallers {
  std::atomic<bool>& stop;
  std::vector<std::thread>& threads;
  ~StopCallers() { Now(); }
  void Now() {
    stop.store(true);
    for (auto& t : threads) {
      if (t.joinable()) t.join();
    }
  }
};

// One dial-in as rasctl saw it.
struct Call {
  std::string host;
  int user = 0;
  bool admitted = false;
  bool hungUp = false;
};

class SmbServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = plat::testing::HostNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    ::setenv("PORTULON_BIN_DIR", plat::testing::BinDir().c_str(), 1);
    std::string out;
    ASSERT_TRUE(net_.Up(&out)) << out;
    dir_ = net_.dir();
    for (const char* host : {"SRV1", "SRV2"}) ASSERT_NO_FATAL_FAILURE(Install(host));
  }

  void TearDown() override {
    if (dir_.empty()) return;
    for (const char* host : {"SRV2", "SRV1"}) {
      Kill(host, "Portulon");
      Kill(host, "RemoteAccess");
    }
    ::unlink((dir_ + "/held").c_str());  // the cut test's; the rest is the script's
    std::string out;
    EXPECT_TRUE(net_.Down(&out)) << out;
  }

  // ---- the network

  std::string Script(const std::string& command, const std::string& rest) const {
    return net_.ScriptLine(command, rest);
  }
  std::string Root(const std::string& host) const { return net_.MachineRoot(host); }
  std::string ShareFolder() const { return net_.ShareFolder(); }
  // A file of the data folder as the test (on no host) reads it: from SRV1's disk.
  std::string Local(const std::string& name) const { return "Z:" + ShareFolder() + "/" + name; }
  std::string DayLog() const {
    return "Z:" + ShareFolder() + "/" + common::kDayLogFolder + "/" + common::DayLogName(plat::Now()) + ".log";
  }

  // A built program run on `host`, in its network namespace.
  int On(const std::string& host, const std::string& program, const std::string& args, std::string* out = nullptr) {
    return Shell(Script("exec", host + " " + Quote(plat::testing::BinDir() + "/" + program) + " " + args), out);
  }

  // Portulon as the installer puts it on `host`, with the data folder of SRV1,
  // and the domain DOM (the host its own controller) with ann and u0..u39.
  void Install(const std::string& host) {
    plat::SetCurrentMachineRoot(Root(host));
    std::string folder;
    ASSERT_EQ(plat::ResolvePath(kProgramFolder, &folder), plat::ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(common::testing::InstallPlsvcInto(folder));
    std::filesystem::copy_file(plat::testing::BinDir() + "/" + kModule, folder + "/" + kModule,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(plat::RegWriteString("Software\\Microsoft\\RAS\\AdminDLL", "DLLPath",
                                   std::string(kProgramFolder) + "\\" + kModule),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegWriteString(kServiceKey, common::kMasterShareValue, kShare), plat::ERROR_SUCCESS);
    // Every record in portulon.log as well.
    ASSERT_EQ(plat::RegWriteDword(kServiceKey, common::kLogToLargeFileValue, 1), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainCreate("DOM", host), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddUser("DOM", "ann", "", {}), plat::ERROR_SUCCESS);
    for (int u = 0; u < 40; ++u) ASSERT_EQ(plat::DomainAddUser("DOM", "u" + std::to_string(u), "", {}), 0u);
    if (host == "SRV1") {
      std::filesystem::create_directories(ShareFolder() + "/" + common::kDayLogFolder);
      std::vector<plat::ProfileChange> profiles = {{"DOM\\ann", common::kMaxSessionTime, "3600"},
                                                   {"DOM\\ann", common::kNoDuplicate, "1"}};
      for (int u = 0; u < 40; ++u) {
        profiles.push_back({Account(u), common::kMaxSessionTime, "3600"});
        profiles.push_back({Account(u), common::kPeriodType, "1"});
      }
      ASSERT_EQ(plat::ProfileApply(Local(common::kUsersFile), profiles), plat::ERROR_SUCCESS);
      // The status mail's counts kept in svc_status.dat, the mail itself
      // never due (no hour reaches 24).
      ASSERT_EQ(plat::ProfileApply(Local(common::kSystemDataFile), {{kGeneralSection, "DailyStatusEmailType", "1"},
                                                                    {kGeneralSection, "DailyStatusEmailHour", "24"}}),
                plat::ERROR_SUCCESS);
    }
  }

  void Start(const std::string& host, const std::string& service) {
    std::string out;
    ASSERT_EQ(On(host, "sc", "start " + service, &out), 0) << host << " " << service << ": " << out;
    if (service != "Portulon") return;
    plat::SetCurrentMachineRoot(Root(host));
    ASSERT_TRUE(WaitUntil(
        [] {
          std::string reply;
          return plat::CallNamedPipe(common::kPipeName, "UPDATE_UPDATE", &reply, 2000, 100) == plat::ERROR_SUCCESS;
        },
        20s))
        << "plsvc on " << host << " never answered";
  }
  void StartAll() {
    for (const char* host : {"SRV1", "SRV2"}) {
      ASSERT_NO_FATAL_FAILURE(Start(host, "RemoteAccess"));
      ASSERT_NO_FATAL_FAILURE(Start(host, "Portulon"));
    }
  }
  // SIGKILL, as a crash.
  void Kill(const std::string& host, const std::string& service) {
    plat::SetCurrentMachineRoot(Root(host));
    plat::ServiceManager scm;
    plat::ServiceHandle handle;
    if (plat::ServiceManager::Open("", &scm) != plat::ERROR_SUCCESS ||
        scm.OpenService(service, &handle) != plat::ERROR_SUCCESS) {
      return;
    }
    if (const DWORD pid = handle.ProcessId(); pid != 0) {
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      plat::WaitForServiceState(handle, plat::SERVICE_STOPPED, 10000);
    }
  }

  // rasctl on `host` (it needs no network: the remote-access service is local).
  std::string Ras(const std::string& host, const std::string& args) {
    std::string out;
    Shell(Quote(plat::testing::BinDir() + "/rasctl") + " --machine " + Quote(Root(host)) + " " + args, &out);
    return out;
  }
  std::string Dial(const std::string& host, const std::string& port, const std::string& account) {
    return Ras(host, "dial " + port + " " + Quote(account));
  }
  static bool Admitted(const std::string& words) { return words.find(" admitted") != std::string::npos; }
  static bool RefusedAsConnected(const std::string& words) {
    return words.find("refused (4: User already connected)") != std::string::npos;
  }

  // Portulon's events `id` on `host`.
  int Events(const std::string& host, DWORD id) {
    plat::SetCurrentMachineRoot(Root(host));
    int n = 0;
    for (const auto& e : common::testing::PortulonEvents()) n += e.eventId == id;
    return n;
  }

  // Callers on every port of both hosts until `stop`: each dials a random
  // user, holds the line 0-1.5 s and hangs up. Every call is kept in `calls`.
  std::vector<std::thread> Callers(std::atomic<bool>* stop, std::vector<Call>* calls, std::mutex* mutex,
                                   int firstUser, int users) {
    std::vector<std::thread> threads;
    int seed = 1;
    for (const std::string host : {"SRV1", "SRV2"}) {
      for (int p = 1; p <= kPorts; ++p) {
        threads.emplace_back([=, this] {
          std::mt19937 random(seed * 7 + p);
          const std::string port = "COM" + std::to_string(p);
          while (!stop->load()) {
            Call call{host, firstUser + static_cast<int>(random() % users)};
            call.admitted = Admitted(Dial(host, port, Account(call.user)));
            if (call.admitted) {
              std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
              call.hungUp = Ras(host, "hangup " + port).find("error") == std::string::npos;
            } else {
              std::this_thread::sleep_for(200ms);
            }
            std::lock_guard lock(*mutex);
            calls->push_back(call);
          }
        });
      }
      ++seed;
    }
    return threads;
  }

  // What the day's log holds of users [first, first + count): connections,
  // hang-ups and their seconds by account.
  struct Recorded {
    std::map<std::string, long> connects, hangUps, seconds;
  };
  Recorded ReadRecords(const std::string& log, int first, int count) {
    Recorded r;
    for (const auto& rec : common::LoadLogRecords(log)) {
      bool ours = false;
      for (int u = first; u < first + count; ++u) ours = ours || rec.user == Account(u);
      if (!ours) continue;
      if (rec.kind == common::kRecordConnection) ++r.connects[rec.user];
      if (rec.kind == common::kRecordHangUp) {
        ++r.hangUps[rec.user];
        r.seconds[rec.user] += rec.duration;
      }
    }
    return r;
  }
  long Count(const char* file, const std::string& section, const std::string& key) {
    return std::stol(plat::ProfileGetString(Local(file), section, key, "0"));
  }
  long Counter(int u, const char* key) { return Count(common::kUsersFile, Account(u), key); }

  // Every user's counters equal the records of the day's log, every admitted
  // call has its connection and hang-up record (none lost, none doubled).
  void ExpectCountersEqualRecords(const std::vector<Call>& calls, int first, int count) {
    std::map<std::string, long> admitted;
    for (const Call& c : calls) {
      if (!c.admitted) continue;
      ++admitted[Account(c.user)];
      EXPECT_TRUE(c.hungUp) << c.host << " " << Account(c.user);
    }
    // No line torn: each is a section header or a key and its record.
    const std::string log = plat::testing::ReadHostFile(DayLog().substr(2));
    for (size_t at = 0, end; at < log.size(); at = end + 1) {
      end = log.find('\n', at);
      ASSERT_NE(end, std::string::npos) << "the day log ends inside a line";
      const std::string line = log.substr(at, end - at);
      EXPECT_TRUE((line.size() > 2 && line.front() == '[' && line.back() == ']') ||
                  line.find('=') != std::string::npos)
          << "torn line: " << line;
    }
    const Recorded r = ReadRecords(DayLog(), first, count);
    for (int u = first; u < first + count; ++u) {
      const std::string a = Account(u);
      const auto find = [&](const std::map<std::string, long>& m) { auto it = m.find(a); return it == m.end() ? 0L : it->second; };
      EXPECT_EQ(find(r.connects), find(admitted)) << a << ": connection records vs admissions";
      EXPECT_EQ(find(r.hangUps), find(admitted)) << a << ": hang-up records vs admissions";
      EXPECT_EQ(Counter(u, common::kTotalConnects), find(r.connects)) << a;
      EXPECT_EQ(Counter(u, common::kTotalTime), find(r.seconds)) << a;
      EXPECT_EQ(Counter(u, common::kPeriodUsage), find(r.seconds)) << a;
    }
  }

  // Waits until neither host's plsvc keeps a write for later.
  bool SpoolsEmpty(std::chrono::milliseconds limit) {
    return WaitUntil(
        [this] {
          for (const char* host : {"SRV1", "SRV2"}) {
            if (std::filesystem::exists(Root(host) + "/drive_c/WINNT/system32/" + common::kRecordSpoolFile)) return false;
          }
          return true;
        },
        limit);
  }

  plat::testing::HostNetwork net_;
  std::string dir_;  // the network's folder
};

TEST_F(SmbServersTest, BothServersUnderLoadAtOnceCountEveryRecordOnceAndTearNoFile) {
  ASSERT_NO_FATAL_FAILURE(StartAll());
  std::atomic<bool> stop{false};
  std::vector<Call> calls;
  std::mutex mutex;  // guards calls
  auto callers = Callers(&stop, &calls, &mutex, 0, 20);
  StopCallers stopCallers{stop, callers};
  std::this_thread::sleep_for(120s);
  stopCallers.Now();

  long admitted[2] = {0, 0};
  for (const Call& c : calls) admitted[c.host == "SRV2"] += c.admitted;
  RecordProperty("admitted_srv1", static_cast<int>(admitted[0]));
  RecordProperty("admitted_srv2", static_cast<int>(admitted[1]));
  EXPECT_GT(admitted[0], 50);
  EXPECT_GT(admitted[1], 50);
  ASSERT_TRUE(SpoolsEmpty(30s));
  // Every shared file reads whole, with a section per caller.
  const auto users = plat::ProfileListSections(Local(common::kUsersFile));
  ASSERT_TRUE(users);
  EXPECT_EQ(users->size(), 41u);
  ExpectCountersEqualRecords(calls, 0, 20);
  // portulon.log holds the same records; svc_status.dat counted each
  // connection once, whichever server made it.
  const Recorded day = ReadRecords(DayLog(), 0, 20), combined = ReadRecords(Local(common::kCombinedLogFile), 0, 20);
  EXPECT_EQ(combined.connects, day.connects);
  EXPECT_EQ(combined.hangUps, day.hangUps);
  long sessions = 0;
  for (int u = 0; u < 20; ++u) {
    const auto it = day.connects.find(Account(u));
    const long n = it == day.connects.end() ? 0 : it->second;
    sessions += n;
    EXPECT_EQ(Count(common::kStatusCountersFile, "Users", Account(u)), n) << Account(u);
  }
  EXPECT_EQ(Count(common::kStatusCountersFile, kGeneralSection, "Sessions"), sessions);
  for (const char* host : {"SRV1", "SRV2"}) {
    EXPECT_EQ(plat::ProfileListKeys(Local(common::kLoggedInFile), host).value_or(std::vector<std::string>{}),
              std::vector<std::string>{})
        << host << ": nobody is logged in any more";
    EXPECT_EQ(Events(host, common::kEventCannotRecord), 0) << host;
  }
}

TEST_F(SmbServersTest, NoDuplicateHoldsAcrossHostsAlsoAfterAKilledServerRestarts) {
  ASSERT_NO_FATAL_FAILURE(StartAll());
  EXPECT_TRUE(Admitted(Dial("SRV1", "COM1", "DOM\\ann")));
  EXPECT_TRUE(RefusedAsConnected(Dial("SRV2", "COM1", "DOM\\ann"))) << "logged in on SRV1";
  Ras("SRV1", "hangup COM1");
  ASSERT_TRUE(WaitUntil([&] { return Admitted(Dial("SRV2", "COM1", "DOM\\ann")); }, 10s));
  EXPECT_TRUE(RefusedAsConnected(Dial("SRV1", "COM1", "DOM\\ann"))) << "logged in on SRV2";

  // SRV2's plsvc dies with ann on line: she still counts, on both hosts,
  // before and after it comes back.
  Kill("SRV2", "Portulon");
  EXPECT_TRUE(RefusedAsConnected(Dial("SRV1", "COM2", "DOM\\ann")));
  ASSERT_NO_FATAL_FAILURE(Start("SRV2", "Portulon"));
  EXPECT_TRUE(RefusedAsConnected(Dial("SRV1", "COM2", "DOM\\ann")));
  EXPECT_TRUE(RefusedAsConnected(Dial("SRV2", "COM2", "DOM\\ann")));
  Ras("SRV2", "hangup COM1");
  ASSERT_TRUE(WaitUntil([&] { return Admitted(Dial("SRV1", "COM2", "DOM\\ann")); }, 10s));
}

// The share cut during the load (smbd stopped, then SRV2's cable pulled) and
// restored: the hosts report the outage and the return as for a local one,
// keep what they could not write and write it afterwards, and the locks of
// the host whose link died are let go within the server's keepalive.
TEST_F(SmbServersTest, TheShareCutAndRestoredDuringTheLoadLosesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartAll());
  std::atomic<bool> stop{false};
  std::vector<Call> calls;
  std::mutex mutex;  // guards calls
  auto callers = Callers(&stop, &calls, &mutex, 20, 20);
  StopCallers stopCallers{stop, callers};
  std::this_thread::sleep_for(8s);

  std::string out;
  ASSERT_EQ(Shell(Script("smbd", "stop"), &out), 0) << out;
  std::this_thread::sleep_for(6s);
  ASSERT_EQ(Shell(Script("smbd", "start"), &out), 0) << out;
  EXPECT_TRUE(WaitUntil([&] { return Events("SRV2", common::kEventRecordingAgain) >= 1; }, 30s));
  EXPECT_GE(Events("SRV2", common::kEventCannotRecord), 1);
  std::this_thread::sleep_for(4s);

  // SRV2's cable pulled while a process there holds the users file's lock,
  // as a plsvc caught in the middle of a write: the server lets go of it
  // within its keepalive, and SRV1's charges reach the file again.
  const std::string held = dir_ + "/held";
  std::thread holder([&] {
    Shell(Script("exec", "SRV2 " + Quote(plat::testing::TestProgramDir() + "/share_client") + " hold " +
                             Quote(std::string(kShare) + "\\" + common::kUsersFile) + " 40000") +
          " >" + Quote(held));
  });
  struct Join {
    std::thread& thread;
    ~Join() { thread.join(); }
  } joinHolder{holder};
  ASSERT_TRUE(WaitUntil([&] { return plat::testing::ReadHostFile(held) == "held\n"; }, 15s));
  ASSERT_EQ(Shell(Script("link", "SRV2 down"), &out), 0) << out;
  const auto cut = std::chrono::steady_clock::now();
  auto connects = [this] {
    long n = 0;
    for (int u = 20; u < 40; ++u) n += Counter(u, common::kTotalConnects);
    return n;
  };
  const long connectsAtCut = connects();
  EXPECT_TRUE(WaitUntil([&] { return connects() > connectsAtCut; }, 40s)) << "SRV1 charges again";
  const auto charging = std::chrono::steady_clock::now() - cut;
  RecordProperty("srv1_charges_again_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(charging).count()));
  EXPECT_LT(charging, 35s) << "the dead host's lock outlived the keepalive";
  std::this_thread::sleep_for(std::max<std::chrono::steady_clock::duration>(0s, 25s - charging));
  ASSERT_EQ(Shell(Script("link", "SRV2 up"), &out), 0) << out;
  EXPECT_TRUE(WaitUntil([&] { return Events("SRV2", common::kEventRecordingAgain) >= 2; }, 40s));
  EXPECT_GE(Events("SRV2", common::kEventCannotRecord), 2);
  std::this_thread::sleep_for(5s);
  stopCallers.Now();

  ASSERT_TRUE(SpoolsEmpty(60s)) << "kept writes reach the data folder";
  ExpectCountersEqualRecords(calls, 20, 20);
}

}  // namespace
}  // namespace svc
