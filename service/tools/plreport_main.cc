// plreport: the session logs and the usage accounts as readable tables (or
// CSV), for a person at the server; the console shows the same with more
// comfort.
#include <cstdio>
#include <string>

#include "service/tools/report_commands.h"

namespace {

constexpr const char* kUsage = R"(Usage:
  plreport log [--day DAY | --from DAY [--to DAY]] [FILTERS] [--format table|csv]
               [--data FOLDER] [--machine ROOT]
  plreport users [--user NAME] [--domain DOMAIN] [--format table|csv]
                 [--data FOLDER] [--machine ROOT]
  plreport who [--user NAME] [--domain DOMAIN] [--port PORT] [--server NAME]
               [--format table|csv] [--machine ROOT]
  plreport disconnect PORT [--server NAME] [--machine ROOT]
  plreport --help | --version

log     the records of the session logs of one day (default: today) or of
        the days from --from to --to (default: today), in time order:
        connections, hang-ups with their duration, address, computer and
        bytes, refusals and forced disconnects with their reason.
users   every profile of portulon.usr with its limits and usage; "none"
        is no limit, "never" an account that does not expire.
who     the sessions on the server now (RAS, RRAS or OpenVPN), as the
        service holds them: port, account, address, client computer (or,
        on OpenVPN, the certificate's name), since when, bytes in and out
        and the time left before the cut ("none": no limit). Asks plsvc on
        this machine, or on --server NAME.
disconnect
        cuts the session on PORT as the administrator: the client is told
        "Portulon: disconnected by the administrator" where the server can
        carry words (OpenVPN), and the hang-up record has reason 10.

DAY is 2026-12-08, 2026-Dec-08 (the log file's own form), today or
yesterday. FILTERS keep only the records of
  --user NAME      a user (DOMAIN\NAME for one account exactly)
  --domain DOMAIN  the accounts of a domain
  --server NAME    a server
  --port PORT      a port (COM1, ...)
Times are local, in ISO 8601 (2026-12-08 14:03:05); durations h:mm:ss.
--format csv writes the same columns as comma-separated values with a
heading line, for a spreadsheet or a script.

FOLDER is the data folder as a Windows path (default: the service's
MasterShare setting of the machine, e.g. \\SRV1\PL_NT_DB).

Exit status: 0 the report was printed (it may have no rows), 1 the data
folder is not set or cannot be reached, 2 the command line is wrong
(unknown option, a day that does not exist).
)";

// The commands; each in its own report_<name>.cc.
constexpr plreport::Command kCommands[] = {
    {"log", plreport::RunLog},
    {"users", plreport::RunUsers},
    {"who", plreport::RunWho},
    {"disconnect", plreport::RunDisconnect},
};

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plreport", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");
  const std::string command = tool.args()[0];
  tool.args().erase(tool.args().begin());
  for (const auto& c : kCommands) {
    if (command == c.name) {
      plreport::ReportContext report(tool);
      return c.run(report);
    }
  }
  return tool.UsageError("unknown command '" + command + "'");
}
