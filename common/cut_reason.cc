#include "common/cut_reason.h"

namespace common {

std::string CutReasonMessage(int reason) {
  const char* why = "disconnected";
  switch (reason) {
    case kCutReasonPortMaxSession:
    case kCutReasonUserMaxSession: why = "session time limit reached"; break;
    case kCutReasonUserMaxTotal: why = "total time limit reached"; break;
    case kCutReasonPeriodAllowance: why = "no more time this period"; break;
    case kCutReasonIdle: why = "idle too long"; break;
    case kCutReasonAdministrator: why = "disconnected by the administrator"; break;
    case kCutReasonAccountExpired: why = "account expired"; break;
    default: break;
  }
  return std::string("Portulon: ") + why;
}

}  // namespace common
