#include "installer/core/shortcut.h"

#include <string>

#include "platform/errors.h"
#include "platform/profile.h"

namespace setup {

plat::DWORD CreateShortcut(std::string_view folder, std::string_view name, std::string_view target) {
  const std::string file = std::string(folder) + "\\" + std::string(name) + ".lnk";
  const std::string targetText(target);
  const size_t slash = targetText.rfind('\\');
  const std::string workDir = slash == std::string::npos ? std::string() : targetText.substr(0, slash);
  return plat::ProfileApply(file, {{"Shortcut", "Target", targetText}, {"Shortcut", "WorkingDirectory", workDir}});
}

}  // namespace setup
