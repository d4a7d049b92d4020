#include "accounts/account_store.h"

#include <algorithm>

#include "common/expiry_date.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/profile_helpers.h"
#include "common/profile_keys.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/text.h"

namespace accounts {

namespace {

std::string Describe(char c) {
  switch (c) {
    case '\n': return "a line break";
    case '\r': return "a carriage return";
    case '\t': return "a tab";
    default: break;
  }
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "a control character";
  return std::string("'") + c + "'";
}

// Keys of a profile an administrator sets, for this kind of section.
bool IsProfileKey(const SettingInfo& info, bool group) { return !group || info.groupKey; }

// A key of the profile tables: its value must be a number.
bool IsNumericKey(std::string_view key) {
  for (auto table : {ProfileSettings(), UsageValues()}) {
    for (const SettingInfo& info : table) {
      if (plat::EqualsIgnoringCase(info.key, key)) return info.unit != Unit::Date;
    }
  }
  return false;
}

// ExpiryDate is a date; every other key of the tables a number.
bool IsDateKey(std::string_view key) { return plat::EqualsIgnoringCase(key, common::kExpiryDate); }

// A date's change: "" (typed as none) removes the key, as a file without it means no date.
plat::ProfileChange DateChange(const std::string& section, const std::string& value) {
  if (value.empty()) return {section, common::kExpiryDate, std::nullopt};
  return {section, common::kExpiryDate, value};
}

}  // namespace

std::string Account::Domain() const {
  std::string_view s = section;
  if (IsGroup()) s.remove_prefix(1);
  const size_t slash = s.find('\\');
  return slash == s.npos ? std::string() : std::string(s.substr(0, slash));
}

std::string Account::Name() const {
  std::string_view s = section;
  if (IsGroup()) s.remove_prefix(1);
  return std::string(plat::AfterBackslash(s));
}

std::string Account::Text(std::string_view key, std::string_view defaultText) const {
  for (const auto& [k, v] : values) {
    if (plat::EqualsIgnoringCase(k, key)) return v;
  }
  return std::string(defaultText);
}

std::int64_t Account::Number(std::string_view key) const { return common::DecimalValue(Text(key)); }

bool AccountFilter::Matches(const Account& a) const {
  if (!user.empty()) {
    const bool whole = user.find('\\') != std::string::npos;
    if (!plat::EqualsIgnoringCase(whole ? a.section : a.Name(), user)) return false;
  }
  if (!domain.empty() && !plat::EqualsIgnoringCase(a.Domain(), domain)) return false;
  return search.empty() ||
         plat::ToLowerAscii(a.section).find(plat::ToLowerAscii(search)) != std::string::npos;
}

std::vector<DomainAccounts> AccountsByDomain(std::span<const std::string> sections) {
  std::vector<DomainAccounts> domains;
  auto byName = [](const std::string& a, const std::string& b) {
    return plat::ToLowerAscii(a) < plat::ToLowerAscii(b);
  };
  for (const std::string& section : sections) {
    const Account a{section, {}};
    const std::string domain = a.Domain(), name = a.Name();
    if (domain.empty() || name.empty()) continue;
    auto it = std::find_if(domains.begin(), domains.end(), [&](const DomainAccounts& d) {
      return plat::EqualsIgnoringCase(d.domain, domain);
    });
    if (it == domains.end()) it = domains.insert(domains.end(), DomainAccounts{domain, {}, {}});
    (a.IsGroup() ? it->groups : it->users).push_back(name);
  }
  std::sort(domains.begin(), domains.end(), [&](const DomainAccounts& a, const DomainAccounts& b) {
    return byName(a.domain, b.domain);
  });
  for (DomainAccounts& d : domains) {
    std::stable_sort(d.groups.begin(), d.groups.end(), byName);
    std::stable_sort(d.users.begin(), d.users.end(), byName);
  }
  return domains;
}

Outcome Outcome::Refused(std::string why) { return Outcome{plat::ERROR_INVALID_PARAMETER, std::move(why)}; }

bool CheckAccountName(std::string_view name, std::string* why) {
  auto refuse = [&](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  const std::string quoted = "'" + std::string(name) + "'";
  if (name.empty()) return refuse("no account name given");
  for (char c : name) {
    if (common::IsUnsafeNameChar(c)) {
      return refuse("the account name " + quoted + " contains " + Describe(c) +
                    ", which a profile file cannot hold");
    }
    if (c == ',') return refuse("the account name " + quoted + " contains ',', which a dial-in cannot carry");
  }
  if (!common::IsSafeAccountName(name)) return refuse("the account name " + quoted + " begins or ends with a blank");
  if (name.front() != '+') {
    if (std::string problem = common::AccountNameProblem(name); !problem.empty()) return refuse(problem);
  }
  if (name.size() > common::kFieldLimit) {
    return refuse("the account name is " + std::to_string(name.size()) + " characters long; a dial-in carries at most " +
                  std::to_string(common::kFieldLimit));
  }
  std::string_view rest = name;
  if (rest.front() == '+') rest.remove_prefix(1);
  const size_t slash = rest.find('\\');
  if (slash == rest.npos || slash == 0 || slash + 1 == rest.size() || rest.find('\\', slash + 1) != rest.npos ||
      rest.find('+') == 0) {
    return refuse("the account name " + quoted + " is not DOMAIN\\user (or +DOMAIN\\Group for a group)");
  }
  return true;
}

std::optional<std::pair<std::string, std::string>> ParseProfileValue(const SettingInfo& info,
                                                                     std::string_view typed,
                                                                     bool group, std::string* why) {
  if (!IsProfileKey(info, group)) {
    if (why) *why = std::string(info.key) + " is not a setting of group profiles";
    return std::nullopt;
  }
  std::string reason;
  auto text = ParseValue(info.unit, typed, &reason, info.maxLength);
  if (!text) {
    if (why) *why = std::string(info.label) + ": " + reason;
    return std::nullopt;
  }
  return std::make_pair(std::string(info.key), std::move(*text));
}

std::optional<Changes> ChangedProfileValues(const Account& before,
                                            const std::vector<std::pair<std::string, std::string>>& typed,
                                            std::string* why) {
  Changes changes;
  for (const auto& [key, text] : typed) {
    const SettingInfo* info = FindSetting(ProfileSettings(), key);
    if (!info) {
      if (why) *why = "'" + key + "' is not a profile setting";
      return std::nullopt;
    }
    const std::string shown = FormatValue(info->unit, before.Text(info->key, info->defaultText));
    if (text == shown) continue;
    auto change = ParseProfileValue(*info, text, before.IsGroup(), why);
    if (!change) return std::nullopt;
    // Typed differently but the same value ("90m" for "1h30m"): nothing to write.
    const std::string current = before.Text(info->key, info->defaultText);
    if (IsCleanNumber(current) && common::DecimalValue(current) == common::DecimalValue(change->second)) {
      continue;
    }
    changes.push_back(std::move(*change));
  }
  return changes;
}

std::string FileProblem(std::string_view file) {
  std::string text;
  if (plat::ReadWholeFile(file, &text) != plat::ERROR_SUCCESS || text.empty()) return "";
  const std::string name = "'" + std::string(file) + "'";
  if (text.back() != '\n') {
    return name + " ends in the middle of a line: another program may have left it half-written";
  }
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::string_view line = std::string_view(text).substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' ? line.find(']') != line.npos : line.find('=') != line.npos) continue;
    std::string shown(line.substr(0, 40));
    return name + " line " + std::to_string(number) + " ('" + shown +
           "') is neither a section nor a key: another program may have left it half-written";
  }
  return "";
}

