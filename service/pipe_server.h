// The named-pipe server of the service: \\.\pipe\plsvcpipe, one client at a
// time, one message and one reply each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/pipe.h"
#include "platform/win_types.h"

namespace svc {

struct ServiceContext;

// The reply fields: kept from one message to the next, so a message that is
// not acted on is answered with the previous reply.
struct ReplyFields {
  int code = 0;
  std::int32_t address = 0;
};

// A client gets this long to send its message once it is connected; one that
// sends nothing (or half a message) is dropped.
inline constexpr plat::DWORD kClientMessageTimeoutMs = 5000;

// How far a client's clock may run ahead of ours: a NEW that says its session
// starts later than that is taken as starting now (and traced), so that no
// caller can set FirstConnection years ahead and switch expiry off.
inline constexpr long kClockSkewSeconds = 300;

// Tests the data folder, creates the pipe and starts the message loop thread.
// Without a reachable data folder no pipe is created; returns the error then.
plat::DWORD NP_InitPipe(ServiceContext& context);

// How often start-up tries again to reach a missing data folder.
inline constexpr int kDataFolderRetrySeconds = 5;

// Serves clients forever: each is read on a thread of its own, and its
// message answered by the one thread that decides, one message at a time.
void NP_PipeMessageLoop(ServiceContext& context, plat::NamedPipeServer& pipe);

// Handles one message and returns the reply text. UPDATE_UPDATE re-reads the
// settings and the shared sections of portulon.hw.
std::string HandleClientMessage(ServiceContext& context, ReplyFields& reply, std::string_view message);

// Splits the message and acts on its kind; the reply fields tell the answer.
void ProcessIncomingProtocol(ServiceContext& context, ReplyFields& reply, std::string_view message);

// "DOMAIN\name" for a bare user name: AssumeDomain when set, else the domain
// the local account lookup finds; unchanged when the lookup fails.
std::string BuildUserAccount(const ServiceContext& context, std::string_view name);

}  // namespace svc
