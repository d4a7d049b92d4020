#include "common/call_service.h"

#include "platform/pipe.h"

namespace common {

ServiceReply CallPipe(std::string_view pipeName, const std::optional<std::string>& message,
                      plat::DWORD waitMs) {
  ServiceReply r;
  // A cut message would read as another one.
  if (!message || message->size() > kMessageBufferSize) {
    r.error = plat::ERROR_INVALID_DATA;
    return r;
  }
  r.sent = true;
  r.error = plat::CallNamedPipe(pipeName, *message, &r.text, kMessageBufferSize, waitMs);
  return r;
}

ServiceReply CallService(std::string_view server, const std::optional<std::string>& message,
                         plat::DWORD waitMs) {
  return CallPipe(ServerPipeName(server), message, waitMs);
}

ServiceReply AskService(const CallerVoice& voice, Question question, std::string_view label,
                        const std::optional<std::string>& message) {
  const auto trace = [&](std::string_view suffix, const std::string& text, long number) {
    if (!label.empty() && voice.trace) voice.trace(std::string(label).append(suffix), text, number);
  };
  const bool outThenIn = voice.lines == CallTrace::kOutThenIn;
  if (message && outThenIn) trace(" out", *message, static_cast<long>(message->size()));
  const ServiceReply r = CallService("", message, voice.waitMs);
  const std::string error = std::to_string(r.error);
  const long size = static_cast<long>(r.text.size());
  if (!r.sent) {
    trace(outThenIn ? " out" : "", "message cannot be built, not sent", 0);
  } else if (voice.lines == CallTrace::kOneLine) {
    const std::string in = r.answered() ? "(" + r.text + ")" : "failed (error:" + error + ")";
    trace("", "out->(" + *message + "), in<-" + in,
          r.answered() ? size : static_cast<long>(r.error));
  } else if (!r.answered()) {
    trace("", "Communicate to Portulon Service Failed!!", static_cast<long>(r.error));
  } else if (outThenIn) {
    trace(" in", r.text, size);
  }
  if (!r.answered() && question != Question::HangUp && voice.report) {
    voice.report(question == Question::GetIP ? "Transaction failed on GetIP"
                                             : "Transaction failed on AcceptConnection",
                 "Bad response from Portulon Service" + (voice.errorInReport ? ": " + error : ""));
  }
  return r;
}

bool Admits(const ServiceReply& reply) {
  return !reply.answered() || reply.code() == kReplyAccepted;
}

std::optional<std::uint32_t> GivenAddress(const ServiceReply& reply) {
  std::uint32_t address = 0;
  if (reply.answered() && reply.code() == kReplyUseAddress && ReplyAddress(reply.text, &address)) {
    return address;
  }
  return std::nullopt;
}

}  // namespace common
