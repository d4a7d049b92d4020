// Admission and accounting through the real pipe: a machine with N domain
// users and N profiles, plsvc started by the service manager as in
// production, and NEW + HANGUP pairs sent the way the RAS hook module sends
// them (one call-and-wait each). Every record and counter is persisted by the
// running service.
//
// The profiles are a mix: daily, weekly and monthly allowances, total limits,
// NoDuplicate, group profiles; every fourth port admits only listed groups.
//
//   pipe_bench [--users 1000,10000,100000] [--pairs 2000] [--clients 16] [--silent N]
//              [--no-trace] [--live-export] [--hand-written] [--tail] [--keep] [--network]
//
// --silent N adds N clients that connect and never send anything, reconnecting
// as fast as they can, during the one-client run: what a well-behaved client
// then waits shows whether slow clients can starve real ones.
//
// --tail takes the one-client NEWs apart: how long the service's threads ran
// and waited for a CPU during each (from the kernel's scheduler statistics),
// and what the slowest 1 % consisted of, with the ten slowest one by one. Reading those statistics around each
// NEW slows the run down a little.
//
// For each size it prints pairs per second and the p50/p99/max of NEW and of
// HANGUP, first with one client, then with --clients clients at once. The
// network goes to $TMPDIR (or /tmp) and is removed unless --keep. --no-trace
// sets the service's trace limit to 0 (no trace file), to see what tracing costs.
// --live-export has the service export the session history into an SQLite
// data source of the network's own (ODBCSYSINI, ODBCINI), each record within
// a minute (ExportLive), to see what that costs the decisions; at the end it
// prints how many rows the database holds.
//
// The users file is as the service leaves it once it has recorded a session
// of each user: usage values at their fixed width. --hand-written writes it as
// an administrator, pluser or an older version would: usage values as short as
// they are, some usage keys missing (none at all for every fourth user, as a
// new profile has), comments and a key the service does not know; what the
// first session of each user then costs shows in the figures.
//
// --network (root, samba) runs each size as above and then again on real
// hosts (scripts/host_network.sh): the service on SRV2 keeps its data on the
// master's share \\SRV1\PL_NT_DB, reached over SMB, and the same pairs are
// sent to it one at a time; before that it times one profile write and one
// read on the share beside the same on SRV2's own disk. With --keep the hosts
// stay up and SRV2's service running, to look at (or cut the link) afterwards.

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/product_keys.h"
#include "service/profile_store.h"
#include "service/reporting/odbc_connection.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPipe = common::kPipeName;
constexpr const char* kDataFolder = "C:\\PLData";
constexpr int kPortsPerClient = 4;
constexpr int kMaxClients = 64;
constexpr const char* kGroups[] = {"Staff", "Dialers", "Contractors", "Students"};

struct Options {
  std::vector<int> users = {1000, 10000, 100000};
  int pairs = 2000;
  int clients = 16;
  int silent = 0;
  bool keep = false;
  bool trace = true;
  bool liveExport = false;
  bool handWritten = false;
  bool tail = false;
  bool network = false;   // --network
  std::string onHost;     // the network's folder, when running on its SRV2
};

bool Check(plat::DWORD err, const std::string& what) {
  if (err != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "pipe_bench: %s failed: %s\n", what.c_str(), plat::ErrorText(err).c_str());
  }
  return err == plat::ERROR_SUCCESS;
}

std::string UserName(int i) { return "u" + std::to_string(i); }
std::string PortName(int i) { return "COM" + std::to_string(i + 1); }

// The domain file with its users, written in one go (adding 100,000 users one
// by one would measure the domain tool, not the service).
bool WriteDomain(int users, const std::string& pdc = "SRV1") {
  if (!Check(plat::DomainCreate("DOM", pdc), "DomainCreate")) return false;
  for (const char* g : kGroups) {
    if (!Check(plat::DomainAddGroup("DOM", g), std::string("DomainAddGroup ") + g)) return false;
  }
  const std::string file =
      plat::HostToWindowsPath(plat::NetworkRoot() + "/domains/DOM.ini");
  std::string text;
  if (!Check(plat::ReadWholeFile(file, &text), "reading the domain file")) return false;
  text.reserve(text.size() + static_cast<size_t>(users) * 60);
  for (int i = 0; i < users; ++i) {
    text += "[User:" + UserName(i) + "]\nFullName=\nGroups=" + kGroups[i % 4] +
            "\nRID=" + std::to_string(2000 + i) + "\n";
  }
  return Check(plat::WriteWholeFile(file, text), "writing the domain file");
}

