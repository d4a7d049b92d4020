#include "platform/ras/rassvc_protocol.h"

#include <cstdio>

#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/text.h"
#include "platform/wide.h"

namespace plat::ras {

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool HasControl(std::string_view text) {
  for (char c : text) {
    if (IsControl(c)) return true;
  }
  return false;
}

// Characters Windows does not allow in account names; ',' would also split a
// message of the service's pipe protocol.
bool IsAccountCharacter(char c) {
  return !IsControl(c) && std::string_view("\"/\\[]:;|=,+*?<>").find(c) == std::string_view::npos;
}

bool IsBlankOnly(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

bool CheckName(std::string_view what, std::string_view text, size_t limit, bool required,
               bool (*allowed)(char), std::string* why) {
  if (text.empty() || IsBlankOnly(text)) {
    if (!required && text.empty()) return true;
    *why = std::string(what) + " is empty";
    return false;
  }
  if (text.size() > limit) {
    *why = std::string(what) + " is longer than " + std::to_string(limit) + " characters";
    return false;
  }
  for (char c : text) {
    if (!allowed(c)) {
      *why = std::string(what) + " contains a character that is not allowed";
      if (!IsControl(c)) *why += std::string(" ('") + c + "')";
      return false;
    }
  }
  return true;
}

// Remote computer and workstation names: NetBIOS names, which the service's
// pipe protocol carries as one comma-separated field.
bool IsComputerCharacter(char c) { return !IsControl(c) && c != ',' && c != '\\'; }

bool IsDialCharacter(char c) {
  return (c >= '0' && c <= '9') || std::string_view(" +-()#*,.WwPpTt@!").find(c) != std::string_view::npos;
}

}  // namespace

const char* PortStateName(PortState state) {
  switch (state) {
    case PortState::Listening: return "listening";
    case PortState::Connecting: return "connecting";
    case PortState::Connected: return "connected";
    case PortState::Disconnecting: return "disconnecting";
  }
  return "?";
}

bool ParseIpAddress(std::string_view text, rassapi::IPADDR* address) {
  rassapi::IPADDR result = 0;
  for (int octet = 0; octet < 4; ++octet) {
    const size_t dot = text.find('.');
    const std::string_view part = octet < 3 ? text.substr(0, dot) : text;
    if (octet < 3 && dot == std::string_view::npos) return false;
    if (part.empty() || part.size() > 3) return false;
    std::uint64_t v = 0;
    if (!ParseWhole(part, &v) || v > 255) return false;
    result |= static_cast<rassapi::IPADDR>(v) << (8 * octet);
    if (octet < 3) text.remove_prefix(dot + 1);
  }
  *address = result;
  return true;
}

std::string FormatIpAddress(rassapi::IPADDR address) {
  return std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
         std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24);
}

bool SplitAccount(std::string_view account, std::string* domain, std::string* user,
                  std::string* why) {
  const size_t slash = account.find('\\');
  if (slash == std::string_view::npos) {
    *why = "the account must be written DOMAIN\\user";
    return false;
  }
  if (account.find('\\', slash + 1) != std::string_view::npos) {
    *why = "the account has more than one backslash";
    return false;
  }
  const std::string_view d = account.substr(0, slash);
  const std::string_view u = account.substr(slash + 1);
  if (!CheckName("the domain", d, kMaxDomain, true, IsAccountCharacter, why) ||
      !CheckName("the user name", u, kMaxUser, true, IsAccountCharacter, why)) {
    return false;
  }
  *domain = std::string(d);
  *user = std::string(u);
  return true;
}

bool ValidateDialRequest(const DialRequest& r, std::string* why) {
  if (r.port.empty() || HasControl(r.port)) {
    *why = "no port given";
    return false;
  }
  if (!CheckName("the domain", r.domain, kMaxDomain, true, IsAccountCharacter, why) ||
      !CheckName("the user name", r.user, kMaxUser, true, IsAccountCharacter, why) ||
      !CheckName("the computer name", r.computer, kMaxComputer, false, IsComputerCharacter, why) ||
      !CheckName("the workstation name", r.wksta, kMaxWksta, false, IsComputerCharacter, why) ||
      !CheckName("the call-back number", r.callback, kMaxCallback, false, IsDialCharacter, why)) {
    return false;
  }
  if (r.links < 1 || r.links > kMaxLinks) {
    *why = "a connection has 1 to " + std::to_string(kMaxLinks) + " links";
    return false;
  }
  rassapi::IPADDR ignored;
  if (!r.address.empty() && !ParseIpAddress(r.address, &ignored)) {
    *why = "the address must be written a.b.c.d";
    return false;
  }
  return true;
}

