// pipecall: sends one message to a named pipe and prints the reply, the way a
// hook module or the console talks to the service.
#include <cstdio>
#include <string>

#include "common/call_service.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage = R"(pipecall - send one message to a named pipe and print the reply

Usage:
  pipecall [--machine ROOT] [--pipe NAME] [--timeout MS] [\\SERVER] MESSAGE
  pipecall --help | --version

Sends MESSAGE to \\.\pipe\NAME of the current machine, or to
\\SERVER\pipe\NAME of another machine of the network, waits up to MS
milliseconds (default 10000) for a free pipe instance, and prints the reply.
NAME defaults to plsvcpipe, the service's pipe. A reply of the service that
it knows is printed with its meaning, as 10 (settings re-read) for
UPDATE_UPDATE.

Options:
  --pipe NAME      the pipe (default: plsvcpipe)
  --timeout MS     how long to wait for a free pipe instance (default 10000)
  --raw            print the reply alone, without its meaning
  --machine ROOT   the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Files:
  ROOT/pipes/      the machine's named pipes

Examples:
  pipecall "0,COM1,DOM\ann,*,0,0,0"        a new connection on COM1
  pipecall "1,COM1,DOM\ann,*,0,0,600"      its hang-up after 600 s
  pipecall '\\SRV1' UPDATE_UPDATE          ask SRV1's service to re-read its settings

Exit status:
  0  a reply was printed
  1  the call failed (the error is printed)
  2  the command line is wrong

See also:
  plsvc(1), plsettings(1)
)";

// "plsvcpipe": the last part of the service's pipe name.
std::string PipeShortName() {
  const std::string full = common::kPipeName;
  return full.substr(full.rfind('\\') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("pipecall", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  std::string pipe = PipeShortName(), timeoutText;
  const bool raw = tool.TakeFlag("--raw");
  tool.TakeOption("--pipe", &pipe);
  tool.TakeOption("--timeout", &timeoutText);
  if (tool.failed()) return tool.exitCode();
  long long timeout = 10000;
  if (!timeoutText.empty() && !pltools::ParseNumber(timeoutText, 0, 0xFFFFFFFELL, &timeout)) {
    return tool.ValueError("--timeout takes milliseconds, not '" + timeoutText + "'");
  }
  auto& args = tool.args();
  std::string server = ".";
  if (args.size() == 2 && args[0].rfind("\\\\", 0) == 0) {
    server = args[0].substr(2);
    args.erase(args.begin());
  }
  if (args.size() != 1) return tool.UsageError("give exactly one message");
  if (server.empty() || server.find('\\') != std::string::npos) {
    return tool.UsageError("the server is written \\\\NAME");
  }
  if (!tool.RequireMachine()) return tool.exitCode();

  const std::string name = "\\\\" + server + "\\pipe\\" + pipe;
  const common::ServiceReply r = common::CallPipe(name, args[0], static_cast<plat::DWORD>(timeout));
  if (!r.sent) {
    return tool.Fail("the message is longer than " + std::to_string(common::kMessageBufferSize) +
                     " bytes; not sent");
  }
  const std::string& reply = r.text;
  if (r.error != plat::ERROR_SUCCESS && r.error != plat::ERROR_MORE_DATA) {
    return tool.Fail("error " + std::to_string(r.error) + ": " + plat::ErrorText(r.error));
  }
  // Meanings are the service's: another pipe's replies are printed as they came.
  const std::string meaning =
      raw || pipe != PipeShortName() ? std::string() : common::DescribeReply(args[0], reply);
  if (meaning.empty()) {
    std::printf("%s\n", reply.c_str());
  } else {
    std::printf("%s (%s)\n", reply.c_str(), meaning.c_str());
  }
  return pltools::kExitSuccess;
}