// portulon.usr as an administrator writes it: the same limits and usage as
// UserFile, values as short as they are, the usage keys of a profile that has
// not been used yet left out, now and then a comment or a key of the site's own.
std::string HandWrittenUserFile(int users, std::time_t now) {
  std::string text;
  text.reserve(static_cast<size_t>(users) * 260);
  text += "; Dial-in profiles, kept by hand\n";
  text += "[+DOM\\Staff]\nMaxTotalTime=3600000\nPeriodType=2\nPeriodMax=360000\n";
  text += "[+DOM\\Dialers]\nNoDuplicate=1\nMaxSessionTime=14400\n";
  for (int i = 0; i < users; ++i) {
    const int kind = i % 5;
    text += "[DOM\\" + UserName(i) + "]\n";
    if (i % 10 == 0) text += "; moved from the old server\n";
    text += "MaxSessionTime=" + std::to_string(3600 + i % 7 * 600) +
            "\nMaxTotalTime=" + (kind == 3 ? "36000000" : "0") +
            "\nExpiryTime=" + (kind == 4 ? "3650" : "0") +
            "\nPeriodType=" + std::to_string(kind < 3 ? kind + 1 : 0) +
            "\nPeriodMax=" + (kind < 3 ? std::to_string(36000000) : "0") +
            "\nNoDuplicate=" + (i % 3 == 0 ? "1" : "0") + "\nStaticIP=0\n";
    if (i % 7 == 0) text += "Department=Sales\n";
    if (i % 4 == 3) continue;  // never used yet
    text += "TotalConnects=" + std::to_string(i % 50 + 1) + "\nTotalTime=" +
            std::to_string(i % 50 * 300) + "\nLastConnection=" + std::to_string(now - 86400) + "\n";
    if (i % 2 == 0) {
      text += "FirstConnection=" + std::to_string(now - 86400 * 20) + "\nLasted=300\nPeriodUsage=0\n" +
              "PeriodStamp=" + std::to_string(now - 3600) + "\n";
    }
  }
  return text;
}

// portulon.usr: one profile per user, group profiles for two groups.
std::string UserFile(int users, std::time_t now) {
  auto usage = [](long long v) { return svc::UsageText(static_cast<svc::DWORD>(v)); };
  std::string text;
  text.reserve(static_cast<size_t>(users) * 360);
  text += "[+DOM\\Staff]\nMaxTotalTime=3600000\nPeriodType=2\nPeriodMax=360000\n";
  text += "[+DOM\\Dialers]\nNoDuplicate=1\nMaxSessionTime=14400\n";
  for (int i = 0; i < users; ++i) {
    const int kind = i % 5;
    text += "[DOM\\" + UserName(i) + "]\nMaxSessionTime=" + std::to_string(3600 + i % 7 * 600) +
            "\nMaxTotalTime=" + (kind == 3 ? "36000000" : "0") + "\nExpiryTime=" +
            (kind == 4 ? "3650" : "0") + "\nPeriodType=" + std::to_string(kind < 3 ? kind + 1 : 0) +
            "\nPeriodMax=" + (kind < 3 ? std::to_string(36000000) : "0") +
            "\nNoDuplicate=" + (i % 3 == 0 ? "1" : "0") +
            "\nStaticIP=0\nTotalConnects=" + usage(i % 50 + 1) +
            "\nTotalDenieds=" + usage(0) + "\nTotalTime=" + usage(i % 50 * 300) +
            "\nFirstConnection=" + usage(now - 86400 * 20) +
            "\nLastConnection=" + usage(now - 86400) + "\nLasted=" + usage(300) +
            "\nPeriodUsage=" + usage(0) + "\nPeriodStamp=" + usage(now - 3600) + "\n";
  }
  return text;
}

