// What pluser and plsettings share: finding the data folder and printing tables.
#pragma once

#include <string>
#include <vector>

#include "platform/tools/tool_args.h"

namespace placcounts_tools {

// Checks the machine, then settles the data folder: `given` (--data), else
// the service's MasterShare setting of this machine. False (message printed,
// tool's exit code set) when there is none or it cannot be reached.
bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder);

// Columns padded to their widest cell, or CSV lines with `csv`.
void PrintTable(const std::vector<std::string>& heading, const std::vector<std::vector<std::string>>& rows,
                bool csv);

}  // namespace placcounts_tools
