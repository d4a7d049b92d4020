// The names of portulon.usr's keys and the spelling rules both the service
// and the administration tools keep when they write the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace common {

// The key names, also to be taken in as a group (using namespace common::usr_keys).
inline namespace usr_keys {
// Limits (set by the administrator).
inline constexpr const char* kMaxSessionTime = "MaxSessionTime";
inline constexpr const char* kMaxTotalTime = "MaxTotalTime";
inline constexpr const char* kExpiryTime = "ExpiryTime";
// The last day the account may be used, "YYYY-MM-DD" (common/expiry_date.h).
inline constexpr const char* kExpiryDate = "ExpiryDate";
inline constexpr const char* kPeriodType = "PeriodType";
inline constexpr const char* kPeriodMax = "PeriodMax";
inline constexpr const char* kNoDuplicate = "NoDuplicate";
// Sessions at once; 0 or missing: NoDuplicate decides (1 or no limit).
inline constexpr const char* kMaxSessions = "MaxSessions";
inline constexpr const char* kStaticIP = "StaticIP";
// Usage (kept by the service).
inline constexpr const char* kPeriodUsage = "PeriodUsage";
inline constexpr const char* kPeriodStamp = "PeriodStamp";
inline constexpr const char* kTotalConnects = "TotalConnects";
inline constexpr const char* kTotalDenieds = "TotalDenieds";
inline constexpr const char* kTotalTime = "TotalTime";
inline constexpr const char* kFirstConnection = "FirstConnection";
inline constexpr const char* kLastConnection = "LastConnection";
inline constexpr const char* kLasted = "Lasted";
}  // namespace usr_keys

// Usage values are written left-aligned in a field this wide (any "%d" of 32
// bits fits), so that every later value replaces the line in place.
inline constexpr std::size_t kUsageWidth = 11;
// "%d" of the 32-bit pattern, padded with blanks to kUsageWidth.
std::string UsageText(plat::DWORD value);

// How many sessions of the account may run at once by one profile's own
// values: MaxSessions when set, else 1 under NoDuplicate, else 0 (no limit).
plat::DWORD SessionLimit(plat::DWORD noDuplicate, plat::DWORD maxSessions);

// An account name that can be a profile section, a key of the logged-in users
// file and part of a log record without touching any other section or key: not
// empty, no control characters, none of "[ ] = ; ? *", no blank at either end.
// Windows account names never contain these.
bool IsSafeAccountName(std::string_view account);
// True for the characters IsSafeAccountName refuses anywhere in a name.
bool IsUnsafeNameChar(char c);

}  // namespace common
