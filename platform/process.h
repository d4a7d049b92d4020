// Starting programs as CreateProcess / WinExec would: a Windows command line,
// hidden (no console: standard streams go nowhere unless asked for), with or
// without waiting.
//
// Thread safety: all calls. Out parameters on failure: ResolveProgram leaves
// the host path as it was; a process's exit code and id are unspecified.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace plat {

// Splits a command line as CommandLineToArgvW does (quotes group, \" is a quote).
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// Joins arguments into one command line, quoting where needed.
std::string JoinCommandLine(const std::vector<std::string>& args);

// Finds the program of a command line as Windows does: the folder of the
// running program, the current directory, the system directory, the Windows
// directory, then the folders of the machine's own PATH (the Path value of
// HKLM\System\CurrentControlSet\Control\Session Manager\Environment,
// %SystemRoot% expanded); the host's PATH is never searched. ".exe" is
// implied when the name has no extension. Module loads search the same way.
// Returns the host path; ERROR_FILE_NOT_FOUND when nowhere.
DWORD ResolveProgram(std::string_view programName, std::string* hostPath);

// GetCommandLine: the command line this program was started with. A program
// started by RunCommandLine sees it exactly as it was written (quotes and
// all, as a Windows program parses its own command line); one started another
// way gets it rebuilt from `argv`.
std::string GetCommandLine(int argc, char** argv);

// The Windows path of the running program (GetModuleFileName of the process).
std::string GetModuleFileName();

// The host path the running program was started from. A program started
// through a link (a machine's system32\net.exe, an installed plsvc.exe) lies,
// as Windows sees it, where the link is: its folder is the application folder
// that module and program searches look in first. Falls back to the file
// itself when the name it was started under cannot be used.
std::string GetProgramHostPath();

struct ProcessOptions {
  bool wait = false;             // wait for the program to end
  std::string currentDirectory;  // Windows path; empty = the caller's
  bool inheritOutput = false;    // true: the child writes to our stdout/stderr
  std::string machineRoot;       // run on this machine (PORTULON_MACHINE); empty = ours
  std::vector<std::pair<std::string, std::string>> environment;  // extra variables
};

// Runs `commandLine`. The child inherits the environment, so it runs on the
// same machine. Returns ERROR_SUCCESS once the program started (and, with
// wait, ended; its exit code in *exitCode), ERROR_FILE_NOT_FOUND when it cannot
// be found. The arguments never pass through a shell.
DWORD RunCommandLine(std::string_view commandLine, const ProcessOptions& options,
                     DWORD* exitCode = nullptr, DWORD* processId = nullptr);

}  // namespace plat
