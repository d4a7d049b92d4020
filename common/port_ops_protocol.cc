#include "common/port_ops_protocol.h"

#include <vector>

#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/text.h"

namespace common {

namespace {

constexpr std::string_view kTraffic = "TRAFFIC";
constexpr std::string_view kDisconnect = "DISCONNECT";
constexpr std::string_view kSession = "SESSION";
constexpr std::string_view kClient = "CLIENT";

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

template <typename T>
bool ReadNumber(std::string_view text, T* value) {
  return !text.starts_with('-') && plat::ParseWhole(text, value);
}

bool UsablePort(std::string_view port) {
  return !port.empty() && port.size() <= kFieldLimit && port.find(' ') == std::string_view::npos;
}

}  // namespace

std::string FormatPortOpsRequest(PortOp op, std::string_view port, int reason) {
  if (!UsablePort(port) || op == PortOp::Session) return {};
  const std::string_view verb =
      op == PortOp::Traffic ? kTraffic : op == PortOp::Client ? kClient : kDisconnect;
  std::string request = std::string(verb) + " " + std::string(port);
  if (op == PortOp::Disconnect && reason > 0) request += " " + std::to_string(reason);
  return request;
}

std::string FormatSessionRequest(unsigned index) {
  return std::string(kSession) + " " + std::to_string(index);
}

bool ParsePortOpsRequest(std::string_view text, PortOpsRequest* request) {
  const auto words = SplitBlanks(text);
  if (words.size() == 2 && words[0] == kSession) {
    unsigned index = 0;
    if (!ReadNumber(words[1], &index)) return false;
    request->op = PortOp::Session;
    request->port.clear();
    request->index = index;
    return true;
  }
  request->reason = 0;
  if (words.size() == 3 && words[0] == kDisconnect) {
    if (!ReadNumber(words[2], &request->reason)) return false;
  } else if (words.size() != 2) {
    return false;
  }
  if (!UsablePort(words[1])) return false;
  if (words[0] == kTraffic) {
    request->op = PortOp::Traffic;
  } else if (words[0] == kDisconnect) {
    request->op = PortOp::Disconnect;
  } else if (words[0] == kClient) {
    request->op = PortOp::Client;
  } else {
    return false;
  }
  request->port = std::string(words[1]);
  return true;
}

std::string FormatPortOpsReply(PortOp op, const PortOpsReply& reply) {
  if (reply.error != 0) return std::to_string(reply.error);
  if (op == PortOp::Disconnect) return "0";
  if (op == PortOp::Session) {
    return "0 " + reply.port + " " + std::to_string(reply.start) + " " + reply.account;
  }
  if (op == PortOp::Client) {
    return "0 " + std::to_string(reply.sent) + " " + std::to_string(reply.received) + " " +
           (reply.address.empty() ? std::string("-") : reply.address) + " " + reply.commonName;
  }
  return "0 " + std::to_string(reply.sent) + " " + std::to_string(reply.received);
}

bool ParsePortOpsReply(PortOp op, std::string_view text, PortOpsReply* reply) {
  const auto words = SplitBlanks(text);
  PortOpsReply r;
  if (words.empty() || !ReadNumber(words[0], &r.error)) return false;
  if (r.error != 0) {
    if (words.size() != 1) return false;
  } else if (op == PortOp::Disconnect) {
    if (words.size() != 1) return false;
  } else if (op == PortOp::Session) {
    if (words.size() < 4 || !UsablePort(words[1]) || !ReadNumber(words[2], &r.start)) return false;
    r.port = std::string(words[1]);
    // The account is the rest of the line, blanks inside it kept.
    r.account = std::string(text.substr(static_cast<std::size_t>(words[3].data() - text.data())));
    while (!r.account.empty() && r.account.back() == ' ') r.account.pop_back();
  } else if (op == PortOp::Client) {
    if (words.size() < 5 || !ReadNumber(words[1], &r.sent) || !ReadNumber(words[2], &r.received))
      return false;
    r.address = std::string(words[3]);
    r.commonName = std::string(text.substr(static_cast<std::size_t>(words[4].data() - text.data())));
    while (!r.commonName.empty() && r.commonName.back() == ' ') r.commonName.pop_back();
  } else if (words.size() != 3 || !ReadNumber(words[1], &r.sent) ||
             !ReadNumber(words[2], &r.received)) {
    return false;
  }
  *reply = r;
  return true;
}


}  // namespace common
