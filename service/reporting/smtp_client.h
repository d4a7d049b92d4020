// The system's own SMTP client (RFC 5321), enough to hand one message to a
// mail server: EHLO (HELO when the server does not know it), MAIL FROM, one
// RCPT TO per recipient, DATA with the message dot-stuffed and in CRLF lines,
// QUIT. Any 4xx or 5xx answer, a closed connection or a silent server ends the
// transfer with an error that names the step and quotes the server.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace svc {

struct MailServer {
  std::string host;
  int port = 25;
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port". False for an
// empty name, "*" (the system data's "not set") or a bad port.
bool ParseMailServer(std::string_view text, MailServer* server);

// Splits a recipient list at ',' and ';', trimming blanks; an address is a
// bare "local@domain" without blanks, angle brackets or control characters.
// False (with the offending address in `bad`) when any address is not.
bool ParseMailAddresses(std::string_view text, std::vector<std::string>* addresses,
                        std::string* bad);

struct SmtpOutcome {
  bool ok = false;
  int code = 0;       // the server's last reply code; 0 when it never answered
  std::string error;  // "RCPT TO:<x@y> refused: 550 no such user", ...
};

// Delivers `message` (header and body; lines end in LF or CRLF) from `from`
// to `to`. `heloName` names this computer in EHLO; `timeout` bounds connecting
// and every wait for an answer.
SmtpOutcome SendMail(const MailServer& server, std::string_view heloName, std::string_view from,
                     const std::vector<std::string>& to, std::string_view message,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The DATA section as sent: every line ending turned into CRLF, a dot doubled
// at the start of a line, the final line ended, and the closing ".".
std::string SmtpDataBlock(std::string_view message);

}  // namespace svc