std::string SystemDataFile(int ports) {
  std::string text =
      "[General]\nNotify1=300\nNotify2=60\nNotify1Text=5 minutes left\nNotify2Text=1 minute left\n"
      "DailyStatusEmailType=1\nDailyStatusEmailHour=6\nAutoArchiveAge=30\n"
      "[Default]\nAssignDefault=0\n[Greetings]\nRuleMask=0\n";
  for (int p = 0; p < ports; ++p) {
    text += "[SRV1\\" + PortName(p) + "]\nMaxSessionTime=7200\nIdle=15\nStaticIP=0\nActive=0\n" +
            (p % 4 == 3 ? "AllowedGroups=DOM\\Staff;DOM\\Dialers;DOM\\Contractors;DOM\\Students\n"
                        : "");
  }
  return text;
}

// An SQLite data source "Bench" in the network's folder, for the service
// started next (it inherits the environment), and the export settings that
// have it take every record as it is written.
bool ProvideLiveExport(const std::string& network) {
  std::ofstream(network + "/odbcinst.ini") << "[SQLite3]\nDriver=" << PORTULON_SQLITE_ODBC_DRIVER << "\n";
  std::ofstream(network + "/odbc.ini") << "[Bench]\nDriver=SQLite3\nDatabase=" << network
                                       << "/bench.db\nTimeout=5000\n";
  ::setenv("ODBCSYSINI", network.c_str(), 1);
  ::setenv("ODBCINI", (network + "/odbc.ini").c_str(), 1);
  return Check(plat::RegWriteString(common::kServiceKey, "ODBC_DSN", "Bench"), "ODBC_DSN") &&
         Check(plat::RegWriteDword(common::kServiceKey, "ExportHistory", 1), "ExportHistory") &&
         Check(plat::RegWriteDword(common::kServiceKey, "ExportHours", 0xFFFFFF), "ExportHours") &&
         Check(plat::RegWriteDword(common::kServiceKey, "ExportLive", 1), "ExportLive");
}

long ExportedRows() {
  svc::OdbcConnection db;
  std::vector<svc::SqlRow> rows;
  if (!db.Connect("Bench", "", "") || !db.Query("SELECT COUNT(*) FROM pl_sessions", {}, &rows) ||
      rows.empty() || !rows[0][0]) {
    std::fprintf(stderr, "pipe_bench: the export's database: %s\n", db.error().c_str());
    return -1;
  }
  return std::stol(*rows[0][0]);
}

bool StartPortulon(const std::string& root);

bool Provision(const std::string& network, int users, const Options& o) {
  const std::string root = network + "/SRV1";
  plat::MachineConfig config;
  config.name = "SRV1";
  config.domain = "DOM";
  if (!Check(plat::ProvisionMachine(root, config), "ProvisionMachine")) return false;
  plat::SetCurrentMachineRoot(root);
  if (!WriteDomain(users)) return false;

  const std::time_t now = std::time(nullptr);
  const std::string data = kDataFolder;
  if (!Check(plat::CreateDirectory(data), "data folder") ||
      !Check(plat::CreateDirectory(common::DataFile(data, common::kDayLogFolder)), common::kDayLogFolder) ||
      !Check(plat::WriteWholeFile(common::DataFile(data, common::kUsersFile),
                                 o.handWritten ? HandWrittenUserFile(users, now) : UserFile(users, now)),
             common::kUsersFile) ||
      !Check(plat::WriteWholeFile(common::DataFile(data, common::kSystemDataFile),
                                  SystemDataFile(kMaxClients * kPortsPerClient)),
             common::kSystemDataFile) ||
      !Check(plat::RegWriteString(plat::kSharesKey, common::kDataShareName, std::string("Path=") + kDataFolder),
             "share") ||
      !Check(plat::RegWriteString(common::kServiceKey, "MasterShare", "\\\\SRV1\\PL_NT_DB"), "MasterShare") ||
      !Check(plat::RegWriteString(common::kServiceKey, "InstallPath", "C:\\Program Files\\Portulon"),
             "InstallPath") ||
      !Check(plat::RegWriteDword(common::kServiceKey, "Master", 1), "Master") ||
      (!o.trace && !Check(plat::RegWriteDword(common::kServiceKey, "LogMaxSizeKB", 0), "LogMaxSizeKB")) ||
      (o.liveExport && !ProvideLiveExport(network))) {
    return false;
  }

  return StartPortulon(root);
}

