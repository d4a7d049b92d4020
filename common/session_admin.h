// An administrator's two requests on the service's pipe (\\.\pipe\plsvcpipe),
// answered by plsvc from its port table on every flavour of remote access:
//
//   "SESSION_LIST,<n>"   reply "0" and the n-th session (from 0) of the port
//                        table, its fields separated by tabs: port, account,
//                        computer ("*" unknown), address (first octet high,
//                        0 none), start, deadline (0 never), bytes sent and
//                        received (-1 when the server could not tell);
//                        "1" past the last
//   "DISCONNECT_PORT,<port>"
//                        the session is cut as the administrator's
//                        (reason 10 in its hang-up record, the client told
//                        "Portulon: disconnected by the administrator" where
//                        the server can carry words); reply "0", or "1"
//                        followed by the Win32 error (2: no session there)
//
// Both ends build and read them here; ListSessions and DisconnectSession are
// the one client of the conversation (tools, console).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace common {

inline constexpr std::string_view kSessionListVerb = "SESSION_LIST";
inline constexpr std::string_view kDisconnectPortVerb = "DISCONNECT_PORT";

struct SessionRow {
  std::string port;     // the port's own name (VPN1, COM2)
  std::string account;  // DOMAIN\user
  std::string machine;  // "*" when unknown
  std::int32_t address = 0;
  std::int64_t start = 0;
  std::int64_t deadline = 0;
  std::int64_t sent = -1;
  std::int64_t received = -1;
};

// True for a message of either verb; *argument is what follows the comma.
bool IsSessionListRequest(std::string_view message, unsigned* index);
bool IsDisconnectPortRequest(std::string_view message, std::string* port);

std::string FormatSessionRow(const SessionRow& row);
bool ParseSessionRow(std::string_view reply, SessionRow* row);

// Every session of plsvc on `server` (empty: this machine), in table order.
// The pipe's error when plsvc does not answer (the list then holds what came
// before), ERROR_INVALID_DATA for a reply that does not read.
plat::DWORD ListSessions(std::string_view server, std::vector<SessionRow>* rows);
// Asks plsvc on `server` to cut the session on `port` as the administrator's.
// 0, the pipe's error, or the service's.
plat::DWORD DisconnectSession(std::string_view server, std::string_view port);

}  // namespace common
