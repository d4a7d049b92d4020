#include "platform/netapi.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/request_scope.h"

namespace plat {

namespace {

// Serialises the read-modify-write sequences of the Domain* calls of this
// process, so that two threads adding to one list never lose an entry. Reads
// take no lock: every file they see is a whole one.
std::mutex adminMutex;

constexpr const char* kDomainSection = "Domain";
constexpr std::string_view kUserPrefix = "User:";
constexpr std::string_view kGroupPrefix = "Group:";
constexpr std::string_view kLocalGroupPrefix = "LocalGroup:";
constexpr const char* kRemoteAccessKey = "System\\CurrentControlSet\\Services\\RemoteAccess";

constexpr DWORD kFirstRid = 1000;
constexpr std::size_t kMaxDomainName = 15;  // a NetBIOS name
constexpr std::size_t kMaxUserName = 20;
constexpr std::size_t kMaxGroupName = 256;

enum class Kind { User, Group, LocalGroup };

// An account as the section list names it. The section itself is read only
// when a call needs it (Details): a lookup in a domain of a thousand users
// then reads a handful of sections, not all of them.
struct Account {
  Kind kind = Kind::User;
  std::string name;
  // Filled by Details.
  mutable bool loaded = false;
  mutable std::string text;               // FullName of a user, Comment of a group
  mutable std::vector<std::string> list;  // user: its global groups; local group: its members
  mutable std::optional<DWORD> rid;
};

struct Domain {
  std::string name;  // stored spelling
  std::string file;  // Windows path of the domain file
  std::string pdc;
  std::vector<std::string> bdcs;
  std::string sid;   // "S-1-5-21-a-b-c" as stored; may be empty in a hand-made file
  std::optional<DWORD> nextRid;  // as stored
  // Every account when `listed`; otherwise those looked up so far (a deque:
  // a lookup adds to it without moving the accounts already found).
  bool listed = false;
  std::deque<Account> users;
  std::deque<Account> groups;
  std::deque<Account> localGroups;

  std::deque<Account>& Accounts(Kind kind) {
    return kind == Kind::User ? users : kind == Kind::Group ? groups : localGroups;
  }
};

std::string_view Prefix(Kind kind) {
  return kind == Kind::User ? kUserPrefix : kind == Kind::Group ? kGroupPrefix : kLocalGroupPrefix;
}

std::string SectionOf(Kind kind, const std::string& name) { return std::string(Prefix(kind)) + name; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const auto semi = text.find(';');
    const std::string_view item = Trim(text.substr(0, semi));
    if (!item.empty()) out.emplace_back(item);
    if (semi == std::string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  return out;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += ';';
    out += item;
  }
  return out;
}

bool ContainsIgnoringCase(const std::vector<std::string>& list, std::string_view name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& item) { return EqualsIgnoringCase(item, name); });
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return ToLowerAscii(a) < ToLowerAscii(b);
}

// What Windows refuses in account names, plus blanks at either end (the
// profile would trim them away).
bool ValidName(std::string_view name, std::size_t maxLength) {
  if (name.empty() || name.size() > maxLength || Trim(name).size() != name.size()) return false;
  for (const unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || std::strchr("\"/\\[]:;|=,+*?<>", c) != nullptr) return false;
  }
  return true;
}

bool ValidDomainName(std::string_view name) {
  return ValidName(name, kMaxDomainName) && name.front() != '.';
}

// "\\NAME" and "NAME" both name machine NAME.
std::string_view StripServerPrefix(std::string_view server) {
  while (!server.empty() && (server.front() == '\\' || server.front() == '/')) server.remove_prefix(1);
  return server;
}

// Splits "DOMAIN\name"; `domain` is empty for a bare name.
void SplitAccount(std::string_view account, std::string_view* domain, std::string_view* name) {
  const auto slash = account.find('\\');
  if (slash == std::string_view::npos) {
    *domain = {};
    *name = account;
  } else {
    *domain = account.substr(0, slash);
    *name = account.substr(slash + 1);
  }
}

std::string NetworkFolder() {
  std::string network = NetworkRoot();
  if (network.empty()) return network;
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(network, ec);
  return ec ? network : absolute.lexically_normal().string();
}

std::string DomainsFolder() {
  const std::string network = NetworkFolder();
  return network.empty() ? std::string() : network + "/domains";
}

// Stored spelling of a domain and the Windows path of its file; false when the
// network has no such domain.
bool FindDomainFile(std::string_view name, std::string* stored, std::string* file) {
  if (!ValidDomainName(name)) return false;
  // Found once per request (the stored name and the path, a line apart).
  const std::string key = scope::Active() ? "domain:" + NetworkRoot() + "|" + ToLowerAscii(name) : std::string();
  if (std::string known; !key.empty() && scope::Recall(key, &known)) {
    const size_t cut = known.find('\n');
    *stored = known.substr(0, cut);
    *file = known.substr(cut + 1);
    return true;
  }
  const std::string folder = DomainsFolder();
  if (folder.empty()) return false;
  const std::string entry = posix::FindEntryIgnoringCase(folder, std::string(name) + ".ini");
  const std::string path = HostToWindowsPath(folder + "/" + entry);
  if (!FileExists(path) || DirectoryExists(path)) return false;
  *stored = entry.substr(0, entry.size() - 4);
  *file = path;
  if (!key.empty()) scope::Remember(key, *stored + "\n" + *file);
  return true;
}

