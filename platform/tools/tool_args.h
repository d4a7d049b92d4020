// What every administrator tool does the same way: finding its machine
// (--machine ROOT, else PORTULON_MACHINE), --help, and reporting errors with
// the exit codes scripts rely on.
//
//   int main(int argc, char** argv) {
//     pltools::Tool tool("mytool", kUsage);
//     if (!tool.Parse(argc, argv)) return tool.exitCode();
//     if (tool.helpRequested()) return tool.PrintHelp();
//     ... tool.TakeOption(...) ...
//     if (!tool.RequireMachine()) return tool.exitCode();  // refuses unknown options first
//     ... tool.args() ...
//   }
//
// The help text is also the program's manual page (packaging/help_to_man.py),
// so every program lays it out alike: a first line "NAME - what it is", a
// blank line, "Usage:" and the synopsis lines, the description, then the
// headings "Options:", "Exit status:", "Files:", "Examples:" and "See also:"
// (each a line of its own), with "TERM  text" lines (two blanks apart) for
// options, statuses and files. packaging/tests/command_line_test.sh checks it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace pltools {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the operation failed
inline constexpr int kExitUsage = 2;    // the command line is wrong

class Tool {
 public:
  // `name` as the user types it; `usage` is the whole --help text.
  Tool(std::string name, std::string usage);

  // Takes the common options out of argv[1..]: "--machine ROOT" or
  // "--machine=ROOT" makes ROOT (made absolute) the current machine; "--help",
  // "-h" or "/?" anywhere asks for help; "--version" prints the program's
  // version; "--" ends option parsing and is dropped. Everything else stays
  // in args(), in order. False when the program should end now with
  // exitCode(): --version printed (0), or --machine without a value (2).
  bool Parse(int argc, char** argv);

  bool helpRequested() const { return help_; }
  // Prints the usage text to stdout; returns kExitSuccess.
  int PrintHelp() const;

  // The arguments left after Parse (and after the Take* calls below).
  std::vector<std::string>& args() { return args_; }

  // Removes "--option VALUE" or "--option=VALUE" from args(). Returns true
  // when found (value set); false when absent. A missing value prints a usage
  // error and sets exitCode() to kExitUsage (check with failed()).
  bool TakeOption(std::string_view option, std::string* value);
  // Removes a flag such as "--follow"; true when it was there.
  bool TakeFlag(std::string_view flag);

  // Refuses (usage error) an argument left in args() that looks like an
  // option ("--name", or "-" and a letter) and came before "--"; true when
  // there is none. Call it once the tool has taken its own options.
  bool RejectUnknownOptions();

  // Checks the command line for unknown options (RejectUnknownOptions), then
  // that the current machine names a machine folder; prints the problem and
  // sets exitCode() otherwise (kExitUsage for an unknown option or when no
  // machine is named at all, kExitFailure when the folder holds no machine).
  bool RequireMachine();

  // Prints "<prefix><message>", the usage lines of the help text and a
  // pointer to --help on stderr; returns kExitUsage. For a command line of the
  // wrong shape (an unknown option or command, an operand missing).
  int UsageError(std::string_view message);
  // Prints the one line "<prefix><message> (see "<name> --help")" on stderr;
  // returns kExitUsage. For a value that cannot be taken (a bad number, day,
  // address), where the whole usage would only hide the message.
  int ValueError(std::string_view message);
  // Prints "<prefix><message>" on stderr; returns kExitFailure.
  int Fail(std::string_view message);
  // "<prefix><what>: <error text>", or only the error text when `what` is empty.
  int Fail(plat::DWORD error, std::string_view what = {});

  // Text before every error message; "<name>: " by default ("ERROR: " for reg).
  void set_errorPrefix(std::string prefix) { errorPrefix_ = std::move(prefix); }

  bool failed() const { return exitCode_ != kExitSuccess; }
  int exitCode() const { return exitCode_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string usage_;
  std::string errorPrefix_;
  std::vector<std::string> args_;
  // How many of args_, at its end, came after "--": operands, never options.
  size_t operands_ = 0;
  bool help_ = false;
  int exitCode_ = kExitSuccess;
};

// The exit status for a result that may be a Win32 error: only the low byte of
// an exit status survives, and an error must never read as success.
inline int ExitStatus(int result) { return (result & 0xFF) == 0 && result != 0 ? kExitFailure : result; }

// The usage lines of a help text: its "Usage:" block up to the blank line
// after it.
std::string UsageLines(const std::string& help);

// "<name> <product version> (file version a.b.c.d)" of the running program,
// from the version record built into it.
std::string VersionText(std::string_view name);

// Parses a whole decimal or 0x-hexadecimal number; false on anything else or overflow.
bool ParseNumber(std::string_view text, long long min, long long max, long long* value);

}  // namespace pltools
