#include "console/core/log_columns.h"

#include <cstdio>

#include "platform/sysinfo.h"

namespace pladmin {

namespace {

int Bit(int flag) {
  int n = 0;
  while (flag > 1) {
    flag >>= 1;
    ++n;
  }
  return n;
}

}  // namespace

std::vector<int> DisplayedFlags(int mask) {
  if (mask == 0 || mask == -1) mask = kAllLogColumns;
  std::vector<int> flags;
  for (int n = 0; n < kLogColumnCount; ++n) {
    const int flag = 1 << n;
    if (flag == kColTime || (mask & flag)) flags.push_back(flag);
  }
  return flags;
}

std::string ListHeading(int flag) {
  static const char* const kNames[kLogColumnCount] = {
      "Time/Date", "Server", "Port",    "Action", "Information", "User Account",
      "IP Address", "NetBIOS", "IPX", "Lasted", "Bytes In", "Bytes Out"};
  return kNames[Bit(flag) % kLogColumnCount];
}

std::string SavedHeading(int flag) {
  static const char* const kNames[kLogColumnCount] = {
      "Time/Date", "Server", "Port", "Action", "Information", "User",
      "IP",        "NetBIOS", "IPX", "Lasted", "Bytes In",    "Bytes Out"};
  return kNames[Bit(flag) % kLogColumnCount];
}

std::string ActionText(int kind) {
  switch (kind) {
    case common::kRecordHangUp: return "Disconnect";
    case common::kRecordConnection: return "Connect";
    case common::kRecordRefusal: return "Denied";
    default: return "";
  }
}

std::string InfoText(const common::LogRecordView& r) {
  switch (r.kind) {
    case common::kRecordConnection: return std::string(r.info);
    case common::kRecordRefusal: return common::RefusalText(r.reason);
    case common::kRecordHangUp: return common::DisconnectText(r.reason);
    default: return "";
  }
}

std::string LastedText(std::uint32_t s, bool inSeconds) {
  char text[40];
  if (inSeconds) {
    std::snprintf(text, sizeof text, "%u", s);
  } else {
    const std::uint32_t h = s / 3600, m = (s - 3600 * h) / 60, r = s % 60;
    std::snprintf(text, sizeof text, "%u\"%02u'%02u", h, m, r);
  }
  return text;
}

std::string GetDataText(std::int64_t bytes) {
  if (bytes == -1) return "";
  const bool negative = bytes < 0;
  std::string digits = std::to_string(bytes);
  if (negative) digits.erase(0, 1);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

std::string CellText(const common::LogRecordView& r, int flag, const CellOptions& options) {
  const bool hangUp = r.kind == common::kRecordHangUp;
  switch (flag) {
    case kColTime: {
      const std::tm local = plat::LocalTime(static_cast<std::time_t>(r.time));
      std::string text = options.clock.Time(local);
      if (options.dateInTime) text = plat::GetDateFormat(plat::GetUserDefaultLCID(), local) + " " + text;
      return text;
    }
    case kColServer: return std::string(r.server);
    case kColPort: return std::string(r.port);
    case kColAction: return ActionText(r.kind);
    case kColInfo: return InfoText(r);
    case kColUser: return std::string(r.user);
    case kColIP: return hangUp ? common::MakeIPString(r.address) : "";
    case kColNetBIOS: return hangUp ? std::string(r.netbios) : "";
    case kColIPX: return hangUp ? std::string(r.ipx) : "";
    case kColLasted: return hangUp ? LastedText(r.duration, options.timeFormatSeconds) : "";
    case kColBytesIn: return hangUp ? GetDataText(r.bytesIn) : "";
    case kColBytesOut: return hangUp ? GetDataText(r.bytesOut) : "";
    default: return "";
  }
}

int RecordImage(const common::LogRecordView& r) {
  switch (r.kind) {
    case common::kRecordConnection: return 1;
    case common::kRecordRefusal: return 2;
    case common::kRecordHangUp: return r.reason != 0 && r.reason != common::kNoReason ? 0 : 3;
    default: return -1;
  }
}

}  // namespace pladmin
