// net: the administrator's NET command on the current machine: starting and
// stopping services, the server's shares, and messages to users. Installed into every machine's
// system directory as net.exe, so that "NET START PORTULON" run from there
// (or by any program, through the program search) lands here.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/messenger.h"
#include "platform/netapi.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"
#include "platform/tools/tool_format.h"

namespace {

using plat::DWORD;
using plat::ERROR_SUCCESS;

constexpr const char* kUsage = R"(net - start and stop services, share folders and send messages on a machine

Usage:
  net START [SERVICE]
  net STOP SERVICE
  net SHARE
  net SHARE NAME
  net SHARE NAME=DRIVE:PATH [/REMARK:"TEXT"]
  net SHARE NAME /DELETE
  net SEND NAME MESSAGE
  net MESSAGES NAME
  net HELPMSG NUMBER

START without a service lists the services that are started. A service is
named by its name or its display name, in any case; START and STOP wait until
the service has started or stopped. SHARE alone lists the shares of this
machine; with a NAME it shows one, adds one (the folder must exist) or
deletes one. When the machine's LanmanServer\Parameters name a PublishFile
(and a PublishCommand), its host's SMB server serves the shares too: every
change rewrites that file and runs that command. SEND delivers MESSAGE, everything after the name exactly as
written, to the inbox of a computer or user of the network (a name holding
blanks is quoted: "ann smith"); MESSAGES shows what an inbox holds. HELPMSG
explains a message number that net printed. Commands and options may be
written in any case.

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
  NETWORK/messages/   what SEND delivered, one inbox per name

Examples:
  net start Portulon
  net stop RemoteAccess
  net send CAROLPC "The server restarts at noon"
  net messages CAROLPC
  net helpmsg 2185

See also:
  sc(1), plmachine(1)
)";

// How long START and STOP wait for the service to settle.
constexpr int kSettleTimeoutMs = 60000;
constexpr int kPollMs = 250;
constexpr int kDotEveryMs = 1000;

int SystemError(DWORD error) {
  std::fprintf(stderr, "System error %u has occurred.\n\n%s\n\n", error, plat::ErrorText(error).c_str());
  return static_cast<int>(error);
}

// The messages that point at NET HELPMSG, with what HELPMSG says about them.
struct HelpText {
  int number;
  const char* explanation;
};
constexpr HelpText kHelpTexts[] = {
    {2114, "This machine's shares are served by its host's SMB server, which did not take "
           "the change (it is not running): nothing was changed. Start it and try again."},
    {2118, "A share of that name already exists on this machine. Choose another name, or "
           "delete the share first with NET SHARE NAME /DELETE."},
    {2182, "The service was already running; nothing was changed. NET START alone lists the "
           "services that run."},
    {2185, "No service of that name or display name is installed on this machine. NET START "
           "alone lists the services that run; sc query lists every service with its name."},
    {2186, "The service did not report the state it was asked for within a minute. It may "
           "still be starting or stopping: look at sc query NAME, and at the Application event "
           "log for what the service said."},
    {2189, "The service was starting or stopping and could not take the request. Try again "
           "once it has settled (sc query NAME)."},
    {2191, "The service does not accept that request (it may not be running, or may not be "
           "stoppable). sc query NAME shows its state and the controls it accepts."},
    {2310, "No share of that name exists on this machine. NET SHARE alone lists the shares."},
    {3521, "The service was not running; nothing was changed."},
};

int HelpMessage(const std::string& text, int helpNumber, DWORD error) {
  std::fprintf(stderr, "%s\n\nMore help is available by typing NET HELPMSG %d.\n\n", text.c_str(),
               helpNumber);
  return static_cast<int>(error);
}

// NET HELPMSG NUMBER: what a number that NET printed means.
int NetHelpMsg(pltools::Tool& tool, const std::vector<std::string>& args) {
  if (args.size() != 1) return tool.UsageError("HELPMSG takes one message number");
  long long number = 0;
  if (!pltools::ParseNumber(args[0], 0, 99999, &number)) {
    return tool.ValueError("'" + args[0] + "' is not a message number");
  }
  for (const auto& h : kHelpTexts) {
    if (h.number == number) {
      std::printf("\n%s\n\n", h.explanation);
      return pltools::kExitSuccess;
    }
  }
  return tool.Fail(std::to_string(number) + " is not a message number of this NET");
}

// ------------------------------------------------------------------ services

