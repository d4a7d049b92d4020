// The one client of plsvc's pipe (hook modules, OpenVPN adapter, console,
// pipecall): one message out, one reply of at most kMessageBufferSize in, up
// to kPipeWaitMs of waiting for the pipe's one instance; a message that could
// not be built whole is never sent. Safe from several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/pipe_protocol.h"
#include "platform/errors.h"

namespace common {

struct ServiceReply {
  bool sent = false;                        // false: the message was unbuildable
  plat::DWORD error = plat::ERROR_SUCCESS;  // the pipe's; ERROR_INVALID_DATA when not sent
  std::string text;                         // cut at the buffer with ERROR_MORE_DATA
  bool answered() const { return error == plat::ERROR_SUCCESS; }
  int code() const { return ReplyCode(text); }
};

// `message` to `pipeName`, or (CallService) to plsvc on `server`, "" = this
// machine. Nothing is sent for an absent message (its builder refused it) or
// one longer than kMessageBufferSize.
ServiceReply CallPipe(std::string_view pipeName, const std::optional<std::string>& message,
                      plat::DWORD waitMs = kPipeWaitMs);
ServiceReply CallService(std::string_view server, const std::optional<std::string>& message,
                         plat::DWORD waitMs = kPipeWaitMs);

// ---- Callers that decide a dial-in: unanswered, they admit and report ----

// Unanswered, AcceptConnection and GetIP are reported (event 1, "Transaction
// failed on <question>", "Bad response from Portulon Service[: <error>]"),
// HangUp only traced.
enum class Question { AcceptConnection, GetIP, HangUp };

// The lines under the caller's label. kOneLine: "out->(<message>), in<-(<reply>)"
// or "... in<-failed (error:<n>)"; kOutThenIn: "<label> out", "<label> in" and
// failures; kFailures: failures only, "Communicate to Portulon Service Failed!!".
enum class CallTrace { kOneLine, kOutThenIn, kFailures };

struct CallerVoice {
  std::function<void(std::string_view label, std::string_view text, long number)> trace;
  std::function<void(const std::string& what, const std::string& detail)> report;  // event 1
  CallTrace lines = CallTrace::kOneLine;
  bool errorInReport = true;
  plat::DWORD waitMs = kPipeWaitMs;
};

// CallService on this machine, traced under `label` (not at all for "").
ServiceReply AskService(const CallerVoice& voice, Question question, std::string_view label,
                        const std::optional<std::string>& message);

// Admitted unless plsvc answered with another code than kReplyAccepted.
bool Admits(const ServiceReply& reply);
// The address of an answer of kReplyUseAddress; nothing else changes the proposed one.
std::optional<std::uint32_t> GivenAddress(const ServiceReply& reply);

}  // namespace common
