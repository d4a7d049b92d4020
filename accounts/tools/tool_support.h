// What pluser and plsettings share: finding the data folder.
#pragma once

#include <string>

#include "platform/tools/tool_args.h"

namespace placcounts_tools {

// Checks the machine, then settles the data folder: `given` (--data), else
// the service's MasterShare setting of this machine. False (message printed,
// tool's exit code set) when there is none or it cannot be reached.
bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder);

}  // namespace placcounts_tools
