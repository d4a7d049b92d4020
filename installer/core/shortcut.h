// A Start-menu shortcut, kept as a small profile file "<name>.lnk" in the
// machine's Programs folder:
//   [Shortcut]
//   Target=C:\Program Files\Portulon\pladmin.exe
//   WorkingDirectory=C:\Program Files\Portulon
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace setup {

plat::DWORD CreateShortcut(std::string_view folder, std::string_view name, std::string_view target);

}  // namespace setup
