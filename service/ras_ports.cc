#include "service/ras_ports.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/ras/rassapi.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"
#include "service/ras_server.h"
#include "service/service_context.h"

namespace svc {

plat::DWORD RAS_LoadOrdinals(ServiceContext& context) {
  if (context.rasType == PLK::kRasTypeRras) {
    common::Trace("RAS_LoadOrdinals", "Loading RRAS ordinals", 0);
    return 0;
  }
  common::Trace("RAS_LoadOrdinals", "Loading standard RAS ordinals", 0);
  RasAdminFunctions& ras = context.ras;
  if (ras.module.Load("RASSAPI.DLL") != plat::ERROR_SUCCESS) {
    common::Trace("RAS_LoadOrdinals", "Unable to load RASSAPI.DLL.", 0);
    return 2;
  }
  struct Lookup {
    const char* name;
    void** slot;
    const char* failure;
  };
  const Lookup lookups[] = {
      {"RasAdminPortDisconnect", &ras.portDisconnect,
       "Unable to locate ordinal Disconnect in RASSAPI.DLL"},
      {"RasAdminPortGetInfo", &ras.portGetInfo, "Unable to locate ordinal GetInfo in RASSAPI.DLL"},
      {"RasAdminFreeBuffer", &ras.freeBuffer,
       "Unable to locate ordinal RasAdminFreeBuffer in RASSAPI.DLL"},
      {"RasAdminPortEnum", &ras.portEnum, "Unable to locate ordinal RasAdminPortEnum in RASSAPI.DLL"},
  };
  for (const auto& l : lookups) {
    *l.slot = ras.module.GetProcAddress(l.name);
    if (!*l.slot) {
      common::Trace("RAS_LoadOrdinals", l.failure, 0);
      return 2;
    }
  }
  return 0;
}

namespace {

// "\\SERVER" as the administration functions take it.
std::u16string ServerArgument(std::string_view server) {
  while (!server.empty() && server.front() == '\\') server.remove_prefix(1);
  return plat::ToWide("\\\\" + std::string(server));
}

// A counter of the port-data file: a DWORD written in decimal.
plat::DWORD ReadCounter(const std::string& file, std::string_view port, const char* key) {
  const std::string text = common::ProfileReadText(file, port, key, "0");
  return static_cast<plat::DWORD>(std::strtoull(text.c_str(), nullptr, 10));
}

}  // namespace

plat::DWORD RAS_GetTrafficBytesForPort(const ServiceContext& context, std::string_view server,
                                       std::string_view port, plat::DWORD* bytesSent,
                                       plat::DWORD* bytesReceived) {
  if (context.rasType == PLK::kRasTypeRras) {
    plat::Beep(4000, 100);
    const std::string file = plat::GetWindowsDirectory() + "\\" + kRrasDataFile;
    *bytesSent = ReadCounter(file, port, "dwBytesTX");
    *bytesReceived = ReadCounter(file, port, "dwBytesRX");
    return plat::ERROR_SUCCESS;
  }
  namespace rassapi = plat::rassapi;
  const auto getInfo = reinterpret_cast<rassapi::PFN_RasAdminPortGetInfo>(context.ras.portGetInfo);
  const auto freeBuffer = reinterpret_cast<rassapi::PFN_RasAdminFreeBuffer>(context.ras.freeBuffer);
  rassapi::RAS_PORT_1 info{};
  rassapi::RAS_PORT_STATISTICS statistics{};
  rassapi::RAS_PARAMETERS* parameters = nullptr;
  const std::u16string serverArg = ServerArgument(server);
  const std::u16string portArg = plat::ToWide(port);
  const plat::DWORD err = getInfo ? getInfo(serverArg.c_str(), portArg.c_str(), &info, &statistics,
                                            &parameters)
                                  : plat::ERROR_PROC_NOT_FOUND;
  if (err != plat::ERROR_SUCCESS) {
    char text[64];
    std::snprintf(text, sizeof text, "IDLE: PortGetInfo error %u", err);
    common::Trace("RAS_GetTrafficBytesForPort", text, static_cast<long>(err));
    return err;
  }
  *bytesSent = statistics.dwBytesXmited;
  *bytesReceived = statistics.dwBytesRcved;
  if (parameters && freeBuffer) freeBuffer(parameters);
  return plat::ERROR_SUCCESS;
}

plat::DWORD DisconnectPort(const ServiceContext& context, std::string_view server,
                           std::string_view port) {
  if (context.rasType == PLK::kRasTypeRras) {
    common::Trace("DisconnectPort", "RRAS - outside module not available",
                  static_cast<long>(plat::ERROR_NOT_SUPPORTED));
    return plat::ERROR_NOT_SUPPORTED;
  }
  const auto disconnect =
      reinterpret_cast<plat::rassapi::PFN_RasAdminPortDisconnect>(context.ras.portDisconnect);
  const std::u16string serverArg = ServerArgument(server);
  const std::u16string portArg = plat::ToWide(port);
  const plat::DWORD err =
      disconnect ? disconnect(serverArg.c_str(), portArg.c_str()) : plat::ERROR_PROC_NOT_FOUND;
  common::Trace("DisconnectPort", err == plat::ERROR_SUCCESS ? "RAS - Success" : "RAS - Failed",
                static_cast<long>(err));
  return err;
}

}  // namespace svc