AccountStore::AccountStore(std::string usersFile, std::string systemDataFile)
    : users_(std::move(usersFile)), hw_(std::move(systemDataFile)) {}

LoadResult AccountStore::Load() const {
  LoadResult result;
  auto all = plat::ProfileReadAll(users_);
  if (!all) {
    result.fileMissing = true;
    return result;
  }
  result.fileProblem = FileProblem(users_);
  result.accounts.reserve(all->size());
  for (auto& section : *all) {
    Account& a = result.accounts.emplace_back();
    a.section = std::move(section.name);
    a.values = std::move(section.values);
    for (const auto& [key, value] : a.values) {
      if (!IsCleanNumber(value) && IsNumericKey(key)) {
        result.valueProblems.push_back(a.section + ": " + key + " is '" + value + "', not a number");
      }
      if (IsDateKey(key) && common::ReadExpiryDate(value).kind == common::ExpiryDateValue::kMalformed) {
        result.valueProblems.push_back(a.section + ": " + key + " is '" + value +
                                       "', not a date (YYYY-MM-DD); the service counts the account as expired");
      }
    }
  }
  return result;
}

std::optional<std::vector<std::string>> AccountStore::Sections() const {
  return plat::ProfileListSections(users_);
}

std::optional<Account> AccountStore::Find(std::string_view section) const {
  auto values = plat::ProfileReadSection(users_, section);
  if (!values) return std::nullopt;
  Account a;
  a.section = plat::ProfileSectionName(users_, section).value_or(std::string(section));
  a.values = std::move(*values);
  return a;
}

