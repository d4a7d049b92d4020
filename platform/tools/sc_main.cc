// sc: talks to the service control manager of a machine, printing what the
// administrator knows from the Windows tool of the same name.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/service.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"

namespace {

using plat::DWORD;
using plat::ERROR_SUCCESS;

constexpr const char* kUsage = R"(sc - the service control manager of a machine, from the command line

Usage:
  sc [\\SERVER] query    [NAME]
  sc [\\SERVER] qc       NAME
  sc [\\SERVER] start    NAME [ARGUMENTS...]
  sc [\\SERVER] stop     NAME
  sc [\\SERVER] pause    NAME
  sc [\\SERVER] continue NAME
  sc [\\SERVER] interrogate NAME
  sc [\\SERVER] create   NAME binPath= COMMANDLINE [start= boot|system|auto|demand|disabled]
                         [error= ignore|normal|severe|critical] [DisplayName= TEXT]
                         [obj= DOMAIN\ACCOUNT password= PASSWORD]
  sc [\\SERVER] config   NAME [binPath= COMMANDLINE] [start= ...] [error= ...] [DisplayName= TEXT]
  sc [\\SERVER] delete   NAME

query without NAME lists the services that are not stopped. An option such as
binPath= takes the next argument as its value ("binPath=VALUE" works as well).
Service names compare case-insensitively. \\SERVER names another machine of
the network; by default sc works on the current machine.

Options:
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  success
  2  the command line is wrong
  N  the Win32 error code when the operation failed (as far as the 8 bits
     of an exit status carry it)

Files:
  ROOT/services/   the run-time state of the machine's services

Examples:
  sc query
  sc qc Portulon
  sc \\SRV2 stop RemoteAccess

See also:
  net(1), plmachine(1)
)";

const char* StateName(DWORD state) {
  switch (state) {
    case plat::SERVICE_STOPPED: return "STOPPED";
    case plat::SERVICE_START_PENDING: return "START_PENDING";
    case plat::SERVICE_STOP_PENDING: return "STOP_PENDING";
    case plat::SERVICE_RUNNING: return "RUNNING";
    case plat::SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case plat::SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case plat::SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
  }
}

const char* TypeName(DWORD type) {
  switch (type & 0xFF) {
    case 0x10: return "WIN32_OWN_PROCESS";
    case 0x20: return "WIN32_SHARE_PROCESS";
    default: return "WIN32";
  }
}

constexpr const char* kStartNames[] = {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START",
                                       "DISABLED"};
constexpr const char* kStartWords[] = {"boot", "system", "auto", "demand", "disabled"};
constexpr const char* kErrorNames[] = {"IGNORE", "NORMAL", "SEVERE", "CRITICAL"};
constexpr const char* kErrorWords[] = {"ignore", "normal", "severe", "critical"};

template <size_t N>
bool LookupWord(const char* const (&words)[N], const std::string& text, DWORD* value) {
  for (size_t i = 0; i < N; ++i) {
    if (plat::EqualsIgnoringCase(text, words[i])) {
      *value = static_cast<DWORD>(i);
      return true;
    }
  }
  return false;
}

int Failed(const char* call, DWORD error) {
  std::printf("[SC] %s FAILED %u:\n\n%s\n\n", call, error, plat::ErrorText(error).c_str());
  return static_cast<int>(error);
}

void PrintStatus(const std::string& name, const plat::SERVICE_STATUS& s, bool withPid, DWORD pid) {
  const bool stoppable = s.dwControlsAccepted & plat::SERVICE_ACCEPT_STOP;
  const bool pausable = s.dwControlsAccepted & plat::SERVICE_ACCEPT_PAUSE_CONTINUE;
  const bool shutdown = s.dwControlsAccepted & plat::SERVICE_ACCEPT_SHUTDOWN;
  std::printf("\nSERVICE_NAME: %s\n", name.c_str());
  std::printf("        TYPE               : %x  %s\n", s.dwServiceType, TypeName(s.dwServiceType));
  std::printf("        STATE              : %u  %s\n", s.dwCurrentState, StateName(s.dwCurrentState));
  std::printf("                                (%s, %s, %s)\n", stoppable ? "STOPPABLE" : "NOT_STOPPABLE",
              pausable ? "PAUSABLE" : "NOT_PAUSABLE", shutdown ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
  std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", s.dwWin32ExitCode, s.dwWin32ExitCode);
  std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", s.dwServiceSpecificExitCode,
              s.dwServiceSpecificExitCode);
  std::printf("        CHECKPOINT         : 0x%x\n", s.dwCheckPoint);
  std::printf("        WAIT_HINT          : 0x%x\n", s.dwWaitHint);
  if (withPid) {
    std::printf("        PID                : %u\n", pid);
    std::printf("        FLAGS              :\n");
  }
}

