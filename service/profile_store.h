// The user profile store portulon.usr: one section per account (DOMAIN\user)
// with its limits and usage, and "+DOMAIN\Group" sections for group profiles.
// Numbers are decimal text read with default "0", written with "%d".
//
// This is the only code that reads or writes the file. The usage values the
// service keeps (TotalConnects, TotalDenieds, TotalTime, Lasted, PeriodUsage,
// PeriodStamp, FirstConnection, LastConnection) are written left-aligned in a
// field of kUsageWidth characters; reading trims the blanks. Every later
// value then fits where the first one stands, so that recording a session
// changes a users file of any size in place instead of rewriting it.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/profile_keys.h"
#include "platform/profile.h"
#include "platform/win_types.h"

namespace svc {

struct ServiceContext;
using plat::DWORD;

// Key names of a profile.
using namespace common::usr_keys;

// Every value of a profile as the decimal conversion reads it; the bits of a
// negative number are kept, so comparisons are unsigned as the system makes them.
struct UserProfile {
  DWORD maxSessionTime = 0;
  DWORD maxTotalTime = 0;
  DWORD expiryTime = 0;  // days
  std::string expiryDate;  // ExpiryDate as the file holds it (common/expiry_date.h)
  DWORD periodType = 0;  // 0 none, 1 day, 2 week, 3 month
  DWORD periodMax = 0;
  DWORD periodUsage = 0;
  DWORD periodStamp = 0;
  DWORD noDuplicate = 0;
  DWORD maxSessions = 0;  // 0: NoDuplicate decides
  DWORD staticIP = 0;
  DWORD totalConnects = 0;
  DWORD totalDenieds = 0;
  DWORD totalTime = 0;
  DWORD firstConnection = 0;
  DWORD lastConnection = 0;
  DWORD lasted = 0;
};

// `text` with every character common::IsSafeAccountName refuses replaced by '_', for
// records and sections that must be written whatever the name.
std::string SafeProfileName(std::string_view text);

// The section exists (see common::UserHasProfile).
bool HasProfile(const ServiceContext& context, std::string_view section);
// True when the users file cannot be read at all now (the data folder or
// the share is away), so that a missing profile tells nothing.
bool UsersFileUnreadable(const ServiceContext& context);

// Reads the whole section at once; missing keys read as 0.
// `*read` (when given) tells whether the section could be read: false when it
// is missing or the file cannot be read.
UserProfile ReadUserProfile(const ServiceContext& context, std::string_view section, bool* read = nullptr);

// The default profile of the system data file, as the changes that write it:
// MaxSessionTime, MaxTotalTime, ExpiryTime, PeriodType, PeriodMax ("%d") and
// NoDuplicate ("1" for any non-zero default, else "0"). No usage key.
std::vector<plat::ProfileChange> DefaultProfileChanges(const ServiceContext& context,
                                                       std::string_view section);

// Every section of portulon.usr (accounts and "+DOMAIN\Group" profiles) in
// file order; empty when the file is missing.
std::vector<std::string> ListProfiles(const ServiceContext& context);

// "%d" of a number kept as its 32-bit pattern.
std::string DecimalText(DWORD value);

using common::kUsageWidth;
using common::UsageText;

// Writes changes of the users file in one locked write, its outcome left to
// the caller to note (the session log keeps what fails).
DWORD ApplyUserChanges(const ServiceContext& context, const std::vector<plat::ProfileChange>& changes);
// Changes worked out from the users file's values under its write lock, so
// that a counter added to by this and another server at once loses nothing.
DWORD ApplyUserChanges(const ServiceContext& context,
                       const std::function<std::vector<plat::ProfileChange>(const plat::ProfileValueOf&)>& decide);

// The usage changes of an admission: TotalConnects + 1, LastConnection,
// Lasted 0 and, on the first connection, FirstConnection.
std::vector<plat::ProfileChange> ConnectionUsageChanges(std::string_view account,
                                                        const UserProfile& p, std::time_t start);
// The usage changes of a hang-up: Lasted, TotalTime + duration and, while
// period bookkeeping runs (PeriodType or PeriodStamp set), PeriodUsage + duration.
std::vector<plat::ProfileChange> HangUpUsageChanges(std::string_view account, const UserProfile& p,
                                                    DWORD duration);
// A new period: PeriodUsage 0, PeriodStamp = start.
std::vector<plat::ProfileChange> NewPeriodChanges(std::string_view account, std::time_t start);
// TotalDenieds + 1.
std::vector<plat::ProfileChange> DeniedUsageChanges(std::string_view account, const UserProfile& p);

// StaticIP of the account's profile, 0 when none.
std::int32_t ReadUserStaticIP(const ServiceContext& context, std::string_view account);

}  // namespace svc
