// How long the console's window can stall while it monitors many servers.
//
// A network of N dial-in servers (half Windows NT 4 RAS, half Windows 2000
// RRAS, each with its remote-access service running and a few callers), and
// the console on a workstation ADMINPC with "View Refresh" set to the
// interval asked for. The window runs on the offscreen platform; a 5 ms
// timer on its thread records how late each of its ticks comes, while the
// fetches poll every server each interval and the "user" clicks through the
// tree twice a second.
//
// With --hung H, the last H servers hang: their Portulon service takes no
// call on its pipe and their remote-access service stalls every
// administration call. The master's data folder holds a month of
// --month-records records (the current month up to today). The "user" then
// also walks through the usage view (the month), the statistics and the
// history, and saves settings, which tells every server (hung ones too).
//
//   console_stall_bench [--servers 50] [--refresh-ms 1000] [--seconds 20] [--hung 0]
//                       [--month-records 0] [--no-clicks] [--keep]
//
// Prints the longest stall of the window's thread, the 99th and 50th
// percentile of the tick lateness, and how many fetches completed per
// second. The network goes to $TMPDIR (or /tmp) and is removed unless --keep.

#include <QApplication>
#include <QTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/settings_save.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "console/core/console_keys.h"
#include "console/ui/main_window.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/pipe.h"
#include "platform/service.h"
#include "platform/sysinfo.h"

namespace {

struct Options {
  int servers = 50;
  int refreshMs = 1000;
  int seconds = 20;
  bool keep = false;
  bool user = true;  // clicks through the tree
  int hung = 0;
  int monthRecords = 0;
};

bool WriteMonth(const std::string& network, const Options& o);

// Pipes of the hung services: made on their machines, never answered.
std::vector<std::unique_ptr<plat::NamedPipeServer>> g_hungPipes;

bool Check(plat::DWORD err, const std::string& what) {
  if (err != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "console_stall_bench: %s failed: %s\n", what.c_str(),
                 plat::ErrorText(err).c_str());
  }
  return err == plat::ERROR_SUCCESS;
}

std::string ServerName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "S%02d", i + 1);
  return name;
}

// One of our tools, run to its end.
bool RunTool(const std::string& tool, const std::string& arguments) {
  const std::string bin = std::getenv("PORTULON_BIN_DIR");
  plat::ProcessOptions options;
  options.wait = true;
  options.inheritOutput = true;
  plat::DWORD code = 0;
  const bool ran = Check(plat::RunCommandLine("\"" + plat::HostToWindowsPath(bin + "/" + tool) +
                                                  "\" " + arguments,
                                              options, &code),
                         tool);
  if (ran && code != 0) std::fprintf(stderr, "console_stall_bench: %s %s: exit %u\n", tool.c_str(), arguments.c_str(), code);
  return ran && code == 0;
}

bool ServiceControl(const std::string& machine, bool start) {
  plat::ServiceManager scm;
  plat::ServiceHandle service;
  plat::DWORD err = plat::ServiceManager::Open("\\\\" + machine, &scm);
  if (err == plat::ERROR_SUCCESS) err = scm.OpenService("RemoteAccess", &service);
  if (err == plat::ERROR_SUCCESS) {
    if (start) {
      err = service.Start();
      if (err == plat::ERROR_SUCCESS) err = plat::WaitForServiceState(service, plat::SERVICE_RUNNING, 10000);
    } else {
      plat::SERVICE_STATUS status;
      err = service.Control(plat::SERVICE_CONTROL_STOP, &status);
      if (err == plat::ERROR_SUCCESS) plat::WaitForServiceState(service, plat::SERVICE_STOPPED, 30000);
    }
  }
  return Check(err, (start ? "starting RemoteAccess on " : "stopping RemoteAccess on ") + machine);
}