void PrintConfig(const plat::ServiceConfig& c) {
  std::printf("[SC] QueryServiceConfig SUCCESS\n\n");
  std::printf("SERVICE_NAME: %s\n", c.name.c_str());
  std::printf("        TYPE               : %x  %s\n", c.type, TypeName(c.type));
  std::printf("        START_TYPE         : %u   %s\n", c.startType,
              c.startType < 5 ? kStartNames[c.startType] : "?");
  std::printf("        ERROR_CONTROL      : %u   %s\n", c.errorControl,
              c.errorControl < 4 ? kErrorNames[c.errorControl] : "?");
  std::printf("        BINARY_PATH_NAME   : %s\n", c.binaryPath.c_str());
  std::printf("        LOAD_ORDER_GROUP   :\n");
  std::printf("        TAG                : 0\n");
  std::printf("        DISPLAY_NAME       : %s\n", c.displayName.c_str());
  std::printf("        DEPENDENCIES       :\n");
  std::printf("        SERVICE_START_NAME : %s\n", c.account.c_str());
}

// The "name= value" settings of create and config.
struct Settings {
  std::string binPath, displayName, account, password;
  bool hasPassword = false;
  DWORD startType = plat::SERVICE_NO_CHANGE;
  DWORD errorControl = plat::SERVICE_NO_CHANGE;
  DWORD type = plat::SERVICE_NO_CHANGE;
};

// Reads the settings after the service name; false (message printed) on a
// setting that sc does not know or a value it cannot read.
bool ParseSettings(pltools::Tool& tool, const std::vector<std::string>& args, size_t first,
                   Settings* s) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      tool.UsageError("unexpected argument '" + arg + "' (settings are written 'name= value')");
      return false;
    }
    const std::string key = arg.substr(0, eq + 1);
    std::string value = arg.substr(eq + 1);
    if (value.empty()) {
      if (i + 1 >= args.size()) {
        tool.UsageError(key + " needs a value");
        return false;
      }
      value = args[++i];
    }
    if (plat::EqualsIgnoringCase(key, "binPath=")) {
      s->binPath = value;
    } else if (plat::EqualsIgnoringCase(key, "DisplayName=")) {
      s->displayName = value;
    } else if (plat::EqualsIgnoringCase(key, "obj=")) {
      s->account = value;
    } else if (plat::EqualsIgnoringCase(key, "password=")) {
      s->password = value;
      s->hasPassword = true;
    } else if (plat::EqualsIgnoringCase(key, "start=")) {
      if (!LookupWord(kStartWords, value, &s->startType)) {
        tool.UsageError("start= takes boot, system, auto, demand or disabled");
        return false;
      }
    } else if (plat::EqualsIgnoringCase(key, "error=")) {
      if (!LookupWord(kErrorWords, value, &s->errorControl)) {
        tool.UsageError("error= takes ignore, normal, severe or critical");
        return false;
      }
    } else if (plat::EqualsIgnoringCase(key, "type=")) {
      if (plat::EqualsIgnoringCase(value, "own")) {
        s->type = plat::SERVICE_WIN32_OWN_PROCESS;
      } else if (plat::EqualsIgnoringCase(value, "share")) {
        s->type = 0x20;
      } else {
        tool.UsageError("type= takes own or share");
        return false;
      }
    } else {
      tool.UsageError("unknown setting '" + key + "'");
      return false;
    }
  }
  return true;
}

int QueryAll(const plat::ServiceManager& scm) {
  std::vector<std::string> names;
  if (DWORD err = scm.EnumServices(&names); err != ERROR_SUCCESS) return Failed("EnumServicesStatus", err);
  for (const auto& name : names) {
    plat::ServiceHandle svc;
    plat::SERVICE_STATUS status;
    if (scm.OpenService(name, &svc) != ERROR_SUCCESS || svc.QueryStatus(&status) != ERROR_SUCCESS ||
        status.dwCurrentState == plat::SERVICE_STOPPED) {
      continue;
    }
    PrintStatus(svc.name(), status, false, 0);
  }
  return 0;
}

