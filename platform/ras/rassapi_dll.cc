// RASSAPI.DLL: the RAS administration functions, answered by the machine's
// remote-access service (rassvc) over its pipe. Buffers handed out are freed
// with RasAdminFreeBuffer, which accepts only buffers that came from here.
#include <cstring>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ras/buffer_table.h"
#include "platform/ras/rassapi.h"
#include "platform/ras/rassvc_protocol.h"
#include "platform/wide.h"

namespace {

using plat::DWORD;
using plat::WCHAR;
using plat::WORD;
namespace rassapi = plat::rassapi;
namespace ras = plat::ras;

ras::BufferTable& Buffers() {
  static ras::BufferTable table;
  return table;
}

std::string ServerName(const WCHAR* server) {
  return server ? plat::FromWide(server, 64) : std::string();
}

bool PortName(const WCHAR* port, std::string* name) {
  if (!port) return false;
  *name = plat::FromWide(port, rassapi::RASSAPI_MAX_PORT_NAME);
  if (name->empty()) return false;
  for (char c : *name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

DWORD PortEnum(const WCHAR* server, rassapi::RAS_PORT_0** ports, WORD* entriesRead) {
  *ports = nullptr;
  *entriesRead = 0;
  std::vector<ras::PortInfo> infos;
  if (const DWORD err = ras::ListRasPorts(ServerName(server), &infos); err != plat::ERROR_SUCCESS) {
    return err;
  }
  if (infos.size() > 0xFFFF) infos.resize(0xFFFF);
  if (infos.empty()) return plat::ERROR_SUCCESS;
  rassapi::RAS_PORT_0* out = Buffers().Allocate<rassapi::RAS_PORT_0>(infos.size());
  if (!out) return plat::ERROR_NOT_ENOUGH_MEMORY;
  for (size_t i = 0; i < infos.size(); ++i) ras::FillRasPort0(infos[i], &out[i]);
  *ports = out;
  *entriesRead = static_cast<WORD>(infos.size());
  return plat::ERROR_SUCCESS;
}

DWORD PortGetInfo(const WCHAR* server, const std::string& port, rassapi::RAS_PORT_1* info,
                  rassapi::RAS_PORT_STATISTICS* statistics, rassapi::RAS_PARAMETERS** parameters) {
  *parameters = nullptr;
  std::vector<std::string> fields, lines;
  if (const DWORD err = ras::CallRasService(ServerName(server), ras::JoinFields({"PORT", port}),
                                            &fields, &lines, nullptr);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  ras::PortInfo p;
  if (lines.empty() || !ras::DecodePort(lines.front(), &p)) return plat::ERROR_INVALID_DATA;
  rassapi::RAS_PARAMETERS* media = Buffers().Allocate<rassapi::RAS_PARAMETERS>(1);
  if (!media) return plat::ERROR_NOT_ENOUGH_MEMORY;
  std::strncpy(media->P_Key, "MAXCONNECTBPS", sizeof media->P_Key - 1);
  media->P_Type = 1;  // a number
  media->P_ValueLength = sizeof(DWORD);
  ras::FillRasPort1(p, info);
  ras::FillRasPortStatistics(p, statistics);
  *parameters = media;
  return plat::ERROR_SUCCESS;
}

}  // namespace

#define RASSAPI_EXPORT extern "C" __attribute__((visibility("default")))

RASSAPI_EXPORT DWORD RasAdminPortEnum(const WCHAR* server, rassapi::RAS_PORT_0** ports,
                                      WORD* entriesRead) {
  if (!ports || !entriesRead) return plat::ERROR_INVALID_PARAMETER;
  return ras::Guarded([&] { return PortEnum(server, ports, entriesRead); });
}

RASSAPI_EXPORT DWORD RasAdminPortGetInfo(const WCHAR* server, const WCHAR* port,
                                         rassapi::RAS_PORT_1* info,
                                         rassapi::RAS_PORT_STATISTICS* statistics,
                                         rassapi::RAS_PARAMETERS** parameters) {
  return ras::Guarded([&]() -> DWORD {
    std::string name;
    if (!info || !statistics || !parameters || !PortName(port, &name)) {
      return plat::ERROR_INVALID_PARAMETER;
    }
    return PortGetInfo(server, name, info, statistics, parameters);
  });
}

RASSAPI_EXPORT DWORD RasAdminPortDisconnect(const WCHAR* server, const WCHAR* port) {
  return ras::Guarded([&]() -> DWORD {
    std::string name;
    if (!PortName(port, &name)) return plat::ERROR_INVALID_PARAMETER;
    return ras::CallRasService(ServerName(server), ras::JoinFields({"DISCONNECT", name}), nullptr,
                               nullptr, nullptr);
  });
}

RASSAPI_EXPORT DWORD RasAdminFreeBuffer(void* buffer) { return Buffers().Free(buffer); }