// plsvc as the installer puts it on machine `root`, started as the automatic
// service "Portulon"; true once its pipe answers.
bool StartPortulon(const std::string& root) {
  const std::string folder = plat::DriveCDir(root) + "/Program Files/Portulon";
  std::filesystem::create_directories(folder);
  const char* bin = std::getenv("PORTULON_BIN_DIR");
  std::filesystem::create_symlink(std::string(bin) + "/plsvc", folder + "/plsvc.exe");
  plat::ServiceManager scm;
  if (!Check(plat::ServiceManager::Open("", &scm), "OpenSCManager")) return false;
  plat::ServiceConfig service;
  service.name = "Portulon";
  service.displayName = "Portulon";
  service.type = plat::SERVICE_WIN32_OWN_PROCESS;
  service.startType = plat::SERVICE_AUTO_START;
  service.errorControl = plat::SERVICE_ERROR_NORMAL;
  service.binaryPath = "C:\\Program Files\\Portulon\\plsvc.exe";
  plat::ServiceHandle handle;
  if (!Check(scm.CreateService(service, "", &handle), "CreateService") ||
      !Check(handle.Start(), "StartService")) {
    return false;
  }
  for (int i = 0; i < 400; ++i) {
    std::string reply;
    if (plat::CallNamedPipe(kPipe, "UPDATE_UPDATE", &reply, 2000, 100) == plat::ERROR_SUCCESS) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "pipe_bench: the service's pipe never answered\n");
  return false;
}

void StopService() {
  plat::ServiceManager scm;
  plat::ServiceHandle handle;
  if (plat::ServiceManager::Open("", &scm) != plat::ERROR_SUCCESS ||
      scm.OpenService("Portulon", &handle) != plat::ERROR_SUCCESS) {
    return;
  }
  plat::SERVICE_STATUS status{};
  handle.Control(plat::SERVICE_CONTROL_STOP, &status);
  plat::WaitForServiceState(handle, plat::SERVICE_STOPPED, 15000);
}

// CPU seconds (user + system) the service process has used so far; 0 when
// it cannot be read. Unlike wall-clock rates it barely moves when other work
// shares the machine.
double ServiceCpuSeconds() {
  plat::ServiceManager scm;
  plat::ServiceHandle handle;
  if (plat::ServiceManager::Open("", &scm) != plat::ERROR_SUCCESS ||
      scm.OpenService("Portulon", &handle) != plat::ERROR_SUCCESS || handle.ProcessId() == 0) {
    return 0;
  }
  std::FILE* f = std::fopen(("/proc/" + std::to_string(handle.ProcessId()) + "/stat").c_str(), "r");
  if (!f) return 0;
  char text[1024] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = 0;
  // Fields after the command name (which may hold blanks) start at ") ".
  const char* p = std::strrchr(text, ')');
  unsigned long utime = 0, stime = 0;
  if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                        &stime) != 2) {
    return 0;
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Time the service's threads spent running and waiting for a CPU so far
// (/proc/<pid>/task/*/schedstat, in ms): what a message cost the service
// itself, and how much of its latency was other work holding the CPUs. A
// thread that ends between two readings takes its share with it.
struct SchedTime {
  double runMs = 0, waitMs = 0;
};

SchedTime ServiceSchedTime(int pid) {
  SchedTime t;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::FILE* f = std::fopen((task.path().string() + "/schedstat").c_str(), "r");
    if (!f) continue;
    unsigned long long run = 0, wait = 0;
    if (std::fscanf(f, "%llu %llu", &run, &wait) == 2) {
      t.runMs += static_cast<double>(run) / 1e6;
      t.waitMs += static_cast<double>(wait) / 1e6;
    }
    std::fclose(f);
  }
  return t;
}

// The same for the calling thread.
SchedTime OwnSchedTime() {
  SchedTime t;
  std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
  if (!f) return t;
  unsigned long long run = 0, wait = 0;
  if (std::fscanf(f, "%llu %llu", &run, &wait) == 2) {
    t.runMs = static_cast<double>(run) / 1e6;
    t.waitMs = static_cast<double>(wait) / 1e6;
  }
  std::fclose(f);
  return t;
}

int ServicePid() {
  plat::ServiceManager scm;
  plat::ServiceHandle handle;
  if (plat::ServiceManager::Open("", &scm) != plat::ERROR_SUCCESS ||
      scm.OpenService("Portulon", &handle) != plat::ERROR_SUCCESS) {
    return 0;
  }
  return static_cast<int>(handle.ProcessId());
}

// The service pid whose NEWs are taken apart (--tail); 0 for none.
int g_tailPid = 0;

