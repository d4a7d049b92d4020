// The port operations of the remote-access server: on RAS the administration
// functions of RASSAPI.DLL, loaded by name; on RRAS the port-data file the
// collector writes and the outside port-data module.
#pragma once

#include <string_view>

#include "platform/module.h"
#include "platform/win_types.h"

namespace svc {

struct ServiceContext;

// The four administration functions, looked up by name in RASSAPI.DLL.
struct RasAdminFunctions {
  plat::Module module;
  void* portDisconnect = nullptr;
  void* portGetInfo = nullptr;
  void* freeBuffer = nullptr;
  void* portEnum = nullptr;
};

// On RRAS nothing is loaded; on RAS RASSAPI.DLL and its four functions.
// Returns 0, or 2 when the module or a function is missing.
plat::DWORD RAS_LoadOrdinals(ServiceContext& context);

// The collector's snapshot of the router's ports, in the Windows directory:
// one section per port name, dwBytesTX (sent) and dwBytesRX (received).
inline constexpr const char* kRrasDataFile = "rrasdata.dat";

// Bytes a port has sent and received so far; `server` is the computer name
// (with or without the leading "\\"). RAS: RasAdminPortGetInfo, whose
// error is returned (traced "IDLE: PortGetInfo error %d"). RRAS: a beep, then
// the port's section of rrasdata.dat, 0 for what is missing; always 0.
plat::DWORD RAS_GetTrafficBytesForPort(const ServiceContext& context, std::string_view server,
                                       std::string_view port, plat::DWORD* bytesSent,
                                       plat::DWORD* bytesReceived);

// Ends the session on a port, as a hang-up would. RAS: RasAdminPortDisconnect,
// traced "RAS - Success" or "RAS - Failed" with the code, which is returned.
// RRAS: the outside module's disconnect, which this build does not have yet
// (ERROR_NOT_SUPPORTED, traced).
plat::DWORD DisconnectPort(const ServiceContext& context, std::string_view server,
                           std::string_view port);

}  // namespace svc
