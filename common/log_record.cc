#include "common/log_record.h"

#include <cstdlib>

#include "common/cut_reason.h"
#include "common/profile_helpers.h"
#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace common {

namespace {

std::int64_t Number64(std::string_view text) {
  return std::strtoll(std::string(text).c_str(), nullptr, 10);
}

void ParseHangUp(std::string_view v, LogRecord* r) {
  r->kind = kRecordHangUp;
  r->duration = static_cast<std::uint32_t>(DecimalValue(v.substr(1)));
  const size_t underscore = v.find('_');
  std::string_view rest = underscore == v.npos ? std::string_view() : v.substr(underscore + 1);
  const size_t firstQ = rest.find('?');
  r->user = std::string(rest.substr(0, std::min<size_t>(firstQ, 37)));
  if (firstQ == rest.npos) {
    r->reason = kNoReason;
    return;
  }
  r->address = static_cast<std::uint32_t>(DecimalValue(rest.substr(firstQ + 1)));
  // The reason follows the second "?"; taking that one rather than the last
  // keeps a "?" inside a later field from shifting the fields.
  const size_t secondQ = rest.find('?', firstQ + 1);
  if (secondQ == rest.npos) {
    r->reason = kNoReason;
    return;
  }
  std::string_view tail = rest.substr(secondQ + 1);
  r->reason = DecimalValue(tail);
  const size_t c1 = tail.find(':');
  if (c1 == tail.npos) return;
  const size_t c2 = tail.find(':', c1 + 1);
  if (c2 == tail.npos) {
    r->ipx = std::string(tail.substr(c1 + 1));
    return;
  }
  r->ipx = std::string(tail.substr(c1 + 1, c2 - c1 - 1));
  const size_t c3 = tail.find(':', c2 + 1);
  if (c3 == tail.npos) {
    r->netbios = std::string(tail.substr(c2 + 1));
  } else {
    r->netbios = std::string(tail.substr(c2 + 1, c3 - c2 - 1));
    const size_t c4 = tail.find(':', c3 + 1);
    r->bytesIn = Number64(tail.substr(c3 + 1, c4 == tail.npos ? tail.npos : c4 - c3 - 1));
    if (c4 != tail.npos) r->bytesOut = Number64(tail.substr(c4 + 1));
  }
  if (!r->netbios.empty() && r->netbios[0] == '?') r->netbios.clear();
}

}  // namespace

bool IsRecordableAccount(std::string_view account) { return AccountNameProblem(account).empty(); }

std::string AccountNameProblem(std::string_view account) {
  if (account.empty()) return "the account name is empty";
  if (account.size() > kMaxRecordAccount) {
    return "the account name is " + std::to_string(account.size()) +
           " characters long; a session record holds at most " + std::to_string(kMaxRecordAccount);
  }
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (blank(account.front()) || blank(account.back())) {
    return "the account name begins or ends with a blank";
  }
  for (char c : account) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return "the account name contains a control character";
    if (c == '?' || c == '*' || c == ',') {
      return std::string("the account name contains '") + c + "', which a session record cannot hold";
    }
  }
  return "";
}

std::int64_t LogKeyTime(std::string_view key) { return Number64(key); }

int LogKeySequence(std::string_view key) {
  const size_t dot = key.find('.');
  if (dot == std::string_view::npos) return 0;
  int n = 0;
  for (const char c : key.substr(dot + 1)) {
    if (c < '0' || c > '9' || n > 100000000) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string RecordField(std::string_view text) {
  // The day log's file drops blanks at the ends of a value; a field at its end
  // must not have any to lose.
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ':' || c == '?') c = '_';
  }
  return out;
}

std::string FormatConnectionRecord(std::string_view account) {
  return "C_" + std::string(account);
}

std::string FormatCallbackConnectionRecord(std::string_view account, std::string_view number) {
  return FormatConnectionRecord(account) + "*" + RecordField(number);
}

