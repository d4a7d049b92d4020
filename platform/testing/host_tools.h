// Test helpers on the host side: our built programs run as processes with
// their output captured, and host files read and written whole.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace plat::testing {

struct ToolResult {
  int code = -1;  // exit status; 128 + signal when killed; -1 when it did not start
  std::string out, err;
};

// Runs build/bin/<program> with `args` on the current machine and waits.
// Its stdin is empty; stdout and stderr go to files in a private temporary
// folder, removed afterwards. `unsetEnvironment` names environment variables
// the program must not see. A program that cannot start fails the test.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& unsetEnvironment = {});

// The whole file, byte for byte; "" when it cannot be read.
std::string ReadHostFile(const std::string& path);
// Replaces the file's contents with `text`, creating it when needed.
void WriteHostFile(const std::string& path, const std::string& text);
// Adds `text` at the end of the file, creating it when needed.
void AppendHostFile(const std::string& path, const std::string& text);

// Runs `body` in a forked child process and waits; its return value is the
// child's exit status (128 + signal when killed).
int InChild(const std::function<int()>& body);

// True while the process exists and has not ended; one that ended but was not
// yet reaped by its parent counts as ended.
bool HostProcessRunning(pid_t pid);

}  // namespace plat::testing
