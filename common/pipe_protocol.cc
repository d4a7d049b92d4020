#include "common/pipe_protocol.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "common/profile_helpers.h"
#include "platform/text.h"

namespace common {

std::string ServerPipeName(std::string_view server) {
  if (server.empty()) return kPipeName;
  return "\\\\" + std::string(server) + "\\pipe\\plsvcpipe";
}

namespace {

bool IsDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  return i < s.size() && s[i] >= '0' && s[i] <= '9';
}

// Joins the tokens with ','; nothing when a token is empty or holds a ',',
// or when the message would not fit.
std::optional<std::string> Join(std::initializer_list<std::string_view> tokens) {
  std::string out;
  for (std::string_view t : tokens) {
    if (t.empty() || t.find(',') != std::string_view::npos) return std::nullopt;
    if (!out.empty()) out += ',';
    out.append(t);
  }
  if (out.size() > kMessageBufferSize) return std::nullopt;
  return out;
}

}  // namespace

int TokenizeMessage(std::string_view text, ProtocolMessage* m) {
  *m = ProtocolMessage();
  int index = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view token = text.substr(start, end - start);
    if (!token.empty()) {
      if (index >= 1 && index <= 3 && token.size() > m->longestField) m->longestField = token.size();
      switch (index) {
        case 0: m->kind = IsDecimal(token) ? DecimalValue(token) : kKindUnreadable; break;
        case 1: m->port = std::string(token); break;
        case 2: m->user = std::string(token); break;
        case 3: m->machine = std::string(token); break;
        case 4: m->time = DecimalValue(token); break;
        case 5: m->address = DecimalValue(token); break;
        case 6: m->duration = DecimalValue(token); break;
        default: break;
      }
      ++index;
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  m->tokenCount = index;
  return index;
}

bool IsPlausiblePortName(std::string_view port) {
  if (port == "??") return true;
  if (port.empty() || port.size() > kMaxPortName) return false;
  const auto alnum = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  if (!alnum(port.front())) return false;
  for (char c : port) {
    if (!alnum(c) && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

bool IsUpdateMessage(std::string_view text) { return text.substr(0, 13) == kUpdateMessage; }

std::optional<std::string> NewConnectionMessage(std::string_view port, std::string_view user,
                                                std::string_view machine, std::string_view time) {
  return Join({"0", port, user, machine, time, "0", "0"});
}

std::optional<std::string> HangUpMessage(std::string_view port, std::string_view user,
                                         std::string_view machine, std::string_view start,
                                         long duration) {
  return Join({"1", port, user, machine, start, "0", std::to_string(duration)});
}

std::optional<std::string> AddressRequestMessage(std::string_view port, std::string_view user,
                                                 std::int32_t address) {
  return Join({"2", port, user, "*", "*", std::to_string(address), "0"});
}

std::string FormatReply(int code, std::int32_t address) {
  return plat::FormatText("%d%d", code, static_cast<int>(address));
}

int ReplyCode(std::string_view reply) {
  return !reply.empty() && reply[0] >= '0' && reply[0] <= '9' ? reply[0] - '0' : kReplyAccepted;
}

bool ReplyAddress(std::string_view reply, std::uint32_t* address) {
  if (reply.size() < 2) return false;
  const std::string digits(reply.substr(1));
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(digits.c_str(), &end, 10);
  if (end == digits.c_str() || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > UINT32_MAX) {
    return false;
  }
  *address = static_cast<std::uint32_t>(v);
  return true;
}

std::string DescribeReply(std::string_view message, std::string_view reply) {
  if (reply.empty() || reply[0] < '0' || reply[0] > '9') return {};
  // The service answers UPDATE_UPDATE once it has re-read, whatever the code.
  if (IsUpdateMessage(message)) return "settings re-read";
  ProtocolMessage m;
  if (TokenizeMessage(message, &m) < 1) return {};
  const int code = ReplyCode(reply);
  switch (m.kind) {
    case kKindNewConnection:
      if (code == kReplyAccepted) return "admitted";
      if (code == kReplyRefused) return "refused (the reason is in the day's log)";
      return {};
    case kKindHangUp:
      return code == kReplyAccepted ? "hang-up recorded" : std::string();
    case kKindAddressRequest: {
      if (code == kReplyKeepAddress) return "keep the proposed address";
      std::uint32_t a = 0;
      if (code != kReplyUseAddress || !ReplyAddress(reply, &a)) return {};
      return plat::FormatText("use address %u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                              a & 0xFF);
    }
    default:
      return code == kReplyAccepted ? "accepted (a message kind the service does not know)"
                                    : std::string();
  }
}

std::int32_t RevertDWORD(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>(((u & 0xFFu) << 24) | ((u & 0xFF00u) << 8) |
                                   ((u >> 8) & 0xFF00u) | (u >> 24));
}

}  // namespace common
