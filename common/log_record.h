// The records of a daily session log: one record per key of a port's
// section, the key being the event time and the value
// "C_<account>[*<call-back>]", "N_<account>?<code>" or
// "H<duration>_<account>?<address>?<reason>:<ipx>:<netbios>:<in>:<out>".
// The service writes them with the Format functions, the console and the
// reports read them back with ParseLogRecord.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace common {

inline constexpr int kRecordHangUp = 0;
inline constexpr int kRecordConnection = 1;
inline constexpr int kRecordRefusal = 2;
// A value whose first letter names no kind: only server, port and time are known.
inline constexpr int kRecordUnknown = 3;
inline constexpr int kNoReason = 255;

struct LogRecord {
  std::string server;
  std::string port;
  std::string user;
  std::int64_t time = 0;
  int sequence = 0;  // the n of a key "<second>.<n>": the n-th further record of that second
  std::uint32_t duration = 0;
  int kind = kRecordConnection;
  std::uint32_t address = 0;  // first octet high; 0 = none
  int reason = 0;             // kNoReason when the record carries none
  std::string ipx;
  std::string netbios;
  std::int64_t bytesIn = -1;
  std::int64_t bytesOut = -1;
  std::string info;  // connections: the call-back number
};

// ---- Accounts ----

// The longest account a hang-up record gives back whole (its reader stops
// there); a domain name (15) and a user name (20) with their '\' fit.
inline constexpr std::size_t kMaxRecordAccount = 37;

// True for an account the records carry and give back unchanged: 1 to
// kMaxRecordAccount characters, no control character, none of '?' (ends the
// account in hang-up and refusal records), '*' (starts the call-back number of
// a connection record) and ',' (separates a message's fields), and no blank
// at either end (the day log's file drops those). The service refuses any
// other account before anything is recorded.
bool IsRecordableAccount(std::string_view account);
// Why IsRecordableAccount refuses `account`, in a sentence ("the account name
// is 45 characters long; a session record holds at most 37"); "" when it does
// not. The pipe, pluser and the OpenVPN adapter refuse with these words.
std::string AccountNameProblem(std::string_view account);

// ---- Writing ----

// "C_%s".
std::string FormatConnectionRecord(std::string_view account);
// "C_%s*%s": the connection record once the call-back number is known.
std::string FormatCallbackConnectionRecord(std::string_view account, std::string_view number);
// "H%s_%s?%d?%d:%s:%s:%I64d:%I64d". `ipx` and `netbios` go through RecordField,
// so that they cannot shift the fields.
std::string FormatHangUpRecord(std::int64_t duration, std::string_view account,
                               std::int32_t address, int reason, std::string_view ipx,
                               std::string_view netbios, std::int64_t bytesIn,
                               std::int64_t bytesOut);
// "N_%s?%d".
std::string FormatRefusalRecord(std::string_view account, int code);

// A free-text field of a record with control characters, ':' and '?' made '_'
// and the blanks at its ends dropped.
std::string RecordField(std::string_view text);

// ---- Reading ----

// Parses one value; false when its first letter is none of H, C, N (the
// record then holds server, port and time, and kind kRecordUnknown).
bool ParseLogRecord(std::string_view section, std::string_view key, std::string_view value,
                    LogRecord* record);

// The time a record key names: its leading decimal number ("1710000000" and
// the spill keys "1710000000.1", ... of the same second).
std::int64_t LogKeyTime(std::string_view key);
// The n of a spill key "<second>.<n>"; 0 for a plain second.
int LogKeySequence(std::string_view key);

// Every record of a day's log file (a Windows path) handed to `onRecord` one
// at a time (valid for the call only), section by section in file order,
// with every part of a section; the file is read in pieces, never held whole.
// Values of no known kind are left out unless `keepUnknown`. `onSection`
// hears of each section before its records. ERROR_FILE_NOT_FOUND when the
// file is missing; another error when reading it failed (after the records
// read before).
plat::DWORD ForEachLogRecord(std::string_view logFile, bool keepUnknown,
                             const std::function<void(const LogRecord&)>& onRecord,
                             const std::function<void(const std::string& section)>& onSection = {});

// Every record of a day's log file (a Windows path), section by section in
// file order; an empty list when the file is missing. Values of no known kind
// are left out unless `keepUnknown` (the console lists them with what it
// knows of them). `onSection` hears of each section before it is read.
std::vector<LogRecord> LoadLogRecords(
    std::string_view logFile, bool keepUnknown = false,
    const std::function<void(const std::string& section)>& onSection = {});

// The console's texts for refusal codes and disconnect reasons; "" for others.
std::string RefusalText(int code);
std::string DisconnectText(int reason);

// "%d.%d.%d.%d" from the most significant byte; "" for 0.
std::string MakeIPString(std::uint32_t address);

}  // namespace common
