#include "service/admission.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "common/data_folder.h"
#include "common/expiry_date.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/profile_helpers.h"
#include "common/profile_keys.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "service/event_report.h"
#include "service/greeting.h"
#include "service/local_date.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/service_context.h"
#include "service/session_files.h"
#include "service/session_log.h"

namespace svc {

namespace {

constexpr const char* kLabel = "IsThisUserOK";

DWORD Effective(DWORD userValue, DWORD groupValue) { return userValue ? userValue : groupValue; }

// The account split at its first backslash; without one, the domain comes from
// the account lookup and the local machine answers for the groups.
struct AccountParts {
  std::string domain;
  std::string name;
  std::string server;  // the domain controller, "" for the local machine
};

DWORD LocateAccount(std::string_view user, AccountParts* parts) {
  const size_t slash = user.find('\\');
  if (slash == std::string_view::npos) {
    parts->name = std::string(user);
    plat::AccountSid sid;
    plat::SID_NAME_USE use{};
    const DWORD err = plat::LookupAccountName("", user, &sid, &parts->domain, &use);
    if (err != plat::ERROR_SUCCESS) {
      common::Trace("GetGroupPropertiesForUser", "Error get domain", static_cast<long>(err));
      return err;
    }
    parts->server.clear();
    return plat::ERROR_SUCCESS;
  }
  parts->domain = std::string(user.substr(0, slash));
  parts->name = std::string(user.substr(slash + 1));
  const DWORD err = plat::NetGetDCName("", parts->domain, &parts->server);
  if (err != plat::ERROR_SUCCESS) {
    common::Trace("GetGroupPropertiesForUser", "Error get DC name", static_cast<long>(err));
  }
  return err;
}

// The account's global groups as its domain controller reports them; one
// admission asks once and uses the answer for the group values and the port.
struct GlobalGroups {
  DWORD error = plat::ERROR_SUCCESS;
  AccountParts parts;
  std::vector<std::string> names;
};

GlobalGroups FetchGlobalGroups(std::string_view user) {
  GlobalGroups g;
  g.error = LocateAccount(user, &g.parts);
  if (g.error != plat::ERROR_SUCCESS) return g;
  g.error = plat::NetUserGetGroups(g.parts.server, g.parts.name, &g.names);
  if (g.error != plat::ERROR_SUCCESS) {
    common::Trace("GetGroupPropertiesForUser", "Got no global groups", static_cast<long>(g.error));
  }
  return g;
}

DWORD FoldGroupProfiles(const ServiceContext& context, const GlobalGroups& global,
                        GroupProperties* groups) {
  *groups = GroupProperties{};
  if (global.error != plat::ERROR_SUCCESS) return global.error;
  for (const std::string& group : global.names) {
    const std::string section = "+" + global.parts.domain + "\\" + group;
    const UserProfile g = ReadUserProfile(context, section);
    groups->maxTotalTime = std::max(groups->maxTotalTime, g.maxTotalTime);
    groups->maxSessionTime = std::max(groups->maxSessionTime, g.maxSessionTime);
    groups->periodType = std::max(groups->periodType, g.periodType);
    groups->periodMax = std::max(groups->periodMax, g.periodMax);
    if (g.noDuplicate) groups->noDuplicate = 1;
    groups->maxSessions = std::max(groups->maxSessions, common::SessionLimit(g.noDuplicate, g.maxSessions));
  }
  return plat::ERROR_SUCCESS;
}

DWORD CheckAllowedGroups(const GlobalGroups& global, std::string_view allowedList) {
  std::vector<std::string> entries;
  for (size_t pos = 0; pos <= allowedList.size();) {
    size_t end = allowedList.find(';', pos);
    if (end == std::string_view::npos) end = allowedList.size();
    std::string entry(allowedList.substr(pos, end - pos));
    if (!entry.empty() && entry.back() == '\\') entry.pop_back();
    if (!entry.empty()) entries.push_back(std::move(entry));
    pos = end + 1;
  }
  auto listed = [&](const std::string& name) {
    for (const std::string& e : entries) {
      if (plat::EqualsIgnoringCase(e, name)) return true;
    }
    return false;
  };

  if (global.error != plat::ERROR_SUCCESS) return plat::ERROR_ACCESS_DENIED;
  for (const std::string& g : global.names) {
    if (listed(global.parts.domain + "\\" + g)) return plat::ERROR_SUCCESS;
  }

  const std::string fullName = global.parts.domain + "\\" + global.parts.name;
  std::vector<std::string> domainsAsked;
  for (const std::string& e : entries) {
    const size_t slash = e.find('\\');
    if (slash == std::string::npos) continue;
    const std::string domain = e.substr(0, slash);
    bool asked = false;
    for (const std::string& d : domainsAsked) asked = asked || plat::EqualsIgnoringCase(d, domain);
    if (asked) continue;
    domainsAsked.push_back(domain);
    std::string dc;
    if (plat::NetGetDCName("", domain, &dc) != plat::ERROR_SUCCESS) {
      common::Trace("CheckUserInAllowedGroups", "No domain controller for " + domain, 0);
      return plat::ERROR_ACCESS_DENIED;
    }
    std::vector<std::string> local;
    if (plat::NetUserGetLocalGroups(dc, fullName, plat::LG_INCLUDE_INDIRECT, &local) !=
        plat::ERROR_SUCCESS) {
      common::Trace("CheckUserInAllowedGroups", "Got no local groups", 0);
      return plat::ERROR_ACCESS_DENIED;
    }
    for (const std::string& l : local) {
      if (listed(domain + "\\" + l)) return plat::ERROR_SUCCESS;
    }
  }
  return plat::ERROR_MEMBER_NOT_IN_GROUP;
}

// 0 granted, 5 refused.
int IsUserGrantedAccessForPort(const ServiceContext& context, std::string_view portSection,
                               const GlobalGroups& global) {
  const std::string allowed = ReadAllowedGroups(context.paths.systemData, portSection);
  if (allowed.empty() || allowed.front() == '*') return 0;
  const DWORD result = CheckAllowedGroups(global, allowed);
  common::Trace("IsUserGrantedAccessForPort", allowed, static_cast<long>(result));
  return result == plat::ERROR_MEMBER_NOT_IN_GROUP ? kRefusePortAccess : 0;
}

std::string PeriodLine(DWORD max, DWORD usage, std::optional<DWORD> allow) {
  return plat::FormatText("PERIOD: Max=%d Usage=%d   Allow=%d", static_cast<int>(max),
                          static_cast<int>(usage), static_cast<int>(allow.value_or(0)));
}

}  // namespace

AccountExpiry AccountExpiryOf(const UserProfile& p) {
  AccountExpiry e;
  if (p.expiryTime != 0 && p.firstConnection != 0) {
    // Expired once the start is past the last second of the days, in 64 bits
    // so that a large ExpiryTime cannot wrap into the past.
    e.refusedFrom = static_cast<std::int64_t>(p.firstConnection) +
                    static_cast<std::int64_t>(p.expiryTime) * 86400 + 1;
  }
  const common::ExpiryDateValue date = common::ReadExpiryDate(p.expiryDate);
  if (date.kind == common::ExpiryDateValue::kNone) return e;
  e.malformedDate = date.kind == common::ExpiryDateValue::kMalformed;
  e.dateCut = e.malformedDate ? 0 : static_cast<std::int64_t>(common::ExpiryCutTime(date.date));
  if (!e.refusedFrom || *e.dateCut < *e.refusedFrom) e.refusedFrom = e.dateCut;
  return e;
}

bool SamePeriod(DWORD periodType, std::time_t a, std::time_t b) {
  const std::tm la = plat::LocalTime(a);
  const std::tm lb = plat::LocalTime(b);
  switch (periodType) {
    case 1:
      return la.tm_year == lb.tm_year && la.tm_yday == lb.tm_yday;
    case 2:
      // Weeks begin on Monday (the %W week). The week across New Year is one
      // week, not two: it turns on its Monday like every other.
      return MondayOf(DayNumber(la)) == MondayOf(DayNumber(lb));
    case 3:
      return la.tm_year == lb.tm_year && la.tm_mon == lb.tm_mon;
    default:
      return true;
  }
}

int CheckPeriod(std::string_view user, DWORD periodType, DWORD periodMax, DWORD periodUsage,
                DWORD periodStamp, std::time_t startTime, std::vector<plat::ProfileChange>* changes) {
  if (periodType < 1 || periodType > 3) return kPeriodWithin;
  if (!SamePeriod(periodType, static_cast<std::time_t>(periodStamp), startTime)) {
    const std::vector<plat::ProfileChange> fresh = NewPeriodChanges(user, startTime);
    changes->insert(changes->end(), fresh.begin(), fresh.end());
    common::Trace("CheckPeriod", "New period", static_cast<long>(periodType));
    return kPeriodNew;
  }
  // A maximum of 0 is no allowance limit, as for every other limit.
  if (periodMax != 0 && periodUsage > periodMax) return kPeriodUsedUp;
  return kPeriodWithin;
}

DWORD GetGroupPropertiesForUser(const ServiceContext& context, std::string_view user,
                                GroupProperties* groups) {
  return FoldGroupProfiles(context, FetchGlobalGroups(user), groups);
}

DWORD CheckUserInAllowedGroups(std::string_view user, std::string_view allowedList) {
  return CheckAllowedGroups(FetchGlobalGroups(user), allowedList);
}

namespace {

// The account's sessions on every server that shares the logged-in users file.
DWORD CountSessionsOfUser(const ServiceContext& context, std::string_view user) {
  const LoggedInSessions listed =
      CountLoggedInUsers(context.paths.loggedIn, user, context.serverName);
  // This server's own sessions count even when the roster could not be written.
  const std::int64_t here = std::max(context.portTable.CountUser(user), listed.here);
  return static_cast<DWORD>(here + listed.elsewhere);
}

// The check, and the limits of the session it admits. `resuming`: the session
// already runs (found on a port at start-up): only its limits are wanted, so
// no test refuses it. Reads only: what is to be written and reported goes
// into the decision.
AdmissionDecision Decide(const ServiceContext& context, const AccountName& user,
                         std::string_view portSection, std::time_t startTime, bool resuming) {
  common::Trace(kLabel, user, static_cast<long>(startTime));
  AdmissionDecision d;
  auto refuse = [&](int code, const char* why, long number = 0) {
    common::Trace(kLabel, why, number);
    d.code = code;
    return d;
  };
  if (!user.safe()) {
    // Such a name could address another section or key of the shared files.
    return refuse(kRefuseNoProfile, "Invalid account name");
  }

  // 1. Profile.
  UserProfile p;
  if (HasProfile(context, user)) {
    p = ReadUserProfile(context, user);
    d.hasProfile = true;
  } else if (resuming) {
    // Admitted unchecked while the service was away, or the profile was
    // removed since: the session runs without limits.
    common::Trace(kLabel, "Running session without a profile", 0);
  } else {
    const DWORD unreadable = ProbeDataFolder(context.paths.folder, context.serverName);
    d.folderUnreadable = unreadable;
    if (context.systemData.defaults.assignDefault == 0) {
      return unreadable != plat::ERROR_SUCCESS
                 ? refuse(kRefuseProfileUnreadable, "Profile unreadable: data folder unreachable")
                 : refuse(kRefuseNoProfile, "User not defined");
    }
    common::Trace(kLabel, "Assigning default profile", 0);
    d.userChanges = DefaultProfileChanges(context, user);
    const DefaultProfile& def = context.systemData.defaults;
    p.maxSessionTime = def.maxSessionTime;
    p.maxTotalTime = def.maxTotalTime;
    p.expiryTime = def.expiryTime;
    p.periodType = def.periodType;
    p.periodMax = def.periodMax;
    p.noDuplicate = def.noDuplicate ? 1 : 0;
    d.hasProfile = true;
  }
  d.profile = p;

  // 2. Group values.
  const GlobalGroups global = FetchGlobalGroups(user);
  GroupProperties g;
  FoldGroupProfiles(context, global, &g);

  // 3. to 6. decide only whether a session may begin.
  const DWORD maxTotal = Effective(p.maxTotalTime, g.maxTotalTime);
  const AccountExpiry expiry = AccountExpiryOf(p);
  if (expiry.malformedDate) {
    common::Trace(kLabel, "ExpiryDate is not a date (YYYY-MM-DD), the account counts as expired: '" +
                              p.expiryDate + "'", 0);
  }
  if (!resuming) {
    // 3. Expiry: the earlier of ExpiryTime and ExpiryDate.
    if (expiry.refusedFrom && static_cast<std::int64_t>(startTime) >= *expiry.refusedFrom) {
      return refuse(kRefuseExpired, "Account expired");
    }

    // 4. Total time.
    if (maxTotal != 0 && p.totalTime > maxTotal) {
      return refuse(kRefuseTotalTime, "Current Total Time is more than MaxTotalTime",
                    static_cast<long>(p.totalTime));
    }

    // 5. Sessions at once: the user's own limit, else the groups'.
    d.sessionLimit = Effective(common::SessionLimit(p.noDuplicate, p.maxSessions), g.maxSessions);
    if (d.sessionLimit != 0) {
      d.sessionsRunning = CountSessionsOfUser(context, user);
      if (d.sessionsRunning >= d.sessionLimit) {
        return refuse(kRefuseDuplicate, "User already logged in", static_cast<long>(d.sessionsRunning));
      }
    }

    // 6. Port access.
    if (IsUserGrantedAccessForPort(context, portSection, global) != 0) {
      return refuse(kRefusePortAccess, "Not granted access on Port");
    }
  }

  // 7. Period. A new period is written whatever the outcome.
  std::optional<DWORD> periodAllowance;
  const DWORD periodType = Effective(p.periodType, g.periodType);
  if (periodType != 0) {
    DWORD stamp = p.periodStamp;
    DWORD usage = p.periodUsage;
    if (stamp == 0) {
      stamp = static_cast<DWORD>(startTime);
      usage = 0;
      const auto fresh = NewPeriodChanges(user, startTime);
      d.userChanges.insert(d.userChanges.end(), fresh.begin(), fresh.end());
    }
    const DWORD periodMax = Effective(p.periodMax, g.periodMax);
    const int r = CheckPeriod(user, periodType, periodMax, usage, stamp, startTime,
                              &d.userChanges);
    if (r == kPeriodUsedUp && !resuming) return refuse(kRefusePeriodUsedUp, "PeriodMaxUsage is up", static_cast<long>(usage));
    if (r == kPeriodNew) usage = 0;
    if (periodMax != 0) periodAllowance = usage >= periodMax ? 0 : periodMax - usage;
    common::Trace(kLabel, PeriodLine(periodMax, usage, periodAllowance), 0);
  }

  // 8. Session limits.
  d.limits.portMaxSession =
      static_cast<DWORD>(ReadPortNumber(context.paths.systemData, portSection, kMaxSessionTime));
  d.limits.userMaxSession = Effective(p.maxSessionTime, g.maxSessionTime);
  d.limits.userMaxTotal = maxTotal;
  d.limits.userTotalUsed = p.totalTime;
  d.limits.periodAllowance = periodAllowance;
  d.limits.expiresAt = expiry.dateCut;
  d.greeting.account = user.text();
  d.greeting.portMaxSession = d.limits.portMaxSession;
  d.greeting.userMaxSession = d.limits.userMaxSession;
  d.greeting.userMaxTotal = maxTotal;
  d.greeting.totalUsed = p.totalTime;
  common::Trace(kLabel, resuming ? "Session resumed" : "User is OK!", 0);
  return d;
}

// The session enters the port table with its address from the session file,
// and the logged-in users file.
void EnterSession(ServiceContext& context, const AdmissionDecision& d, std::string_view machine,
                  std::string_view user, std::string_view portSection, std::time_t startTime) {
  PortTableStore(context.portTable, context.paths.systemData, machine, portSection, startTime, user,
                 d.limits);
  std::int32_t address = ReadSessionAddress(context.sessionFile, portSection);
  if (context.settings.ipConvert) address = common::RevertDWORD(address);
  PortTableStoreIP(context.portTable, portSection, address);
  context.writeHealth.Note(common::kLoggedInFile,
                           EnterLoggedInUsers(context.paths.loggedIn, context.serverName, user,
                                              context.portTable.CountUser(user)));
}

}  // namespace

std::string RefusalReason(const AdmissionDecision& decision) {
  std::string text = common::RefusalText(decision.code);
  if (decision.code == kRefuseDuplicate && decision.sessionLimit != 0) {
    text += " (" + std::to_string(decision.sessionsRunning) + " of " +
            std::to_string(decision.sessionLimit) + ")";
  }
  return text;
}

AdmissionDecision DecideAdmission(const ServiceContext& context, const AccountName& user,
                                  std::string_view portSection, std::time_t startTime) {
  return Decide(context, user, portSection, startTime, false);
}

bool ResumeSession(ServiceContext& context, std::string_view machine, const AccountName& user,
                   std::string_view portSection, std::time_t startTime) {
  if (!user.safe()) return false;
  const AdmissionDecision d = Decide(context, user, portSection, startTime, true);
  // What admission would have written (a default profile, a new period) is
  // left to the next dial-in: resuming writes no profile.
  EnterSession(context, d, machine, user, portSection, startTime);
  return true;
}

void ApplyAdmission(ServiceContext& context, const AdmissionDecision& d, std::string_view machine,
                    const AccountName& user, std::string_view portSection, std::time_t startTime) {
  if (d.folderUnreadable != plat::ERROR_SUCCESS) NoteDataFolderUnreadable(context, d.folderUnreadable);
  if (d.code == kRefuseDuplicate) plat::Beep(200, 300);
  if (d.code != kAdmitted) {
    // The record first: a crash between the writes leaves a record without
    // its counters, never counters without their record.
    Log_DeniedConnection(context, user, startTime, portSection, d.code, d.userChanges,
                         d.hasProfile ? &d.profile : nullptr);
    // The reason too, so that the event alone tells the administrator why.
    const std::string reason = std::to_string(d.code) + ": " + RefusalReason(d);
    ReportToEventLog(0, common::kEventConnectionRefused, std::string(portSection).c_str(),
                     user.text().c_str(), 3, reason.c_str());
    return;
  }
  Log_Connection(context, user, startTime, portSection, d.userChanges, &d.profile);
  EnterSession(context, d, machine, user, portSection, startTime);
  SendGreetings(context.systemData, machine, d.greeting);
  ReportToEventLog(0, common::kEventConnectionAccepted, std::string(portSection).c_str(),
                   user.text().c_str(), 2);
}

int IsThisUserOK(ServiceContext& context, std::string_view machine, const AccountName& user,
                 std::string_view portSection, std::time_t startTime) {
  const AdmissionDecision d = DecideAdmission(context, user, portSection, startTime);
  ApplyAdmission(context, d, machine, user, portSection, startTime);
  return d.code;
}

}  // namespace svc