std::optional<DWORD> ParseDword(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<DWORD>(v);
}

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string ValueOf(const Entries& entries, std::string_view key) {
  for (const auto& [k, v] : entries) {
    if (EqualsIgnoringCase(k, key)) return v;
  }
  return {};
}

// Reads the [Domain] section and, with `listAccounts`, the names of all
// accounts. Without, accounts are looked up one by one as a call needs them:
// an admission in a domain of 100,000 users then costs a few section lookups
// instead of a pass over every section name.
DWORD LoadDomain(std::string_view name, Domain* d, bool listAccounts = true) {
  if (!FindDomainFile(name, &d->name, &d->file)) return ERROR_NO_SUCH_DOMAIN;
  std::optional<std::vector<std::string>> sections;
  if (listAccounts) {
    sections = ProfileListSections(d->file);
    if (!sections) return ERROR_NO_SUCH_DOMAIN;
  }
  d->listed = listAccounts;
  if (const auto entries = ProfileReadSection(d->file, kDomainSection)) {
    d->pdc = std::string(StripServerPrefix(ValueOf(*entries, "PDC")));
    for (const auto& bdc : SplitList(ValueOf(*entries, "BDC"))) {
      d->bdcs.emplace_back(StripServerPrefix(bdc));
    }
    d->sid = ValueOf(*entries, "SID");
    d->nextRid = ParseDword(ValueOf(*entries, "NextRid"));
  }
  if (!sections) return ERROR_SUCCESS;
  for (const auto& section : *sections) {
    for (const Kind kind : {Kind::User, Kind::Group, Kind::LocalGroup}) {
      if (!StartsWithIgnoringCase(section, Prefix(kind))) continue;
      Account a;
      a.kind = kind;
      a.name = section.substr(Prefix(kind).size());
      if (!a.name.empty()) d->Accounts(kind).push_back(std::move(a));
      break;
    }
  }
  return ERROR_SUCCESS;
}

const Account& Details(const Domain& d, const Account& a) {
  if (a.loaded) return a;
  a.loaded = true;
  const auto entries = ProfileReadSection(d.file, SectionOf(a.kind, a.name));
  if (!entries) return a;  // removed meanwhile: an account without details
  a.text = ValueOf(*entries, a.kind == Kind::User ? "FullName" : "Comment");
  a.list = SplitList(ValueOf(*entries, a.kind == Kind::User ? "Groups" : "Members"));
  a.rid = ParseDword(ValueOf(*entries, "RID"));
  return a;
}

// The RID for a new account: NextRid of the file, or past every RID in use
// when a hand-made file has none.
DWORD NextRid(Domain& d) {
  if (d.nextRid) return std::max(*d.nextRid, kFirstRid);
  DWORD highest = kFirstRid - 1;
  for (const Kind kind : {Kind::User, Kind::Group, Kind::LocalGroup}) {
    for (const auto& a : d.Accounts(kind)) highest = std::max(highest, Details(d, a).rid.value_or(0));
  }
  return highest + 1;
}

Account* FindAccount(std::deque<Account>& accounts, std::string_view name) {
  for (auto& a : accounts) {
    if (EqualsIgnoringCase(a.name, name)) return &a;
  }
  return nullptr;
}

// The account of that kind and name: from the list when the domain was
// listed, else straight from its section.
Account* Lookup(Domain& d, Kind kind, std::string_view name) {
  std::deque<Account>& accounts = d.Accounts(kind);
  if (Account* a = FindAccount(accounts, name); a || d.listed) return a;
  if (name.empty()) return nullptr;
  const auto stored = ProfileSectionName(d.file, SectionOf(kind, std::string(name)));
  if (!stored || stored->size() <= Prefix(kind).size()) return nullptr;
  Account a;
  a.kind = kind;
  a.name = stored->substr(Prefix(kind).size());
  accounts.push_back(std::move(a));
  return &accounts.back();
}

// Which kind of account `name` is in `d`, if any.
std::optional<Kind> KindOf(Domain& d, std::string_view name) {
  for (const Kind kind : {Kind::User, Kind::Group, Kind::LocalGroup}) {
    if (Lookup(d, kind, name)) return kind;
  }
  return std::nullopt;
}

// A user's global groups in their stored spelling; entries that name no group
// of the domain (a hand-edited file) are left out.
std::vector<std::string> GroupsOf(Domain& d, const Account& user) {
  std::vector<std::string> out;
  for (const auto& g : Details(d, user).list) {
    if (const Account* group = Lookup(d, Kind::Group, g)) out.push_back(group->name);
  }
  return out;
}

