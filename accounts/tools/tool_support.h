// What pluser, plsettings and plreport share: finding the data folder, and
// the accounts listing that is both pluser list and plreport users.
#pragma once

#include <string>

#include "platform/tools/tool_args.h"

namespace placcounts_tools {

// Checks the machine, then settles the data folder: `given` (--data), else
// the service's MasterShare setting of this machine. False (message printed,
// tool's exit code set) when there is none or it cannot be reached.
bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder);

// pluser list (and plreport users, its other name): takes --user, --domain,
// --search and --format (table or csv) out of the tool's arguments, refuses
// anything else, finds the data folder and prints the accounts table of
// portulon.usr, in table form under a heading that names the file and the
// count. A missing file is an empty listing, said in the heading (or on
// stderr for csv), not a failure. Returns the exit status.
int ListAccounts(pltools::Tool& tool, const std::string* givenFolder);

}  // namespace placcounts_tools
