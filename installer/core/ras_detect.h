// Which remote-access service the machine runs, as setup decides it before
// installing the server component.
#pragma once

#include "installer/core/install_ui.h"

namespace setup {

// Detects RAS or RRAS from the OS version and the registry; sets
// choices->ras. Shows the messages of a failed detection and returns false
// when the server component must be dropped. When nothing was recognised the
// user is asked ("Current RAS Version?"); no answer drops the component too.
bool DetectRasType(InstallUi& ui, InstallChoices* choices);

}  // namespace setup
