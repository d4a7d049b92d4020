#include "adapters/openvpn/management_text.h"

#include "platform/text.h"

namespace ovpn {

namespace {

constexpr std::string_view kClientPrefix = ">CLIENT:";
constexpr std::string_view kEnvPrefix = "ENV,";

template <typename T>
bool ReadNumber(std::string_view text, T* value) {
  return !text.starts_with('-') && plat::ParseWhole(text, value);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    out.push_back(
        text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return out;
    start = at + 1;
  }
}

std::string_view TrimLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

// The first line of a notification: "CONNECT,cid,kid", "DISCONNECT,cid", ...
std::optional<ClientEvent> ReadHeading(std::string_view body) {
  const auto fields = Split(body, ',');
  ClientEvent e;
  const std::string_view kind = fields[0];
  std::size_t want = 2;
  if (kind == "CONNECT") {
    e.kind = ClientEventKind::Connect;
    want = 3;
  } else if (kind == "REAUTH") {
    e.kind = ClientEventKind::Reauth;
    want = 3;
  } else if (kind == "ESTABLISHED") {
    e.kind = ClientEventKind::Established;
  } else if (kind == "DISCONNECT") {
    e.kind = ClientEventKind::Disconnect;
  } else if (kind == "ADDRESS") {
    e.kind = ClientEventKind::Address;
    if (fields.size() < 2 || !ReadNumber(fields[1], &e.cid)) return std::nullopt;
    if (fields.size() > 2) e.env["address"] = std::string(fields[2]);
    return e;
  } else {
    return std::nullopt;
  }
  if (fields.size() != want || !ReadNumber(fields[1], &e.cid)) return std::nullopt;
  if (want == 3 && !ReadNumber(fields[2], &e.kid)) return std::nullopt;
  return e;
}

}  // namespace

std::optional<ClientEvent> ClientEventReader::Feed(std::string_view rawLine) {
  const std::string_view line = TrimLineEnd(rawLine);
  if (line.substr(0, kClientPrefix.size()) != kClientPrefix) {
    pending_.reset();
    return std::nullopt;
  }
  const std::string_view body = line.substr(kClientPrefix.size());
  if (body.substr(0, kEnvPrefix.size()) == kEnvPrefix) {
    if (!pending_) return std::nullopt;  // the rest of a notification we dropped
    const std::string_view pair = body.substr(kEnvPrefix.size());
    if (pair == "END") {
      std::optional<ClientEvent> done = std::move(pending_);
      pending_.reset();
      return done;
    }
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;  // a value we cannot use
    pending_->env[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
    return std::nullopt;
  }
  pending_.reset();
  std::optional<ClientEvent> heading = ReadHeading(body);
  if (heading && heading->kind == ClientEventKind::Address) return heading;
  pending_ = std::move(heading);
  return std::nullopt;
}

std::vector<StatusClient> ParseStatusClients(const std::vector<std::string>& lines,
                                             int* unreadable) {
  // HEADER CLIENT_LIST: Common Name, Real Address, Virtual Address, Virtual
  // IPv6 Address, Bytes Received, Bytes Sent, Connected Since, Connected Since
  // (time_t), Username, Client ID, Peer ID, Data Channel Cipher.
  std::vector<StatusClient> out;
  int bad = 0;
  for (const std::string& raw : lines) {
    const std::string_view line = TrimLineEnd(raw);
    const auto f = Split(line, '\t');
    if (f[0] != "CLIENT_LIST") continue;
    StatusClient c;
    if (f.size() < 11 || !ReadNumber(f[5], &c.bytesReceived) || !ReadNumber(f[6], &c.bytesSent) ||
        !ReadNumber(f[8], &c.connectedSince) || !ReadNumber(f[10], &c.cid)) {
      ++bad;
      continue;
    }
    c.commonName = std::string(f[1]);
    c.virtualAddress = std::string(f[3]);
    c.username = std::string(f[9]);
    out.push_back(std::move(c));
  }
  if (unreadable) *unreadable = bad;
  return out;
}

std::string QuoteArgument(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  out.push_back('"');
  return out;
}

std::string DottedAddress(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

bool ParseDottedAddress(std::string_view text, std::uint32_t* address) {
  const auto parts = Split(text, '.');
  if (parts.size() != 4) return false;
  std::uint32_t value = 0;
  for (std::string_view p : parts) {
    unsigned octet = 0;
    if (p.size() > 3 || !ReadNumber(p, &octet) || octet > 255) return false;
    value = (value << 8) | octet;
  }
  *address = value;
  return true;
}

}  // namespace ovpn