int Run(pltools::Tool& tool) {
  std::vector<std::string>& args = tool.args();
  std::string server;
  if (!args.empty() && args[0].rfind("\\\\", 0) == 0) {
    server = args[0];
    args.erase(args.begin());
  }
  if (args.empty()) return tool.UsageError("no command given");
  const std::string command = plat::ToLowerAscii(args[0]);
  static const char* const kCommands[] = {"query", "qc",          "start",  "stop",  "pause",
                                          "continue", "interrogate", "create", "config", "delete"};
  if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands)) {
    return tool.UsageError("unknown command '" + args[0] + "'");
  }
  const std::string name = args.size() > 1 ? args[1] : std::string();
  if (name.empty() && command != "query") return tool.UsageError(command + " needs a service name");

  plat::ServiceManager scm;
  if (DWORD err = plat::ServiceManager::Open(server, &scm); err != ERROR_SUCCESS) {
    return Failed("OpenSCManager", err);
  }

  if (command == "create") {
    Settings s;
    if (!ParseSettings(tool, args, 2, &s)) return tool.exitCode();
    if (s.binPath.empty()) return tool.UsageError("create needs binPath=");
    plat::ServiceConfig config;
    config.name = name;
    config.displayName = s.displayName;
    config.binaryPath = s.binPath;
    config.account = s.account;
    if (s.startType != plat::SERVICE_NO_CHANGE) config.startType = s.startType;
    if (s.errorControl != plat::SERVICE_NO_CHANGE) config.errorControl = s.errorControl;
    if (s.type != plat::SERVICE_NO_CHANGE) config.type = s.type;
    if (DWORD err = scm.CreateService(config, s.password, nullptr); err != ERROR_SUCCESS) {
      return Failed("CreateService", err);
    }
    std::printf("[SC] CreateService SUCCESS\n");
    return 0;
  }
  if (command == "query" && name.empty()) return QueryAll(scm);

  plat::ServiceHandle svc;
  if (DWORD err = scm.OpenService(name, &svc); err != ERROR_SUCCESS) return Failed("OpenService", err);
  plat::SERVICE_STATUS status;

  if (command == "query") {
    if (DWORD err = svc.QueryStatus(&status); err != ERROR_SUCCESS) {
      return Failed("QueryServiceStatus", err);
    }
    PrintStatus(svc.name(), status, false, 0);
    return 0;
  }
  if (command == "qc") {
    plat::ServiceConfig config;
    if (DWORD err = svc.QueryConfig(&config); err != ERROR_SUCCESS) {
      return Failed("QueryServiceConfig", err);
    }
    PrintConfig(config);
    return 0;
  }
  if (command == "start") {
    const std::vector<std::string> startArgs(args.begin() + 2, args.end());
    if (DWORD err = svc.Start(startArgs); err != ERROR_SUCCESS) return Failed("StartService", err);
    svc.QueryStatus(&status);
    PrintStatus(svc.name(), status, true, svc.ProcessId());
    return 0;
  }
  const struct {
    const char* command;
    DWORD control;
  } kControls[] = {{"stop", plat::SERVICE_CONTROL_STOP},
                   {"pause", plat::SERVICE_CONTROL_PAUSE},
                   {"continue", plat::SERVICE_CONTROL_CONTINUE},
                   {"interrogate", plat::SERVICE_CONTROL_INTERROGATE}};
  for (const auto& c : kControls) {
    if (command != c.command) continue;
    if (DWORD err = svc.Control(c.control, &status); err != ERROR_SUCCESS) {
      return Failed("ControlService", err);
    }
    PrintStatus(svc.name(), status, false, 0);
    return 0;
  }
  if (command == "config") {
    Settings s;
    if (!ParseSettings(tool, args, 2, &s)) return tool.exitCode();
    if (!s.account.empty() || s.hasPassword) {
      return tool.UsageError("config does not change the account");
    }
    if (DWORD err = svc.ChangeConfig(s.type, s.startType, s.errorControl, s.binPath, s.displayName);
        err != ERROR_SUCCESS) {
      return Failed("ChangeServiceConfig", err);
    }
    std::printf("[SC] ChangeServiceConfig SUCCESS\n");
    return 0;
  }
  if (command == "delete") {
    if (DWORD err = svc.Delete(); err != ERROR_SUCCESS) return Failed("DeleteService", err);
    std::printf("[SC] DeleteService SUCCESS\n");
    return 0;
  }
  return tool.UsageError("unknown command '" + args[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("sc", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (!tool.RequireMachine()) return tool.exitCode();
  const int rc = Run(tool);
  std::fflush(stdout);
  return pltools::ExitStatus(rc);
}
