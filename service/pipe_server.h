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

// The reply fields of one message. Each message starts from fresh ones: no
// caller is ever answered with what an earlier caller was told.
struct ReplyFields {
  int code = 0;
  std::int32_t address = 0;
};

// A client gets this long to send its message once it is connected; one that
// sends nothing (or half a message) is dropped.
inline constexpr plat::DWORD kClientMessageTimeoutMs = 5000;

// A NEW that says its session starts later than kClockSkewSeconds
// (session_log.h) from now is taken as starting now (and traced), so that no
// caller can set FirstConnection years ahead and switch expiry off.
// How long before now a NEW's start may lie (a further link of a connection
// that began earlier). An older start, 1970 among them, is taken as now and
// traced: it would otherwise set FirstConnection and expire the account at
// once, or give the session a deadline already past.
inline constexpr long kMaxStartAgeSeconds = 86400;

// Tests the data folder, creates the pipe and starts the message loop thread.
// Without a reachable data folder no pipe is created; returns the error then.
plat::DWORD NP_InitPipe(ServiceContext& context);

// How often start-up tries again to reach a missing data folder.
inline constexpr int kDataFolderRetrySeconds = 5;

// Serves clients forever: each is read on a thread of its own, and its
// message answered by the one thread that decides, one message at a time.
void NP_PipeMessageLoop(ServiceContext& context, plat::NamedPipeServer& pipe);

// Handles one message and returns the reply text. UPDATE_UPDATE re-reads the
// settings and the shared sections of portulon.hw and is answered "00".
std::string HandleClientMessage(ServiceContext& context, std::string_view message);

// Splits the message and acts on its kind; returns the answer. A message not
// acted on (see common::kReplyNotActedOn) is refused, and so is one whose
// account common::AccountNameProblem refuses: nothing is written for it.
ReplyFields ProcessIncomingProtocol(ServiceContext& context, std::string_view message);

// "DOMAIN\name" for a bare user name: AssumeDomain when set, else the domain
// the local account lookup finds; unchanged when the lookup fails.
std::string BuildUserAccount(const ServiceContext& context, std::string_view name);

}  // namespace svc
