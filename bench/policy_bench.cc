// The cost of one admission plus one hang-up, every file access included:
// IsThisUserOK (profile, groups from the domain controller, roster, port
// section, period, connection record, usage keys, Active, counters, port
// table), the roster key the pipe handler adds, and Log_HangUp (roster, usage
// keys, Active, System event-log lookup, hang-up record, counters).
//
// For 1,000, 10,000 and 100,000 user profiles, with the day's log already
// holding 10,000 records and the status counters on.
//
//   policy_bench [iterations]      (the network goes to $TMPDIR or /tmp)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/data_folder.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "service/admission.h"
#include "service/port_table.h"
#include "service/service_context.h"
#include "service/session_log.h"
#include "service/system_data.h"

namespace {

constexpr int kPorts = 16;
constexpr int kDialUsers = 100;  // the accounts that dial in during the run
constexpr int kDayRecords = 10000;
constexpr std::time_t kStart = 1710237600;  // 2024-03-12 10:00 UTC

std::string Port(int i) { return "SRV1\\COM" + std::to_string(i % kPorts + 1); }
std::string Account(int i) { return "DOM\\user" + std::to_string(i); }

bool Check(plat::DWORD err, const char* what) {
  if (err != plat::ERROR_SUCCESS) std::fprintf(stderr, "%s failed: %u\n", what, err);
  return err == plat::ERROR_SUCCESS;
}

// portulon.usr with `profiles` users (the keys a profile carries after some
// use) and the groups' profiles. A fixture file, written in one go.
std::string UserFile(int profiles) {
  std::string text;
  text.reserve(static_cast<size_t>(profiles) * 330);
  for (const char* g : {"+DOM\\Dialers", "+DOM\\Staff"}) {
    text += std::string("[") + g + "]\nMaxTotalTime=360000\nMaxSessionTime=7200\nNoDuplicate=0\n"
            "PeriodType=3\nPeriodMax=72000\n";
  }
  for (int i = 0; i < profiles; ++i) {
    const std::string n = std::to_string(i);
    text += "[" + Account(i) + "]\nMaxSessionTime=3600\nMaxTotalTime=0\nExpiryTime=365\n"
            "PeriodType=1\nPeriodMax=14400\nNoDuplicate=1\nStaticIP=0\nTotalConnects=" + n +
            "\nTotalDenieds=2\nTotalTime=" + std::to_string(i % 1000 * 60) +
            "\nFirstConnection=" + std::to_string(kStart - 86400 * 30) +
            "\nLastConnection=" + std::to_string(kStart - 86400) + "\nLasted=300\n"
            "PeriodUsage=0\nPeriodStamp=" + std::to_string(kStart - 86400) + "\n";
  }
  return text;
}

std::string SystemDataFile() {
  std::string text =
      "[General]\nNotify1=300\nNotify2=60\nNotify1Text=5 minutes left\nNotify2Text=1 minute left\n"
      "DailyStatusEmailType=1\nDailyStatusEmailHour=6\nAutoArchiveAge=30\n"
      "[Default]\nAssignDefault=1\nMaxSessionTime=3600\nMaxTotalTime=0\nExpiryTime=0\n"
      "PeriodMax=0\nPeriodType=0\nNoDuplicate=0\n[Greetings]\nRuleMask=0\n";
  for (int p = 0; p < kPorts; ++p) {
    text += "[" + Port(p) + "]\nMaxSessionTime=7200\nIdle=15\nStaticIP=0\nActive=0\n" +
            (p % 2 ? "AllowedGroups=DOM\\Dialers;DOM\\RAS Users\n" : "");
  }
  return text;
}

// The day's log with `records` records spread over the ports, a day's traffic.
std::string DayLogFile(int records) {
  std::vector<std::string> sections(kPorts);
  for (int r = 0; r < records; ++r) {
    const int p = r % kPorts;
    sections[static_cast<size_t>(p)] += std::to_string(kStart - 36000 + r * 3) + "=" +
                                        (r % 3 == 0   ? "C_" + Account(r)
                                         : r % 3 == 1 ? "H300_" + Account(r) +
                                                            "?167772170?0::PC:1000:2000"
                                                      : "N_" + Account(r) + "?4") +
                                        "\n";
  }
  std::string text;
  for (int p = 0; p < kPorts; ++p) text += "[" + Port(p) + "]\n" + sections[static_cast<size_t>(p)];
  return text;
}

struct Figures {
  double admissionMedian, hangupMedian, pairMedian, pairMean, pairMax;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool Run(const std::string& network, int profiles, int iterations, Figures* out) {
  // A fresh SRV1 for each size; it is also DOM's controller.
  const std::string root = network + "/SRV1";
  std::filesystem::remove_all(root);
  std::filesystem::remove_all(network + "/domains");
  plat::MachineConfig config;
  config.name = "SRV1";
  config.domain = "DOM";
  if (!Check(plat::ProvisionMachine(root, config), "ProvisionMachine")) return false;
  plat::SetCurrentMachineRoot(root);
  if (!Check(plat::DomainCreate("DOM", "SRV1"), "DomainCreate")) return false;
  plat::DomainAddGroup("DOM", "Dialers");
  plat::DomainAddGroup("DOM", "Staff");
  for (int u = 0; u < kDialUsers; ++u) {
    plat::DomainAddUser("DOM", "user" + std::to_string(u * (profiles / kDialUsers)), "",
                        {u % 2 ? "Dialers" : "Staff"});
  }

  svc::ServiceContext ctx;
  ctx.serverName = "SRV1";
  ctx.paths = svc::MakeDataPaths("C:\\PLData", plat::GetCurrentDirectory());
  std::time_t now = kStart;
  ctx.clock = [&now] { return now; };
  plat::CreateDirectory("C:\\PLData");
  plat::CreateDirectory("C:\\PLData\\LogData");
  if (!Check(plat::WriteWholeFile(ctx.paths.users, UserFile(profiles)), "users") ||
      !Check(plat::WriteWholeFile(ctx.paths.systemData, SystemDataFile()), "system data") ||
      !Check(plat::WriteWholeFile(common::DayLogPath(ctx.paths.folder, "2024-Mar-12"), DayLogFile(kDayRecords)),
             "day log")) {
    return false;
  }
  for (int s = 2; s <= 4; ++s) {
    for (int u = 0; u < 20; ++u) {
      plat::ProfileWriteString(ctx.paths.loggedIn, "SRV" + std::to_string(s),
                               "DOM\\other" + std::to_string(s * 100 + u), "1");
    }
  }
  svc::ReadSystemDataFromCentralDB(ctx);

  plat::EventSource ras;
  if (!Check(plat::EventSource::Register("", "RemoteAccess", &ras), "event source")) return false;
  for (int r = 0; r < 2000; ++r) {  // older traffic of the System log
    ras.ReportAt(kStart - 7200 + r, plat::EVENTLOG_INFORMATION_TYPE, 0, 20050,
                 {"DOM", "someone", "COM9", "", "", "", "", "", "", "5", "6"});
  }

  std::vector<double> admission, hangup, pair;
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < iterations; ++i) {
    const int u = (i % kDialUsers) * (profiles / kDialUsers);
    const std::string user = Account(u);
    const std::string port = Port(i);
    const std::time_t start = now;
    const auto t0 = Clock::now();
    // Decides and records either outcome: port table, roster, records, counters.
    const int result = svc::IsThisUserOK(ctx, "PC" + std::to_string(u), user, port, start);
    const auto t1 = Clock::now();
    now += 45;
    // The remote-access service's record of the session (its work, not ours).
    ras.ReportAt(now, plat::EVENTLOG_INFORMATION_TYPE, 0, 20050,
                 {"DOM", "user" + std::to_string(u), port.substr(5), "", "", "", "", "", "",
                  "2000", "1000"});
    const auto t2 = Clock::now();
    svc::Log_HangUp(ctx, user, port, 45, start);
    const auto t3 = Clock::now();
    now += 15;
    if (result != svc::kAdmitted) {
      std::fprintf(stderr, "refused %s with %d\n", user.c_str(), result);
      return false;
    }
    const double a = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const double h = std::chrono::duration<double, std::milli>(t3 - t2).count();
    admission.push_back(a);
    hangup.push_back(h);
    pair.push_back(a + h);
  }
  double sum = 0;
  for (double v : pair) sum += v;
  *out = {Median(admission), Median(hangup), Median(pair), sum / static_cast<double>(pair.size()),
          *std::max_element(pair.begin(), pair.end())};
  std::uint64_t usersSize = 0;
  plat::GetFileSize(ctx.paths.users, &usersSize);
  std::printf("%7d profiles (portulon.usr %5.1f MB): admission %7.3f ms, hang-up %7.3f ms, "
              "pair median %7.3f ms, mean %7.3f ms, max %7.3f ms\n",
              profiles, static_cast<double>(usersSize) / 1e6, out->admissionMedian,
              out->hangupMedian, out->pairMedian, out->pairMean, out->pairMax);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/policy-bench-XXXXXX";
  if (!::mkdtemp(pattern.data())) return 1;
  ::setenv("PORTULON_NETWORK", pattern.c_str(), 1);
  std::printf("admission + hang-up, day log of %d records, %d iterations\n", kDayRecords,
              iterations);
  int rc = 0;
  for (int profiles : {1000, 10000, 100000}) {
    Figures f;
    if (!Run(pattern, profiles, iterations, &f)) {
      rc = 1;
      break;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
  return rc;
}
