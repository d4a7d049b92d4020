#include "service/reporting/mail_message.h"

#include <cstdint>
#include <cstdio>
#include <random>

#include "platform/text.h"
#include "service/local_date.h"
#include "service/reporting/text_encoding.h"

namespace svc {

namespace {

constexpr size_t kQpLine = 76;  // RFC 2045's longest encoded line
constexpr const char* kHex = "0123456789ABCDEF";
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool PlainHeader(std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F) return false;
  }
  return text.find("=?") == std::string_view::npos;
}

std::string MessageId(const MailMessage& m) {
  std::random_device device;
  std::uint64_t unique = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  char text[160];
  std::snprintf(text, sizeof text, "<%lld.%016llx@%s>", static_cast<long long>(m.date),
                static_cast<unsigned long long>(unique),
                PlainHeader(m.idDomain) && !m.idDomain.empty() ? m.idDomain.c_str() : "portulon");
  return text;
}

}  // namespace

std::string MailDate(std::time_t when, int utcOffsetMinutes) {
  const std::int64_t local = static_cast<std::int64_t>(when) + std::int64_t{utcOffsetMinutes} * 60;
  std::int64_t days = local / 86400;
  std::int64_t seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  int year, month, day;
  CivilDate(days, &year, &month, &day);
  const int weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  return plat::FormatText("%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[weekday], day,
                          kMonths[month - 1], year, static_cast<int>(seconds / 3600),
                          static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                          utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string QuotedPrintable(std::string_view text) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string encoded;
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      // Blanks at a line's end would be lost in transport; '=' and every
      // byte outside printable ASCII are escaped; so is a leading dot, which
      // some relays mishandle.
      const bool literal = (c >= 0x21 && c <= 0x7E && c != '=' && !(c == '.' && column == 0)) ||
                           ((c == ' ' || c == '\t') && !last);
      const std::string piece =
          literal ? std::string(1, static_cast<char>(c)) : std::string{'=', kHex[c >> 4], kHex[c & 15]};
      if (column + piece.size() > kQpLine - 1) {
        encoded += "=\r\n";  // soft line break
        column = 0;
      }
      encoded += piece;
      column += piece.size();
    }
    out += encoded;
    if (end == text.size()) break;
    out += "\r\n";
    start = end + 1;
  }
  if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) out += "\r\n";
  return out;
}

std::string HeaderText(std::string_view text, std::string_view charset) {
  if (PlainHeader(text)) return std::string(text);
  // Encoded words of at most 75 characters, separated by folding white space.
  const std::string prefix = "=?" + std::string(charset) + "?Q?";
  std::string out, word = prefix;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    std::string piece;
    if (c == ' ') {
      piece = "_";
    } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '!' || c == '*' || c == '+' || c == '-' || c == '/') {
      piece = std::string(1, ch);
    } else {
      piece = {'=', kHex[c >> 4], kHex[c & 15]};
    }
    if (word.size() + piece.size() + 2 > 75) {
      out += word + "?=\r\n ";
      word = prefix;
    }
    word += piece;
  }
  return out + word + "?=";
}

std::string FormatMailMessage(const MailMessage& m) {
  const std::string charset =
      IsValidUtf8(m.subject) && IsValidUtf8(m.body) ? "utf-8" : "windows-1252";
  std::string to;
  for (const std::string& r : m.to) to += (to.empty() ? "" : ", ") + r;
  std::string out;
  out += "Date: " + MailDate(m.date, m.utcOffsetMinutes) + "\r\n";
  out += "From: " + m.from + "\r\n";
  out += "To: " + to + "\r\n";
  out += "Subject: " + HeaderText(m.subject, charset) + "\r\n";
  out += "Message-ID: " + MessageId(m) + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: text/plain; charset=" + charset + "\r\n";
  out += "Content-Transfer-Encoding: quoted-printable\r\n";
  out += "\r\n";
  out += QuotedPrintable(m.body);
  return out;
}

}  // namespace svc