struct Samples {
  std::vector<double> newMs, hangupMs;
  // With --tail, per NEW: the service's running time and its wait for a CPU.
  std::vector<double> newRunMs, newWaitMs, clientWaitMs;
  long admitted = 0, refused = 0, failed = 0;
  void Add(const Samples& o) {
    newMs.insert(newMs.end(), o.newMs.begin(), o.newMs.end());
    hangupMs.insert(hangupMs.end(), o.hangupMs.begin(), o.hangupMs.end());
    admitted += o.admitted;
    refused += o.refused;
    failed += o.failed;
  }
};

// One client: `pairs` NEW + HANGUP pairs on its own ports, users drawn at random.
Samples RunClient(int client, int users, int pairs, unsigned seed) {
  Samples s;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, users - 1);
  s.newMs.reserve(static_cast<size_t>(pairs));
  s.hangupMs.reserve(static_cast<size_t>(pairs));
  for (int i = 0; i < pairs; ++i) {
    const int u = pick(random);
    const std::string port = PortName(client * kPortsPerClient + i % kPortsPerClient);
    const std::string account = "DOM\\" + UserName(u);
    const std::string machine = "PC" + std::to_string(u);
    // The session began `duration` seconds ago, so that the hang-up's
    // duration is possible and gets charged (a longer one would be cut).
    const long duration = 30 + u % 600;
    const long start = static_cast<long>(std::time(nullptr)) - duration;
    const std::string startText = std::to_string(start);
    std::string reply;
    const SchedTime before = g_tailPid ? ServiceSchedTime(g_tailPid) : SchedTime{};
    const SchedTime ownBefore = g_tailPid ? OwnSchedTime() : SchedTime{};
    auto t0 = Clock::now();
    plat::DWORD err = plat::CallNamedPipe(
        kPipe, *common::NewConnectionMessage(port, account, machine, startText), &reply, 2000, 10000);
    auto t1 = Clock::now();
    s.newMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    if (g_tailPid) {
      s.clientWaitMs.push_back(OwnSchedTime().waitMs - ownBefore.waitMs);
      const SchedTime after = ServiceSchedTime(g_tailPid);
      s.newRunMs.push_back(after.runMs - before.runMs);
      s.newWaitMs.push_back(after.waitMs - before.waitMs);
    }
    if (err != plat::ERROR_SUCCESS) {
      ++s.failed;
      continue;
    }
    if (common::ReplyCode(reply) == common::kReplyAccepted) {
      ++s.admitted;
    } else {
      ++s.refused;
      continue;  // a refused caller does not hang up
    }
    const std::string hangUp =
        *common::HangUpMessage(port, account, machine, startText, duration);
    t0 = Clock::now();
    err = plat::CallNamedPipe(kPipe, hangUp, &reply, 2000, 10000);
    t1 = Clock::now();
    s.hangupMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    if (err != plat::ERROR_SUCCESS) ++s.failed;
  }
  return s;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

void Report(const char* label, int users, const Samples& s, double seconds, double cpuSeconds) {
  const double pairs = static_cast<double>(s.admitted + s.refused);
  std::printf("%8d users %-20s %7.0f pairs/s | CPU %4.0f us/pair | NEW p50 %6.3f p99 %6.3f max %7.3f ms | "
              "HANGUP p50 %6.3f p99 %6.3f max %7.3f ms | admitted %ld refused %ld failed %ld\n",
              users, label, pairs / seconds, pairs > 0 ? cpuSeconds * 1e6 / pairs : 0.0,
              Percentile(s.newMs, 0.5), Percentile(s.newMs, 0.99),
              s.newMs.empty() ? 0 : *std::max_element(s.newMs.begin(), s.newMs.end()),
              Percentile(s.hangupMs, 0.5), Percentile(s.hangupMs, 0.99),
              s.hangupMs.empty() ? 0 : *std::max_element(s.hangupMs.begin(), s.hangupMs.end()),
              s.admitted, s.refused, s.failed);
  std::fflush(stdout);
}

