#include "common/session_admin.h"

#include "common/call_service.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace common {

namespace {

// The text after "<verb>," when `message` begins so.
std::optional<std::string_view> After(std::string_view message, std::string_view verb) {
  if (message.size() <= verb.size() || message.substr(0, verb.size()) != verb ||
      message[verb.size()] != ',')
    return std::nullopt;
  return message.substr(verb.size() + 1);
}

std::vector<std::string_view> SplitTabs(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = text.find('\t', start);
    out.push_back(text.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return out;
    start = tab + 1;
  }
}

}  // namespace

bool IsSessionListRequest(std::string_view message, unsigned* index) {
  const auto rest = After(message, kSessionListVerb);
  return rest && plat::ParseWhole(*rest, index);
}

bool IsDisconnectPortRequest(std::string_view message, std::string* port) {
  const auto rest = After(message, kDisconnectPortVerb);
  if (!rest || !IsPlausiblePortName(*rest)) return false;
  *port = std::string(*rest);
  return true;
}

std::string FormatSessionRow(const SessionRow& r) {
  std::string out = "0" + r.port;
  for (const std::string& field :
       {r.account, r.machine, std::to_string(r.address), std::to_string(r.start),
        std::to_string(r.deadline), std::to_string(r.sent), std::to_string(r.received)}) {
    out += '\t';
    out += field;
  }
  return out;
}

bool ParseSessionRow(std::string_view reply, SessionRow* row) {
  if (reply.empty() || reply.front() != '0') return false;
  const auto f = SplitTabs(reply.substr(1));
  SessionRow r;
  if (f.size() != 8 || f[0].empty() || f[1].empty() || !plat::ParseWhole(f[3], &r.address) ||
      !plat::ParseWhole(f[4], &r.start) || !plat::ParseWhole(f[5], &r.deadline) ||
      !plat::ParseWhole(f[6], &r.sent) || !plat::ParseWhole(f[7], &r.received))
    return false;
  r.port = std::string(f[0]);
  r.account = std::string(f[1]);
  r.machine = std::string(f[2]);
  *row = std::move(r);
  return true;
}

plat::DWORD ListSessions(std::string_view server, std::vector<SessionRow>* rows) {
  rows->clear();
  // The table holds 256 sessions; one more request reads its end.
  for (unsigned index = 0; index <= 256; ++index) {
    const ServiceReply r =
        CallService(server, std::string(kSessionListVerb) + "," + std::to_string(index));
    if (!r.answered()) return r.error;
    if (r.text == "1") return plat::ERROR_SUCCESS;
    SessionRow row;
    if (!ParseSessionRow(r.text, &row)) return plat::ERROR_INVALID_DATA;
    rows->push_back(std::move(row));
  }
  return plat::ERROR_SUCCESS;
}

plat::DWORD DisconnectSession(std::string_view server, std::string_view port) {
  if (!IsPlausiblePortName(port)) return plat::ERROR_INVALID_PARAMETER;
  const ServiceReply r =
      CallService(server, std::string(kDisconnectPortVerb) + "," + std::string(port));
  if (!r.answered()) return r.error;
  const std::string& reply = r.text;
  if (reply == "0") return plat::ERROR_SUCCESS;
  plat::DWORD code = 0;
  if (reply.size() > 1 && reply.front() == '1' &&
      plat::ParseWhole(std::string_view(reply).substr(1), &code) && code != 0)
    return code;
  return plat::ERROR_INVALID_DATA;
}

}  // namespace common
