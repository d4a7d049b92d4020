// The export scheduler: runs only on the master.
#pragma once

namespace svc {

struct ServiceContext;

void StartExportThread(ServiceContext& context);

}  // namespace svc