std::string FormatHangUpRecord(std::int64_t duration, std::string_view account,
                               std::int32_t address, int reason, std::string_view ipx,
                               std::string_view netbios, std::int64_t bytesIn,
                               std::int64_t bytesOut) {
  return "H" + std::to_string(duration) + "_" + std::string(account) + "?" +
         std::to_string(address) + "?" + std::to_string(reason) + ":" + RecordField(ipx) + ":" +
         RecordField(netbios) + ":" + std::to_string(bytesIn) + ":" + std::to_string(bytesOut);
}

std::string FormatRefusalRecord(std::string_view account, int code) {
  return "N_" + std::string(account) + "?" + std::to_string(code);
}

bool ParseLogRecord(std::string_view section, std::string_view key, std::string_view value,
                    LogRecord* r) {
  *r = LogRecord();
  const size_t slash = section.rfind('\\');
  r->server = std::string(slash == section.npos ? std::string_view() : section.substr(0, slash));
  r->port = std::string(slash == section.npos ? section : section.substr(slash + 1));
  r->time = LogKeyTime(key);
  r->sequence = LogKeySequence(key);
  if (value.empty()) {
    r->kind = kRecordUnknown;
    return false;
  }
  const size_t underscore = value.find('_');
  const std::string_view after = underscore == value.npos ? std::string_view() : value.substr(underscore + 1);
  switch (value[0]) {
    case 'H':
      ParseHangUp(value, r);
      return true;
    case 'C': {
      r->kind = kRecordConnection;
      const size_t star = after.find('*');
      r->user = std::string(after.substr(0, star));
      if (star != after.npos) r->info = std::string(after.substr(star + 1));
      return true;
    }
    case 'N':
      r->kind = kRecordRefusal;
      r->user = std::string(after);
      r->reason = kNoReason;
      if (r->user.size() >= 2 && r->user[r->user.size() - 2] == '?') {
        r->reason = DecimalValue(std::string_view(r->user).substr(r->user.size() - 1));
        r->user.resize(r->user.size() - 2);
      }
      return true;
    default:
      r->kind = kRecordUnknown;
      return false;
  }
}

plat::DWORD ForEachLogRecord(std::string_view logFile, bool keepUnknown,
                             const std::function<void(const LogRecord&)>& onRecord,
                             const std::function<void(const std::string& section)>& onSection) {
  std::string section;
  LogRecord r;
  const plat::DWORD err = plat::ProfileForEachRecord(
      logFile,
      [&](std::string_view name) {
        if (!name.empty() && name[0] == '*') return false;
        section.assign(name);
        if (onSection) onSection(section);
        return true;
      },
      [&](std::string_view key, std::string_view value) {
        if (!key.empty() && key[0] == '*') return;
        if (ParseLogRecord(section, key, value, &r) || keepUnknown) onRecord(r);
      });
  return err == plat::ERROR_PATH_NOT_FOUND ? plat::ERROR_FILE_NOT_FOUND : err;
}

std::vector<LogRecord> LoadLogRecords(
    std::string_view logFile, bool keepUnknown,
    const std::function<void(const std::string& section)>& onSection) {
  std::vector<LogRecord> records;
  ForEachLogRecord(logFile, keepUnknown, [&](const LogRecord& r) { records.push_back(r); }, onSection);
  return records;
}

std::string RefusalText(int code) {
  switch (code) {
    case 1: return "User not defined";
    case 2: return "User Account expired";
    case 3: return "User Total Time Reached";
    case 4: return "User already connected";
    case 5: return "Access denied on Port";
    case 6: return "No more time this period";
    case 7: return "Profile could not be read: data folder unreachable";
    case 9: return "Idle Timeout";
    default: return "";
  }
}

std::string DisconnectText(int reason) {
  switch (reason) {
    case 1: return "Port Max Time Reached";
    case 2: return "User Max Session Time Reached";
    case 3: return "User Max Total Time Reached";
    // The period allowance was the limit that ended the session.
    case 6: return "No more time this period";
    case 9: return "Idle Timeout";
    case kCutReasonAdministrator: return "Disconnected by the administrator";
    case kCutReasonAccountExpired: return "Account expired at midnight";
    default: return "";
  }
}

std::string MakeIPString(std::uint32_t a) {
  if (a == 0) return "";
  return plat::FormatText("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace common
