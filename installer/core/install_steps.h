// The installation itself: every step after the wizard's Finish, in order,
// on the platform layer, reporting through an InstallUi. The wizard and the
// unattended mode run exactly this.
//
// Setup checks every file it will need (present, not damaged) before it
// changes anything; each later step is safe to repeat, so running setup again
// repairs what an interrupted run left.
#pragma once

#include <string>
#include <vector>

#include "common/product_keys.h"
#include "installer/core/install_choices.h"
#include "installer/core/install_ui.h"
#include "installer/core/package.h"
#include "platform/ras/admin_extension.h"

namespace setup {

using common::kClientKey;
using common::kConsoleUninstallKey;
using common::kEventSourceKey;
using common::kProductKey;
using common::kServersKey;
using common::kServerUninstallKey;
using common::kServiceKey;
using common::kServiceName;
using common::kShellFoldersKey;
using plat::ras::kAdminDllKey;
inline constexpr const char* kShareName = common::kDataShareName;

enum class InstallStatus {
  Done,          // installed; the user was offered to start the service
  RestartRas,    // installed; the remote-access service must be restarted first
  Incomplete,    // installed, but some steps failed (listed); run setup again
  NotInstalled,  // nothing changed: the installation files are missing or damaged
};

struct InstallOutcome {
  InstallStatus status = InstallStatus::Done;
  bool serverInstalled = false;     // false also when detection dropped the component
  bool hookInUse = false;
  bool serviceStarted = false;
  std::vector<std::string> problems;  // what failed, in words for the user
};

// Runs the installation with choices already checked by the wizard's rules
// (install path, account form).
InstallOutcome RunInstallation(const Package& package, InstallChoices choices, InstallUi& ui);

}  // namespace setup
