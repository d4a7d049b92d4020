// The accounts of portulon.usr as the console and the command-line tools see
// them: load every profile, add, change, copy, delete, reset usage.
//
// A save writes only the keys it is given, through the platform's profile
// writes, which merge key by key under the file's lock: a counter the service
// writes at the same moment is never lost to an administrator's save. Every
// operation checks all of its input first and writes nothing when any of it
// is refused, and it refuses to write into a file that another program left
// half-written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accounts/setting_info.h"
#include "platform/profile.h"
#include "platform/win_types.h"

namespace accounts {

// One section of portulon.usr: a user "DOMAIN\user" or a group "+DOMAIN\Group".
struct Account {
  std::string section;
  std::vector<std::pair<std::string, std::string>> values;  // file order, first occurrence of each key

  bool IsGroup() const { return !section.empty() && section.front() == '+'; }
  // The domain and the name after it ("DOM", "ann"; "" and the section without a backslash).
  std::string Domain() const;
  std::string Name() const;
  // The file's text of a key; `defaultText` when missing.
  std::string Text(std::string_view key, std::string_view defaultText = "0") const;
  // The key as the service reads it (decimal conversion of the text).
  std::int64_t Number(std::string_view key) const;
};

// What went wrong, in a sentence for the administrator; ok() when nothing did.
struct Outcome {
  plat::DWORD error = 0;
  std::string message;
  bool ok() const { return error == 0 && message.empty(); }
  static Outcome Refused(std::string why);  // ERROR_INVALID_PARAMETER and the sentence
};

// Key and file text of the values to write.
using Changes = std::vector<std::pair<std::string, std::string>>;

struct LoadResult {
  std::vector<Account> accounts;  // file order
  bool fileMissing = false;
  std::string fileProblem;        // FileProblem's sentence, when any
  // "DOM\ann: MaxSessionTime is '54x', not a number" for each value the
  // service would misread.
  std::vector<std::string> valueProblems;
};

// Which accounts a listing shows (pluser list, plreport users, the console's
// users view); an empty field matches every account. Names compare ignoring
// case, and a group profile "+DOM\Staff" belongs to its domain DOM.
struct AccountFilter {
  std::string user;  // the name after the domain; with a backslash, the whole account
  std::string domain;
  std::string search;  // a text the account contains
  bool Matches(const Account& a) const;
};

// The accounts of one domain as the console's tree shows them.
struct DomainAccounts {
  std::string domain;               // as first spelt in the file
  std::vector<std::string> groups;  // group profiles' names, in name order
  std::vector<std::string> users;   // in name order
};
// The sections by domain, domains in name order (ignoring case). A section
// without a domain or a name ("Staff", "DOM\") is left out.
std::vector<DomainAccounts> AccountsByDomain(std::span<const std::string> sections);

// A name the file can hold as a section: "DOMAIN\user", or "+DOMAIN\Group"
// for a group; false with *why said for anything else (brackets, '=', ';',
// line breaks, a missing domain, a user account longer than the session
// records hold (common::kMaxRecordAccount), a group name longer than the 99
// characters a dial-in can carry).
bool CheckAccountName(std::string_view name, std::string* why);

// Parses one typed value of a profile key; refuses keys a group profile does
// not have. The change is (key, file text).
std::optional<std::pair<std::string, std::string>> ParseProfileValue(const SettingInfo& info,
                                                                     std::string_view typed,
                                                                     bool group, std::string* why);

// Of `typed` (key, text as typed), the file changes for the values that
// differ from what `shown` (key, text as displayed) held: a value left as it
// was shown is not written, whatever its text in the file. Refused (message
// set, nothing returned) when a changed value cannot be stored.
std::optional<Changes> ChangedProfileValues(const Account& before,
                                            const std::vector<std::pair<std::string, std::string>>& typed,
                                            std::string* why);

// A sentence when the profile file is not whole: it ends inside a line, or
// holds a line that is neither a section, a key, a comment nor blank (what a
// writer that stopped halfway leaves). "" when it is whole or missing.
std::string FileProblem(std::string_view file);

class AccountStore {
 public:
  // Windows paths of portulon.usr and portulon.hw.
  AccountStore(std::string usersFile, std::string systemDataFile);

  const std::string& usersFile() const { return users_; }
  const std::string& systemDataFile() const { return hw_; }

  LoadResult Load() const;
  // The section names alone, file order; nullopt when the file is missing.
  std::optional<std::vector<std::string>> Sections() const;
  std::optional<Account> Find(std::string_view section) const;

  // What a new profile of `section` starts with: the default profile's limits
  // (section Default of portulon.hw) as Add writes them.
  Account NewProfile(std::string_view section) const;
  // A new profile: the default profile's limits (section Default of
  // portulon.hw), then `given`. Refused when the section exists.
  //
  // Add and Set refuse a StaticIP that another profile has (two sessions
  // cannot use one address at once). Given `sharedAddress`, they write it
  // and append the sentence there instead.
  Outcome Add(std::string_view section, const Changes& given,
              std::vector<std::string>* sharedAddress = nullptr) const;
  // Writes exactly `changes` into an existing profile.
  Outcome Set(std::string_view section, const Changes& changes,
              std::vector<std::string>* sharedAddress = nullptr) const;
  // The other profiles whose StaticIP is `address` (non-zero), file order.
  std::vector<std::string> StaticIPHolders(std::int32_t address, std::string_view except) const;
  // The limits of `from` (all but the static address, which is one user's)
  // into each target, creating the profiles that do not exist yet.
  Outcome Copy(std::string_view from, std::span<const std::string> targets) const;
  Outcome Delete(std::span<const std::string> sections) const;
  // The usage values back to 0 (connections, refusals, times, period).
  Outcome ResetUsage(std::span<const std::string> sections) const;

 private:
  // Checks the file is whole, then applies the changes in one locked write.
  Outcome Apply(const std::vector<plat::ProfileChange>& changes) const;
  // Refused, or the sentence appended to `sharedAddress`, for a StaticIP among
  // `changes` that another profile has.
  Outcome CheckSharedAddress(std::string_view section, const Changes& changes,
                             std::vector<std::string>* sharedAddress) const;

  std::string users_;
  std::string hw_;
};

}  // namespace accounts
