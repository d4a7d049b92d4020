// setup --unattended: the wizard's answers from the command line, the same
// installation steps, the progress titles printed as they come.
//
//   setup --unattended [--components server,console] [--path DIR]
//         [--primary NAME] [--ras ras|rras] [--account DOMAIN\Account]
//         [--password-file FILE] [--ignore-account-check] [--start]
//         [--package DIR]
#pragma once

#include <optional>
#include <string>

#include "installer/core/install_choices.h"
#include "installer/core/install_steps.h"
#include "platform/tools/tool_args.h"

namespace setup {

inline constexpr int kExitRestartRas = 3;  // installed; restart the remote-access service

struct UnattendedRequest {
  InstallChoices choices;
  std::string packageFolder;          // Windows path of the installation files
  std::optional<RasType> rasAnswer;   // the answer to "Current RAS Version?"
  bool start = false;                 // the answer to "start the Portulon service?"
  bool ignoreAccountCheck = false;    // go on when the account lookup fails
};

// Takes the unattended options out of tool.args() and checks them as the
// wizard's pages would. False (after printing why) when the command line or
// an answer is wrong; tool.exitCode() or kExitFailure then says how to end.
bool ParseUnattended(pltools::Tool& tool, UnattendedRequest* request, int* exitCode);

// The Windows path of the folder setup was started from: where its
// installation files lie unless --package names another.
std::string ProgramFolder();

// Opens the installation files; on failure *message says so for the user.
DWORD OpenPackage(const std::string& folder, Package* package, std::string* message);

// The exit status of an installation that ended so.
int ExitStatus(InstallStatus status);

// Runs the installation; returns the exit status: 0 installed, 1 failed or
// incomplete (run again once the cause is mended), kExitRestartRas.
int RunUnattended(const UnattendedRequest& request);

}  // namespace setup
