// plreport: the session logs and the usage accounts as readable tables (or
// CSV), for a person at the server; the console shows the same with more
// comfort.
#include <cstdio>
#include <string>

#include "service/tools/report_commands.h"

namespace {

constexpr const char* kUsage = R"(plreport - Portulon's session logs and usage accounts as tables

Usage:
  plreport log [--day DAY | --from DAY [--to DAY]] [FILTERS] [--format table|csv]
               [--data FOLDER] [--machine ROOT]
  plreport users [--user NAME] [--domain DOMAIN] [--search TEXT]
                 [--format table|csv] [--data FOLDER] [--machine ROOT]
  plreport who [--user NAME] [--domain DOMAIN] [--port PORT] [--server NAME]
               [--format table|csv] [--machine ROOT]
  plreport disconnect PORT [--server NAME] [--machine ROOT]
  plreport --help | --version

log     the records of the session logs of one day (default: today) or of
        the days from --from to --to (default: today), in time order:
        connections, hang-ups with their duration, address, computer and
        bytes, refusals and forced disconnects with their reason. In the
        table a cell longer than 64 characters is cut to 64, its last
        three "..."; csv writes every value whole.
users   every profile of portulon.usr with its limits and usage; "none"
        is no limit, "never" an account that does not expire. Another
        name for pluser list: the same options, the same listing.
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
yesterday. Times are local, in ISO 8601 (2026-12-08 14:03:05); durations
h:mm:ss.

Options:
  --day DAY        log: one day (default: today)
  --from DAY       log: the first day of a range
  --to DAY         log: its last day (default: today)
  --user NAME      only a user (DOMAIN\NAME for one account exactly)
  --domain DOMAIN  only the accounts of a domain (users: its groups too)
  --search TEXT    users: only the accounts whose name holds TEXT
  --server NAME    log: only a server
  --port PORT      log: only a port (COM1, ...)
  --format FORMAT  table (default) or csv: the same columns as
                   comma-separated values with a heading line
  --data FOLDER    the data folder as a Windows path (default: the
                   service's MasterShare setting, e.g. \\SRV1\PL_NT_DB)
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  the report was printed (it may have no rows)
  1  the data folder is not set or cannot be reached
  2  the command line is wrong (unknown option, a day that does not exist)

Files:
  FOLDER\LogData\2026-Dec-08.log   the session log of a day
  FOLDER\portulon.usr              the profiles and their usage

Examples:
  plreport log --day today --port COM3
  plreport log --from 2026-12-01 --to today --user ann --format csv > ann.csv
  plreport users --user bob

See also:
  pluser(1), eventlog(1), plexport(1)
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
