// The admission check: may a dial-in connection proceed? 0 admits; 1 to 6 are
// the refusal codes the session log records and the console explains.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"
#include "platform/win_types.h"
#include "service/account_name.h"
#include "service/greeting.h"
#include "service/port_table.h"
#include "service/profile_store.h"

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
// No profile could be read because the data folder could not: not "not
// defined", which would tell the caller's administrator the wrong thing.
inline constexpr int kRefuseProfileUnreadable = 7;

// The group values of an account: the largest of each limit among the
// "+DOMAIN\Group" profiles of its global groups (unsigned), and NoDuplicate
// when any of them has it.
struct GroupProperties {
  DWORD maxTotalTime = 0;
  DWORD maxSessionTime = 0;
  DWORD periodType = 0;
  DWORD periodMax = 0;
  DWORD noDuplicate = 0;
  // Sessions at once: the largest common::SessionLimit of the groups that
  // set one (a group's NoDuplicate counts as 1); 0 when none does.
  DWORD maxSessions = 0;
};

// What the admission check decided, and what either outcome writes and reports.
struct AdmissionDecision {
  int code = kAdmitted;
  // The data folder could not be read for a profile-less account (event 1).
  DWORD folderUnreadable = 0;
  bool hasProfile = false;  // the account has a profile, or gets the default one
  UserProfile profile;      // as read (or as the default profile makes it)
  // Profile writes made whatever the outcome: the default profile of a new
  // account, the bookkeeping of a new period.
  std::vector<plat::ProfileChange> userChanges;
  SessionLimits limits;     // on admission
  GreetingValues greeting;  // on admission
  // Sessions at once: the account's effective limit (0 none) and, when there
  // is one, its sessions on every server that shares the data folder.
  DWORD sessionLimit = 0;
  DWORD sessionsRunning = 0;
};

// The words of a refusal for the event log: the code's text, and for a
// refusal by sessions at once how many run of how many allowed
// ("User already connected (3 of 3)").
std::string RefusalReason(const AdmissionDecision& decision);
// When an account stops being admitted. ExpiryTime counts days from the
// first connection (an account never connected does not expire by it);
// ExpiryDate ends at the midnight after its day (common/expiry_date.h). When
// both are set, the earlier wins.
struct AccountExpiry {
  // The first session start refused as expired; nullopt: never.
  std::optional<std::int64_t> refusedFrom;
  // ExpiryDate's midnight, where a running session is cut; nullopt: no date.
  std::optional<std::int64_t> dateCut;
  // ExpiryDate is not a date: the account counts as expired from 1970 on,
  // the safe side of a value nobody can read.
  bool malformedDate = false;
};
AccountExpiry AccountExpiryOf(const UserProfile& profile);

// The check itself: reads profiles, groups, the logged-in users and the port,
// and writes and reports nothing. `user`: DOMAIN\user; `portSection`:
// SERVER\port; `startTime`: session start. An account name that is not
// safe() is refused with 1.
AdmissionDecision DecideAdmission(const ServiceContext& context, const AccountName& user,
                                  std::string_view portSection, std::time_t startTime);

// Every effect of a decision, in one order: an unreadable data folder's
// event, the beep of a second login; on admission the connection record, the
// usage keys and counters, the port table (with the address of the session
// file), the logged-in users file, the greetings and event 3; on refusal the
// refusal record, the profile's and the status counters and event 4. Records
// go before counters. `machine`: the client computer ("*" or empty when unknown).
void ApplyAdmission(ServiceContext& context, const AdmissionDecision& decision,
                    std::string_view machine, const AccountName& user, std::string_view portSection,
                    std::time_t startTime);

// A session already running on a port (found at start-up) enters the port
// table and the logged-in users file with the limits and deadline its
// admission gave it, computed by the same check from today's profile, group
// and port values; no test refuses it, and nothing is recorded, counted,
// greeted or reported. False (nothing done) for an account name no shared
// file may hold.
bool ResumeSession(ServiceContext& context, std::string_view machine, const AccountName& user,
                   std::string_view portSection, std::time_t startTime);

// DecideAdmission, then ApplyAdmission; returns the code.
int IsThisUserOK(ServiceContext& context, std::string_view machine, const AccountName& user,
                 std::string_view portSection, std::time_t startTime);

// Fills `groups` (all 0 when the domain controller or the group list cannot be
// had) and returns the network error, 0 on success.
DWORD GetGroupPropertiesForUser(const ServiceContext& context, std::string_view user,
                                GroupProperties* groups);

// 0 member of a listed group, 1321 member of none, 5 when a domain controller
// or a group list could not be had. Entries are split at ";", a trailing
// backslash dropped, compared with DOMAIN\Group ignoring case.
DWORD CheckUserInAllowedGroups(std::string_view user, std::string_view allowedList);

inline constexpr int kPeriodWithin = 0;
inline constexpr int kPeriodNew = 1;
inline constexpr int kPeriodUsedUp = 5;

// Periods by local time: 1 calendar day, 2 week beginning on Monday, 3
// calendar month. A new period appends PeriodUsage "0" and PeriodStamp =
// start to `changes` and returns 1; otherwise 5 when the usage is above a
// non-zero maximum, else 0.
int CheckPeriod(std::string_view user, DWORD periodType, DWORD periodMax, DWORD periodUsage,
                DWORD periodStamp, std::time_t startTime, std::vector<plat::ProfileChange>* changes);

// True when both times fall into one period of the type (1, 2, 3); any other
// type never begins a new period.
bool SamePeriod(DWORD periodType, std::time_t a, std::time_t b);

}  // namespace svc
