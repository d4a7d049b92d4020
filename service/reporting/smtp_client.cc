#include "service/reporting/smtp_client.h"

#include <cctype>
#include <optional>

#include "platform/text.h"
#include "service/reporting/tcp_stream.h"

namespace svc {

namespace {

struct Reply {
  int code = 0;
  std::string text;  // every line's text, joined by " / "
};

// One reply, possibly of several lines ("250-..." ... "250 ...").
bool ReadReply(TcpStream& stream, Reply* reply, std::string* error) {
  reply->code = 0;
  reply->text.clear();
  for (;;) {
    std::string line;
    if (!stream.ReadLine(&line)) {
      *error = stream.error();
      return false;
    }
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
        !std::isdigit(static_cast<unsigned char>(line[1])) ||
        !std::isdigit(static_cast<unsigned char>(line[2])) ||
        (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
      *error = "not an SMTP reply: \"" + line.substr(0, 80) + "\"";
      return false;
    }
    const int code = std::stoi(line.substr(0, 3));
    if (reply->code != 0 && code != reply->code) {
      *error = "inconsistent SMTP reply: \"" + line.substr(0, 80) + "\"";
      return false;
    }
    reply->code = code;
    if (!reply->text.empty()) reply->text += " / ";
    reply->text += line.size() > 4 ? line.substr(4) : "";
    if (line.size() == 3 || line[3] == ' ') return true;
  }
}

bool ValidAddress(std::string_view a) {
  if (a.empty() || a.size() > 254) return false;
  const size_t at = a.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == a.size() ||
      a.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  for (char c : a) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '<' || c == '>' || c == ',' || c == ';') return false;
  }
  return true;
}

class Session {
 public:
  explicit Session(SmtpOutcome* outcome) : out_(outcome) {}

  TcpStream stream;

  // Sends `command` (empty: only reads, for the greeting) and expects a reply
  // of class `expected` (2 or 3). `step` names the command in errors.
  bool Step(std::string_view command, int expected, std::string_view step) {
    if (!command.empty() && !stream.WriteAll(std::string(command) + "\r\n")) {
      return Failed(std::string(step) + ": " + stream.error());
    }
    std::string error;
    Reply reply;
    if (!ReadReply(stream, &reply, &error)) {
      return Failed(std::string(step) + ": " + error);
    }
    out_->code = reply.code;
    if (reply.code / 100 != expected) {
      return Failed(std::string(step) + " refused: " + std::to_string(reply.code) + " " + reply.text);
    }
    return true;
  }

  bool Failed(std::string error) {
    out_->error = std::move(error);
    return false;
  }

 private:
  SmtpOutcome* out_;
};

}  // namespace

bool ParseMailServer(std::string_view text, MailServer* server) {
  const std::string t(plat::TrimBlanks(text));
  if (t.empty() || t == "*") return false;
  std::string host = t;
  std::optional<std::string> port;
  if (t.front() == '[') {
    const size_t close = t.find(']');
    if (close == std::string::npos) return false;
    host = t.substr(1, close - 1);
    const std::string rest = t.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else if (const size_t colon = t.find(':');
             colon != std::string::npos && t.find(':', colon + 1) == std::string::npos) {
    host = t.substr(0, colon);  // one colon: host and port; more: a bare IPv6 address
    port = t.substr(colon + 1);
  }
  if (host.empty()) return false;
  int number = 25;
  if (port) {
    if (port->empty() || port->size() > 5) return false;
    for (char c : *port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    number = std::stoi(*port);
    if (number < 1 || number > 65535) return false;
  }
  server->host = host;
  server->port = number;
  return true;
}

bool ParseMailAddresses(std::string_view text, std::vector<std::string>* addresses,
                        std::string* bad) {
  addresses->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string a(plat::TrimBlanks(text.substr(start, end - start)));
    if (!a.empty()) {
      if (!ValidAddress(a)) {
        *bad = a;
        return false;
      }
      addresses->push_back(a);
    }
    start = end + 1;
  }
  if (addresses->empty()) {
    *bad = plat::TrimBlanks(text);
    return false;
  }
  return true;
}

std::string SmtpDataBlock(std::string_view message) {
  std::string out;
  out.reserve(message.size() + message.size() / 32 + 8);
  bool lineStart = true;
  for (size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;  // CRLF: the LF ends it
    if (c == '\n' || c == '\r') {
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  if (!lineStart) out += "\r\n";
  out += ".\r\n";
  return out;
}

SmtpOutcome SendMail(const MailServer& server, std::string_view heloName, std::string_view from,
                     const std::vector<std::string>& to, std::string_view message,
                     std::chrono::milliseconds timeout) {
  SmtpOutcome out;
  Session s(&out);
  if (!ValidAddress(from)) {
    s.Failed("bad sender address '" + std::string(from) + "'");
    return out;
  }
  if (to.empty()) {
    s.Failed("no recipient");
    return out;
  }
  for (const std::string& r : to) {
    if (!ValidAddress(r)) {
      s.Failed("bad recipient address '" + r + "'");
      return out;
    }
  }
  if (!s.stream.Connect(server.host, server.port, timeout)) {
    s.Failed(s.stream.error());
    return out;
  }
  const std::string helo(heloName.empty() ? "localhost" : heloName);
  if (!s.Step("", 2, "greeting")) return out;
  if (!s.Step("EHLO " + helo, 2, "EHLO")) {
    // An old server that knows only HELO answers EHLO with 500 or 502.
    if (out.code != 500 && out.code != 502) return out;
    if (!s.Step("HELO " + helo, 2, "HELO")) return out;
  }
  if (!s.Step("MAIL FROM:<" + std::string(from) + ">", 2, "MAIL FROM:<" + std::string(from) + ">")) {
    return out;
  }
  for (const std::string& r : to) {
    if (!s.Step("RCPT TO:<" + r + ">", 2, "RCPT TO:<" + r + ">")) return out;
  }
  if (!s.Step("DATA", 3, "DATA")) return out;
  // The block ends with "." on its own line; the reply says whether the server took it.
  std::string block = SmtpDataBlock(message);
  block.resize(block.size() - 2);
  if (!s.Step(block, 2, "message transfer")) return out;
  out.ok = true;
  out.error.clear();
  // The message is accepted; a QUIT that fails changes nothing about that.
  s.stream.WriteAll("QUIT\r\n");
  Reply bye;
  std::string ignored;
  ReadReply(s.stream, &bye, &ignored);
  return out;
}

}  // namespace svc