Outcome AccountStore::Apply(const std::vector<plat::ProfileChange>& changes) const {
  if (changes.empty()) return {};
  if (std::string problem = FileProblem(users_); !problem.empty()) {
    return Outcome{plat::ERROR_INVALID_DATA, problem + "; nothing was written"};
  }
  const plat::DWORD err = plat::ProfileApply(users_, changes);
  if (err != plat::ERROR_SUCCESS) {
    return Outcome{err, "could not write " + users_ + ": " + plat::ErrorText(err)};
  }
  return {};
}

Account AccountStore::NewProfile(std::string_view section) const {
  Account a;
  a.section = std::string(section);
  for (const SettingInfo& info : ProfileSettings()) {
    // No default address, and no default last day.
    if (!IsProfileKey(info, a.IsGroup()) || info.unit == Unit::Address || info.unit == Unit::Date) continue;
    const int value = common::DecimalValue(common::ProfileReadText(hw_, "Default", info.key, "0"));
    a.values.emplace_back(info.key, info.unit == Unit::Flag ? (value != 0 ? "1" : "0") : std::to_string(value));
  }
  return a;
}

std::vector<std::string> AccountStore::StaticIPHolders(std::int32_t address, std::string_view except) const {
  std::vector<std::string> holders;
  if (address == 0) return holders;
  for (const Account& a : Load().accounts) {
    if (a.IsGroup() || plat::EqualsIgnoringCase(a.section, except)) continue;
    if (static_cast<std::int32_t>(a.Number(common::kStaticIP)) == address) holders.push_back(a.section);
  }
  return holders;
}

Outcome AccountStore::CheckSharedAddress(std::string_view section, const Changes& changes,
                                         std::vector<std::string>* sharedAddress) const {
  for (const auto& [key, value] : changes) {
    if (!plat::EqualsIgnoringCase(key, common::kStaticIP)) continue;
    const auto address = static_cast<std::int32_t>(common::DecimalValue(value));
    const std::vector<std::string> holders = StaticIPHolders(address, section);
    if (holders.empty()) continue;
    std::string names;
    for (const std::string& h : holders) names += (names.empty() ? "" : ", ") + h;
    const std::string sentence = common::MakeIPString(static_cast<std::uint32_t>(address)) +
                                 " is already the static address of " + names +
                                 "; two sessions cannot use one address at once";
    if (!sharedAddress) return Outcome::Refused(sentence);
    sharedAddress->push_back(sentence);
  }
  return {};
}

