// At start-up, the sessions still running on the remote-access server's
// ports come back into the port table and the logged-in users file, so that
// a restart forgets no one: a user who may not log in twice is still refused,
// and the sessions are still supervised and cut at their deadlines.
#pragma once

#include <vector>

#include "service/ras_ports.h"

namespace svc {

struct ServiceContext;

// Each session enters the port table with the deadline its admission gave
// it (ResumeSession); sessions whose port or account name could not have
// been admitted are left out, traced. Returns how many were resumed. Call
// once, after the port table was cleared and before the pipe answers.
int ResumeRunningSessions(ServiceContext& context, const std::vector<RunningSession>& sessions);

// The sessions of the local remote-access server (RAS_EnumRunningSessions),
// resumed; a server that does not answer is traced and resumes none.
int ResumeSessionsOfRemoteAccess(ServiceContext& context);

}  // namespace svc
