// plovpn: the OpenVPN adapter, the machine's remote-access service where the
// remote-access server is OpenVPN. Started by the machine's service control
// manager as RemoteAccess, or in the foreground (--foreground) with its trace
// on standard output, for systemd and for a look at what it does.
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "adapters/openvpn/adapter.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/tools/tool_args.h"

namespace {

using plat::DWORD;

constexpr const char* kUsage = R"(plovpn - Portulon's remote-access service in front of an OpenVPN server

Usage:
  plovpn [--machine ROOT]                  (started as the service RemoteAccess)
  plovpn --foreground [--machine ROOT]
  plovpn install [--machine ROOT] [--image WINDOWS_COMMAND_LINE]
                 [--management SOCKET] [--domain DOMAIN]

The OpenVPN adapter: holds the management connection of an OpenVPN server
started with --management-client-auth, asks Portulon about every client that
connects (refused clients are told why), reports every hang-up with the bytes
and the time OpenVPN counted, and lets Portulon's supervision read a client's
traffic and end its session. Each client is a port: VPN1, VPN2, ...

install       registers the adapter as the machine's remote-access service
              (RemoteAccess, "OpenVPN Remote Access", started at boot) and
              writes the given settings under
              HKLM\Software\Quillfen Technologies\Portulon\OpenVPN.
              --image is the command line the machine starts (default: this
              program); --management a Unix socket path or 127.0.0.1:PORT.

Options:
  --foreground       run until SIGTERM or SIGINT, the trace on standard output
  --image LINE       install: the command line the machine starts
  --management SOCK  install: OpenVPN's management socket
  --domain DOMAIN    install: the domain of the accounts Portulon sees
  --machine ROOT     the machine folder (default: PORTULON_MACHINE)
  --help             show this text
  --version          show the program's version

Exit status:
  0  success (or stopped cleanly)
  1  failure
  2  the command line is wrong

Files:
  C:\qcl_trace_plovpn.txt   the adapter's trace (on the machine's drive C:)
  HKLM\Software\Quillfen Technologies\Portulon\OpenVPN   its settings

Examples:
  plovpn install --domain VPN
  plovpn --foreground

See also:
  plsvc(1), plmachine(1), eventlog(1)
)";

constexpr const char* kServiceName = "RemoteAccess";
constexpr const char* kDisplayName = "OpenVPN Remote Access";

common::TraceOptions AdapterTraceOptions() {
  return {"C:\\qcl_trace_plovpn.txt", common::kOpenVpnAdapterKey, common::kModuleLogMaxSizeKBDefault, "plovpn.exe"};
}

// The adapter a stop request reaches; guards by its own mutex.
std::mutex adapterMutex;
ovpn::Adapter* running = nullptr;

void RequestStop() {
  std::lock_guard lock(adapterMutex);
  if (running) running->Stop();
}

int RunAdapter(const std::function<void()>& ready) {
  ovpn::Adapter adapter(ovpn::ReadAdapterSettings());
  {
    std::lock_guard lock(adapterMutex);
    running = &adapter;
  }
  adapter.Run(ready);
  std::lock_guard lock(adapterMutex);
  running = nullptr;
  return 0;
}

// ---- As the machine's service ----

plat::SERVICE_STATUS_HANDLE statusHandle = 0;

void Report(DWORD state) {
  plat::SERVICE_STATUS status;
  status.dwCurrentState = state;
  status.dwWaitHint = state == plat::SERVICE_RUNNING || state == plat::SERVICE_STOPPED ? 0 : 10000;
  if (state == plat::SERVICE_RUNNING) {
    status.dwControlsAccepted = plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN;
  }
  plat::SetServiceStatus(statusHandle, status);
}

void Handler(DWORD control) {
  if (control != plat::SERVICE_CONTROL_STOP && control != plat::SERVICE_CONTROL_SHUTDOWN) return;
  Report(plat::SERVICE_STOP_PENDING);
  RequestStop();
}

void ServiceMain(DWORD /*argc*/, char** argv) {
  statusHandle = plat::RegisterServiceCtrlHandler(argv[0], Handler);
  if (statusHandle == 0) return;
  Report(plat::SERVICE_START_PENDING);
  common::ConfigureProcessTrace(AdapterTraceOptions());
  RunAdapter([] { Report(plat::SERVICE_RUNNING); });
  Report(plat::SERVICE_STOPPED);
}

// ---- In the foreground ----

