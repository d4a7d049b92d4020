// The service process: service entry and control handler, console mode, the
// start-up thread and its initialisation.
#pragma once

#include <memory>
#include <string>

#include "platform/named_mutex.h"
#include "platform/service.h"
#include "platform/win_types.h"
#include "service/service_context.h"
#include "service/stop_event.h"

namespace svc {

inline constexpr const char* kDispatchName = "Portulon Service";
inline constexpr plat::DWORD kInitFailed = 89;
// Held for the life of the running copy: one Portulon per machine.
inline constexpr const char* kInstanceMutexName = "Global\\PortulonServiceInstance";

// Process-wide state of the running service.
struct ServiceProcess {
  int serviceMode = 0;  // set at the start of the service entry
  int consoleMode = 0;  // set at the start of console mode
  plat::SERVICE_STATUS_HANDLE statusHandle = 0;
  std::unique_ptr<ManualResetEvent> stopEvent;  // created unnamed, not signalled
  // Set by ServiceThread once its start-up has run and the pipe (when it
  // could be created) answers; only then does the service report RUNNING.
  ManualResetEvent startupDone;
  // Owned while this is the one copy on the machine.
  plat::NamedMutex instance;
  plat::DWORD instanceError = 0;  // why it is not owned
  plat::DWORD instanceOwner = 0;  // the other copy's process id, 0 when unknown
  ServiceContext context;
};

ServiceProcess& Process();

// plsvc once its command line is checked (plsvc_main.cc): console mode (plsvc was
// given an argument) or the dispatcher. A second copy on the machine, in
// either mode, touches nothing: it says so and ends (a service reports
// STOPPED with ERROR_SERVICE_ALREADY_RUNNING).
int PlsvcMain(bool consoleMode);

// The entry named in the dispatch table.
void ServiceEntry(plat::DWORD argc, char** argv);
void ControlHandler(plat::DWORD control);
plat::BOOL ReportStatus(plat::DWORD state, plat::DWORD win32ExitCode, plat::DWORD serviceExitCode,
                        plat::DWORD checkPoint, plat::DWORD waitHint);
int RunConsoleMode();

// Runs once: initialisation, its event, the pipe server and the export
// scheduler; the threads it starts keep running.
void ServiceThread(ServiceContext& context);
// The start-up sequence; 0 or kInitFailed.
plat::DWORD FirstTimeInitialize(ServiceContext& context);

}  // namespace svc
