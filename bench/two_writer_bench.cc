// What another process's write to a shared file costs the service's next
// decision: the service (this process) decides dial-ins with its caches warm
// while another process, as a second server or `pluser` would, appends a
// record to the day's log or changes one profile where it stands. For each
// kind of change: the NEW right after it (IsThisUserOK in one request, as the
// pipe handler runs it), next to NEWs after no change; the first NEW of a
// freshly started service; the service's resident memory.
//
//   two_writer_bench [--users 100000] [--records 1000000] [--rounds 50]
//   (the network goes to $TMPDIR or /tmp)

#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/request_scope.h"
#include "service/admission.h"
#include "service/port_table.h"
#include "service/service_context.h"
#include "service/session_log.h"
#include "service/system_data.h"

namespace {

constexpr int kPorts = 16;
constexpr int kDialUsers = 100;
constexpr std::time_t kStart = 1710237600;  // 2024-03-12 10:00 UTC

std::string Port(int i) { return "SRV1\\COM" + std::to_string(i % kPorts + 1); }
std::string Account(int i) { return "DOM\\user" + std::to_string(i); }

using bench::Check;
using bench::LoadAverage;

// Profiles as the service leaves them: usage values in their fixed width.
std::string UserFile(int profiles) {
  std::string text;
  text.reserve(static_cast<size_t>(profiles) * 330);
  auto usage = [](long v) {
    std::string s = std::to_string(v);
    return s.append(11 - std::min<size_t>(11, s.size()), ' ');
  };
  for (int i = 0; i < profiles; ++i) {
    text += "[" + Account(i) + "]\nMaxSessionTime=3600\nMaxTotalTime=0\nExpiryTime=365\n"
            "PeriodType=1\nPeriodMax=14400\nNoDuplicate=1\nStaticIP=0\nTotalConnects=" + usage(i) +
            "\nTotalDenieds=" + usage(2) + "\nTotalTime=" + usage(i % 1000 * 60) +
            "\nFirstConnection=" + usage(kStart - 86400 * 30) + "\nLastConnection=" + usage(kStart - 86400) +
            "\nLasted=" + usage(300) + "\nPeriodUsage=" + usage(0) + "\nPeriodStamp=" + usage(kStart - 86400) + "\n";
  }
  return text;
}

std::string SystemDataFile() {
  std::string text =
      "[General]\nNotify1=300\nNotify2=60\nDailyStatusEmailType=0\n"
      "[Default]\nAssignDefault=0\n[Greetings]\nRuleMask=0\n";
  for (int p = 0; p < kPorts; ++p) text += "[" + Port(p) + "]\nMaxSessionTime=7200\nIdle=15\nActive=0\n";
  return text;
}

// A busy day of two servers: runs of a few records per port, so that each
// port's section continues in many parts down the file.
std::string DayLogFile(int records) {
  std::string text;
  text.reserve(static_cast<size_t>(records) * 50);
  for (int r = 0; r < records; ++r) {
    if (r % 4 == 0) text += "[" + std::string(r % 8 < 4 ? "SRV1" : "SRV2") + "\\COM" + std::to_string(r / 4 % kPorts + 1) + "]\n";
    const std::string who = Account(r % 100000);
    text += std::to_string(kStart - 36000 + r / 30) + (r % 30 ? "." + std::to_string(r % 30) : "") + "=" +
            (r % 2 ? "H300_" + who + "?167772170?0::PC:1000:2000" : "C_" + who) + "\n";
  }
  return text;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long RssMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
  }
  return -1;
}

// Another process's write: a child that makes it and ends.
bool InOtherProcess(const std::function<bool()>& write) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(write() ? 0 : 1);
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Service {
  svc::ServiceContext ctx;
  std::time_t now = kStart;
  int i = 0;

  Service() {
    ctx.serverName = "SRV1";
    ctx.paths = svc::MakeDataPaths("C:\\PLData", plat::GetCurrentDirectory());
    ctx.clock = [this] { return now; };
  }
  // One NEW as the pipe handler runs it (one request), timed; its hang-up after, untimed.
  double New(int profiles) {
    const int u = (i % kDialUsers) * (profiles / kDialUsers);
    const std::string port = Port(i++);
    const std::time_t start = now;
    double ms = 0;
    {
      plat::RequestScope request;
      const auto t0 = std::chrono::steady_clock::now();
      const int result = svc::IsThisUserOK(ctx, "PC", Account(u), port, start);
      ms = Ms(std::chrono::steady_clock::now() - t0);
      if (result != svc::kAdmitted) std::fprintf(stderr, "refused %s: %d\n", Account(u).c_str(), result);
    }
    now += 30;
    {
      plat::RequestScope request;
      svc::Log_HangUp(ctx, Account(u), port, 30, start);
    }
    now += 1;
    return ms;
  }
};