// Finds a service by its name or, failing that, its display name.
DWORD FindService(const plat::ServiceManager& scm, const std::string& name, plat::ServiceHandle* svc,
                  std::string* displayName) {
  DWORD err = scm.OpenService(name, svc);
  if (err == plat::ERROR_SERVICE_DOES_NOT_EXIST) {
    std::vector<std::string> names;
    if (scm.EnumServices(&names) != ERROR_SUCCESS) return err;
    for (const auto& candidate : names) {
      plat::ServiceHandle h;
      plat::ServiceConfig c;
      if (scm.OpenService(candidate, &h) == ERROR_SUCCESS && h.QueryConfig(&c) == ERROR_SUCCESS &&
          plat::EqualsIgnoringCase(c.displayName, name)) {
        *svc = h;
        err = ERROR_SUCCESS;
        break;
      }
    }
  }
  if (err != ERROR_SUCCESS) return err;
  plat::ServiceConfig config;
  *displayName = svc->QueryConfig(&config) == ERROR_SUCCESS ? config.displayName : svc->name();
  return ERROR_SUCCESS;
}

// Waits while the service stays in `pending`, printing a dot a second;
// returns the state it settled in.
DWORD Settle(const plat::ServiceHandle& svc, DWORD pending) {
  const auto start = std::chrono::steady_clock::now();
  auto nextDot = start + std::chrono::milliseconds(kDotEveryMs);
  plat::SERVICE_STATUS status;
  for (;;) {
    if (svc.QueryStatus(&status) != ERROR_SUCCESS) return plat::SERVICE_STOPPED;
    if (status.dwCurrentState != pending) return status.dwCurrentState;
    const auto now = std::chrono::steady_clock::now();
    if (now - start > std::chrono::milliseconds(kSettleTimeoutMs)) return pending;
    if (now >= nextDot) {
      std::printf(".");
      std::fflush(stdout);
      nextDot += std::chrono::milliseconds(kDotEveryMs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

int ListStarted(const plat::ServiceManager& scm) {
  std::vector<std::string> names;
  if (DWORD err = scm.EnumServices(&names); err != ERROR_SUCCESS) return SystemError(err);
  std::printf("These Windows services are started:\n\n");
  for (const auto& name : names) {
    plat::ServiceHandle svc;
    plat::ServiceConfig config;
    plat::SERVICE_STATUS status;
    if (scm.OpenService(name, &svc) == ERROR_SUCCESS && svc.QueryStatus(&status) == ERROR_SUCCESS &&
        status.dwCurrentState != plat::SERVICE_STOPPED && svc.QueryConfig(&config) == ERROR_SUCCESS) {
      std::printf("   %s\n", config.displayName.c_str());
    }
  }
  std::printf("\nThe command completed successfully.\n\n");
  return 0;
}

int NetStart(pltools::Tool& tool, const std::vector<std::string>& args) {
  plat::ServiceManager scm;
  if (DWORD err = plat::ServiceManager::Open("", &scm); err != ERROR_SUCCESS) return SystemError(err);
  if (args.empty()) return ListStarted(scm);
  if (args.size() > 1) return tool.UsageError("START takes one service name");

  plat::ServiceHandle svc;
  std::string display;
  if (FindService(scm, args[0], &svc, &display) != ERROR_SUCCESS) {
    return HelpMessage("The service name is invalid.", 2185, plat::ERROR_SERVICE_DOES_NOT_EXIST);
  }
  const DWORD err = svc.Start();
  if (err == plat::ERROR_SERVICE_ALREADY_RUNNING) {
    return HelpMessage("The requested service has already been started.", 2182, err);
  }
  if (err != ERROR_SUCCESS) {
    std::fprintf(stderr, "The %s service could not be started.\n\n", display.c_str());
    return SystemError(err);
  }
  std::printf("The %s service is starting.", display.c_str());
  std::fflush(stdout);
  const DWORD state = Settle(svc, plat::SERVICE_START_PENDING);
  std::printf("\n");
  if (state == plat::SERVICE_RUNNING || state == plat::SERVICE_PAUSED) {
    std::printf("The %s service was started successfully.\n\n", display.c_str());
    return 0;
  }
  if (state == plat::SERVICE_START_PENDING) {
    // Not running yet is not started: whoever goes on now would find it absent.
    std::fprintf(stderr, "The %s service did not report that it runs within %d seconds.\n\n",
                 display.c_str(), kSettleTimeoutMs / 1000);
    return HelpMessage("The service is not responding to the control function.", 2186,
                       plat::ERROR_SERVICE_REQUEST_TIMEOUT);
  }
  plat::SERVICE_STATUS status;
  svc.QueryStatus(&status);
  std::fprintf(stderr, "The %s service could not be started.\n\n", display.c_str());
  if (status.dwWin32ExitCode == plat::ERROR_SERVICE_SPECIFIC_ERROR) {
    std::fprintf(stderr, "A service specific error occurred: %u.\n\n", status.dwServiceSpecificExitCode);
    return static_cast<int>(status.dwWin32ExitCode);
  }
  if (status.dwWin32ExitCode != ERROR_SUCCESS) return SystemError(status.dwWin32ExitCode);
  return static_cast<int>(plat::ERROR_SERVICE_NOT_ACTIVE);
}

int NetStop(pltools::Tool& tool, const std::vector<std::string>& args) {
  if (args.size() != 1) return tool.UsageError("STOP takes one service name");
  plat::ServiceManager scm;
  if (DWORD err = plat::ServiceManager::Open("", &scm); err != ERROR_SUCCESS) return SystemError(err);
  plat::ServiceHandle svc;
  std::string display;
  if (FindService(scm, args[0], &svc, &display) != ERROR_SUCCESS) {
    return HelpMessage("The service name is invalid.", 2185, plat::ERROR_SERVICE_DOES_NOT_EXIST);
  }
  plat::SERVICE_STATUS status;
  const DWORD err = svc.Control(plat::SERVICE_CONTROL_STOP, &status);
  if (err == plat::ERROR_SERVICE_NOT_ACTIVE) {
    return HelpMessage("The " + display + " service is not started.", 3521, err);
  }
  if (err == plat::ERROR_INVALID_SERVICE_CONTROL) {
    return HelpMessage("The requested pause, continue, or stop is not valid for this service.", 2191,
                       err);
  }
  if (err == plat::ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
    return HelpMessage("The service could not be controlled in its present state.", 2189, err);
  }
  if (err != ERROR_SUCCESS) return SystemError(err);
  std::printf("The %s service is stopping.", display.c_str());
  std::fflush(stdout);
  const DWORD state = Settle(svc, plat::SERVICE_STOP_PENDING);
  std::printf("\n");
  if (state == plat::SERVICE_STOPPED) {
    std::printf("The %s service was stopped successfully.\n\n", display.c_str());
    return 0;
  }
  std::fprintf(stderr, "The %s service could not be stopped.\n\n", display.c_str());
  return static_cast<int>(plat::ERROR_SERVICE_REQUEST_TIMEOUT);
}

// ------------------------------------------------------------------ shares

int ListShares() {
  std::vector<plat::ShareInfo> shares;
  if (DWORD err = plat::NetShareEnum(&shares); err != ERROR_SUCCESS) return SystemError(err);
  std::printf("\nShare name   Resource                        Remark\n\n");
  std::printf("%s\n", std::string(79, '-').c_str());
  for (const auto& s : shares) {
    if (s.name.size() > 12) {
      std::printf("%s\n%-12s %-31s %s\n", s.name.c_str(), "", s.path.c_str(), s.remark.c_str());
    } else {
      std::printf("%-12s %-31s %s\n", s.name.c_str(), s.path.c_str(), s.remark.c_str());
    }
  }
  std::printf("The command completed successfully.\n\n");
  return 0;
}

int NoSuchShare() {
  return HelpMessage("This shared resource does not exist.", 2310, plat::ERROR_BAD_NET_NAME);
}

// The host's SMB server did not take the change (netapi.h).
int ServerNotStarted() {
  return HelpMessage("The Server service is not started.", 2114, plat::NERR_ServerNotStarted);
}

int ShowShare(const std::string& name) {
  plat::ShareInfo s;
  if (plat::NetShareGetInfo(name, &s) != ERROR_SUCCESS) return NoSuchShare();
  std::printf("Share name        %s\nPath              %s\nRemark            %s\n", s.name.c_str(),
              s.path.c_str(), s.remark.c_str());
  std::printf("The command completed successfully.\n\n");
  return 0;
}

int AddShare(const std::string& name, const std::string& path, const std::string& remark) {
  const DWORD err = plat::NetShareAdd(plat::ShareInfo{name, path, remark});
  switch (err) {
    case ERROR_SUCCESS:
      std::printf("%s was shared successfully.\n\n", name.c_str());
      return 0;
    case plat::NERR_UnknownDevDir:
      return SystemError(plat::ERROR_PATH_NOT_FOUND);
    case plat::NERR_DuplicateShare:
      return HelpMessage("The name has already been shared.", 2118, plat::ERROR_ALREADY_EXISTS);
    case plat::NERR_ServerNotStarted:
      return ServerNotStarted();
    default:
      return SystemError(err);
  }
}

int DeleteShare(const std::string& name) {
  const DWORD err = plat::NetShareDel(name);
  switch (err) {
    case ERROR_SUCCESS:
      std::printf("%s was deleted successfully.\n\n", name.c_str());
      return 0;
    case plat::NERR_NetNameNotFound:
      return NoSuchShare();
    case plat::NERR_ServerNotStarted:
      return ServerNotStarted();
    default:
      return SystemError(err);
  }
}

int NetShare(pltools::Tool& tool, const std::vector<std::string>& args) {
  if (args.empty()) return ListShares();
  std::string target, remark;
  bool remove = false;
  for (const auto& arg : args) {
    if (plat::EqualsIgnoringCase(arg, "/delete") || plat::EqualsIgnoringCase(arg, "/d")) {
      remove = true;
    } else if (plat::StartsWithIgnoringCase(arg, "/remark:")) {
      remark = arg.substr(8);
    } else if (!arg.empty() && arg[0] == '/') {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (target.empty()) {
      target = arg;
    } else {
      return tool.UsageError("unexpected argument '" + arg + "'");
    }
  }
  if (target.empty()) return tool.UsageError("SHARE needs a share name");
  const size_t eq = target.find('=');
  if (remove) {
    if (eq != std::string::npos) return tool.UsageError("/DELETE takes a share name only");
    return DeleteShare(target);
  }
  if (eq == std::string::npos) return ShowShare(target);
  return AddShare(target.substr(0, eq), target.substr(eq + 1), remark);
}

// ------------------------------------------------------------------ commands

struct Verb {
  const char* name;
  int (*run)(pltools::Tool&, const std::vector<std::string>&);
};

int NetMessages(pltools::Tool& tool, const std::vector<std::string>& args) {
  if (args.size() != 1) return tool.UsageError("MESSAGES needs one name");
  std::vector<plat::NetMessage> messages;
  if (DWORD err = plat::ReadNetMessages(args[0], &messages); err != ERROR_SUCCESS) {
    return SystemError(err);
  }
  if (messages.empty()) std::printf("There are no messages for %s.\n", args[0].c_str());
  for (const auto& m : messages) {
    std::printf("Message from %s to %s on %s\n%s\n\n", m.from.c_str(), m.to.c_str(),
                pltools::IsoLocalTime(m.sent).c_str(), m.text.c_str());
  }
  return pltools::kExitSuccess;
}

constexpr Verb kVerbs[] = {
    {"START", NetStart},
    {"STOP", NetStop},
    {"SHARE", NetShare},
    {"MESSAGES", NetMessages},
};

// The next blank-separated word of a command line at `pos` (quotes group).
std::string_view NextWord(std::string_view line, size_t* pos) {
  while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == '\t')) ++*pos;
  const size_t start = *pos;
  bool quoted = false;
  while (*pos < line.size() && (quoted || (line[*pos] != ' ' && line[*pos] != '\t'))) {
    if (line[*pos] == '"') quoted = !quoted;
    ++*pos;
  }
  return line.substr(start, *pos - start);
}

// NET SEND NAME MESSAGE: the message is the rest of the command line as it was
// written, so quotes, percent signs and the like arrive unchanged. It never
// goes through option parsing: a message may well contain "/?".
int NetSend(std::string_view commandLine) {
  size_t pos = 0;
  NextWord(commandLine, &pos);  // the program
  NextWord(commandLine, &pos);  // SEND
  // A name holding blanks comes quoted; the quotes are not part of it.
  std::string name(NextWord(commandLine, &pos));
  std::erase(name, '"');
  if (pos < commandLine.size()) ++pos;  // the one blank after the name
  const std::string_view text = commandLine.substr(std::min(pos, commandLine.size()));
  if (name.empty() || text.empty()) {
    std::fprintf(stderr, "net: SEND needs a name and a message\n");
    return pltools::kExitUsage;
  }
  if (plat::CurrentMachineRoot().empty()) {
    std::fprintf(stderr, "net: no machine (set PORTULON_MACHINE)\n");
    return pltools::kExitUsage;
  }
  if (DWORD err = plat::NetMessageBufferSend(name, text); err != ERROR_SUCCESS) return SystemError(err);
  std::printf("The message was successfully sent to %s.\n", name.c_str());
  return pltools::kExitSuccess;
}

int Run(pltools::Tool& tool) {
  std::vector<std::string>& args = tool.args();
  if (args.empty()) return tool.UsageError("no command given");
  if (plat::EqualsIgnoringCase(args[0], "HELP")) return tool.PrintHelp();
  for (const auto& verb : kVerbs) {
    if (plat::EqualsIgnoringCase(args[0], verb.name)) {
      return verb.run(tool, std::vector<std::string>(args.begin() + 1, args.end()));
    }
  }
  return tool.UsageError("unknown command '" + args[0] + "'");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && plat::EqualsIgnoringCase(argv[1], "SEND")) {
    const int rc = NetSend(plat::GetCommandLine(argc, argv));
    return pltools::ExitStatus(rc);
  }
  pltools::Tool tool("net", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  // HELPMSG needs no machine.
  if (!tool.args().empty() && plat::EqualsIgnoringCase(tool.args()[0], "HELPMSG")) {
    if (!tool.RejectUnknownOptions()) return tool.exitCode();
    return NetHelpMsg(tool, std::vector<std::string>(tool.args().begin() + 1, tool.args().end()));
  }
  if (!tool.RequireMachine()) return tool.exitCode();
  const int rc = Run(tool);
  std::fflush(stdout);
  return pltools::ExitStatus(rc);
}
