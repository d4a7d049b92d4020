// The outside port-data module of a router machine, one module installed
// under two names (_plsvc.dll and _pladmin.dll): port listings and
// disconnects answered by the machine's remote-access service. Every function returns non-zero (TRUE) on success and 0 on
// failure; they may be called from several threads.
#pragma once

#include "platform/win_types.h"

namespace plat::portdata {

// Buffers RRAS_GetPortData fills, with their terminators.
inline constexpr unsigned kPortNameSize = 17;   // port name
inline constexpr unsigned kUserSize = 273;      // DOMAIN\user, "" while the port is free
inline constexpr unsigned kExtraSize = 64;      // the caller's address a.b.c.d, "" when none

// Prepares the module; TRUE when the router interface is at hand.
using PFN_RRAS_Init = BOOL (*)();
// Ends the session on `port` of `server` ("", "NAME" or "\\NAME") as a hang-up
// would; TRUE once the router took the request.
using PFN_RRAS_DisconnectPort = BOOL (*)(const char* server, const char* port);
// Ports of the server and how many are in use.
using PFN_RRAS_GetNumberOfPorts = BOOL (*)(const char* server, DWORD* total, DWORD* inUse);
// Takes a new listing of the server's ports, kept for RRAS_GetPortData; *count
// ports. The listing is the process's, shared by all its threads.
using PFN_RRAS_UpdatePortData = BOOL (*)(const char* server, DWORD* count);
// Port `index` (below the count) of the last listing: its name, user, extra
// text and session start (seconds since 1970, 0 while free). 0 for an index
// beyond the listing.
using PFN_RRAS_GetPortData = BOOL (*)(DWORD index, char* name, char* user, char* extra,
                                      DWORD* start);

}  // namespace plat::portdata
