// The files setup installs, in the order and at the progress percentages it
// copies them.
#pragma once

#include <span>

namespace setup {

enum class FileGroup {
  Always,      // every installation
  Console,     // with the administration console
  Server,      // with the server component
  Hook,        // the hook module of the machine's remote-access type
  MasterData,  // on the primary server, kept when present
  Uninstaller  // into the Windows directory
};

struct InstallFile {
  const char* name;
  int percent;
  FileGroup group;
};

// Every file in copy order. The hook modules carry FileGroup::Hook: only the
// one for the machine's type is installed.
std::span<const InstallFile> InstallFiles();

inline constexpr const char* kRasHook = "PL_RAS.dll";
inline constexpr const char* kRrasHook = "PL_RRAS.dll";
inline constexpr const char* kUninstaller = "PL_FLUSH.EXE";

}  // namespace setup
