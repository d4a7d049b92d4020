// The two small files that follow the sessions of this server, each read and
// written here only:
// - the logged-in users file (common::kLoggedInFile in the data folder): one
//   section per server, one key per account logged in there, value "1";
// - the session file ("~plsess.tmp" in the service's current directory): one
//   section per SERVER\port, key "IP", the address the address request chose.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/win_types.h"

namespace svc {

// The account is a key of any section (ignoring case).
bool IsInLoggedInUsers(const std::string& file, std::string_view account);
// The account enters the server's section.
plat::DWORD EnterLoggedInUsers(const std::string& file, std::string_view server,
                               std::string_view account);
// The account leaves the server's section, as a change for writers that keep what fails.
plat::ProfileChange LeaveLoggedInUsersChange(std::string_view server, std::string_view account);
// Start-up: the server's section goes (ClearTEMPFile).
void ClearLoggedInUsers(const std::string& file, std::string_view server);

// "<current directory>\~plsess.tmp".
std::string SessionFilePath(const std::string& currentDirectory);
// The port's address as the address request left it; 0 when none.
std::int32_t ReadSessionAddress(const std::string& file, std::string_view port);
void WriteSessionAddress(const std::string& file, std::string_view port, std::int32_t address);

}  // namespace svc
