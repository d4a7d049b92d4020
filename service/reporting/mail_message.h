// An Internet mail message (RFC 5322 with MIME) of one plain-text part: the
// header fields Date, From, To, Subject, Message-ID, MIME-Version and
// Content-Type, and the body in quoted-printable, so that any byte of an
// account name reaches the reader intact and no line is too long.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace svc {

struct MailMessage {
  std::string from;
  std::vector<std::string> to;
  std::string subject;
  std::string body;       // lines separated by LF
  std::time_t date = 0;   // seconds since 1970
  int utcOffsetMinutes = 0;  // local time minus UTC, for the Date field
  std::string idDomain;   // right side of the Message-ID, e.g. the computer name
};

// The whole message, lines ending in CRLF. The charset is utf-8 when the
// subject and body are valid UTF-8, else windows-1252 (the ANSI code page
// account names come in).
std::string FormatMailMessage(const MailMessage& message);

// "Tue, 12 Mar 2024 10:00:00 +0100".
std::string MailDate(std::time_t when, int utcOffsetMinutes);
// Quoted-printable (RFC 2045) of LF-separated text; lines end in CRLF.
std::string QuotedPrintable(std::string_view text);
// A header text as it may stand in a field: itself when plain printable
// ASCII, else an RFC 2047 encoded word in `charset`.
std::string HeaderText(std::string_view text, std::string_view charset);

}  // namespace svc