bool Provision(const std::string& network, const Options& o) {
  plat::MachineConfig admin;
  admin.name = "ADMINPC";
  if (!Check(plat::ProvisionMachine(network + "/ADMINPC", admin), "ADMINPC")) return false;
  plat::SetCurrentMachineRoot(network + "/ADMINPC");
  plat::RegKey client, servers;
  if (!Check(plat::RegKey::Create(plat::Hive::LocalMachine, pladmin::kClientKey, &client), "Client") ||
      !Check(client.SetDword("View Refresh", static_cast<plat::DWORD>(o.refreshMs)), "View Refresh") ||
      !Check(plat::RegKey::Create(plat::Hive::LocalMachine, pladmin::kServersKey, &servers), "Servers")) {
    return false;
  }
  for (int i = 0; i < o.servers; ++i) {
    const std::string name = ServerName(i);
    plat::MachineConfig config;
    config.name = name;
    config.osVersion = i % 2 ? "5.0" : "4.0";
    config.ras = i % 2 ? plat::RasFlavour::Rras : plat::RasFlavour::Ras;
    config.rasPorts = 8;
    const std::string root = network + "/" + name;
    if (!Check(plat::ProvisionMachine(root, config), "provisioning " + name)) return false;
    plat::RegKey hklm, service, listed;
    if (!Check(plat::RegKey::ConnectRoot(root, plat::Hive::LocalMachine, &hklm), name) ||
        !Check(hklm.CreateSubKey(std::string(pladmin::kProductKey) + "\\Service", &service), name) ||
        !Check(service.SetDword("Master", i == 0 ? 1 : 0), name) ||
        !Check(service.SetString("MasterShare", "\\\\S01\\PL_NT_DB"), name) ||
        !Check(service.SetString("Version", "2.1b"), name) ||
        !Check(servers.CreateSubKey(name, &listed), name) || !ServiceControl(name, true)) {
      return false;
    }
    if (i >= o.servers - o.hung) {
      auto pipe = std::make_unique<plat::NamedPipeServer>();
      plat::SetCurrentMachineRoot(root);
      const plat::DWORD err = plat::NamedPipeServer::Create(common::kPipeName, 4, pipe.get());
      plat::SetCurrentMachineRoot(network + "/ADMINPC");
      if (!Check(err, "the hung service's pipe on " + name)) return false;
      g_hungPipes.push_back(std::move(pipe));
    }
    // Three callers per server.
    for (int c = 0; c < 3; ++c) {
      const std::string port = "COM" + std::to_string(c * 2 + 1);
      if (!RunTool("rasctl", "--machine \"" + root + "\" dial " + port +
                                 " DOM\\u" + std::to_string(i * 10 + c))) {
        return false;
      }
    }
  }
  for (int i = o.servers - o.hung; i < o.servers; ++i) {
    if (!RunTool("rasctl", "--machine \"" + network + "/" + ServerName(i) + "\" stall " +
                               std::to_string(o.seconds + 60))) {
      return false;
    }
  }
  return o.monthRecords <= 0 || WriteMonth(network, o);
}

