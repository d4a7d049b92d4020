// The port operations of the remote-access server: on RAS the administration
// functions of RASSAPI.DLL, loaded by name; on RRAS the port-data file the
// collector writes and the outside port-data module; on OpenVPN the adapter's
// pipe \\.\pipe\plportops (common/port_ops_protocol.h).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/data_folder.h"
#include "common/ras_kind.h"
#include "platform/module.h"
#include "platform/win_types.h"
#include "service/write_health.h"

namespace svc {

// The four administration functions, looked up by name in RASSAPI.DLL; on
// RRAS the outside port-data module _plsvc.dll and its two functions instead.
struct RasAdminFunctions {
  plat::Module module;
  void* portDisconnect = nullptr;
  void* portGetInfo = nullptr;
  void* freeBuffer = nullptr;
  void* portEnum = nullptr;
  void* rrasInit = nullptr;
  void* rrasDisconnectPort = nullptr;
  // The module's port listing; null when it lacks them (no sessions are then
  // found at start-up).
  void* rrasUpdatePortData = nullptr;
  void* rrasGetPortData = nullptr;
};

inline constexpr const char* kPortDataModule = "_plsvc.dll";

// This machine's remote-access server as the port operations drive it.
struct RemoteAccess {
  plat::DWORD kind = common::kRasKindRas;  // common/ras_kind.h
  RasAdminFunctions functions;             // loaded by RAS_LoadOrdinals
  // Supervision cannot disconnect (events 15 and 16).
  mutable Outage disconnects;
};

// On RAS RASSAPI.DLL and its four functions: 0, or 2 when the module or a
// function is missing. On RRAS _plsvc.dll with RRAS_Init and
// RRAS_DisconnectPort; a missing module is traced ("Unable to load
// _plsvc.dll.") and only disables disconnects: 0, after
// event 15 (see DisconnectPort). On OpenVPN nothing is loaded ("Loading OpenVPN port
// operations"): 0. `server`: this computer's name, for the events.
plat::DWORD RAS_LoadOrdinals(RemoteAccess& ras, std::string_view server);

// The collector's snapshot of the router's ports, in the Windows directory:
// one section per port name, dwBytesTX (sent) and dwBytesRX (received).
inline constexpr const char* kRrasDataFile = common::kPortSnapshotFile;
// A snapshot older than this (or than three supervision passes, whichever is
// longer) no longer tells whether a port is busy: the collector has stopped.
inline constexpr long kRrasDataMaxAgeSeconds = 180;

// Bytes a port has sent and received so far; `server` is the computer name
// (with or without the leading "\\"). RAS: RasAdminPortGetInfo, whose
// error is returned (traced "IDLE: PortGetInfo error %d"). RRAS: a beep, then
// the port's section of rrasdata.dat. A snapshot that cannot tell (missing,
// stale, no section for the port, a counter missing or not a number) fails
// with ERROR_INVALID_DATA or ERROR_FILE_NOT_FOUND, traced "IDLE: no port data",
// so that a damaged snapshot never makes a busy port look quiet. OpenVPN: the
// adapter's counters, cut to their low 32 bits; an adapter that does not
// answer, or answers with an error, fails (traced "IDLE: adapter error %u").
plat::DWORD RAS_GetTrafficBytesForPort(const RemoteAccess& ras, std::string_view server,
                                       std::string_view port, plat::DWORD* bytesSent,
                                       plat::DWORD* bytesReceived);

// Ends the session on a port, as a hang-up would. RAS: RasAdminPortDisconnect,
// traced "RAS - Success" or "RAS - Failed" with the code, which is returned.
// RRAS: RRAS_Init, then RRAS_DisconnectPort of _plsvc.dll, traced "RRAS -
// Success" or "RRAS - Failed"; ERROR_GEN_FAILURE when the module refused,
// ERROR_MOD_NOT_FOUND without the module. OpenVPN: the adapter ends the
// client for good, telling it `reason` in words (common/cut_reason.h), traced
// "OpenVPN - Success" or "OpenVPN - Failed" with the error, which is returned.
// A failure begins an outage of disconnects (event 15 and the Service key's
// value CannotDisconnect, once), a success ends it (event 16).
plat::DWORD DisconnectPort(const RemoteAccess& ras, std::string_view server,
                           std::string_view port, int reason = 0);

// A session the remote-access server holds on one of its ports.
struct RunningSession {
  std::string port;     // the port's own name (COM1)
  std::string user;     // DOMAIN\user
  std::string machine;  // the client as the new-connection message names it, "*" when unknown
  std::time_t start = 0;
};

// The sessions the remote-access server holds now, in its port order. RAS:
// RasAdminPortEnum, the ports with an authenticated user, and for each
// RasAdminPortGetInfo for the client's name. RRAS: the port-data module's
// listing (RRAS_UpdatePortData, RRAS_GetPortData), the ports with a user
// and a start; the client is not in it ("*"). OpenVPN: the adapter's
// sessions that stand, asked on its pipe one by one ("SESSION <n>"). Returns
// the server's error (the list may then hold what came before it),
// ERROR_PROC_NOT_FOUND when the functions are not loaded.
plat::DWORD RAS_EnumRunningSessions(const RemoteAccess& ras, std::string_view server,
                                    std::vector<RunningSession>* sessions);

}  // namespace svc
