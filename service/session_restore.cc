#include "service/session_restore.h"

#include "common/pipe_protocol.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "service/admission.h"
#include "service/service_context.h"

namespace svc {

namespace {
constexpr const char* kLabel = "ResumeRunningSessions";
}  // namespace

int ResumeRunningSessions(ServiceContext& context, const std::vector<RunningSession>& sessions) {
  int resumed = 0;
  for (const RunningSession& s : sessions) {
    if (!common::IsPlausiblePortName(s.port)) {
      common::Trace(kLabel, "Not a port name, session left out: " + s.port, 0);
      continue;
    }
    const std::string portSection = context.serverName + "\\" + s.port;
    const AccountName user(s.user);
    if (!user.problem().empty()) {
      // The pipe refuses it, so its hang-up could never clear the entry.
      common::Trace(kLabel, "Session left out on " + portSection + ": " + user.problem(), 0);
      continue;
    }
    // A server that lost the start still holds the session: it runs from now.
    const std::time_t start = s.start > 0 ? s.start : context.Now();
    if (!ResumeSession(context, s.machine.empty() ? "*" : s.machine, user, portSection, start)) {
      common::Trace(kLabel, "Not an account name, session left out on " + portSection, 0);
      continue;
    }
    common::Trace(kLabel, "Resumed " + s.user + " on " + portSection, static_cast<long>(start));
    ++resumed;
  }
  common::Trace(kLabel, "Sessions resumed", resumed);
  return resumed;
}

int ResumeSessionsOfRemoteAccess(ServiceContext& context) {
  std::vector<RunningSession> sessions;
  if (const plat::DWORD err = RAS_EnumRunningSessions(context.remoteAccess, context.serverName, &sessions);
      err != plat::ERROR_SUCCESS) {
    common::Trace(kLabel, "The remote-access server lists no sessions", static_cast<long>(err));
    return 0;
  }
  return ResumeRunningSessions(context, sessions);
}

}  // namespace svc
