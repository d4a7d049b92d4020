// plsvc: with an argument it runs on the console, else as a service. Help,
// version and unknown options are answered first, without touching the
// machine or starting anything.
#include <string>

#include "platform/tools/tool_args.h"
#include "service/service_process.h"

namespace {

constexpr const char* kHelp = R"(plsvc - the Portulon service: admission, accounting and supervision of dial-in sessions

Usage:
  plsvc
  plsvc console
  plsvc --help | --version

Without an argument plsvc runs as the service "Portulon", started by the
service manager (net start Portulon, plmachine boot). With an argument
("console", or any other word that is not an option) it runs in console mode
for diagnosis, tracing to the console, until it is killed. Only one copy runs
on a machine: a second one, in either mode, changes nothing and ends.

Options:
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text (also -h and /?)
  --version        show the program's version

Exit status:
  0  help or version printed, or the service ended normally
  1  another copy is already running, or the machine cannot be used
  2  the command line is wrong (an unknown option)
  39 started without an argument, but not by the service manager (1063)

Files:
  HKLM\Software\Quillfen Technologies\Portulon\Service   its settings
  C:\qcl_trace_plsvc.txt        its trace (LogMaxSizeKB)
  FOLDER\portulon.usr           the profiles (FOLDER: MasterShare)
  FOLDER\LogData\               the daily session logs

Examples:
  net start Portulon
  plsvc console

See also:
  plsettings(1), pipecall(1), eventlog(1), plreport(1)
)";

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plsvc", kHelp);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  // Words are console mode; only what looks like an option is refused.
  for (const std::string& w : tool.args()) {
    if (w.size() > 2 && w.compare(0, 2, "--") == 0) return tool.UsageError("unknown option '" + w + "'");
  }
  return svc::PlsvcMain(!tool.args().empty());
}
