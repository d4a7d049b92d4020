#include "common/port_ops_client.h"

#include "platform/errors.h"
#include "platform/pipe.h"

namespace common {

namespace {

plat::DWORD Call(std::string_view server, PortOp op, const std::string& request, PortOpsReply* reply) {
  std::string text;
  const plat::DWORD err =
      plat::CallNamedPipe(PortOpsPipeOf(server), request, &text, kPortOpsBufferSize, kPortOpsWaitMs);
  if (err != plat::ERROR_SUCCESS) return err;
  if (!ParsePortOpsReply(op, text, reply)) return plat::ERROR_INVALID_DATA;
  return reply->error;
}

}  // namespace

std::string PortOpsPipeOf(std::string_view server) {
  while (!server.empty() && server.front() == '\\') server.remove_prefix(1);
  if (server.empty()) return kPortOpsPipeName;
  return "\\\\" + std::string(server) + "\\pipe\\plportops";
}

plat::DWORD AskPortOps(std::string_view server, PortOp op, std::string_view port, PortOpsReply* reply,
                       int reason) {
  const std::string request = FormatPortOpsRequest(op, port, reason);
  if (request.empty()) return plat::ERROR_INVALID_PARAMETER;
  return Call(server, op, request, reply);
}

plat::DWORD ListPortOpsSessions(std::string_view server, std::vector<PortOpsReply>* sessions) {
  // More than an adapter can have ports: a confused adapter cannot keep us here.
  constexpr unsigned kMostSessions = 1000;
  for (unsigned index = 0; index < kMostSessions; ++index) {
    PortOpsReply reply;
    const plat::DWORD err = Call(server, PortOp::Session, FormatSessionRequest(index), &reply);
    if (err == kNoMoreSessions) return plat::ERROR_SUCCESS;
    if (err != plat::ERROR_SUCCESS) return err;
    sessions->push_back(std::move(reply));
  }
  return plat::ERROR_SUCCESS;
}

}  // namespace common