// The master's data folder, shared as PL_NT_DB, with `monthRecords` session
// records spread over the days of this month up to today.
bool WriteMonth(const std::string& network, const Options& o) {
  const std::string root = network + "/S01";
  plat::RegKey hklm, shares;
  if (!Check(plat::RegKey::ConnectRoot(root, plat::Hive::LocalMachine, &hklm), "S01") ||
      !Check(hklm.CreateSubKey(plat::kSharesKey, &shares), "S01's shares") ||
      !Check(shares.SetString("PL_NT_DB", "Path=C:\\PLData"), "PL_NT_DB")) {
    return false;
  }
  std::filesystem::create_directories(plat::DriveCDir(root) + "/PLData/LogData");
  const std::tm today = plat::LocalTime(plat::Now());
  const int days = today.tm_mday;
  const int perDay = o.monthRecords / days;
  for (int d = 1; d <= days; ++d) {
    const std::tm day = plat::CalendarTime(today.tm_year + 1900, today.tm_mon + 1, d, 0);
    const std::int64_t start = plat::FromLocalTime(day);
    const int count = d == days ? o.monthRecords - perDay * (days - 1) : perDay;
    std::string text;
    text.reserve(static_cast<size_t>(count) * 60);
    constexpr int kPorts = 32;
    for (int p = 0; p < kPorts; ++p) {
      text += "[" + ServerName(p % std::max(1, o.servers)) + "\\COM" + std::to_string(p % 8 + 1) + "]\n";
      for (int i = p; i < count; i += kPorts) {
        const std::string account = "DOM\\user" + std::to_string(i % 400);
        const int second = (i * 7) % 86400;
        const std::string value = i % 2 ? common::FormatHangUpRecord(600 + i % 3000, account, 167772160 + i % 200, 0,
                                                                     "", "PC", 1000LL * i, 2000LL * i)
                                        : common::FormatConnectionRecord(account);
        text += std::to_string(start + second) + "." + std::to_string(i) + "=" + value + "\n";
      }
    }
    const std::string file = plat::DriveCDir(root) + "/PLData/LogData/" +
                             plat::GetDateFormat(plat::LOCALE_US_ENGLISH, day, "yyyy-MMM-dd") + ".log";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0) {
      std::fprintf(stderr, "console_stall_bench: cannot write %s\n", file.c_str());
      return false;
    }
  }
  return true;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (a == "--servers") o.servers = next();
    else if (a == "--refresh-ms") o.refreshMs = next();
    else if (a == "--seconds") o.seconds = next();
    else if (a == "--keep") o.keep = true;
    else if (a == "--no-clicks") o.user = false;
    else if (a == "--hung") o.hung = next();
    else if (a == "--month-records") o.monthRecords = next();
    else {
      std::fprintf(stderr, "usage: console_stall_bench [--servers N] [--refresh-ms MS] [--seconds S] [--hung H] "
                           "[--month-records N] [--no-clicks] [--keep]\n");
      return 2;
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("PORTULON_BIN_DIR", PORTULON_BUILD_BIN_DIR, 0);
  const char* tmp = std::getenv("TMPDIR");
  std::string network = std::string(tmp && *tmp ? tmp : "/tmp") + "/pladmin_bench_XXXXXX";
  if (!mkdtemp(network.data())) return 1;
  setenv("PORTULON_NETWORK", network.c_str(), 1);

  if (o.hung > o.servers) o.hung = o.servers;
  std::printf("console_stall_bench: %d servers (half RAS, half RRAS, 3 callers each; %d hung), "
              "refresh every %d ms, %d s, %d records in the month\n", o.servers, o.hung, o.refreshMs, o.seconds,
              o.monthRecords);
  int status = 0;
  if (!Provision(network, o)) {
    status = 1;
  } else {
    QApplication app(argc, argv);
    QElapsedTimer startUp;
    startUp.start();
    pladmin::ui::MainWindow window;
    window.resize(1100, 700);
    window.show();
    while (!window.initialPollDone() && startUp.elapsed() < 60000) {
      app.processEvents(QEventLoop::AllEvents, 50);
    }
    std::printf("first poll of every server: %lld ms\n", static_cast<long long>(startUp.elapsed()));

    std::vector<double> lateness;  // ms each 5 ms tick came late
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      lateness.push_back(std::max(0.0, (now - last) / 1e6 - 5.0));
      last = now;
    });
    // The user clicks through the tree: a server, one of its ports, the servers' root.
    int click = 0;
    double longestClick = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
      QElapsedTimer took;
      took.start();
      struct Measure {
        QElapsedTimer& t;
        double& longest;
        ~Measure() { longest = std::max(longest, t.nsecsElapsed() / 1e6); }
      } measure{took, longestClick};
      const QString server = QString::fromStdString(ServerName(click % o.servers));
      switch (click++ % 3) {
        case 0: window.container()->tree()->Select(server, {}); break;
        case 1: window.container()->tree()->Select(server, "COM1"); break;
        default: window.container()->tree()->Select({}, {}); break;
      }
    });
    // Fetches completed: a server's lastFetch moves on each one.
    std::vector<std::time_t> seen(static_cast<size_t>(o.servers), 0);
    std::vector<int> fetched(static_cast<size_t>(o.servers), 0);
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
      const auto& list = window.document().servers();
      for (int i = 0; i < list.size() && i < o.servers; ++i) {
        if (list.At(i).lastFetch != seen[static_cast<size_t>(i)]) {
          seen[static_cast<size_t>(i)] = list.At(i).lastFetch;
          ++fetched[static_cast<size_t>(i)];
        }
      }
    });
    // The walk through the views that read the month and the day, and a save
    // of the settings that tells every server, hung ones too.
    int step = 0;
    double longestStep = 0;
    QElapsedTimer settingsTook;
    bool settingsDone = false;
    QTimer views;
    QObject::connect(&views, &QTimer::timeout, [&] {
      QElapsedTimer took;
      took.start();
      switch (step++ % 5) {
        case 0: window.RunCommand(pladmin::ID_VIEW_USAGE); break;
        case 1:
          if (!settingsTook.isValid()) {
            std::vector<std::string> all;
            for (int i = 0; i < o.servers; ++i) all.push_back(ServerName(i));
            settingsTook.start();
            window.NotifySettings(all);
          }
          window.RunCommand(pladmin::ID_VIEW_STATISTICS);
          break;
        case 2: window.RunCommand(pladmin::ID_VIEW_LOG); break;
        case 3: window.RunCommand(pladmin::ID_DAY_BACK); break;
        default: window.RunCommand(pladmin::ID_VIEW_STATUS); break;
      }
      longestStep = std::max(longestStep, took.nsecsElapsed() / 1e6);
    });
    QObject::connect(&sample, &QTimer::timeout, [&] {
      if (settingsTook.isValid() && !settingsDone && !window.notifyingServers()) {
        settingsDone = true;
        std::printf("settings told to %d servers in %.1f s (window free meanwhile): %s\n", o.servers,
                    settingsTook.elapsed() / 1000.0,
                    accounts::NoticeFailures(window.lastNotices()).empty() ? "all took them"
                                                                          : "some did not answer");
      }
    });
    tick.start(5);
    if (o.user) user.start(500);
    if (o.user) views.start(2000);
    sample.start(100);
    QTimer::singleShot(o.seconds * 1000, &app, &QApplication::quit);
    app.exec();
    int failures = 0;
    for (int i = 0; i < window.document().servers().size(); ++i) {
      failures += pladmin::IsFailureState(window.document().servers().At(i).state) ? 1 : 0;
    }
    if (o.user) std::printf("longest click (selection and view switch): %.2f ms\n", longestClick);
    if (o.user) std::printf("longest view step (usage, statistics, history, day back, status): %.2f ms\n", longestStep);
    int rounds = 0;
    for (int f : fetched) rounds += f;
    std::printf("window thread: %zu ticks; lateness p50 %.2f ms, p99 %.2f ms, longest stall %.2f ms\n",
                lateness.size(), Percentile(lateness, 0.5), Percentile(lateness, 0.99),
                lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
    std::printf("fetches seen: about %.1f per second (%d servers at %d ms: %.1f asked); "
                "servers in a failure state at the end: %d\n",
                rounds / static_cast<double>(o.seconds), o.servers, o.refreshMs,
                o.servers * 1000.0 / o.refreshMs, failures);
  }
  for (int i = 0; i < o.servers; ++i) ServiceControl(ServerName(i), false);
  g_hungPipes.clear();
  if (!o.keep) std::filesystem::remove_all(network);
  else std::printf("network kept in %s\n", network.c_str());
  return status;
}
