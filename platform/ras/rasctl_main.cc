// rasctl: drives the remote-access stand-in of a machine: callers dial in on
// its ports, move bytes and hang up, as they would on a real dial-in server.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ras/rassvc_protocol.h"
#include "platform/sysinfo.h"
#include "platform/tools/tool_args.h"
#include "platform/tools/tool_format.h"

namespace {

using plat::DWORD;
namespace ras = plat::ras;

constexpr const char* kUsage = R"(rasctl - dial in, hang up and look at the ports of a machine's remote-access service

Usage:
  rasctl [--machine ROOT] dial PORT DOMAIN\user [--computer NAME] [--wksta NAME]
                               [--address a.b.c.d] [--callback NUMBER] [--links N]
  rasctl [--machine ROOT] traffic PORT [--sent N] [--received N]
  rasctl [--machine ROOT] hangup PORT
  rasctl [--machine ROOT] ports
  rasctl [--machine ROOT] stall SECONDS
  rasctl --help | --version

dial      a caller dials in on PORT (COM1, COM2, ...) as DOMAIN\user. The
          remote-access service asks its administration extension for the
          caller's address, then whether to admit the call, and rasctl
          prints what became of it, as "COM1: DOM\ann admitted, address
          10.0.0.10", or "COM1: DOM\bob refused" and the reason in
          parentheses.
traffic   adds N bytes sent to the caller and received from it to the port's
          counters, and prints the totals.
hangup    the caller on PORT hangs up: the session records go to the System
          event log and the administration extension is told.
ports     lists every port: its state, user, start, address and byte counts.
stall     the router's administration calls (port listings and port queries)
          hang for SECONDS before they answer; 0 ends a stall.

Options:
  --computer NAME    dial: the remote computer's name ("?..." when unknown)
  --wksta NAME       dial: the NetBIOS workstation name; without it the call
                     has no NetBIOS projection
  --address a.b.c.d  dial: the address the service proposes (default: the
                     port's pool address, 10.0.0.10 for COM1, ...)
  --callback NUMBER  dial: the caller was called back at NUMBER
  --links N          dial (router): one connection of N links, PORT and the
                     next free ports; each link is admitted or refused on its own
  --sent N           traffic: bytes sent to the caller
  --received N       traffic: bytes received from the caller
  --machine ROOT     the machine folder (default: PORTULON_MACHINE)
  --help             show this text
  --version          show the program's version

Exit status:
  0  done (dial: every link admitted, also without a check)
  1  failed or refused (the reason is printed)
  2  the command line is wrong

Files:
  ROOT/pipes/rassvc            the remote-access service's pipe
  ROOT/eventlog/System.log     the session records

Examples:
  rasctl dial COM1 'DOM\ann' --wksta ANNPC
  rasctl traffic COM1 --sent 5000 --received 12000
  rasctl hangup COM1
  rasctl ports

See also:
  rassvc(1), plreport(1), eventlog(1)
)";

// Sends a request; on failure prints why and returns false.
bool Call(pltools::Tool& tool, const std::string& request, std::vector<std::string>* fields,
          std::vector<std::string>* lines = nullptr) {
  std::string text;
  const DWORD err = ras::CallRasService("", request, fields, lines, &text);
  if (err == plat::ERROR_SUCCESS) return true;
  if (err == plat::RPC_S_SERVER_UNAVAILABLE) {
    tool.Fail("the remote-access service does not run on this machine (start it with "
              "\"sc start RemoteAccess\", or Router on an NT 4 router)");
  } else if (!text.empty()) {
    tool.Fail(text);
  } else {
    tool.Fail(err);
  }
  return false;
}

bool OnePort(pltools::Tool& tool, const char* command, std::string* port) {
  if (!tool.RejectUnknownOptions()) return false;
  auto& args = tool.args();
  if (args.size() != 2) {
    tool.UsageError(std::string(command) + " takes exactly one PORT");
    return false;
  }
  *port = args[1];
  return true;
}

int Dial(pltools::Tool& tool) {
  ras::DialRequest r;
  tool.TakeOption("--computer", &r.computer);
  tool.TakeOption("--wksta", &r.wksta);
  tool.TakeOption("--address", &r.address);
  tool.TakeOption("--callback", &r.callback);
  std::string linksText;
  const bool haveLinks = tool.TakeOption("--links", &linksText);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  if (haveLinks) {
    long long links = 0;
    if (!pltools::ParseNumber(linksText, 1, ras::kMaxLinks, &links)) {
      return tool.ValueError("--links takes a number from 1 to " + std::to_string(ras::kMaxLinks));
    }
    r.links = static_cast<int>(links);
  }
  auto& args = tool.args();
  if (args.size() != 3) return tool.UsageError("dial takes a PORT and an account DOMAIN\\user");
  r.port = args[1];
  std::string why;
  if (!ras::SplitAccount(args[2], &r.domain, &r.user, &why)) {
    return tool.UsageError("'" + args[2] + "': " + why);
  }
  if (!ras::ValidateDialRequest(r, &why)) return tool.UsageError(why);
  if (!tool.RequireMachine()) return tool.exitCode();

  std::vector<std::string> f, lines;
  if (!Call(tool, ras::EncodeDial(r), &f, &lines)) return tool.exitCode();
  if (r.links > 1) {
    // One line per link, each admitted or refused on its own.
    bool all = !lines.empty();
    for (const std::string& line : lines) {
      const std::vector<std::string> l = ras::SplitFields(line);
      const bool up = l.size() >= 2 && l[1] == "ADMITTED";
      all = all && up;
      const std::string outcome = l.size() >= 3 ? l[2] : std::string();
      if (up && f.size() >= 3) {
        std::printf("%s: %s admitted%s, address %s\n", l[0].c_str(), args[2].c_str(), outcome.c_str(),
                    f[2].c_str());
      } else {
        std::printf("%s: %s refused%s\n", l.empty() ? r.port.c_str() : l[0].c_str(), args[2].c_str(),
                    outcome.c_str());
      }
    }
    return all ? pltools::kExitSuccess : pltools::kExitFailure;
  }
  const std::string port = f.size() >= 2 ? f[1] : r.port;
  const bool admitted = f.size() >= 3 && f[0] == "ADMITTED";
  const std::string outcome = f.size() >= 4 ? f[3] : std::string();
  if (admitted) {
    std::printf("%s: %s admitted%s, address %s\n", port.c_str(), args[2].c_str(), outcome.c_str(),
                f[2].c_str());
    return pltools::kExitSuccess;
  }
  std::printf("%s: %s refused%s\n", port.c_str(), args[2].c_str(), outcome.c_str());
  return pltools::kExitFailure;
}

int Traffic(pltools::Tool& tool) {
  std::string sentText, receivedText;
  const bool haveSent = tool.TakeOption("--sent", &sentText);
  const bool haveReceived = tool.TakeOption("--received", &receivedText);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  std::string port;
  if (!OnePort(tool, "traffic", &port)) return tool.exitCode();
  if (!haveSent && !haveReceived) return tool.UsageError("give --sent N, --received N or both");
  long long sent = 0, received = 0;
  constexpr long long kMax = 1LL << 48;
  if ((haveSent && !pltools::ParseNumber(sentText, 0, kMax, &sent)) ||
      (haveReceived && !pltools::ParseNumber(receivedText, 0, kMax, &received))) {
    return tool.UsageError("byte counts are whole numbers from 0");
  }
  if (!tool.RequireMachine()) return tool.exitCode();
  std::vector<std::string> f;
  if (!Call(tool, ras::JoinFields({"TRAFFIC", port, std::to_string(sent), std::to_string(received)}),
            &f)) {
    return tool.exitCode();
  }
  if (f.size() == 3) {
    std::printf("%s: %s bytes sent, %s received\n", f[0].c_str(), f[1].c_str(), f[2].c_str());
  }
  return pltools::kExitSuccess;
}

int HangUp(pltools::Tool& tool) {
  std::string port;
  if (!OnePort(tool, "hangup", &port)) return tool.exitCode();
  if (!tool.RequireMachine()) return tool.exitCode();
  std::vector<std::string> f;
  if (!Call(tool, ras::JoinFields({"HANGUP", port}), &f)) return tool.exitCode();
  if (f.size() == 3) {
    std::printf("%s: hung up; %s bytes sent, %s received\n", f[0].c_str(), f[1].c_str(),
                f[2].c_str());
  }
  return pltools::kExitSuccess;
}

int Ports(pltools::Tool& tool) {
  if (!tool.RejectUnknownOptions()) return tool.exitCode();
  if (tool.args().size() != 1) return tool.UsageError("ports takes no arguments");
  if (!tool.RequireMachine()) return tool.exitCode();
  std::vector<std::string> f, lines;
  if (!Call(tool, "PORTS", &f, &lines)) return tool.exitCode();
  std::printf("%-6s %-13s %-24s %-19s %-15s %12s %12s\n", "Port", "State", "User", "Start",
              "Address", "Sent", "Received");
  for (const std::string& line : lines) {
    ras::PortInfo p;
    if (!ras::DecodePort(line, &p)) continue;
    const bool inUse = p.state != ras::PortState::Listening;
    const std::string user = inUse ? p.domain + "\\" + p.user : "-";
    std::printf("%-6s %-13s %-24s %-19s %-15s %12s %12s\n", p.name.c_str(),
                ras::PortStateName(p.state), user.c_str(), pltools::IsoLocalTime(p.start).c_str(),
                inUse ? ras::FormatIpAddress(p.address).c_str() : "-",
                inUse ? std::to_string(p.bytesSent).c_str() : "-",
                inUse ? std::to_string(p.bytesReceived).c_str() : "-");
  }
  return pltools::kExitSuccess;
}

int Stall(pltools::Tool& tool) {
  if (tool.args().size() != 2) return tool.UsageError("stall takes a number of SECONDS");
  const std::string secondsText = tool.args()[1];
  long long seconds = 0;
  if (!pltools::ParseNumber(secondsText, 0, 3600, &seconds)) {
    return tool.UsageError("stall takes a number of seconds from 0 to 3600");
  }
  if (!tool.RequireMachine()) return tool.exitCode();
  std::vector<std::string> f;
  if (!Call(tool, ras::JoinFields({"STALL", std::to_string(seconds)}), &f)) return tool.exitCode();
  std::printf("administration calls stall for %lld s\n", seconds);
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("rasctl", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  auto& args = tool.args();
  if (args.empty()) return tool.UsageError("give a command: dial, traffic, hangup, ports or stall");
  const std::string command = args[0];
  if (command == "dial") return Dial(tool);
  if (command == "traffic") return Traffic(tool);
  if (command == "hangup") return HangUp(tool);
  if (command == "ports") return Ports(tool);
  if (command == "stall") return Stall(tool);
  return tool.UsageError("unknown command '" + command + "'");
}