// What the slowest 1 % of NEWs were: the service busy (its running time) or
// the service waiting for a CPU that other work held, or neither (the client).
void ReportTail(const Samples& s) {
  const size_t n = s.newMs.size();
  if (n == 0 || s.newRunMs.size() != n) return;
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return s.newMs[a] > s.newMs[b]; });
  const size_t slow = std::max<size_t>(1, n / 100);
  double total = 0, run = 0, wait = 0, clientWait = 0;
  for (size_t k = 0; k < slow; ++k) {
    total += s.newMs[order[k]];
    run += s.newRunMs[order[k]];
    wait += s.newWaitMs[order[k]];
    clientWait += s.clientWaitMs[order[k]];
  }
  std::vector<double> net(n);
  for (size_t i = 0; i < n; ++i) net[i] = s.newMs[i] - s.newWaitMs[i] - s.clientWaitMs[i];
  std::printf("         NEW service running p50 %6.3f p99 %6.3f max %7.3f ms | NEW less the waits of service "
              "and client for a CPU p50 %6.3f p99 %6.3f ms\n",
              Percentile(s.newRunMs, 0.5), Percentile(s.newRunMs, 0.99),
              *std::max_element(s.newRunMs.begin(), s.newRunMs.end()), Percentile(net, 0.5),
              Percentile(net, 0.99));
  for (size_t j = 0; j < std::min<size_t>(slow, 10); ++j) {
    const size_t i = order[j];
    std::printf("           NEW #%zu %.3f ms: the service ran %.3f and waited for a CPU %.3f, the client "
                "waited for a CPU %.3f\n",
                i, s.newMs[i], s.newRunMs[i], s.newWaitMs[i], s.clientWaitMs[i]);
  }
  const double k = static_cast<double>(slow);
  std::printf("         slowest 1 %% of NEWs (%zu): %.3f ms on average; the service ran %.3f and waited for a "
              "CPU %.3f, the client waited for a CPU %.3f\n",
              slow, total / k, run / k, wait / k, clientWait / k);
  std::fflush(stdout);
}

bool RunSize(const std::string& base, int users, const Options& o) {
  const std::string network = base + "/users-" + std::to_string(users);
  std::filesystem::create_directories(network);
  ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  const auto p0 = Clock::now();
  if (!Provision(network, users, o)) return false;
  std::printf("%8d users: provisioned and started in %.1f s\n", users,
              std::chrono::duration<double>(Clock::now() - p0).count());

  // Warm-up: first reads of every file (and, with --hand-written, what the
  // first writes cost).
  const auto w0 = Clock::now();
  const Samples warm = RunClient(0, users, 100, 7);
  Report("warm-up (100)", users, warm, std::chrono::duration<double>(Clock::now() - w0).count(), 0);

  // Clients that connect and say nothing, over and over.
  std::atomic<bool> quiet{false};
  std::vector<std::thread> silent;
  const std::string socketPath = plat::PipesDir(plat::CurrentMachineRoot()) + "/plsvcpipe";
  for (int i = 0; i < o.silent; ++i) {
    silent.emplace_back([&] {
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
      while (!quiet.load()) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
          timeval wait{0, 200000};  // look at `quiet` now and then
          ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
          char byte;
          while (!quiet.load()) {
            const ssize_t n = ::recv(fd, &byte, 1, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // dropped
          }
        }
        ::close(fd);
      }
    });
  }

  double cpu0 = ServiceCpuSeconds();
  if (o.tail) g_tailPid = ServicePid();
  auto t0 = Clock::now();
  const Samples single = RunClient(0, users, o.pairs, 1);
  const double singleSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  g_tailPid = 0;
  const std::string singleLabel =
      (o.silent ? "1 client, " + std::to_string(o.silent) + " silent" : std::string("1 client")) +
      (o.handWritten ? ", by hand" : "");
  Report(singleLabel.c_str(), users, single, singleSeconds, ServiceCpuSeconds() - cpu0);
  ReportTail(single);
  quiet.store(true);
  for (auto& t : silent) t.join();

  std::vector<Samples> perClient(static_cast<size_t>(o.clients));
  std::vector<std::thread> threads;
  cpu0 = ServiceCpuSeconds();
  t0 = Clock::now();
  for (int c = 0; c < o.clients; ++c) {
    threads.emplace_back([&, c] {
      perClient[static_cast<size_t>(c)] =
          RunClient(c, users, std::max(1, o.pairs / o.clients), 100 + static_cast<unsigned>(c));
    });
  }
  for (auto& t : threads) t.join();
  Samples all;
  for (const auto& s : perClient) all.Add(s);
  const std::string label = std::to_string(o.clients) + " clients";
  Report(label.c_str(), users, all, std::chrono::duration<double>(Clock::now() - t0).count(),
         ServiceCpuSeconds() - cpu0);
  if (o.liveExport) {
    std::printf("%8d users: %ld rows in the database so far (near-live export)\n", users, ExportedRows());
  }

  StopService();
  if (!o.keep) {
    std::error_code ec;
    std::filesystem::remove_all(network, ec);
  }
  return single.failed == 0 && all.failed == 0;
}

