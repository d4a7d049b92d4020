#include "accounts/tools/tool_support.h"

#include "accounts/settings_store.h"
#include "platform/file.h"

namespace placcounts_tools {

bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder) {
  if (!tool.RequireMachine()) return false;
  if (given) {
    *folder = *given;
  } else {
    auto share = accounts::ServerDataFolder("");
    if (!share) {
      tool.Fail("Portulon's data folder (MasterShare) is not set on this machine; give --data FOLDER");
      return false;
    }
    *folder = *share;
  }
  if (!plat::DirectoryExists(*folder)) {
    tool.Fail("the data folder " + *folder + " cannot be found (is its share there and its machine up?)");
    return false;
  }
  return true;
}

}  // namespace placcounts_tools
