#include "installer/core/ras_detect.h"

#include <string>

#include "common/ras_kind.h"
#include "platform/errors.h"
#include "platform/path.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace setup {

bool DetectRasType(InstallUi& ui, InstallChoices* choices) {
  plat::OsVersionInfo version;
  if (DWORD err = plat::GetVersionEx(&version); err != plat::ERROR_SUCCESS) {
    ui.Message("Unable to determine OS type. Service will not be installed\n\nError " +
                   std::to_string(err),
               "Portulon Setup", true);
    return false;
  }
  if (version.platformId != plat::VER_PLATFORM_WIN32_NT) {
    ui.Message("Portulon service cannot be installed on non-NT Windows\n", "Portulon Setup", true);
    return false;
  }
  const bool nt4 = version.majorVersion <= 4;
  const common::RemoteAccessFacts facts = common::ReadRemoteAccessFacts({});
  const common::RegistryText& name = nt4 ? facts.rasTitle : facts.displayName;
  if (name.keyError != plat::ERROR_SUCCESS) {
    ui.Message("Unable to find RAS on this computer.\n\nError 1:" + std::to_string(name.keyError),
               "Portulon Setup", true);
    return false;
  }
  if (name.valueError != plat::ERROR_SUCCESS) {
    ui.Message("Unable to determine version of RAS.\n\nError 1:" + std::to_string(name.valueError),
               "Portulon Setup", true);
    return false;
  }
  const std::string& value = name.text;
  std::optional<RasType> found;
  if (nt4) {
    if (plat::StartsWithIgnoringCase(value, "Routing")) found = RasType::Rras;
    else if (plat::StartsWithIgnoringCase(value, "Remote")) found = RasType::Ras;
  } else if (plat::EqualsIgnoringCase(value, "Routing and Remote Access")) {
    found = RasType::Rras;
  }
  if (!found) found = ui.AskRasType();
  if (!found) return false;
  choices->ras = *found;
  return true;
}

}  // namespace setup