int Foreground() {
  common::TraceOptions options = AdapterTraceOptions();
  common::ConfigureProcessTrace(options);
  common::ProcessTrace().SetConsoleMode(true);
  // Signals are taken on a thread of their own, never inside a handler.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread waiter([set] {
    int sig = 0;
    sigwait(&set, &sig);
    RequestStop();
  });
  waiter.detach();
  std::printf("plovpn: serving OpenVPN for machine %s\n", plat::CurrentMachineRoot().c_str());
  std::fflush(stdout);
  return RunAdapter([] {
    std::printf("plovpn: ready\n");
    std::fflush(stdout);
  });
}

int Install(pltools::Tool& tool, const std::string& self) {
  std::string image = self, management, domain;
  tool.TakeOption("--image", &image);
  tool.TakeOption("--management", &management);
  tool.TakeOption("--domain", &domain);
  if (tool.failed() || !tool.RequireMachine()) return tool.exitCode();
  if (tool.args().size() != 1) return tool.UsageError("install takes no further arguments");
  plat::ServiceManager scm;
  if (DWORD err = plat::ServiceManager::Open("", &scm); err != plat::ERROR_SUCCESS)
    return tool.Fail(err);
  plat::ServiceHandle service;
  if (scm.OpenService(kServiceName, &service) == plat::ERROR_SUCCESS) {
    if (DWORD err = service.ChangeConfig(plat::SERVICE_WIN32_OWN_PROCESS, plat::SERVICE_AUTO_START,
                                         plat::SERVICE_ERROR_NORMAL, image, kDisplayName);
        err != plat::ERROR_SUCCESS) {
      return tool.Fail(err, "RemoteAccess");
    }
  } else {
    plat::ServiceConfig config;
    config.name = kServiceName;
    config.displayName = kDisplayName;
    config.startType = plat::SERVICE_AUTO_START;
    config.binaryPath = image;
    if (DWORD err = scm.CreateService(config, "", nullptr); err != plat::ERROR_SUCCESS) {
      return tool.Fail(err, "RemoteAccess");
    }
  }
  // What the machine's tools show for its remote access: the kind and the ports.
  const ovpn::AdapterSettings settings = ovpn::ReadAdapterSettings();
  const std::string parameters = std::string("System\\CurrentControlSet\\Services\\") + kServiceName +
                                 "\\Parameters";
  if (DWORD err = plat::RegWriteString(parameters, "Kind", "OpenVPN adapter");
      err != plat::ERROR_SUCCESS ||
      (err = plat::RegWriteDword(parameters, "Ports", settings.ports)) != plat::ERROR_SUCCESS) {
    return tool.Fail(err, "RemoteAccess parameters");
  }
  // The sessions' records go to the System log under the service's name.
  plat::RegKey hklm, source;
  if (DWORD err = plat::RegKey::Connect("", plat::Hive::LocalMachine, &hklm);
      err != plat::ERROR_SUCCESS ||
      (err = hklm.CreateSubKey(
           std::string(plat::kEventLogServicesKey) + "\\System\\" + kServiceName, &source)) !=
          plat::ERROR_SUCCESS) {
    return tool.Fail(err, "event source RemoteAccess");
  }
  for (const auto& [name, value] :
       {std::pair{"Management", management}, std::pair{"Domain", domain}}) {
    if (value.empty()) continue;
    if (DWORD err = plat::RegWriteString(ovpn::kOpenVpnAdapterKey, name, value);
        err != plat::ERROR_SUCCESS) {
      return tool.Fail(err, name);
    }
  }
  std::printf("RemoteAccess is now the OpenVPN adapter (%s)\n", image.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plovpn", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  const bool foreground = tool.TakeFlag("--foreground");
  if (!tool.args().empty() && tool.args().front() == "install") {
    return Install(tool, plat::GetModuleFileName());
  }
  if (!tool.RequireMachine()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument " + tool.args().front());
  if (foreground) return Foreground();
  char name[] = "RemoteAccess";
  const plat::SERVICE_TABLE_ENTRY table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const DWORD err = plat::StartServiceCtrlDispatcher(table);
  if (err == plat::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::fprintf(
        stderr,
        "plovpn: this is the machine's remote-access service; start it with "
        "\"net start RemoteAccess\" or \"plmachine boot\", or run it with --foreground.\n");
    return 1;
  }
  return err == plat::ERROR_SUCCESS ? 0 : 1;
}
