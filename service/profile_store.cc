#include "service/profile_store.h"

#include <algorithm>
#include <cstdint>

#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/text.h"
#include "service/service_context.h"
#include "service/usage_layout.h"

namespace svc {

namespace {

// Counters are written as signed 32-bit numbers: they stop at the largest one
// rather than wrap to a small or negative total that would lift a limit.
DWORD SaturatingAdd(DWORD total, DWORD add) {
  constexpr std::uint64_t kMax = 0x7FFFFFFF;
  const std::uint64_t base = total > kMax ? kMax : total;
  return static_cast<DWORD>(std::min<std::uint64_t>(base + add, kMax));
}

// As a 1000-byte read buffer holds a value, then the decimal conversion.
DWORD NumberOf(const std::string& value) {
  std::string_view v(value);
  if (v.size() > 999) v = v.substr(0, 999);
  return static_cast<DWORD>(common::DecimalValue(v));
}

}  // namespace

std::string SafeProfileName(std::string_view text) {
  if (text.empty()) return std::string(1, '_');
  std::string out(text);
  for (char& c : out) {
    if (common::IsUnsafeNameChar(c)) c = '_';
  }
  if (!out.empty() && plat::IsBlank(out.front())) out.front() = '_';
  if (!out.empty() && plat::IsBlank(out.back())) out.back() = '_';
  return out;
}

std::string DecimalText(DWORD value) {
  return std::to_string(static_cast<std::int32_t>(value));
}

bool HasProfile(const ServiceContext& context, std::string_view section) {
  return common::UserHasProfile(context.paths.users, section);
}

bool UsersFileUnreadable(const ServiceContext& context) {
  std::uint64_t size = 0;
  const DWORD err = plat::GetFileSize(context.paths.users, &size);
  if (err == plat::ERROR_FILE_NOT_FOUND) return !plat::DirectoryExists(context.paths.folder);
  return err != plat::ERROR_SUCCESS;
}

UserProfile ReadUserProfile(const ServiceContext& context, std::string_view section, bool* read) {
  UserProfile p;
  const auto values = plat::ProfileReadSection(context.paths.users, section);
  if (read) *read = values.has_value();
  if (!values) return p;
  struct Field {
    const char* key;
    DWORD UserProfile::*member;
  };
  static constexpr Field kFields[] = {
      {kMaxSessionTime, &UserProfile::maxSessionTime},
      {kMaxTotalTime, &UserProfile::maxTotalTime},
      {kExpiryTime, &UserProfile::expiryTime},
      {kPeriodType, &UserProfile::periodType},
      {kPeriodMax, &UserProfile::periodMax},
      {kPeriodUsage, &UserProfile::periodUsage},
      {kPeriodStamp, &UserProfile::periodStamp},
      {kNoDuplicate, &UserProfile::noDuplicate},
      {kMaxSessions, &UserProfile::maxSessions},
      {kStaticIP, &UserProfile::staticIP},
      {kTotalConnects, &UserProfile::totalConnects},
      {kTotalDenieds, &UserProfile::totalDenieds},
      {kTotalTime, &UserProfile::totalTime},
      {kFirstConnection, &UserProfile::firstConnection},
      {kLastConnection, &UserProfile::lastConnection},
      {kLasted, &UserProfile::lasted},
  };
  // A key read by name finds its first occurrence; keep that rule.
  bool seen[std::size(kFields)] = {};
  bool seenExpiryDate = false;
  for (const auto& [key, value] : *values) {
    if (!seenExpiryDate && plat::EqualsIgnoringCase(key, kExpiryDate)) {
      seenExpiryDate = true;
      p.expiryDate = value;
      continue;
    }
    for (size_t i = 0; i < std::size(kFields); ++i) {
      if (!seen[i] && plat::EqualsIgnoringCase(key, kFields[i].key)) {
        seen[i] = true;
        p.*(kFields[i].member) = NumberOf(value);
        break;
      }
    }
  }
  return p;
}

std::vector<plat::ProfileChange> DefaultProfileChanges(const ServiceContext& context,
                                                       std::string_view section) {
  const DefaultProfile& d = context.systemData.defaults;
  const std::string s(section);
  return {
      {s, kMaxSessionTime, DecimalText(d.maxSessionTime)},
      {s, kMaxTotalTime, DecimalText(d.maxTotalTime)},
      {s, kExpiryTime, DecimalText(d.expiryTime)},
      {s, kPeriodType, DecimalText(d.periodType)},
      {s, kPeriodMax, DecimalText(d.periodMax)},
      {s, kNoDuplicate, d.noDuplicate ? "1" : "0"},
  };
}

DWORD ApplyUserChanges(const ServiceContext& context, const std::vector<plat::ProfileChange>& changes) {
  if (changes.empty()) return plat::ERROR_SUCCESS;
  return plat::ProfileApply(context.paths.users, changes, UsageLayout());
}

DWORD ApplyUserChanges(const ServiceContext& context,
                       const std::function<std::vector<plat::ProfileChange>(const plat::ProfileValueOf&)>& decide) {
  return plat::ProfileApplyDecided(context.paths.users, decide, &UsageLayout());
}

std::vector<plat::ProfileChange> ConnectionUsageChanges(std::string_view account,
                                                        const UserProfile& p, std::time_t start) {
  const std::string user(account);
  const DWORD connects = SaturatingAdd(p.totalConnects, 1);
  const std::string startText = UsageText(static_cast<DWORD>(start));
  std::vector<plat::ProfileChange> changes = {
      {user, kTotalConnects, UsageText(connects)},
      {user, kLastConnection, startText},
      {user, kLasted, UsageText(0)},
  };
  if (connects == 1) changes.push_back({user, kFirstConnection, startText});
  return changes;
}

std::vector<plat::ProfileChange> HangUpUsageChanges(std::string_view account, const UserProfile& p,
                                                    DWORD duration) {
  const std::string user(account);
  std::vector<plat::ProfileChange> changes = {
      {user, kLasted, UsageText(duration)},
      {user, kTotalTime, UsageText(SaturatingAdd(p.totalTime, duration))},
  };
  // PeriodStamp marks period bookkeeping started at admission, also when the
  // period type is the group's rather than the user's own.
  if (p.periodType != 0 || p.periodStamp != 0) {
    changes.push_back({user, kPeriodUsage, UsageText(SaturatingAdd(p.periodUsage, duration))});
  }
  return changes;
}

std::vector<plat::ProfileChange> NewPeriodChanges(std::string_view account, std::time_t start) {
  const std::string user(account);
  return {
      {user, kPeriodUsage, UsageText(0)},
      {user, kPeriodStamp, UsageText(static_cast<DWORD>(start))},
  };
}

std::vector<plat::ProfileChange> DeniedUsageChanges(std::string_view account, const UserProfile& p) {
  return {{std::string(account), kTotalDenieds, UsageText(SaturatingAdd(p.totalDenieds, 1))}};
}

std::int32_t ReadUserStaticIP(const ServiceContext& context, std::string_view account) {
  return common::ProfileReadInt(context.paths.users, account, kStaticIP);
}

std::vector<std::string> ListProfiles(const ServiceContext& context) {
  auto sections = plat::ProfileListSections(context.paths.users);
  return sections ? std::move(*sections) : std::vector<std::string>{};
}

}  // namespace svc
