// The port operations of the remote-access server: the RAS administration
// functions of RASSAPI.DLL, loaded by name.
#pragma once

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

}  // namespace svc
