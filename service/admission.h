// The admission check: may a dial-in connection proceed? 0 admits; 1 to 6 are
// the refusal codes the session log records and the console explains.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"
#include "platform/win_types.h"

namespace svc {

struct ServiceContext;
using plat::DWORD;

inline constexpr int kAdmitted = 0;
inline constexpr int kRefuseNoProfile = 1;      // "User not defined"
inline constexpr int kRefuseExpired = 2;        // "User Account expired"
inline constexpr int kRefuseTotalTime = 3;      // "User Total Time Reached"
inline constexpr int kRefuseDuplicate = 4;      // "User already connected"
inline constexpr int kRefusePortAccess = 5;     // "Access denied on Port"
inline constexpr int kRefusePeriodUsedUp = 6;   // "No more time this period"

// The group values of an account: the largest of each limit among the
// "+DOMAIN\Group" profiles of its global groups (unsigned), and NoDuplicate
// when any of them has it.
struct GroupProperties {
  DWORD maxTotalTime = 0;
  DWORD maxSessionTime = 0;
  DWORD periodType = 0;
  DWORD periodMax = 0;
  DWORD noDuplicate = 0;
};

// `machine`: the client computer ("*" or empty when unknown); `user`:
// DOMAIN\user; `portSection`: SERVER\port; `startTime`: session start. On
// admission the connection is logged, the session stored in the port table and
// the greetings sent. An account name that IsSafeAccountName refuses is
// refused with 1 before any file is touched.
int IsThisUserOK(ServiceContext& context, std::string_view machine, std::string_view user,
                 std::string_view portSection, std::time_t startTime);

// Fills `groups` (all 0 when the domain controller or the group list cannot be
// had) and returns the network error, 0 on success.
DWORD GetGroupPropertiesForUser(const ServiceContext& context, std::string_view user,
                                GroupProperties* groups);

// 0 granted, 5 refused.
int IsUserGrantedAccessForPort(const ServiceContext& context, std::string_view user,
                               std::string_view portSection);

// 0 member of a listed group, 1321 member of none, 5 when a domain controller
// or a group list could not be had. Entries are split at ";", a trailing
// backslash dropped, compared with DOMAIN\Group ignoring case.
DWORD CheckUserInAllowedGroups(std::string_view user, std::string_view allowedList);

inline constexpr int kPeriodWithin = 0;
inline constexpr int kPeriodNew = 1;
inline constexpr int kPeriodUsedUp = 5;

// Periods by local time: 1 calendar day, 2 week beginning on Monday, 3
// calendar month. A new period writes PeriodUsage "0" and PeriodStamp = start
// and returns 1; otherwise 5 when the usage is above a non-zero maximum, else
// 0. With `deferred`, the writes are appended there instead of made.
int CheckPeriod(const ServiceContext& context, std::string_view user, DWORD periodType,
                DWORD periodMax, DWORD periodUsage, DWORD periodStamp, std::time_t startTime,
                std::vector<plat::ProfileChange>* deferred = nullptr);

// True when both times fall into one period of the type (1, 2, 3); any other
// type never begins a new period.
bool SamePeriod(DWORD periodType, std::time_t a, std::time_t b);

// The account is a key of any section of the logged-in users file (ignoring case).
bool IsUserLoggedIn(const ServiceContext& context, std::string_view user);

}  // namespace svc
