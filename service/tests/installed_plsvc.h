// plsvc installed as the installer puts it: C:\Program Files\Portulon\plsvc.exe,
// the automatically started service "Portulon" of the current machine. The
// helpers live in common/testing, shared with the console's tests.
#pragma once

#include "common/testing/installed_portulon.h"

namespace svc::testing {

using common::testing::InstallPlsvc;
using common::testing::OpenPortulon;

}  // namespace svc::testing
