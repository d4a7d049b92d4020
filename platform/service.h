// The service control manager, local or on a remote machine, and the service
// side of it (dispatcher, control handler, status).
//
// The service database is the registry's
// HKLM\System\CurrentControlSet\Services\<Name> (Type, Start, ErrorControl,
// ImagePath, DisplayName, ObjectName), exactly as on Windows; a key without an
// ImagePath is no service. Run-time state lives in the machine's services/
// folder: <name>/status (the last SERVICE_STATUS and the process id) and
// <name>/control (the socket on which the dispatcher receives control codes).
// Names compare case-insensitively. A service whose process is gone reads as
// stopped. A service is started with the system directory as its current
// directory, on the machine that holds its database.
//
// Thread safety: the manager calls from any thread, also at once (starts of
// one service exclude each other through a file lock, which holds between
// threads as between processes); the service side as Windows has it
// (dispatcher on the main thread, handler on the dispatcher's). Out
// parameters on failure: left as they were, with two exceptions: Control
// fills `status` with the service's latest status once it has read it (every
// failure but ERROR_INVALID_HANDLE and ERROR_INVALID_PARAMETER), as
// ControlService does; QueryStatusHistory leaves `history` empty.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

inline constexpr const char* kServicesKey = "System\\CurrentControlSet\\Services";

inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_BOOT_START = 0;
inline constexpr DWORD SERVICE_SYSTEM_START = 1;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_DISABLED = 4;
inline constexpr DWORD SERVICE_ERROR_IGNORE = 0;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;
inline constexpr DWORD SERVICE_NO_CHANGE = 0xFFFFFFFF;

inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

inline constexpr DWORD SERVICE_ACCEPT_STOP = 1;
inline constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 2;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 4;

struct SERVICE_STATUS {
  DWORD dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  DWORD dwCurrentState = SERVICE_STOPPED;
  DWORD dwControlsAccepted = 0;
  DWORD dwWin32ExitCode = 0;
  DWORD dwServiceSpecificExitCode = 0;
  DWORD dwCheckPoint = 0;
  DWORD dwWaitHint = 0;
};

struct ServiceConfig {
  std::string name;         // key name as stored
  std::string displayName;
  DWORD type = SERVICE_WIN32_OWN_PROCESS;
  DWORD startType = SERVICE_DEMAND_START;
  DWORD errorControl = SERVICE_ERROR_NORMAL;
  std::string binaryPath;   // ImagePath: a Windows command line
  std::string account;      // ObjectName; "LocalSystem" when none is given
};

class ServiceHandle;

// OpenSCManager.
class ServiceManager {
 public:
  ServiceManager() = default;
  // `machine` empty or "\\NAME". ERROR_BAD_NETPATH for an unknown or down machine.
  static DWORD Open(std::string_view machine, ServiceManager* out);

  // ERROR_SERVICE_EXISTS when the name is taken. `password` is checked only for
  // being given with an account other than LocalSystem (ERROR_INVALID_SERVICE_ACCOUNT
  // for an account not of the form DOMAIN\name or .\name).
  DWORD CreateService(const ServiceConfig& config, std::string_view password,
                      ServiceHandle* out) const;
  // ERROR_SERVICE_DOES_NOT_EXIST when missing.
  DWORD OpenService(std::string_view name, ServiceHandle* out) const;
  // Names of all services, alphabetically.
  DWORD EnumServices(std::vector<std::string>* names) const;

  bool valid() const { return !machineRoot_.empty(); }
  const std::string& machineRoot() const { return machineRoot_; }

 private:
  std::string machineRoot_;
};

// OpenService / CreateService result.
class ServiceHandle {
 public:
  ServiceHandle() = default;

  // Starts the service's program and returns once its dispatcher is connected
  // (ERROR_SERVICE_REQUEST_TIMEOUT when it does not connect within 30 s or its
  // process ends first). ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_DISABLED.
  // `args` are the start parameters after the service name.
  DWORD Start(const std::vector<std::string>& args = {}) const;
  // Sends a control code and returns the status after the handler ran.
  // ERROR_SERVICE_NOT_ACTIVE when the service is not running.
  DWORD Control(DWORD control, SERVICE_STATUS* status) const;
  DWORD QueryStatus(SERVICE_STATUS* status) const;
  // Every status the service reported since it was last started, oldest first
  // (the service's state journal, kept in its state folder).
  DWORD QueryStatusHistory(std::vector<SERVICE_STATUS>* history) const;
  DWORD QueryConfig(ServiceConfig* config) const;
  // SERVICE_NO_CHANGE (or an empty text) leaves a setting as it is.
  DWORD ChangeConfig(DWORD type, DWORD startType, DWORD errorControl, std::string_view binaryPath,
                     std::string_view displayName) const;
  // Removes the service from the database (a running service keeps running).
  DWORD Delete() const;
  // Process id of the running service, 0 when none.
  DWORD ProcessId() const;

  bool valid() const { return !name_.empty(); }
  const std::string& name() const { return name_; }

 private:
  friend class ServiceManager;
  std::string machineRoot_;
  std::string name_;
};

// Waits until the service reaches `state` or `timeoutMs` passes; ERROR_SUCCESS
// when reached, ERROR_SERVICE_REQUEST_TIMEOUT otherwise.
DWORD WaitForServiceState(const ServiceHandle& service, DWORD state, DWORD timeoutMs);

// Starts every service of the machine whose Start is SERVICE_AUTO_START and
// that is not running, one after another: each is waited for until it
// reports running (up to 60 s), as a machine does at boot. A service that
// stopped instead gives its exit code (ERROR_SERVICE_NOT_ACTIVE when it gave
// none), one still starting ERROR_SERVICE_REQUEST_TIMEOUT. Returns the first
// error, having tried them all.
DWORD StartAutomaticServices(std::string_view machine);

// ---- The service side ----

using ServiceMainFunction = void (*)(DWORD argc, char** argv);
using HandlerFunction = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRY {
  const char* serviceName;
  ServiceMainFunction serviceProc;
};

// Connects the process to the control manager that started it, runs the
// service's main function on a new thread (argv[0] is the service name, then
// the start parameters) and delivers control codes to the registered handler
// on the calling thread. Returns when the service reports SERVICE_STOPPED (or
// its main function returns), ERROR_SUCCESS then. Fails at once with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the process was not started by
// the control manager. The table ends with an entry whose name is nullptr.
DWORD StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table);

using SERVICE_STATUS_HANDLE = std::uintptr_t;  // 0 = failure
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(std::string_view serviceName,
                                                 HandlerFunction handler);
// FALSE on failure (GetLastError tells why).
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status);

}  // namespace plat
