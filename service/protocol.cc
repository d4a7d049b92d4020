#include "service/protocol.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/profile_helpers.h"

namespace svc {

namespace {

bool IsDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  return i < s.size() && s[i] >= '0' && s[i] <= '9';
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
        case 0: m->kind = IsDecimal(token) ? common::DecimalValue(token) : kKindUnreadable; break;
        case 1: m->port = std::string(token); break;
        case 2: m->user = std::string(token); break;
        case 3: m->machine = std::string(token); break;
        case 4: m->time = common::DecimalValue(token); break;
        case 5: m->address = common::DecimalValue(token); break;
        case 6: m->duration = common::DecimalValue(token); break;
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

bool IsUpdateMessage(std::string_view text) { return text.substr(0, 13) == kUpdateMessage; }

std::int32_t RevertDWORD(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>(((u & 0xFFu) << 24) | ((u & 0xFF00u) << 8) |
                                   ((u >> 8) & 0xFF00u) | (u >> 24));
}

std::string FormatReply(int code, std::int32_t address) {
  char reply[32];
  std::snprintf(reply, sizeof reply, "%d%d", code, static_cast<int>(address));
  return reply;
}

}  // namespace svc