// ------------------------------------------------------------ --network

constexpr const char* kShare = "\\\\SRV1\\PL_NT_DB";

// p50 and p99 in ms of `n` runs of `call`; false when one failed.
bool TimeCalls(int n, const std::function<plat::DWORD(int)>& call, double* p50, double* p99) {
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    if (call(i) != plat::ERROR_SUCCESS) return false;
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  *p50 = Percentile(ms, 0.5);
  *p99 = Percentile(ms, 0.99);
  return true;
}

// One profile write (a locked read-modify-write) and one read of a 1,000-key
// file at `file`.
bool ReportSharedWrite(const char* label, const std::string& file) {
  std::string text = "[Timing]\n";
  for (int i = 0; i < 1000; ++i) text += "K" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  if (!Check(plat::WriteWholeFile(file, text), file)) return false;
  double w50 = 0, w99 = 0, r50 = 0, r99 = 0;
  const bool ok = TimeCalls(200, [&](int i) {
    return plat::ProfileWriteString(file, "Timing", "K" + std::to_string(i % 1000), std::to_string(i));
  }, &w50, &w99) && TimeCalls(200, [&](int i) {
    return plat::ProfileGetString(file, "Timing", "K" + std::to_string(i % 1000), "").empty()
               ? plat::ERROR_FILE_NOT_FOUND : plat::ERROR_SUCCESS;
  }, &r50, &r99);
  if (!ok) {
    std::fprintf(stderr, "pipe_bench: timing %s failed\n", file.c_str());
    return false;
  }
  std::printf("         %-32s profile write p50 %6.3f p99 %6.3f ms | read p50 %6.3f p99 %6.3f ms\n", label,
              w50, w99, r50, r99);
  plat::DeleteFile(file);
  return true;
}