bool IsUp(std::string_view computer) {
  std::string root;
  return !computer.empty() && FindMachine(computer, &root, true) == ERROR_SUCCESS;
}

bool IsController(const Domain& d, std::string_view computer) {
  return EqualsIgnoringCase(d.pdc, computer) || ContainsIgnoringCase(d.bdcs, computer);
}

bool AnyControllerUp(const Domain& d) {
  if (IsUp(d.pdc)) return true;
  return std::any_of(d.bdcs.begin(), d.bdcs.end(), [](const std::string& b) { return IsUp(b); });
}

std::string FolderName(const std::string& root) {
  const auto slash = root.find_last_of('/');
  return slash == std::string::npos ? root : root.substr(slash + 1);
}

// The machine a server argument names, which must be up.
DWORD ResolveServer(std::string_view server, std::string* computer, std::string* root) {
  if (FindMachine(StripServerPrefix(server), root, true) != ERROR_SUCCESS) return ERROR_BAD_NETPATH;
  *computer = FolderName(*root);
  return ERROR_SUCCESS;
}

std::string MachineDomain(const std::string& root) {
  RegKey hklm;
  RegKey key;
  std::string domain;
  if (RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) == ERROR_SUCCESS &&
      hklm.OpenSubKey(kDomainKey, &key) == ERROR_SUCCESS) {
    key.QueryString("DefaultDomainName", &domain);
  }
  return domain;
}

