// The administrator's requests on the pipe (common/session_admin.h): the
// sessions of the port table, and a cut by the administrator.
#pragma once

#include <string>
#include <string_view>

namespace svc {

struct ServiceContext;

// The reply to "SESSION_LIST,<index>": the index-th session in use, with its
// traffic as the remote-access server reports it now; "1" past the last.
std::string AnswerSessionList(ServiceContext& context, unsigned index);

// Cuts the session on `port` (the port's own name) with reason 10, the way
// supervision cuts one; the reply "0" or "1<error>" (2 when no session is there).
std::string DisconnectByAdministrator(ServiceContext& context, std::string_view port);

}  // namespace svc