std::vector<std::string> SplitFields(std::string_view message) {
  std::vector<std::string> fields;
  while (true) {
    const size_t tab = message.find('\t');
    fields.emplace_back(message.substr(0, tab));
    if (tab == std::string_view::npos) break;
    message.remove_prefix(tab + 1);
  }
  return fields;
}

std::string JoinFields(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '\t';
    out += fields[i];
  }
  return out;
}

std::string EncodeDial(const DialRequest& r) {
  return JoinFields({"DIAL", r.port, r.domain, r.user, r.computer, r.wksta, r.address, r.callback,
                     std::to_string(r.links)});
}

bool DecodeDial(const std::vector<std::string>& f, DialRequest* r) {
  std::uint64_t links = 0;
  if (f.size() != 9 || f[0] != "DIAL" || !ParseWhole(f[8], &links) || links > 0xFFFF) {
    return false;
  }
  *r = DialRequest{f[1], f[2], f[3], f[4], f[5], f[6], f[7], static_cast<int>(links)};
  return true;
}

std::string EncodePort(const PortInfo& p) {
  return JoinFields({p.name, PortStateName(p.state), p.domain, p.user, p.computer, p.wksta,
                     p.callback, std::to_string(p.start), std::to_string(p.address),
                     std::to_string(p.bytesSent), std::to_string(p.bytesReceived),
                     std::to_string(p.lineSpeed), std::to_string(p.connection),
                     std::to_string(p.connected)});
}

bool DecodePort(std::string_view line, PortInfo* p) {
  const std::vector<std::string> f = SplitFields(line);
  if (f.size() != 14) return false;
  PortInfo out;
  out.name = f[0];
  bool known = false;
  for (PortState s : {PortState::Listening, PortState::Connecting, PortState::Connected,
                      PortState::Disconnecting}) {
    if (f[1] == PortStateName(s)) {
      out.state = s;
      known = true;
    }
  }
  out.domain = f[2];
  out.user = f[3];
  out.computer = f[4];
  out.wksta = f[5];
  out.callback = f[6];
  std::uint64_t start = 0, address = 0, speed = 0, connection = 0, connected = 0;
  if (!known || !ParseWhole(f[7], &start) || !ParseWhole(f[8], &address) ||
      address > 0xFFFFFFFFu || !ParseWhole(f[9], &out.bytesSent) ||
      !ParseWhole(f[10], &out.bytesReceived) || !ParseWhole(f[11], &speed) ||
      speed > 0xFFFFFFFFu || !ParseWhole(f[12], &connection) || connection > 0xFFFFFFFFu ||
      !ParseWhole(f[13], &connected)) {
    return false;
  }
  out.connection = static_cast<DWORD>(connection);
  out.connected = static_cast<std::time_t>(connected);
  out.start = static_cast<std::time_t>(start);
  out.address = static_cast<rassapi::IPADDR>(address);
  out.lineSpeed = static_cast<DWORD>(speed);
  *p = std::move(out);
  return true;
}

std::string ErrorReply(DWORD error, std::string_view text) {
  std::string clean(text);
  for (char& c : clean) {
    if (IsControl(c)) c = ' ';
  }
  return JoinFields({"ERR", std::to_string(error), clean});
}

void FillRasPort0(const PortInfo& p, rassapi::RAS_PORT_0* out) {
  *out = rassapi::RAS_PORT_0{};
  CopyToWide(p.name, out->wszPortName, rassapi::RASSAPI_MAX_PORT_NAME);
  CopyToWide("modem", out->wszDeviceType, rassapi::RASSAPI_MAX_DEVICETYPE_NAME);
  CopyToWide("Modem on " + p.name, out->wszDeviceName, rassapi::RASSAPI_MAX_DEVICE_NAME);
  CopyToWide("rasser", out->wszMediaName, rassapi::RASSAPI_MAX_MEDIA_NAME);
  const bool inSession = p.state == PortState::Connected || p.state == PortState::Disconnecting;
  if (p.state != PortState::Listening) out->Flags = rassapi::PPP_CLIENT;
  if (inSession) out->Flags |= rassapi::USER_AUTHENTICATED | rassapi::MESSENGER_PRESENT;
  CopyToWide(p.user, out->wszUserName, rassapi::UNLEN + 1);
  CopyToWide(p.computer, out->wszComputer, rassapi::NETBIOS_NAME_LEN);
  out->dwStartSessionTime = static_cast<DWORD>(p.start);
  CopyToWide(p.domain, out->wszLogonDomain, rassapi::DNLEN + 1);
  out->fAdvancedServer = TRUE;
}