// On SRV2 of a network of real hosts (this process runs in its namespace):
// the service with its data on the master's share, and the pairs one at a time.
bool RunOnHost(const Options& o) {
  const int users = o.users.front();
  const std::string root = plat::CurrentMachineRoot();
  if (!WriteDomain(users, "SRV2")) return false;
  const std::string data = kShare;
  const plat::DWORD made = plat::CreateDirectory(common::DataFile(data, common::kDayLogFolder));
  if (made != plat::ERROR_ALREADY_EXISTS && !Check(made, common::kDayLogFolder)) return false;
  const std::time_t now = std::time(nullptr);
  if (!Check(plat::WriteWholeFile(common::DataFile(data, common::kUsersFile), UserFile(users, now)),
             common::kUsersFile) ||
      !Check(plat::WriteWholeFile(common::DataFile(data, common::kSystemDataFile),
                                  SystemDataFile(kMaxClients * kPortsPerClient)),
             common::kSystemDataFile) ||
      !Check(plat::RegWriteString(common::kServiceKey, "MasterShare", data), "MasterShare") ||
      !Check(plat::RegWriteString(common::kServiceKey, "InstallPath", "C:\\Program Files\\Portulon"),
             "InstallPath") ||
      !Check(plat::RegWriteDword(common::kServiceKey, "Master", 0), "Master") ||
      (!o.trace && !Check(plat::RegWriteDword(common::kServiceKey, "LogMaxSizeKB", 0), "LogMaxSizeKB"))) {
    return false;
  }
  if (!ReportSharedWrite("SRV2, its own disk:", "C:\\timing.ini") ||
      !ReportSharedWrite("SRV2, the master's share (SMB):", common::DataFile(data, "timing.ini"))) {
    return false;
  }
  if (!StartPortulon(root)) return false;
  const auto w0 = Clock::now();
  const Samples warm = RunClient(0, users, 100, 7);
  Report("SMB warm-up (100)", users, warm, std::chrono::duration<double>(Clock::now() - w0).count(), 0);
  const double cpu0 = ServiceCpuSeconds();
  const auto t0 = Clock::now();
  const Samples single = RunClient(0, users, o.pairs, 1);
  Report("1 client, SRV2 on SMB", users, single, std::chrono::duration<double>(Clock::now() - t0).count(),
         ServiceCpuSeconds() - cpu0);
  if (!o.keep) StopService();
  // What the service wrote is on the share: a connection and a hang-up per pair.
  const size_t records =
      common::LoadLogRecords(common::DayLogPath(data, common::DayLogName(std::time(nullptr)))).size();
  std::printf("%8d users: %zu records in the day's log on the share\n", users, records);
  return warm.failed == 0 && single.failed == 0;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A network of real hosts for one size, this program run on its SRV2, and
// the network removed again.
bool RunNetworkSize(const std::string& base, int users, const Options& o) {
  const std::string dir = base + "/hosts-" + std::to_string(users);
  const std::string script = "bash " + Quoted(std::string(PORTULON_SOURCE_DIR) + "/scripts/host_network.sh");
  if (std::system((script + " up " + Quoted(dir)).c_str()) != 0) {
    std::fprintf(stderr, "pipe_bench: the network of real hosts could not be made (root and samba needed)\n");
    return false;
  }
  std::string line = script + " exec " + Quoted(dir) + " SRV2 " + Quoted(plat::GetProgramHostPath()) +
                     " --on-host " + Quoted(dir) + " --users " + std::to_string(users) + " --pairs " +
                     std::to_string(o.pairs);
  if (!o.trace) line += " --no-trace";
  if (o.keep) line += " --keep";
  std::fflush(stdout);
  // The host's own network folder, not the local run's.
  ::unsetenv("PORTULON_NETWORK");
  const int rc = std::system(line.c_str());
  if (o.keep) {
    std::printf("%8d users: the hosts are kept, SRV2's service running; %s down %s removes them\n", users,
                script.c_str(), Quoted(dir).c_str());
  } else {
    std::system((script + " down " + Quoted(dir)).c_str());
  }
  return rc == 0;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--users" && hasValue) {
      o->users.clear();
      std::string list = argv[++i];
      for (size_t pos = 0; pos < list.size();) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        const int n = std::atoi(list.substr(pos, comma - pos).c_str());
        if (n < 1) return false;
        o->users.push_back(n);
        pos = comma + 1;
      }
    } else if (a == "--pairs" && hasValue) {
      o->pairs = std::atoi(argv[++i]);
    } else if (a == "--clients" && hasValue) {
      o->clients = std::atoi(argv[++i]);
    } else if (a == "--silent" && hasValue) {
      o->silent = std::atoi(argv[++i]);
    } else if (a == "--no-trace") {
      o->trace = false;
    } else if (a == "--live-export") {
      o->liveExport = true;
    } else if (a == "--tail") {
      o->tail = true;
    } else if (a == "--hand-written") {
      o->handWritten = true;
    } else if (a == "--keep") {
      o->keep = true;
    } else if (a == "--network") {
      o->network = true;
    } else if (a == "--on-host" && hasValue) {
      o->onHost = argv[++i];
    } else {
      return false;
    }
  }
  return !o->users.empty() && o->pairs > 0 && o->clients > 0 && o->clients <= kMaxClients &&
         o->silent >= 0 && o->silent <= 256;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: pipe_bench [--users N[,N...]] [--pairs P] [--clients C (1-%d)] [--silent N] [--no-trace] [--live-export] [--hand-written] [--tail] [--keep] [--network]\n",
                 kMaxClients);
    return 2;
  }
  if (!std::getenv("PORTULON_BIN_DIR")) ::setenv("PORTULON_BIN_DIR", PORTULON_BUILD_BIN_DIR, 1);
  if (!o.onHost.empty()) return RunOnHost(o) ? 0 : 1;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/pipe-bench-XXXXXX";
  if (!::mkdtemp(base.data())) return 1;
  std::printf("NEW + HANGUP pairs through \\\\.\\pipe\\plsvcpipe, %d pairs one at a time, then "
              "%d clients at once\n",
              o.pairs, o.clients);
  int rc = 0;
  for (const int users : o.users) {
    if (!RunSize(base, users, o) || (o.network && !RunNetworkSize(base, users, o))) {
      rc = 1;
      break;
    }
  }
  if (!o.keep) {
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
  } else {
    std::printf("networks kept in %s\n", base.c_str());
  }
  return rc;
}
