#include "service/ras_ports.h"

#include "common/trace.h"
#include "platform/errors.h"
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

}  // namespace svc
