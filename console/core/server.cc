#include "console/core/server.h"

#include "platform/text.h"

namespace pladmin {

bool IsFailureState(int state) {
  switch (state) {
    case kStateNoRegistry:
    case kStateRegistryIncomplete:
    case kStateNoRasVersion:
    case kStateRasReadFailure:
    case kStateRrasInitError:
    case kStateRrasReadFailure:
    case kStateOpenVpnReadFailure:
      return true;
    default:
      return false;
  }
}

std::string ServerStateText(int state, const std::string& name) {
  const char* format = "Unknown state for server %s";
  switch (state) {
    case kStateReady: format = "%s is ready"; break;
    case kStateNoRegistry: format = "Couldn't connect to %s's registry"; break;
    case kStateRegistryIncomplete: format = "Couldn't read all data from %s's registry"; break;
    case kStateConnecting: format = "Connecting to %s..."; break;
    case kStateNoRasVersion: format = "Unable to determine RAS version for %s..."; break;
    case kStateRequestingRas: format = "Requesting RAS data for %s..."; break;
    case kStateRasReadFailure: format = "RAS read failure for %s"; break;
    case kStateRrasInitError: format = "RRAS Init error for %s"; break;
    case kStateRequestingRras: format = "Requesting RRAS data for %s..."; break;
    case kStateRrasReadFailure: format = "RRAS read failure for %s"; break;
    case kStateRequestingOpenVpn: format = "Requesting OpenVPN data for %s..."; break;
    case kStateOpenVpnReadFailure: format = "OpenVPN read failure for %s"; break;
  }
  return plat::FormatText(format, name.c_str());
}

const PortEntry* CServer::FindPort(const std::string& port) const {
  for (const PortEntry& p : ports) {
    if (plat::EqualsIgnoringCase(p.name, port)) return &p;
  }
  return nullptr;
}

}  // namespace pladmin
