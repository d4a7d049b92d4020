#include "service/session_files.h"

#include "common/data_folder.h"
#include "common/profile_helpers.h"
#include "platform/text.h"

namespace svc {

bool IsInLoggedInUsers(const std::string& file, std::string_view account) {
  const auto sections = plat::ProfileListSections(file);
  if (!sections) return false;
  for (const std::string& s : *sections) {
    const auto keys = plat::ProfileListKeys(file, s);
    if (!keys) continue;
    for (const std::string& k : *keys) {
      if (plat::EqualsIgnoringCase(k, account)) return true;
    }
  }
  return false;
}

plat::DWORD EnterLoggedInUsers(const std::string& file, std::string_view server,
                               std::string_view account) {
  return plat::ProfileWriteString(file, server, account, "1");
}

plat::ProfileChange LeaveLoggedInUsersChange(std::string_view server, std::string_view account) {
  return {std::string(server), std::string(account), std::nullopt};
}

void ClearLoggedInUsers(const std::string& file, std::string_view server) {
  plat::ProfileDeleteSection(file, server);
}

std::string SessionFilePath(const std::string& currentDirectory) {
  return common::DataFile(currentDirectory, common::kSessionFile);
}

std::int32_t ReadSessionAddress(const std::string& file, std::string_view port) {
  return common::ProfileReadInt(file, port, "IP");
}

void WriteSessionAddress(const std::string& file, std::string_view port, std::int32_t address) {
  common::ProfileWriteInt(file, port, "IP", address);
}

}  // namespace svc
