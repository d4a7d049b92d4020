#include "service/session_files.h"

#include <algorithm>
#include <climits>

#include "common/data_folder.h"
#include "common/profile_helpers.h"
#include "platform/text.h"

namespace svc {

LoggedInSessions CountLoggedInUsers(const std::string& file, std::string_view account,
                                    std::string_view server) {
  LoggedInSessions count;
  const auto sections = plat::ProfileReadAll(file);
  if (!sections) return count;
  for (const plat::ProfileSectionData& s : *sections) {
    int& tally = plat::EqualsIgnoringCase(s.name, server) ? count.here : count.elsewhere;
    for (const auto& [key, value] : s.values) {
      if (!plat::EqualsIgnoringCase(key, account)) continue;
      // Saturating: a damaged value must not wrap the count below the limit.
      const int sessions = std::max(common::DecimalValue(value), 1);
      tally = sessions > INT_MAX - tally ? INT_MAX : tally + sessions;
    }
  }
  return count;
}

plat::DWORD EnterLoggedInUsers(const std::string& file, std::string_view server,
                               std::string_view account, int sessions) {
  return plat::ProfileWriteString(file, server, account, std::to_string(std::max(sessions, 1)));
}

plat::ProfileChange LeaveLoggedInUsersChange(std::string_view server, std::string_view account,
                                             int remaining) {
  if (remaining > 0) return {std::string(server), std::string(account), std::to_string(remaining)};
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