Outcome AccountStore::Add(std::string_view section, const Changes& given,
                          std::vector<std::string>* sharedAddress) const {
  std::string why;
  if (!CheckAccountName(section, &why)) return Outcome::Refused(why);
  if (Find(section)) return Outcome::Refused(std::string(section) + " has a profile already");
  if (Outcome shared = CheckSharedAddress(section, given, sharedAddress); !shared.ok()) return shared;
  const bool group = section.front() == '+';
  std::vector<plat::ProfileChange> changes;
  const std::string s(section);
  for (const auto& [key, value] : NewProfile(section).values) changes.push_back({s, key, value});
  for (const auto& [key, value] : given) {
    const SettingInfo* info = FindSetting(ProfileSettings(), key);
    if (!info || !IsProfileKey(*info, group)) return Outcome::Refused(key + " is not a setting of this profile");
    if (info->unit == Unit::Date) {
      if (!value.empty()) changes.push_back(DateChange(s, value));
      continue;
    }
    changes.push_back({s, key, value});
  }
  if (changes.empty()) changes.push_back({s, common::kMaxSessionTime, "0"});
  return Apply(changes);
}

Outcome AccountStore::Set(std::string_view section, const Changes& changes,
                          std::vector<std::string>* sharedAddress) const {
  std::optional<Account> account = Find(section);
  if (!account) return Outcome::Refused("there is no profile " + std::string(section));
  if (Outcome shared = CheckSharedAddress(account->section, changes, sharedAddress); !shared.ok()) {
    return shared;
  }
  std::vector<plat::ProfileChange> writes;
  for (const auto& [key, value] : changes) {
    const SettingInfo* info = FindSetting(ProfileSettings(), key);
    if (!info || !IsProfileKey(*info, account->IsGroup())) {
      return Outcome::Refused(key + " is not a setting of this profile");
    }
    if (info->unit == Unit::Date) {
      writes.push_back(DateChange(account->section, value));
      continue;
    }
    writes.push_back({account->section, info->key, value});
  }
  return Apply(writes);
}

Outcome AccountStore::Copy(std::string_view from, std::span<const std::string> targets) const {
  std::optional<Account> source = Find(from);
  if (!source) return Outcome::Refused("there is no profile " + std::string(from) + " to copy");
  if (targets.empty()) return Outcome::Refused("no account to copy the profile to");
  std::vector<plat::ProfileChange> writes;
  for (const std::string& target : targets) {
    std::string why;
    if (!CheckAccountName(target, &why)) return Outcome::Refused(why);
    if (plat::EqualsIgnoringCase(target, source->section)) {
      return Outcome::Refused("cannot copy " + target + "'s profile onto itself");
    }
    const bool group = target.front() == '+';
    for (const SettingInfo& info : ProfileSettings()) {
      if (info.unit == Unit::Address || !IsProfileKey(info, group)) continue;
      if (info.unit == Unit::Date) {
        // The date as it stands; none takes the target's away.
        const common::ExpiryDateValue date = common::ReadExpiryDate(source->Text(info.key, ""));
        writes.push_back(DateChange(target, date.kind == common::ExpiryDateValue::kNone ? "" : source->Text(info.key)));
        continue;
      }
      writes.push_back({target, info.key, std::to_string(source->Number(info.key))});
    }
  }
  return Apply(writes);
}

Outcome AccountStore::Delete(std::span<const std::string> sections) const {
  std::vector<plat::ProfileChange> writes;
  for (const std::string& section : sections) {
    if (!Find(section)) return Outcome::Refused("there is no profile " + section);
    writes.push_back({section, "", std::nullopt});
  }
  return Apply(writes);
}

Outcome AccountStore::ResetUsage(std::span<const std::string> sections) const {
  std::vector<plat::ProfileChange> writes;
  for (const std::string& section : sections) {
    std::optional<Account> account = Find(section);
    if (!account) return Outcome::Refused("there is no profile " + section);
    if (account->IsGroup()) return Outcome::Refused(section + " is a group: groups keep no usage");
    for (const SettingInfo& info : UsageValues()) {
      writes.push_back({account->section, info.key, common::UsageText(0)});
    }
  }
  return Apply(writes);
}

}  // namespace accounts
