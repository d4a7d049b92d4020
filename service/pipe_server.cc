#include "service/pipe_server.h"

#include "common/trace.h"
#include "platform/errors.h"
#include "service/service_context.h"

namespace svc {

void NP_InitPipe(ServiceContext& context) {
  if (plat::DWORD err = TestMasterShare(context); err != plat::ERROR_SUCCESS) {
    common::Trace("NP_PipeMessageLoop - TestMasterShare", "Failed to access folder",
                  static_cast<long>(err));
    return;
  }
  // This build has no named-pipe server yet: creating the pipe fails as it
  // would on a system without named pipes.
  common::Trace("NP_InitPipe", "CreateFile() Failed", static_cast<long>(plat::ERROR_NOT_SUPPORTED));
}

}  // namespace svc
