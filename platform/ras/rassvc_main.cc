// rassvc: the machine's remote-access service, started by the service control
// manager under the name the machine gives it (RemoteAccess, or Router on
// NT 4 with routing). It loads the administration extension, serves
// \\.\pipe\rassvc and, when stopped, hangs up every session.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/ras/ras_service.h"
#include "platform/ras/rassvc_server.h"
#include "platform/service.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kHelp = R"(rassvc - the remote-access service of a machine (RAS, or the router)

Usage:
  rassvc
  rassvc --help | --version

The machine's remote-access service, started by its service manager under the
name the machine gives it (RemoteAccess, or Router on NT 4 with routing):
"sc start RemoteAccess", "net start RemoteAccess" or "plmachine boot". It
loads the administration extension named under
HKLM\Software\Microsoft\RAS\AdminDLL, serves rasctl on \\.\pipe\rassvc and,
when stopped, hangs up every session. Started by hand it only says so.

Options:
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  the service ran and stopped
  1  not started by the service manager, or the service could not run
  2  the command line is wrong

Files:
  ROOT/pipes/rassvc          its pipe
  ROOT/eventlog/System.log   the session records it writes

Examples:
  sc start RemoteAccess
  net stop RemoteAccess

See also:
  rasctl(1), sc(1), net(1)
)";

using plat::DWORD;

// Guards stopRequested, set by the control handler on the dispatcher thread.
std::mutex stopMutex;
std::condition_variable stopSignal;
bool stopRequested = false;
plat::SERVICE_STATUS_HANDLE statusHandle = 0;

void Report(DWORD state, DWORD checkPoint, DWORD exitCode = 0) {
  plat::SERVICE_STATUS status;
  status.dwCurrentState = state;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = state == plat::SERVICE_RUNNING || state == plat::SERVICE_STOPPED ? 0 : 10000;
  status.dwWin32ExitCode = exitCode;
  if (state == plat::SERVICE_RUNNING) {
    status.dwControlsAccepted = plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN;
  }
  plat::SetServiceStatus(statusHandle, status);
}

void Handler(DWORD control) {
  if (control != plat::SERVICE_CONTROL_STOP && control != plat::SERVICE_CONTROL_SHUTDOWN) return;
  Report(plat::SERVICE_STOP_PENDING, 1);
  std::lock_guard lock(stopMutex);
  stopRequested = true;
  stopSignal.notify_all();
}

// A machine folder that was removed (a test network going away) takes its
// services with it.
bool MachineStillThere(const std::string& root) {
  struct stat st;
  return ::stat((plat::RegistryDir(root) + "/HKLM.reg").c_str(), &st) == 0;
}

void ServiceMain(DWORD /*argc*/, char** argv) {
  statusHandle = plat::RegisterServiceCtrlHandler(argv[0], Handler);
  if (statusHandle == 0) return;
  Report(plat::SERVICE_START_PENDING, 1);

  const std::string root = plat::CurrentMachineRoot();
  plat::ras::RasServiceOptions options = plat::ras::MachineRasOptions();
  plat::ras::RasTrace("Starting " + options.serviceName + " with " +
                      std::to_string(options.ports) + " ports");
  auto service = std::make_unique<plat::ras::RasService>(
      options, plat::ras::LoadConfiguredExtension(options));
  Report(plat::SERVICE_START_PENDING, 2);
  auto server = std::make_unique<plat::ras::RasPipeServer>(*service);
  if (const DWORD err = server->Start(); err != plat::ERROR_SUCCESS) {
    plat::ras::RasTrace("Cannot serve \\\\.\\pipe\\rassvc: " + plat::ErrorText(err));
    Report(plat::SERVICE_STOPPED, 0, err);
    return;
  }
  Report(plat::SERVICE_RUNNING, 0);

  {
    std::unique_lock lock(stopMutex);
    while (!stopSignal.wait_for(lock, std::chrono::seconds(1), [] { return stopRequested; })) {
      if (!MachineStillThere(root)) ::_exit(0);
    }
  }
  plat::ras::RasTrace("Stopping: every session is hung up");
  server->Stop();
  Report(plat::SERVICE_STOP_PENDING, 2);
  service->HangUpAll();
  server.reset();
  service.reset();
  plat::ras::RasTrace("Stopped");
  Report(plat::SERVICE_STOPPED, 3);
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("rassvc", kHelp);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (!tool.RejectUnknownOptions()) return tool.exitCode();
  char name[] = "RemoteAccess";
  const plat::SERVICE_TABLE_ENTRY table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const DWORD err = plat::StartServiceCtrlDispatcher(table);
  if (err == plat::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::fprintf(stderr,
                 "rassvc: this is the remote-access service; start it with "
                 "\"sc start RemoteAccess\" (or Router) or \"plmachine boot\".\n");
  }
  return err == plat::ERROR_SUCCESS ? pltools::kExitSuccess : pltools::kExitFailure;
}
