#include "service/export_thread.h"

#include "common/trace.h"
#include "service/service_context.h"

namespace svc {

void StartExportThread(ServiceContext& context) {
  if (context.settings.master != 1) {
    common::Trace("StartExportThread", "Not starting because this is not the Master", 0);
    return;
  }
  // Log archiving is the master's first scheduled job; it arrives with the
  // accounting module. Until then the scheduler has nothing to run.
  common::Trace("StartExportThread", "No scheduled jobs", 0);
}

}  // namespace svc
