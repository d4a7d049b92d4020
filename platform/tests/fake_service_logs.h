// Cleaning up after fake_service, whose log holds "key=value" lines, among
// them "pid=N".
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "platform/testing/host_tools.h"

namespace plat::testing {

// For each *.log file in `folder`, waits up to 5 s for the process it names
// to end: a stopped service still writes its last lines. With
// `killStragglers`, one still running whose command line names that log (a
// failed test lost track of it) is then killed.
inline void AwaitFakeServices(const std::string& folder, bool killStragglers) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".log") continue;
    std::istringstream lines(ReadHostFile(entry.path().string()));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("pid=", 0) != 0) continue;
      const pid_t pid = std::stoi(line.substr(4));
      for (int i = 0; i < 250 && HostProcessRunning(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (!killStragglers) continue;
      std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
      const std::string command((std::istreambuf_iterator<char>(cmdline)), {});
      if (HostProcessRunning(pid) && command.find(entry.path().string()) != std::string::npos) {
        ::kill(pid, SIGKILL);
      }
    }
  }
}

}  // namespace plat::testing