std::vector<std::string> ListDomainNames() {
  std::vector<std::string> names;
  const std::string folder = DomainsFolder();
  if (folder.empty()) return names;
  std::vector<FindData> entries;
  if (FindFiles(HostToWindowsPath(folder) + "\\*.ini", &entries) != ERROR_SUCCESS) return names;
  for (const auto& e : entries) {
    if (e.isDirectory || e.name.size() <= 4) continue;
    names.push_back(e.name.substr(0, e.name.size() - 4));
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

// The domain that `computer` is a controller of: its own domain first, then
// any other (a machine controls at most one domain in a sane network).
bool LoadControlledDomain(const std::string& computer, const std::string& root, Domain* d,
                          bool listAccounts = true) {
  const std::string own = MachineDomain(root);
  if (!own.empty()) {
    Domain candidate;
    if (LoadDomain(own, &candidate, listAccounts) == ERROR_SUCCESS && IsController(candidate, computer)) {
      *d = std::move(candidate);
      return true;
    }
  }
  for (const auto& name : ListDomainNames()) {
    if (EqualsIgnoringCase(name, own)) continue;
    Domain candidate;
    if (LoadDomain(name, &candidate, listAccounts) == ERROR_SUCCESS &&
        IsController(candidate, computer)) {
      *d = std::move(candidate);
      return true;
    }
  }
  return false;
}

// ---- SIDs ----

std::uint32_t Fnv1a(std::string_view text, std::uint32_t salt) {
  std::uint32_t h = 2166136261u ^ salt;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

// "S-1-5-21-a-b-c" made up from the domain's name: the same name always gives
// the same SID, so tests and a recreated domain see stable values.
std::string MakeDomainSid(std::string_view domain) {
  const std::string upper = ToUpperAscii(domain);
  return "S-1-5-21-" + std::to_string(Fnv1a(upper, 1)) + "-" + std::to_string(Fnv1a(upper, 2)) +
         "-" + std::to_string(Fnv1a(upper, 3));
}

// The three domain sub-authorities of a stored SID text, or of the made-up
// SID when the text is missing or malformed.
void DomainSubAuthorities(const Domain& d, DWORD out[3]) {
  auto parse = [&](const std::string& text) {
    constexpr std::string_view head = "S-1-5-21-";
    if (text.compare(0, head.size(), head) != 0) return false;
    std::string_view rest = std::string_view(text).substr(head.size());
    for (int i = 0; i < 3; ++i) {
      const auto dash = rest.find('-');
      if ((i < 2) == (dash == std::string_view::npos)) return false;
      const auto v = ParseDword(rest.substr(0, dash));
      if (!v) return false;
      out[i] = *v;
      if (dash != std::string_view::npos) rest.remove_prefix(dash + 1);
    }
    return true;
  };
  if (!parse(d.sid)) parse(MakeDomainSid(d.name));
}

AccountSid MakeAccountSid(const Domain& d, const Account& a) {
  DWORD sub[5] = {21, 0, 0, 0, 0};
  DomainSubAuthorities(d, sub + 1);
  // A hand-made account without a RID still gets a stable one.
  const auto rid = Details(d, a).rid;
  sub[4] = rid ? *rid : kFirstRid + Fnv1a(ToLowerAscii(a.name), 4) % 1000000u;
  AccountSid sid;
  sid.bytes = {1, 5, 0, 0, 0, 0, 0, 5};
  sid.text = "S-1-5";
  for (const DWORD v : sub) {
    for (int shift = 0; shift < 32; shift += 8) sid.bytes.push_back(static_cast<BYTE>(v >> shift));
    sid.text += "-" + std::to_string(v);
  }
  return sid;
}

// ---- Writing ----

ProfileChange Set(std::string section, std::string key, std::string value) {
  return ProfileChange{std::move(section), std::move(key), std::move(value)};
}

ProfileChange DropSection(std::string section) {
  return ProfileChange{std::move(section), std::string(), std::nullopt};
}

DWORD EnsureDomainsFolder() {
  const std::string folder = DomainsFolder();
  if (folder.empty()) return ERROR_PATH_NOT_FOUND;
  const DWORD err = CreateDirectory(HostToWindowsPath(folder));
  return err == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : err;
}

DWORD ValidControllers(std::string_view pdc, const std::vector<std::string>& bdcs,
                       std::string* pdcName, std::string* bdcList) {
  *pdcName = std::string(StripServerPrefix(pdc));
  if (!ValidDomainName(*pdcName)) return ERROR_INVALID_NAME;
  std::vector<std::string> names;
  for (const auto& b : bdcs) {
    std::string name(StripServerPrefix(b));
    if (!ValidDomainName(name)) return ERROR_INVALID_NAME;
    if (!EqualsIgnoringCase(name, *pdcName) && !ContainsIgnoringCase(names, name)) {
      names.push_back(std::move(name));
    }
  }
  *bdcList = JoinList(names);
  return ERROR_SUCCESS;
}

// The error that says `name` is already taken in `d`, or ERROR_SUCCESS.
DWORD NameTaken(Domain& d, std::string_view name) {
  const auto kind = KindOf(d, name);
  if (!kind) return ERROR_SUCCESS;
  return *kind == Kind::User ? NERR_UserExists : *kind == Kind::Group ? NERR_GroupExists
                                                                      : ERROR_ALIAS_EXISTS;
}

DWORD AddAccount(std::string_view domain, Kind kind, std::string_view name, std::string_view text,
                 const std::vector<std::string>& groups) {
  if (!ValidName(name, kind == Kind::User ? kMaxUserName : kMaxGroupName)) return ERROR_INVALID_NAME;
  if (text.find_first_of("\r\n") != std::string_view::npos) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(adminMutex);
  Domain d;
  if (DWORD err = LoadDomain(domain, &d); err != ERROR_SUCCESS) return err;
  if (DWORD err = NameTaken(d, name); err != ERROR_SUCCESS) return err;
  std::vector<std::string> stored;
  for (const auto& g : groups) {
    const Account* group = FindAccount(d.groups, g);
    if (!group) return NERR_GroupNotFound;
    if (!ContainsIgnoringCase(stored, group->name)) stored.push_back(group->name);
  }
  const std::string section = SectionOf(kind, std::string(name));
  std::vector<ProfileChange> changes;
  if (kind == Kind::User) {
    changes.push_back(Set(section, "FullName", std::string(text)));
    changes.push_back(Set(section, "Groups", JoinList(stored)));
  } else {
    changes.push_back(Set(section, "Comment", std::string(text)));
    if (kind == Kind::LocalGroup) changes.push_back(Set(section, "Members", ""));
  }
  const DWORD rid = NextRid(d);
  changes.push_back(Set(section, "RID", std::to_string(rid)));
  changes.push_back(Set(kDomainSection, "NextRid", std::to_string(rid + 1)));
  return ProfileApply(d.file, changes);
}

// Drops every local-group member entry of every domain that names `member`
// ("DOMAIN\name", or "DOMAIN\*" for all accounts of a domain).
DWORD DropMemberEverywhere(std::string_view memberDomain, std::string_view memberName) {
  DWORD result = ERROR_SUCCESS;
  for (const auto& name : ListDomainNames()) {
    Domain d;
    if (LoadDomain(name, &d) != ERROR_SUCCESS) continue;
    std::vector<ProfileChange> changes;
    for (auto& lg : d.localGroups) {
      std::vector<std::string> kept;
      for (const auto& entry : Details(d, lg).list) {
        std::string_view dom, acc;
        SplitAccount(entry, &dom, &acc);
        if (dom.empty()) dom = d.name;
        const bool named = EqualsIgnoringCase(dom, memberDomain) &&
                           (memberName == "*" || EqualsIgnoringCase(acc, memberName));
        if (!named) kept.push_back(entry);
      }
      if (kept.size() != Details(d, lg).list.size()) {
        changes.push_back(Set(SectionOf(Kind::LocalGroup, lg.name), "Members", JoinList(kept)));
      }
    }
    if (!changes.empty()) {
      if (DWORD err = ProfileApply(d.file, changes); err != ERROR_SUCCESS) result = err;
    }
  }
  return result;
}

// Resolves a local group member to its "DOMAIN\name" entry.
DWORD LocalGroupEntry(Domain& d, std::string_view member, std::string* entry) {
  std::string_view dom, name;
  SplitAccount(member, &dom, &name);
  Domain other;
  Domain* owner = &d;
  if (!dom.empty() && !EqualsIgnoringCase(dom, d.name)) {
    if (LoadDomain(dom, &other) != ERROR_SUCCESS) return ERROR_NO_SUCH_MEMBER;
    owner = &other;
  }
  const auto kind = KindOf(*owner, name);
  if (!kind) return ERROR_NO_SUCH_MEMBER;
  if (*kind == Kind::LocalGroup) return ERROR_INVALID_MEMBER;
  *entry = owner->name + "\\" + FindAccount(owner->Accounts(*kind), name)->name;
  return ERROR_SUCCESS;
}

// The user of a global-group membership: "user" or "DOMAIN\user" of `d`.
Account* GlobalGroupMember(Domain& d, std::string_view member) {
  std::string_view dom, name;
  SplitAccount(member, &dom, &name);
  if (!dom.empty() && !EqualsIgnoringCase(dom, d.name)) return nullptr;
  return FindAccount(d.users, name);
}

DWORD ChangeMember(std::string_view domain, std::string_view container, std::string_view member,
                   bool add) {
  std::lock_guard<std::mutex> lock(adminMutex);
  Domain d;
  if (DWORD err = LoadDomain(domain, &d); err != ERROR_SUCCESS) return err;
  if (const Account* group = FindAccount(d.groups, container)) {
    Account* user = GlobalGroupMember(d, member);
    if (!user) return NERR_UserNotFound;
    std::vector<std::string> groups = Details(d, *user).list;
    const auto it = std::find_if(groups.begin(), groups.end(), [&](const std::string& g) {
      return EqualsIgnoringCase(g, group->name);
    });
    if (add) {
      if (it != groups.end()) return NERR_UserInGroup;
      groups.push_back(group->name);
    } else {
      if (it == groups.end()) return NERR_UserNotInGroup;
      groups.erase(it);
    }
    return ProfileWriteString(d.file, SectionOf(Kind::User, user->name), "Groups", JoinList(groups));
  }
  Account* lg = FindAccount(d.localGroups, container);
  if (!lg) return NERR_GroupNotFound;
  std::vector<std::string> members = Details(d, *lg).list;
  auto matches = [&](std::string_view entry, std::string_view wanted) {
    std::string_view eDom, eName, wDom, wName;
    SplitAccount(entry, &eDom, &eName);
    SplitAccount(wanted, &wDom, &wName);
    if (eDom.empty()) eDom = d.name;
    if (wDom.empty()) wDom = d.name;
    return EqualsIgnoringCase(eDom, wDom) && EqualsIgnoringCase(eName, wName);
  };
  const auto it = std::find_if(members.begin(), members.end(),
                               [&](const std::string& e) { return matches(e, member); });
  if (add) {
    std::string entry;
    if (DWORD err = LocalGroupEntry(d, member, &entry); err != ERROR_SUCCESS) return err;
    if (it != members.end()) return ERROR_MEMBER_IN_ALIAS;
    members.push_back(entry);
  } else {
    // Removal needs no live account: it also clears an entry left by hand.
    if (it == members.end()) return ERROR_MEMBER_NOT_IN_ALIAS;
    members.erase(it);
  }
  return ProfileWriteString(d.file, SectionOf(Kind::LocalGroup, lg->name), "Members",
                            JoinList(members));
}

}  // namespace

std::string NetErrorText(DWORD error) {
  switch (error) {
    case NERR_GroupNotFound: return "The group name could not be found.";
    case NERR_UserNotFound: return "The user name could not be found.";
    case NERR_GroupExists: return "The group already exists.";
    case NERR_UserExists: return "The account already exists.";
    case NERR_UserInGroup: return "The user already belongs to this group.";
    case NERR_UserNotInGroup: return "The user does not belong to this group.";
    case NERR_DCNotFound: return "Could not find domain controller for this domain.";
    case ERROR_NO_SUCH_DOMAIN: return "The specified domain either does not exist or could not be contacted.";
    case ERROR_DOMAIN_EXISTS: return "The specified domain already exists.";
    case ERROR_MEMBER_NOT_IN_ALIAS: return "The specified account name is not a member of the group.";
    case ERROR_MEMBER_IN_ALIAS: return "The specified account name is already a member of the group.";
    case ERROR_ALIAS_EXISTS: return "The specified local group already exists.";
    case ERROR_NO_SUCH_MEMBER: return "A new member could not be added to a local group because the member does not exist.";
    case ERROR_INVALID_MEMBER: return "A new member could not be added to a local group because the member has the wrong account type.";
    default: return ErrorText(error);
  }
}

DWORD NetGetDCName(std::string_view server, std::string_view domain, std::string* dcName) {
  std::string computer, root;
  if (DWORD err = ResolveServer(server, &computer, &root); err != ERROR_SUCCESS) return err;
  const std::string wanted = domain.empty() ? MachineDomain(root) : std::string(domain);
  Domain d;
  if (wanted.empty() || LoadDomain(wanted, &d, false) != ERROR_SUCCESS) return NERR_DCNotFound;
  std::string pdcRoot;
  if (d.pdc.empty() || FindMachine(d.pdc, &pdcRoot, true) != ERROR_SUCCESS) return NERR_DCNotFound;
  *dcName = "\\\\" + FolderName(pdcRoot);
  return NERR_Success;
}

DWORD NetUserGetGroups(std::string_view server, std::string_view user,
                       std::vector<std::string>* groups) {
  groups->clear();
  std::string computer, root;
  if (DWORD err = ResolveServer(server, &computer, &root); err != ERROR_SUCCESS) return err;
  Domain d;
  if (!LoadControlledDomain(computer, root, &d, false)) return NERR_UserNotFound;
  const Account* account = Lookup(d, Kind::User, user);
  if (!account) return NERR_UserNotFound;
  *groups = GroupsOf(d, *account);
  return NERR_Success;
}

DWORD NetUserGetLocalGroups(std::string_view server, std::string_view user, DWORD flags,
                            std::vector<std::string>* groups) {
  groups->clear();
  std::string computer, root;
  if (DWORD err = ResolveServer(server, &computer, &root); err != ERROR_SUCCESS) return err;
  Domain d;
  const bool controller = LoadControlledDomain(computer, root, &d);
  std::string_view userDomain, userName;
  SplitAccount(user, &userDomain, &userName);
  std::string ownerName(userDomain);
  if (ownerName.empty()) ownerName = controller ? d.name : MachineDomain(root);

  Domain other;
  Domain* owner = &d;
  if (!controller || !EqualsIgnoringCase(ownerName, d.name)) {
    if (LoadDomain(ownerName, &other) != ERROR_SUCCESS) return NERR_UserNotFound;
    owner = &other;
  }
  const Account* account = FindAccount(owner->users, userName);
  if (!account) return NERR_UserNotFound;
  if (!controller) return NERR_Success;

  const std::vector<std::string> userGroups =
      (flags & LG_INCLUDE_INDIRECT) ? GroupsOf(*owner, *account) : std::vector<std::string>();
  for (const auto& lg : d.localGroups) {
    const auto& members = Details(d, lg).list;
    const bool holds = std::any_of(members.begin(), members.end(), [&](const std::string& entry) {
      std::string_view dom, name;
      SplitAccount(entry, &dom, &name);
      if (!EqualsIgnoringCase(dom.empty() ? std::string_view(d.name) : dom, owner->name)) return false;
      return EqualsIgnoringCase(name, account->name) || ContainsIgnoringCase(userGroups, name);
    });
    if (holds) groups->push_back(lg.name);
  }
  return NERR_Success;
}

DWORD NetGroupGetUsers(std::string_view server, std::string_view group, DWORD prefMaxLen,
                       std::vector<std::string>* users, DWORD* entriesRead, DWORD* totalEntries,
                       DWORD* resumeHandle) {
  if (!users || !entriesRead || !totalEntries) return ERROR_INVALID_PARAMETER;
  users->clear();
  *entriesRead = *totalEntries = 0;
  std::string computer, root;
  if (DWORD err = ResolveServer(server, &computer, &root); err != ERROR_SUCCESS) return err;
  Domain d;
  if (!LoadControlledDomain(computer, root, &d)) return NERR_GroupNotFound;
  const Account* g = FindAccount(d.groups, group);
  if (!g) return NERR_GroupNotFound;
  std::vector<const Account*> all;
  for (const auto& u : d.users) {
    if (ContainsIgnoringCase(Details(d, u).list, g->name)) all.push_back(&u);
  }
  const std::size_t start = std::min<std::size_t>(resumeHandle ? *resumeHandle : 0, all.size());
  std::uint64_t used = 0;
  std::size_t next = start;
  while (next < all.size()) {
    const std::uint64_t cost = 4 + 2 * (all[next]->name.size() + 1);
    if (next > start && used + cost > prefMaxLen) break;
    used += cost;
    users->push_back(all[next]->name);
    ++next;
  }
  *entriesRead = static_cast<DWORD>(users->size());
  *totalEntries = static_cast<DWORD>(all.size());
  const bool more = next < all.size();
  if (resumeHandle) *resumeHandle = more ? static_cast<DWORD>(next) : 0;
  return more ? ERROR_MORE_DATA : NERR_Success;
}

DWORD LookupAccountName(std::string_view system, std::string_view accountName, AccountSid* sid,
                        std::string* referencedDomain, SID_NAME_USE* use) {
  std::string computer, root;
  if (ResolveServer(system, &computer, &root) != ERROR_SUCCESS) return RPC_S_SERVER_UNAVAILABLE;
  std::string_view domainPart, name;
  SplitAccount(accountName, &domainPart, &name);
  if (name.empty()) return ERROR_NONE_MAPPED;

  std::vector<std::string> candidates;
  if (!domainPart.empty()) {
    candidates.emplace_back(domainPart);
  } else {
    const std::string own = MachineDomain(root);
    if (!own.empty()) candidates.push_back(own);
    for (auto& n : ListDomainNames()) {
      if (!EqualsIgnoringCase(n, own)) candidates.push_back(std::move(n));
    }
  }
  for (const auto& candidate : candidates) {
    Domain d;
    if (LoadDomain(candidate, &d, false) != ERROR_SUCCESS || !AnyControllerUp(d)) continue;
    for (const auto& [kind, type] : {std::pair{Kind::User, SidTypeUser},
                                     std::pair{Kind::Group, SidTypeGroup},
                                     std::pair{Kind::LocalGroup, SidTypeAlias}}) {
      if (const Account* a = Lookup(d, kind, name)) {
        if (sid) *sid = MakeAccountSid(d, *a);
        if (referencedDomain) *referencedDomain = d.name;
        if (use) *use = type;
        return ERROR_SUCCESS;
      }
    }
  }
  return ERROR_NONE_MAPPED;
}

BOOL LookupAccountNameA(const char* systemName, const char* accountName, BYTE* sid,
                        DWORD* sidSize, char* domain, DWORD* domainSize, SID_NAME_USE* use) {
  if (!accountName || !sidSize || !domainSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  AccountSid found;
  std::string foundDomain;
  SID_NAME_USE foundUse = SidTypeUser;
  const DWORD err = LookupAccountName(systemName ? systemName : "", accountName, &found,
                                      &foundDomain, &foundUse);
  if (err != ERROR_SUCCESS) {
    SetLastError(err);
    return FALSE;
  }
  const DWORD sidNeeded = static_cast<DWORD>(found.bytes.size());
  const DWORD domainNeeded = static_cast<DWORD>(foundDomain.size() + 1);
  if (!sid || *sidSize < sidNeeded || !domain || *domainSize < domainNeeded) {
    *sidSize = sidNeeded;
    *domainSize = domainNeeded;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(sid, found.bytes.data(), sidNeeded);
  *sidSize = sidNeeded;
  std::memcpy(domain, foundDomain.c_str(), domainNeeded);
  *domainSize = domainNeeded - 1;
  if (use) *use = foundUse;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD NetServerEnum(std::string_view domain, DWORD serverType, std::vector<ServerInfo>* servers) {
  servers->clear();
  const std::string network = NetworkFolder();
  if (network.empty()) return ERROR_BAD_NETPATH;
  std::vector<FindData> entries;
  if (DWORD err = FindFiles(HostToWindowsPath(network) + "\\*", &entries); err != ERROR_SUCCESS) {
    return err == ERROR_PATH_NOT_FOUND || err == ERROR_FILE_NOT_FOUND ? ERROR_BAD_NETPATH : err;
  }
  std::vector<Domain> domains;
  for (const auto& name : ListDomainNames()) {
    Domain d;
    if (LoadDomain(name, &d) == ERROR_SUCCESS) domains.push_back(std::move(d));
  }
  for (const auto& e : entries) {
    if (!e.isDirectory || e.name == "." || e.name == "..") continue;
    std::string root;
    if (FindMachine(e.name, &root, true) != ERROR_SUCCESS) continue;  // not a machine, or down
    MachineConfig config;
    if (ReadMachineConfig(root, &config) != ERROR_SUCCESS) continue;
    if (!domain.empty() && !EqualsIgnoringCase(domain, config.domain)) continue;
    ServerInfo info;
    info.name = e.name;
    info.domain = config.domain;
    const auto dot = config.osVersion.find('.');
    info.versionMajor = ParseDword(config.osVersion.substr(0, dot)).value_or(0);
    if (dot != std::string::npos) {
      info.versionMinor = ParseDword(config.osVersion.substr(dot + 1)).value_or(0);
    }
    info.type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;
    RegKey hklm, rasKey;
    if (RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) == ERROR_SUCCESS &&
        hklm.OpenSubKey(kRemoteAccessKey, &rasKey) == ERROR_SUCCESS) {
      info.type |= SV_TYPE_DIALIN_SERVER;
    }
    for (const auto& d : domains) {
      if (EqualsIgnoringCase(d.pdc, e.name)) info.type |= SV_TYPE_DOMAIN_CTRL;
      if (ContainsIgnoringCase(d.bdcs, e.name)) info.type |= SV_TYPE_DOMAIN_BAKCTRL;
    }
    if ((info.type & serverType) != 0) servers->push_back(std::move(info));
  }
  std::sort(servers->begin(), servers->end(), [](const ServerInfo& a, const ServerInfo& b) {
    return LessIgnoringCase(a.name, b.name);
  });
  return NERR_Success;
}

// ---- Administration ----

DWORD DomainCreate(std::string_view domain, std::string_view pdc,
                   const std::vector<std::string>& bdcs) {
  if (!ValidDomainName(domain)) return ERROR_INVALID_NAME;
  std::string pdcName, bdcList;
  if (DWORD err = ValidControllers(pdc, bdcs, &pdcName, &bdcList); err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> lock(adminMutex);
  std::string stored, file;
  if (FindDomainFile(domain, &stored, &file)) return ERROR_DOMAIN_EXISTS;
  if (DWORD err = EnsureDomainsFolder(); err != ERROR_SUCCESS) return err;
  file = HostToWindowsPath(DomainsFolder() + "/" + std::string(domain) + ".ini");
  return ProfileApply(file, {Set(kDomainSection, "PDC", pdcName), Set(kDomainSection, "BDC", bdcList),
                             Set(kDomainSection, "SID", MakeDomainSid(domain)),
                             Set(kDomainSection, "NextRid", std::to_string(kFirstRid))});
}

DWORD DomainDelete(std::string_view domain) {
  std::lock_guard<std::mutex> lock(adminMutex);
  std::string stored, file;
  if (!FindDomainFile(domain, &stored, &file)) return ERROR_NO_SUCH_DOMAIN;
  if (DWORD err = DeleteFile(file); err != ERROR_SUCCESS) return err;
  return DropMemberEverywhere(stored, "*");
}

DWORD DomainSetControllers(std::string_view domain, std::string_view pdc,
                           const std::vector<std::string>& bdcs) {
  std::string pdcName, bdcList;
  if (DWORD err = ValidControllers(pdc, bdcs, &pdcName, &bdcList); err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> lock(adminMutex);
  std::string stored, file;
  if (!FindDomainFile(domain, &stored, &file)) return ERROR_NO_SUCH_DOMAIN;
  return ProfileApply(file, {Set(kDomainSection, "PDC", pdcName), Set(kDomainSection, "BDC", bdcList)});
}

DWORD DomainAddUser(std::string_view domain, std::string_view user, std::string_view fullName,
                    const std::vector<std::string>& groups) {
  return AddAccount(domain, Kind::User, user, fullName, groups);
}

DWORD DomainAddGroup(std::string_view domain, std::string_view group, std::string_view comment) {
  return AddAccount(domain, Kind::Group, group, comment, {});
}

DWORD DomainAddLocalGroup(std::string_view domain, std::string_view localGroup,
                          std::string_view comment) {
  return AddAccount(domain, Kind::LocalGroup, localGroup, comment, {});
}

DWORD DomainAddMember(std::string_view domain, std::string_view container,
                      std::string_view member) {
  return ChangeMember(domain, container, member, true);
}

DWORD DomainRemoveMember(std::string_view domain, std::string_view container,
                         std::string_view member) {
  return ChangeMember(domain, container, member, false);
}

DWORD DomainRemoveAccount(std::string_view domain, std::string_view name) {
  std::lock_guard<std::mutex> lock(adminMutex);
  Domain d;
  if (DWORD err = LoadDomain(domain, &d); err != ERROR_SUCCESS) return err;
  const auto kind = KindOf(d, name);
  if (!kind) return NERR_UserNotFound;
  const std::string stored = FindAccount(d.Accounts(*kind), name)->name;
  std::vector<ProfileChange> changes{DropSection(SectionOf(*kind, stored))};
  if (*kind == Kind::Group) {
    for (const auto& u : d.users) {
      if (!ContainsIgnoringCase(Details(d, u).list, stored)) continue;
      std::vector<std::string> kept;
      for (const auto& g : Details(d, u).list) {
        if (!EqualsIgnoringCase(g, stored)) kept.push_back(g);
      }
      changes.push_back(Set(SectionOf(Kind::User, u.name), "Groups", JoinList(kept)));
    }
  }
  if (DWORD err = ProfileApply(d.file, changes); err != ERROR_SUCCESS) return err;
  return *kind == Kind::LocalGroup ? ERROR_SUCCESS : DropMemberEverywhere(d.name, stored);
}

DWORD DomainList(std::vector<std::string>* domains) {
  *domains = ListDomainNames();
  return ERROR_SUCCESS;
}

DWORD DomainRead(std::string_view domain, DomainInfo* info) {
  Domain d;
  if (DWORD err = LoadDomain(domain, &d); err != ERROR_SUCCESS) return err;
  *info = DomainInfo{};
  info->name = d.name;
  info->pdc = d.pdc;
  info->bdcs = d.bdcs;
  DWORD sub[3] = {0, 0, 0};
  DomainSubAuthorities(d, sub);
  info->sid = "S-1-5-21-" + std::to_string(sub[0]) + "-" + std::to_string(sub[1]) + "-" +
              std::to_string(sub[2]);
  for (const auto& u : d.users) {
    info->users.push_back(DomainUser{u.name, Details(d, u).text, GroupsOf(d, u)});
  }
  for (const auto& g : d.groups) {
    DomainGroup group{g.name, Details(d, g).text, {}};
    for (const auto& u : d.users) {
      if (ContainsIgnoringCase(Details(d, u).list, g.name)) group.members.push_back(u.name);
    }
    info->groups.push_back(std::move(group));
  }
  for (const auto& lg : d.localGroups) {
    info->localGroups.push_back(DomainGroup{lg.name, Details(d, lg).text, Details(d, lg).list});
  }
  return ERROR_SUCCESS;
}

}  // namespace plat
