// The named-pipe server of the service: \\.\pipe\plsvcpipe.
#pragma once

namespace svc {

struct ServiceContext;

// Tests the data folder, creates the pipe and starts the message loop thread.
// Without a reachable data folder no pipe is created.
void NP_InitPipe(ServiceContext& context);

}  // namespace svc
