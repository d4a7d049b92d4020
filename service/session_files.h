// The two small files that follow the sessions of this server, each read and
// written here only:
// - the logged-in users file (common::kLoggedInFile in the data folder): one
//   section per server, one key per account logged in there, its value the
//   number of the account's sessions on that server (older servers write "1"
//   whatever the number);
// - the session file ("~plsess.tmp" in the service's current directory): one
//   section per SERVER\port, key "IP", the address the address request chose.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/win_types.h"

namespace svc {

// The account's sessions the file lists (keys compared ignoring case), on
// `server` and on every other server. A key whose value is no positive number
// counts as one session: the key alone says the account is on.
struct LoggedInSessions {
  int here = 0;
  int elsewhere = 0;
};
LoggedInSessions CountLoggedInUsers(const std::string& file, std::string_view account,
                                    std::string_view server);
// The account is on the server with `sessions` sessions (at least one).
plat::DWORD EnterLoggedInUsers(const std::string& file, std::string_view server,
                               std::string_view account, int sessions);
// The account has `remaining` sessions left on the server; with none it
// leaves the server's section. A change, for writers that keep what fails.
plat::ProfileChange LeaveLoggedInUsersChange(std::string_view server, std::string_view account,
                                             int remaining);
// Start-up: the server's section goes (ClearTEMPFile).
void ClearLoggedInUsers(const std::string& file, std::string_view server);

// "<current directory>\~plsess.tmp".
std::string SessionFilePath(const std::string& currentDirectory);
// The port's address as the address request left it; 0 when none.
std::int32_t ReadSessionAddress(const std::string& file, std::string_view port);
void WriteSessionAddress(const std::string& file, std::string_view port, std::int32_t address);

}  // namespace svc