void FillRasPort1(const PortInfo& p, rassapi::RAS_PORT_1* out) {
  *out = rassapi::RAS_PORT_1{};
  FillRasPort0(p, &out->rasport0);
  switch (p.state) {
    case PortState::Listening: out->LineCondition = rassapi::RAS_PORT_LISTENING; break;
    case PortState::Connecting: out->LineCondition = rassapi::RAS_PORT_AUTHENTICATING; break;
    case PortState::Connected: out->LineCondition = rassapi::RAS_PORT_AUTHENTICATED; break;
    case PortState::Disconnecting: out->LineCondition = rassapi::RAS_PORT_DISCONNECTED; break;
  }
  out->HardwareCondition = 1;  // operational
  out->LineSpeed = p.lineSpeed;
  out->NumStatistics = sizeof(rassapi::RAS_PORT_STATISTICS) / sizeof(DWORD);
  out->NumMediaParms = 1;
  out->SizeMediaParms = sizeof(rassapi::RAS_PARAMETERS);
  // A projection that was not negotiated carries an error code.
  auto& proj = out->ProjResult;
  proj.nbf.dwError = p.wksta.empty() ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
  CopyToWide(p.wksta, proj.nbf.wszWksta, rassapi::NETBIOS_NAME_LEN + 1);
  std::snprintf(proj.nbf.szName, sizeof proj.nbf.szName, "%s", p.wksta.c_str());
  proj.ip.dwError = p.address != 0 ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
  if (p.address != 0) {
    CopyToWide(FormatIpAddress(p.address), proj.ip.wszAddress, rassapi::RAS_IPADDRESSLEN + 1);
  }
  proj.ipx.dwError = ERROR_NOT_SUPPORTED;
}

void FillRasPortStatistics(const PortInfo& p, rassapi::RAS_PORT_STATISTICS* out) {
  *out = rassapi::RAS_PORT_STATISTICS{};
  // The interface counts in 32 bits; longer sessions wrap, as they do there.
  const auto sent = static_cast<DWORD>(p.bytesSent);
  const auto received = static_cast<DWORD>(p.bytesReceived);
  out->dwBytesXmited = out->dwPortBytesXmited = sent;
  out->dwBytesRcved = out->dwPortBytesRcved = received;
  out->dwBytesXmitedUncompressed = out->dwPortBytesXmitedUncompressed = sent;
  out->dwBytesRcvedUncompressed = out->dwPortBytesRcvedUncompressed = received;
  out->dwBytesXmitedCompressed = out->dwPortBytesXmitedCompressed = sent;
  out->dwBytesRcvedCompressed = out->dwPortBytesRcvedCompressed = received;
}

DWORD CallRasService(std::string_view server, std::string_view request,
                     std::vector<std::string>* fields, std::vector<std::string>* lines,
                     std::string* errorText) {
  std::string machine(server);
  while (!machine.empty() && machine.front() == '\\') machine.erase(0, 1);
  if (machine.empty()) machine = ".";
  const std::string pipe = "\\\\" + machine + "\\pipe\\rassvc";
  std::string reply;
  const DWORD err = CallNamedPipe(pipe, request, &reply, kReplyLimit, kCallTimeoutMs);
  if (err == ERROR_BAD_NETPATH || err == ERROR_MORE_DATA) return err;
  if (err != ERROR_SUCCESS) {
    // No pipe, no free instance, or a daemon that went away: the service is
    // not there to answer, as an RPC to a stopped service would find.
    if (errorText) *errorText = "the remote-access service is not running";
    return RPC_S_SERVER_UNAVAILABLE;
  }
  std::vector<std::string> replyLines;
  std::string_view rest = reply;
  while (true) {
    const size_t nl = rest.find('\n');
    replyLines.emplace_back(rest.substr(0, nl));
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  std::vector<std::string> head = SplitFields(replyLines.front());
  if (head[0] == "ERR" && head.size() >= 2) {
    std::uint64_t code = 0;
    if (!ParseWhole(head[1], &code) || code == 0 || code > 0xFFFFFFFFu) code = ERROR_GEN_FAILURE;
    if (errorText) *errorText = head.size() >= 3 ? head[2] : std::string();
    return static_cast<DWORD>(code);
  }
  if (head[0] != "OK") {
    if (errorText) *errorText = "the remote-access service gave an answer that cannot be read";
    return ERROR_INVALID_DATA;
  }
  if (fields) fields->assign(head.begin() + 1, head.end());
  if (lines) lines->assign(replyLines.begin() + 1, replyLines.end());
  return ERROR_SUCCESS;
}

DWORD ListRasPorts(std::string_view server, std::vector<PortInfo>* ports) {
  ports->clear();
  std::vector<std::string> fields, lines;
  if (const DWORD err = CallRasService(server, "PORTS", &fields, &lines, nullptr);
      err != ERROR_SUCCESS) {
    return err;
  }
  for (const std::string& line : lines) {
    PortInfo port;
    if (!DecodePort(line, &port)) return ERROR_INVALID_DATA;
    ports->push_back(std::move(port));
  }
  return ERROR_SUCCESS;
}

}  // namespace plat::ras
