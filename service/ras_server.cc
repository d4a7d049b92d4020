#include "service/ras_server.h"

#include "common/qcl_trace.h"
#include "common/trace.h"

namespace PLK {

const char* RAServer::TypeText(plat::DWORD type) {
  return type == kRasTypeRas ? "standard RAS" : common::RemoteAccessKindName(type);
}

plat::DWORD RAServer::GetLocalRASType(std::string_view server) {
  QCL::TraceIndent indent("RAServer::GetLocalRASType");
  const common::RemoteAccessFacts facts = common::ReadRemoteAccessFacts(server);
  plat::DWORD type = kRasTypeRas;
  if (!common::RemoteAccessKindOf(facts, &type)) {
    // Nobody sees a message box from a service: the trace tells.
    common::Trace("GetLocalOSVersion", "Failed to determine local OS type", 0);
  } else if (type != kRasTypeOpenVpn) {
    QCL::TraceLine("OS major version %u", facts.osMajor);
  }
  return type;
}

}  // namespace PLK
