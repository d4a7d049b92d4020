#include "service/service_process.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "common/qcl_trace.h"
#include "common/ras_kind.h"
#include "common/record_spool.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "service/action_thread.h"
#include "service/event_report.h"
#include "service/export_thread.h"
#include "service/outage_recovery.h"
#include "service/pipe_server.h"
#include "service/ras_ports.h"
#include "service/session_files.h"
#include "service/session_restore.h"

namespace svc {

namespace {

using plat::DWORD;

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long ThreadNumber(std::thread& t) { return static_cast<long>(t.native_handle() & 0x7fffffff); }

// Starts ServiceThread on the process's context; the thread is never joined.
bool StartServiceThread(const char* traceText) {
  std::thread t([] { ServiceThread(Process().context); });
  common::Trace("ServiceThread", traceText, ThreadNumber(t));
  t.detach();
  return true;
}

int RefuseSecondCopy(DWORD err, DWORD owner) {
  if (err == plat::ERROR_ALREADY_EXISTS) {
    if (owner != 0) {
      std::fprintf(stderr,
                   "plsvc: Portulon is already running on this machine (process %u); "
                   "this copy ends without touching anything.\n", owner);
    } else {
      std::fprintf(stderr,
                   "plsvc: Portulon is already running on this machine; "
                   "this copy ends without touching anything.\n");
    }
  } else {
    std::fprintf(stderr, "plsvc: cannot check for another copy on this machine: %s\n",
                 plat::ErrorText(err).c_str());
  }
  return 1;
}

// The kind of this machine's remote-access server; a machine whose OS version
// cannot be read counts as RAS, and the trace says so (nobody sees a message
// box from a service).
DWORD LocalRemoteAccessKind() {
  QCL::TraceIndent indent("RemoteAccessKind");
  const common::RemoteAccessFacts facts = common::ReadRemoteAccessFacts("");
  DWORD kind = common::kRasKindRas;
  if (!common::RemoteAccessKindOf(facts, &kind)) {
    common::Trace("GetLocalOSVersion", "Failed to determine local OS type", 0);
  } else if (kind != common::kRasKindOpenVpn) {
    QCL::TraceLine("OS major version %u", facts.osMajor);
  }
  return kind;
}

}  // namespace

ServiceProcess& Process() {
  static ServiceProcess process;
  return process;
}

plat::BOOL ReportStatus(DWORD state, DWORD win32ExitCode, DWORD serviceExitCode, DWORD checkPoint,
                        DWORD waitHint) {
  plat::SERVICE_STATUS status;
  status.dwServiceType = plat::SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  // A start that waits for its data folder can be stopped.
  status.dwControlsAccepted = plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN;
  status.dwWin32ExitCode =
      serviceExitCode != 0 ? plat::ERROR_SERVICE_SPECIFIC_ERROR : win32ExitCode;
  status.dwServiceSpecificExitCode = serviceExitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return plat::SetServiceStatus(Process().statusHandle, status);
}

void ControlHandler(DWORD control) {
  if (control == plat::SERVICE_CONTROL_STOP || control == plat::SERVICE_CONTROL_SHUTDOWN) {
    ReportStatus(plat::SERVICE_STOP_PENDING, plat::ERROR_SUCCESS, 0, 1, 5000);
    if (Process().stopEvent) Process().stopEvent->Set();
  }
  // Pause, interrogate and the rest change nothing and report nothing.
}

void ServiceEntry(DWORD argc, char** /*argv*/) {
  ServiceProcess& p = Process();
  p.serviceMode = 1;
  if (!p.instance.owned()) {
    // Another copy runs (in console mode, or a stray one): the files are its.
    p.statusHandle = plat::RegisterServiceCtrlHandler(kDispatchName, ControlHandler);
    if (p.statusHandle != 0) {
      ReportStatus(plat::SERVICE_STOPPED,
                   p.instanceError == plat::ERROR_ALREADY_EXISTS ? plat::ERROR_SERVICE_ALREADY_RUNNING
                                                                 : p.instanceError,
                   0, 0, 0);
    }
    return;
  }
  common::ProcessTrace().SetEnabled(true);
  if (argc == 2) {
    plat::Beep(7000, 200);
    plat::Beep(3000, 100);
    plat::Beep(6000, 200);
  }
  p.statusHandle = plat::RegisterServiceCtrlHandler(kDispatchName, ControlHandler);
  bool ok = p.statusHandle != 0;
  ok = ok && ReportStatus(plat::SERVICE_START_PENDING, plat::ERROR_SUCCESS, 0, 1, 5000);
  if (ok) {
    p.stopEvent = std::make_unique<ManualResetEvent>();
    ok = ReportStatus(plat::SERVICE_START_PENDING, plat::ERROR_SUCCESS, 0, 2, 3000);
  }
  ok = ok && StartServiceThread("Got Thread ID#");
  ok = ok && ReportStatus(plat::SERVICE_START_PENDING, plat::ERROR_SUCCESS, 0, 3, 5000);
  // Running means the pipe answers: a dial-in before that would be admitted
  // unchecked by the hook module. A slow start keeps its checkpoint moving.
  // A stop asked for meanwhile is seen within a fifth of a second.
  for (DWORD checkPoint = 4, waited = 0; ok && !p.startupDone.WaitFor(std::chrono::milliseconds(200)) &&
                                         !p.stopEvent->WaitFor(std::chrono::milliseconds(0));) {
    if ((waited += 200) % 4000 == 0) {
      ok = ReportStatus(plat::SERVICE_START_PENDING, plat::ERROR_SUCCESS, 0, checkPoint++, 5000);
    }
  }
  const bool stoppedWhileStarting = ok && p.stopEvent->WaitFor(std::chrono::milliseconds(0));
  ok = ok && (stoppedWhileStarting || ReportStatus(plat::SERVICE_RUNNING, plat::ERROR_SUCCESS, 0, 4, 0));
  if (!ok) {
    p.stopEvent.reset();
    if (p.statusHandle) ReportStatus(plat::SERVICE_STOPPED, plat::ERROR_SUCCESS, 0, 0, 0);
    return;
  }
  p.stopEvent->Wait();
  ReportStatus(plat::SERVICE_STOP_PENDING, plat::ERROR_SUCCESS, 0, 1, 5000);
  SleepMs(4000);
  ReportToEventLog(0, common::kEventStopped, nullptr, nullptr, 0);
  ReportStatus(plat::SERVICE_STOPPED, plat::ERROR_SUCCESS, 0, 2, 0);
  // The other threads are not told to finish: the process simply ends.
  std::fflush(stdout);
  ::_exit(0);
}

int RunConsoleMode() {
  ServiceProcess& p = Process();
  p.consoleMode = 1;
  common::ProcessTrace().SetConsoleMode(true);
  common::ProcessTrace().SetEnabled(true);

  const std::string colons(59, ':');
  std::printf("%s\n", colons.c_str());
  std::printf("::     Portulon Service launched in Console Mode       ::\n");
  std::printf("%s\n", colons.c_str());
  plat::FileVersionInfo info;
  const DWORD err = plat::GetFileVersionInfo("plsvc.exe", &info);
  if (err == plat::ERROR_SUCCESS) {
    std::string line = ":: Version   : " + info.productVersionText + " ";
    if (line.size() < colons.size()) line += std::string(colons.size() - line.size(), ':');
    std::printf("%s\n", line.c_str());
  } else {
    std::printf(":: Version size failed (%d) :: Build Date: %s @ %s\n", static_cast<int>(err),
                __DATE__, __TIME__);
  }
  std::fflush(stdout);

  plat::Beep(40, 1000);
  SleepMs(3000);
  p.stopEvent = std::make_unique<ManualResetEvent>();
  StartServiceThread("Got Thread ID #");
  p.startupDone.Wait();
  plat::Beep(500, 100);
  std::printf("Service launched in Console Mode OK.\n");
  std::fflush(stdout);
  // Nothing signals it in console mode: the program runs until it is killed.
  p.stopEvent->Wait();
  return 0;
}

DWORD FirstTimeInitialize(ServiceContext& context) {
  tzset();
  context.serverName = plat::GetComputerName().substr(0, 19);
  common::Trace("FirstTimeInitialize", "Step1", 0);
  common::Trace("FirstTimeInitialize", "Read Settings from Registry", 0);
  ReadSettings(context);

  common::Trace("FirstTimeInitialize", "Read System Data from Central DB", 0);
  ReadSystemDataFromCentralDB(context);

  common::Trace("FirstTimeInitialize", "Step4: Init portable", 0);
  SleepMs(100);
  context.portTable.ClearAll();

  ClearTEMPFile(context.paths, context.serverName);

  const DWORD kind = context.remoteAccess.kind = LocalRemoteAccessKind();
  common::Trace("FirstTimeInit", std::string("This is ") +
                                     (kind == common::kRasKindRas ? "standard RAS" : common::RemoteAccessKindName(kind)),
                0);
  plat::RegWriteDword(kServiceKey, "RAS Type", kind);

  if (DWORD rc = RAS_LoadOrdinals(context.remoteAccess, context.serverName); rc != 0) {
    common::Trace("FirstTimeInitialize", "Failed to load necessary ordinals", static_cast<long>(rc));
    return kInitFailed;
  }
  // Before the first supervision pass and before the pipe answers: the
  // sessions that outlived the previous run are supervised again, and count
  // for the next dial-in's duplicate check.
  ResumeSessionsOfRemoteAccess(context);

  StartActionThread(context);

  context.groupPropertiesUsed = true;
  common::Trace("FirstTimeInitialize", "Init SUCCESS", 0);
  return 0;
}

void ServiceThread(ServiceContext& context) {
  // Known before the initialisation: the sessions it resumes take their
  // addresses from it.
  context.sessionFile = SessionFilePath(plat::GetCurrentDirectory());
  // On this machine, outside the data folder: it keeps what the folder would not take.
  context.spool.Open(common::RecordSpoolPath());
  const DWORD result = FirstTimeInitialize(context);
  if (result != 0) {
    const std::string code = std::to_string(result);
    ReportToEventLog(1, common::kEventStartFailed, "Error in step ", code.c_str(), 2);
  }
  if (Process().consoleMode) {
    std::printf("--------------- VARIABLE DUMPING DEBUG -------------------------\n");
    std::printf("bGroupPropertiesUsed: %s\n", context.groupPropertiesUsed ? "TRUE" : "FALSE");
    std::printf("----------------------------------------------------------------\n");
    std::fflush(stdout);
  }
  // Without its data folder the service can decide nothing: it waits for the
  // folder, says so once, and is up and running only once its pipe answers.
  bool waitReported = false;
  for (DWORD err = NP_InitPipe(context); err != plat::ERROR_SUCCESS;) {
    if (!waitReported) {
      const std::string why = "Waiting for the data folder " + context.PathsSnapshot().folder +
                              " (" + plat::ErrorText(err) + "); no caller is checked until it can "
                              "be reached. Trying again every " +
                              std::to_string(kDataFolderRetrySeconds) + " seconds.";
      ReportToEventLog(1, common::kEventShareAccessFailed, "Failed to access Primary Portulon", why.c_str(), 2);
      waitReported = true;
    }
    if (Process().stopEvent && Process().stopEvent->WaitFor(std::chrono::seconds(kDataFolderRetrySeconds))) {
      return;  // stopped while waiting
    }
    if (!Process().stopEvent) SleepMs(kDataFolderRetrySeconds * 1000);
    // Looked at quietly; the folder test that reports comes once it is there.
    err = ProbeDataFolder(context.paths.folder, context.serverName);
    if (err == plat::ERROR_SUCCESS) {
      // Before the pipe thread exists: the settings that could not be read
      // at the start, and what an earlier run kept.
      {
        const std::lock_guard records(context.recordMutex);
        RecoverFromOutages(context);
      }
      err = NP_InitPipe(context);
    }
  }
  if (result == 0) {
    ReportToEventLog(0, common::kEventStarted, "Initialization completed successfully",
                     "The Portulon service is up and running", 2);
  }
  Process().startupDone.Set();
  StartExportThread(context);
}

int PlsvcMain(bool consoleMode) {
  QCL::SetTraceLevel(12);
  ServiceProcess& p = Process();
  // Before anything touches a file: a second copy would clear the logged-in
  // users of the first and admit duplicate logins.
  p.instanceError = plat::NamedMutex::CreateOwned(kInstanceMutexName, &p.instance,
                                                  &p.instanceOwner);
  common::ConfigureProcessTrace(common::ServiceTraceOptions());
  common::ProcessTrace().SetEnabled(false);
  if (consoleMode) {
    if (!p.instance.owned()) return RefuseSecondCopy(p.instanceError, p.instanceOwner);
    return RunConsoleMode();
  }

  static char name[] = "Portulon Service";
  const plat::SERVICE_TABLE_ENTRY table[] = {{name, ServiceEntry}, {nullptr, nullptr}};
  const DWORD err = plat::StartServiceCtrlDispatcher(table);
  if (err != plat::ERROR_SUCCESS) {
    // The diagnostic hook receives "In StartServiceCtrlDispatcher" and the
    // error; it does nothing with them.
    return static_cast<int>(err);
  }
  return 0;
}

}  // namespace svc
