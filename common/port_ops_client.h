// The client of an adapter's port-operations pipe (port_ops_protocol.h) on
// the local machine or a remote one: one request, one reply, the adapter's
// error or the pipe's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/port_ops_protocol.h"
#include "platform/win_types.h"

namespace common {

// "\\.\pipe\plportops" for an empty server, else "\\SERVER\pipe\plportops".
std::string PortOpsPipeOf(std::string_view server);

// TRAFFIC, DISCONNECT (with the cut's `reason`, which the adapter tells the
// client) or CLIENT of one port on `server` (empty: this machine): the
// adapter's error, or the pipe's. ERROR_INVALID_PARAMETER for a port name the
// protocol cannot carry, ERROR_INVALID_DATA for a reply of no known form.
// The one client of the pipe: service, tools and console ask through it.
plat::DWORD AskPortOps(std::string_view server, PortOp op, std::string_view port, PortOpsReply* reply,
                       int reason = 0);

// Every session the adapter holds, asked one at a time (a reply holds one).
plat::DWORD ListPortOpsSessions(std::string_view server, std::vector<PortOpsReply>* sessions);

}  // namespace common