void Report(const char* what, std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::printf("  NEW %-44s p50 %8.3f ms  p90 %8.3f ms  max %8.3f ms  (%zu)\n", what, v[v.size() / 2],
              v[v.size() * 9 / 10], v.back(), v.size());
}


}  // namespace

int main(int argc, char** argv) {
  int profiles = 100000, records = 1000000, rounds = 50;
  for (int a = 1; a + 1 < argc; a += 2) {
    if (!std::strcmp(argv[a], "--users")) profiles = std::max(kDialUsers, std::atoi(argv[a + 1]));
    if (!std::strcmp(argv[a], "--records")) records = std::max(0, std::atoi(argv[a + 1]));
    if (!std::strcmp(argv[a], "--rounds")) rounds = std::max(1, std::atoi(argv[a + 1]));
  }
  const std::string network = bench::MakeNetwork("two-writer-bench");
  std::string root;
  if (network.empty() || !bench::ProvisionSrv1(network, &root)) return 1;
  plat::DomainCreate("DOM", "SRV1");
  plat::DomainAddGroup("DOM", "Dialers");
  for (int u = 0; u < kDialUsers; ++u) plat::DomainAddUser("DOM", "user" + std::to_string(u * (profiles / kDialUsers)), "", {"Dialers"});

  const std::string dayLog = common::DayLogPath("C:\\PLData", "2024-Mar-12");
  // The files are made by a process of their own, so that this one's memory is the service's.
  if (!InOtherProcess([&] {
        Service s;
        plat::CreateDirectory("C:\\PLData");
        plat::CreateDirectory("C:\\PLData\\LogData");
        return Check(plat::WriteWholeFile(s.ctx.paths.users, UserFile(profiles)), "users") &&
               Check(plat::WriteWholeFile(s.ctx.paths.systemData, SystemDataFile()), "system data") &&
               Check(plat::WriteWholeFile(dayLog, DayLogFile(records)), "day log");
      })) {
    return 1;
  }
  std::uint64_t usersSize = 0, daySize = 0;
  plat::GetFileSize(svc::MakeDataPaths("C:\\PLData", "C:\\").users, &usersSize);
  plat::GetFileSize(dayLog, &daySize);
  std::printf("%d profiles (%.1f MB), day log of %d records (%.1f MB), %d rounds, load %s\n", profiles,
              static_cast<double>(usersSize) / 1e6, records, static_cast<double>(daySize) / 1e6, rounds,
              LoadAverage().c_str());

  Service service;
  svc::ReadSystemDataFromCentralDB(service.ctx);
  timespec cpu0{}, cpu1{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  const double first = service.New(profiles);
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  const double cpuMs = (cpu1.tv_sec - cpu0.tv_sec) * 1e3 + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e6;
  std::printf("  first NEW after a start %.1f ms (with its hang-up %.1f ms of CPU), resident memory %ld MB\n", first,
              cpuMs, RssMb());
  for (int w = 0; w < 5; ++w) service.New(profiles);  // every file seen once

  std::vector<double> quiet, afterAppend, afterProfile;
  for (int r = 0; r < rounds; ++r) {
    quiet.push_back(service.New(profiles));
    // The second server's record on one of its ports.
    InOtherProcess([&] {
      return plat::ProfileAppendRecord(dayLog, "SRV2\\COM" + std::to_string(r % kPorts + 1),
                                       std::to_string(service.now) + ".9" + std::to_string(r), "C_DOM\\elsewhere") ==
             plat::ERROR_SUCCESS;
    });
    afterAppend.push_back(service.New(profiles));
    // `pluser` changing one profile's limit where it stands.
    InOtherProcess([&] {
      return plat::ProfileWriteString(service.ctx.paths.users, Account(r * 7 % profiles), "MaxSessionTime",
                                      r % 2 ? "3600" : "3601") == plat::ERROR_SUCCESS;
    });
    afterProfile.push_back(service.New(profiles));
  }
  Report("with no other writer", quiet);
  Report("after another process's day-log record", afterAppend);
  Report("after another process's in-place profile change", afterProfile);
  std::printf("  resident memory at the end %ld MB, load %s\n", RssMb(), LoadAverage().c_str());
  std::error_code ec;
  std::filesystem::remove_all(network, ec);
  return 0;
}
