// The network sweep of Add Server: the dial-in servers that run Portulon,
// without the console's own machine. It asks every machine's registry, so
// it runs off the window thread.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace pladmin {

struct FoundServer {
  std::string name;
  std::string description;  // "Windows 4.0, DOM"
};

struct SweepResult {
  plat::DWORD error = 0;  // of the network search itself; 0 when it ran
  std::vector<FoundServer> servers;
  int withoutPortulon = 0;  // dial-in servers left out: Portulon is not installed there
};

// `self`: the console machine's name, left out (any case).
SweepResult SweepForServers(const std::string& self);

}  // namespace pladmin
