#include "accounts/simulation.h"

#include "common/call_service.h"
#include "common/dial_outcome.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/messenger.h"
#include "platform/sysinfo.h"

namespace accounts {

SimulationResult Simulate(const SimulatedCall& call, const std::string& dataFolder) {
  SimulationResult result;
  std::string why;
  if (!CheckAccountName(call.account, &why) || call.account.front() == '+') {
    result.outcome = Outcome::Refused(call.account.empty() || call.account.front() != '+' ? why
                                      : "a group cannot dial in");
    return result;
  }
  if (!common::IsPlausiblePortName(call.port)) {
    result.outcome = Outcome::Refused("'" + call.port + "' is not a port name (as COM1 or VPN0-1)");
    return result;
  }
  if (call.hangUp && call.duration < 0) {
    result.outcome = Outcome::Refused("a session cannot last a negative time");
    return result;
  }
  const std::string machine = call.machine.empty() ? "*" : call.machine;
  const std::int64_t now = plat::Now();
  const std::int64_t start = call.start != 0 ? call.start : (call.hangUp ? now - call.duration : 0);
  const auto message = call.hangUp
                           ? common::HangUpMessage(call.port, call.account, machine, std::to_string(start), call.duration)
                           : common::NewConnectionMessage(call.port, call.account, machine, std::to_string(start));
  common::ServiceReply answer = common::CallService(call.server, message);
  result.reply = std::move(answer.text);
  if (!answer.sent) {
    result.outcome = Outcome::Refused("the computer name '" + machine + "' cannot be sent (a comma, or too long)");
    return result;
  }
  const std::string where = (call.server.empty() ? plat::GetComputerName() : call.server) + "\\" + call.port;
  if (const plat::DWORD err = answer.error; err != plat::ERROR_SUCCESS) {
    result.outcome = Outcome{err, "the service on " + (call.server.empty() ? std::string("this machine") : call.server) +
                                      " did not answer: " + plat::ErrorText(err) +
                                      (err == plat::ERROR_FILE_NOT_FOUND ? " (is Portulon running?)" : "")};
    return result;
  }
  if (call.hangUp) {
    result.admitted = true;
    result.words = "hang-up of " + call.account + " on " + where + " recorded";
    return result;
  }
  result.admitted = common::ReplyCode(result.reply) == common::kReplyAccepted;
  result.words = call.account + (result.admitted ? " admitted on " : " refused on ") + where;
  if (!result.admitted && !dataFolder.empty()) {
    const std::string server = call.server.empty() ? plat::GetComputerName() : call.server;
    result.words += common::DescribeRefusal(dataFolder, server, call.port, call.account, now - 1);
  }
  return result;
}

Outcome SendMessageTo(const std::string& recipient, const std::string& text) {
  // An account reaches its user: the messenger knows users by their bare name.
  const std::string name = recipient.substr(recipient.find_last_of('\\') + 1);
  if (name.empty()) return Outcome::Refused("no recipient given");
  if (text.empty()) return Outcome::Refused("no message given");
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) {
      return Outcome::Refused("'" + recipient + "' is not a user or computer name");
    }
  }
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\0') return Outcome::Refused("the message must be one line");
  }
  const plat::DWORD err = plat::NetMessageBufferSend(name, text);
  if (err != plat::ERROR_SUCCESS) return Outcome{err, "the message was not sent: " + plat::ErrorText(err)};
  return {};
}

}  // namespace accounts
