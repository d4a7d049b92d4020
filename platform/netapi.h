// Network management and account lookup: domain controllers, users, global
// and local groups, account names to SIDs, and the servers of the network.
//
// Every domain of the network is one profile file, <network>/domains/<DOMAIN>.ini,
// read and written only through profile.h (so every change is one atomic,
// locked rewrite):
//
//   [Domain]                    PDC=SRV1   BDC=SRV2;SRV3   SID=S-1-5-21-a-b-c   NextRid=1004
//   [User:ann]                  FullName=Ann Smith   Groups=Sales;Dialers   RID=1000
//   [Group:Sales]               Comment=...   RID=1001
//   [LocalGroup:RAS Users]      Comment=...   Members=DOM\bob;DOM\Sales;OTHER\eve   RID=1003
//
// Global group membership is kept on the user (Groups); a local group lists
// its members, each a user or a global group of any domain of the network
// written DOMAIN\name. A local group that holds a global group holds its
// users indirectly. Within a domain one name is one account: a user, a global
// group or a local group.
//
// Domain, account and machine names compare case-insensitively and come back
// in their stored spelling. A server argument names a machine of the network
// as "\\NAME" or "NAME"; "" is the current machine.
//
// A domain controller (the PDC or a BDC of a domain) answers only while its
// machine folder is in the network and not down (machine.h). The calls that
// ask a server fail with ERROR_BAD_NETPATH when that server is unknown or
// down. A server that is not a controller of any domain has no accounts of
// its own here.
//
// All calls are thread-safe. Administration (the Domain* calls) is a
// read-modify-write of one or more domain files: calls of one process are
// serialised, but two processes changing the same list at once may lose one
// change (each file stays intact).
//
// Out parameters on failure: the list calls (groups, users, servers) leave an
// empty list, NetGroupGetUsers zero counts and its resume handle as it was;
// LookupAccountNameA sets both sizes on ERROR_INSUFFICIENT_BUFFER (below);
// every other out parameter (a DC name, SID, domain, account type, DomainRead's
// info) is left as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

// Network management status codes beside the Win32 codes of errors.h.
inline constexpr DWORD NERR_Success = 0;
inline constexpr DWORD NERR_GroupNotFound = 2220;
inline constexpr DWORD NERR_UserNotFound = 2221;
inline constexpr DWORD NERR_GroupExists = 2223;
inline constexpr DWORD NERR_UserExists = 2224;
inline constexpr DWORD NERR_UserInGroup = 2236;
inline constexpr DWORD NERR_UserNotInGroup = 2237;
inline constexpr DWORD NERR_DCNotFound = 2453;
inline constexpr DWORD ERROR_DOMAIN_EXISTS = 1356;
inline constexpr DWORD ERROR_MEMBER_NOT_IN_ALIAS = 1377;
inline constexpr DWORD ERROR_MEMBER_IN_ALIAS = 1378;
inline constexpr DWORD ERROR_ALIAS_EXISTS = 1379;
inline constexpr DWORD ERROR_NO_SUCH_MEMBER = 1387;
inline constexpr DWORD ERROR_INVALID_MEMBER = 1388;

// The text of a code of this header, else ErrorText (errors.h).
std::string NetErrorText(DWORD error);

inline constexpr DWORD LG_INCLUDE_INDIRECT = 0x1;
inline constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFF;

// ---- Queries, as a service asks them ----

// The primary domain controller of `domain` ("" = the primary domain of
// `server`), as "\\NAME". NERR_DCNotFound when the domain is unknown, or its
// PDC's machine is missing or down (a BDC does not stand in).
// ERROR_BAD_NETPATH when `server` is unknown or down.
DWORD NetGetDCName(std::string_view server, std::string_view domain, std::string* dcName);

// The global groups of `user` (a plain account name) in the domain whose
// controller `server` is. NERR_UserNotFound when that domain has no such user,
// or when `server` controls no domain.
DWORD NetUserGetGroups(std::string_view server, std::string_view user,
                       std::vector<std::string>* groups);

// The local groups of the domain that `server` controls which hold `user`
// ("DOMAIN\user", or "user" of the server's own domain) directly, and with
// LG_INCLUDE_INDIRECT also through one of the user's global groups. The user's
// domain may be another domain of the network; its data is read directly.
// NERR_UserNotFound when the user's domain has no such user. A server that
// controls no domain holds no local groups: the list is empty.
DWORD NetUserGetLocalGroups(std::string_view server, std::string_view user, DWORD flags,
                            std::vector<std::string>* groups);

// The users of global group `group` in the domain that `server` controls, in
// the order of the domain file, one page per call. A page holds as many names
// as fit in `prefMaxLen` bytes, each counted as Windows lays it out (a 4-byte
// pointer and the name in UTF-16 with its terminator), and at least one.
// `*resumeHandle` is 0 on the first call and carried between calls; the call
// returns ERROR_MORE_DATA while names remain and NERR_Success with the last
// page (and sets the handle back to 0); a null `resumeHandle` reads the first
// page. `users` receives this page only, `entriesRead` its size and
// `totalEntries` the size of the whole list. NERR_GroupNotFound for an unknown group.
DWORD NetGroupGetUsers(std::string_view server, std::string_view group, DWORD prefMaxLen,
                       std::vector<std::string>* users, DWORD* entriesRead,
                       DWORD* totalEntries, DWORD* resumeHandle);

// ---- Account names and SIDs ----

enum SID_NAME_USE : DWORD {
  SidTypeUser = 1,
  SidTypeGroup = 2,
  SidTypeDomain = 3,
  SidTypeAlias = 4,
};

// A SID of a domain account: S-1-5-21-a-b-c-RID, where a-b-c is the domain's
// (made up from its name when the domain is created, then kept in the file)
// and RID the account's.
struct AccountSid {
  std::vector<BYTE> bytes;  // binary form: revision, count, authority, sub-authorities (LE)
  std::string text;         // "S-1-5-21-a-b-c-RID"
};

// Finds the domain that holds `accountName` as the system `system` ("" = the
// current machine) would: "DOMAIN\name" is looked up in that domain only; a
// bare name in the system's own domain (DefaultDomainName of its registry)
// first, then in the other domains in alphabetical order. A domain takes part
// only while one of its controllers is up. ERROR_NONE_MAPPED when no domain
// has the account; RPC_S_SERVER_UNAVAILABLE when `system` is unknown or down.
DWORD LookupAccountName(std::string_view system, std::string_view accountName, AccountSid* sid,
                        std::string* referencedDomain, SID_NAME_USE* use);

// The same with the caller's buffers, as LookupAccountNameA: *sidSize bytes at
// `sid`, *domainSize characters at `domain`. When either is too small, both
// sizes are set to what is needed (the domain's counting its NUL) and the call
// fails with ERROR_INSUFFICIENT_BUFFER. On success *domainSize is the length
// without the NUL. FALSE on failure, the reason in GetLastError().
BOOL LookupAccountNameA(const char* systemName, const char* accountName, BYTE* sid,
                        DWORD* sidSize, char* domain, DWORD* domainSize, SID_NAME_USE* use);

// ---- The servers of the network ----

inline constexpr DWORD SV_TYPE_WORKSTATION = 0x00000001;
inline constexpr DWORD SV_TYPE_SERVER = 0x00000002;
inline constexpr DWORD SV_TYPE_DOMAIN_CTRL = 0x00000008;
inline constexpr DWORD SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
inline constexpr DWORD SV_TYPE_DIALIN_SERVER = 0x00000400;
inline constexpr DWORD SV_TYPE_NT = 0x00001000;
inline constexpr DWORD SV_TYPE_ALL = 0xFFFFFFFF;

struct ServerInfo {
  std::string name;    // computer name (the machine folder's name)
  std::string domain;  // the domain it belongs to (its DefaultDomainName); may be empty
  DWORD versionMajor = 0;
  DWORD versionMinor = 0;
  DWORD type = 0;      // SV_TYPE_* bits
};

// The machines of the network that are up and have any of the `serverType`
// bits, in alphabetical order; `domain` "" means every domain. Every machine
// is a workstation, server and NT machine; one with the remote-access service
// installed is a dial-in server; the PDC and BDCs of its domain are domain
// controllers. An empty network gives an empty list.
DWORD NetServerEnum(std::string_view domain, DWORD serverType, std::vector<ServerInfo>* servers);

// ---- The shares of this machine (the server's share table) ----
//
// The table is the registry's LanmanServer\Shares key (machine.h,
// kSharesKey): one REG_MULTI_SZ value per share, "Path=C:\...", "Remark=...".
// path.h resolves \\NAME\SHARE through it for the machines of the network
// folder. A machine whose host runs an SMB server publishes the table there
// too: when the values below are set under kShareParametersKey, every change
// rewrites the include file kSharePublishFile names (one section per share,
// `path` its host folder, `comment` its remark, writable; the server's own
// configuration includes the file and sets what all shares have in common:
// accounts, masks, oplocks) and then runs the command line
// kSharePublishCommand names (the server rereads its configuration). A share
// deleted is no longer served; a server that keeps its clients' connections
// to it until told is told by kShareUnpublishCommand, run with the share's
// name as one more argument. The file is named by its Windows name (Z:\...).
//
// The calls act on the current machine and are serialised between processes
// by a lock on the include file (without publishing: as far as the registry's
// own writes are).

inline constexpr const char* kShareParametersKey =
    "System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
inline constexpr const char* kSharePublishFile = "PublishFile";
inline constexpr const char* kSharePublishCommand = "PublishCommand";
inline constexpr const char* kShareUnpublishCommand = "UnpublishCommand";

inline constexpr DWORD NERR_ServerNotStarted = 2114;
inline constexpr DWORD NERR_UnknownDevDir = 2116;
inline constexpr DWORD NERR_DuplicateShare = 2118;
inline constexpr DWORD NERR_NetNameNotFound = 2310;

struct ShareInfo {
  std::string name;    // as stored; compared case-insensitively
  std::string path;    // a folder of a drive, "C:\Program Files\Portulon"
  std::string remark;
};

// Adds a share of an existing folder. ERROR_INVALID_NAME for an empty name or
// one holding \ / [ ] or a control character (or a path or remark holding a
// line break); NERR_UnknownDevDir when the path is no existing folder of a
// drive; NERR_DuplicateShare when the name is taken. When publishing:
// NERR_ServerNotStarted when the server could not take the new table (its
// command failed: the server is not running), and then nothing is changed
// (should even the undoing fail, the include file holds the change until the
// next one rewrites it; the first error is returned); the include file's own
// errors as they come.
DWORD NetShareAdd(const ShareInfo& share);
// Deletes a share. NERR_NetNameNotFound when there is none of that name;
// publishing as for NetShareAdd.
DWORD NetShareDel(std::string_view name);
// The shares of the table in registry order; empty without a table.
DWORD NetShareEnum(std::vector<ShareInfo>* shares);
// One share; NERR_NetNameNotFound when missing (the info then as it was).
DWORD NetShareGetInfo(std::string_view name, ShareInfo* share);

// ---- Domain administration (tests, demo, the pldomain tool) ----
// These change the domain files directly; the controllers need not be up.
// ERROR_NO_SUCH_DOMAIN for an unknown domain; ERROR_INVALID_NAME for a name
// that cannot be an account (empty, too long, blanks at either end, or one of
// " / \ [ ] : ; | = , + * ? < > or a control character).

DWORD DomainCreate(std::string_view domain, std::string_view pdc,
                   const std::vector<std::string>& bdcs = {});  // ERROR_DOMAIN_EXISTS
DWORD DomainDelete(std::string_view domain);
DWORD DomainSetControllers(std::string_view domain, std::string_view pdc,
                           const std::vector<std::string>& bdcs);

// The groups must exist (NERR_GroupNotFound, and nothing is added). A name
// already taken in the domain gives NERR_UserExists, NERR_GroupExists or
// ERROR_ALIAS_EXISTS after the kind of account that holds it.
DWORD DomainAddUser(std::string_view domain, std::string_view user, std::string_view fullName = {},
                    const std::vector<std::string>& groups = {});
DWORD DomainAddGroup(std::string_view domain, std::string_view group,
                     std::string_view comment = {});
DWORD DomainAddLocalGroup(std::string_view domain, std::string_view localGroup,
                          std::string_view comment = {});

// Adds `member` to `container`, a global or a local group of `domain`:
// - to a global group a user of the same domain ("user" or "DOMAIN\user");
//   NERR_UserNotFound, NERR_UserInGroup;
// - to a local group a user or global group of any domain of the network
//   ("name" means this domain); ERROR_NO_SUCH_MEMBER, ERROR_INVALID_MEMBER
//   (a local group), ERROR_MEMBER_IN_ALIAS.
// NERR_GroupNotFound when `container` is neither.
DWORD DomainAddMember(std::string_view domain, std::string_view container,
                      std::string_view member);
// Undoes DomainAddMember: NERR_UserNotInGroup, ERROR_MEMBER_NOT_IN_ALIAS.
DWORD DomainRemoveMember(std::string_view domain, std::string_view container,
                         std::string_view member);

// Removes a user, global group or local group, and every membership that
// names it in any domain of the network. NERR_UserNotFound when the domain
// has no account of that name.
DWORD DomainRemoveAccount(std::string_view domain, std::string_view name);

struct DomainUser {
  std::string name;
  std::string fullName;
  std::vector<std::string> groups;  // global groups, stored spelling
};
struct DomainGroup {
  std::string name;
  std::string comment;
  std::vector<std::string> members;  // global group: users; local group: DOMAIN\name entries
};
struct DomainInfo {
  std::string name;
  std::string pdc;
  std::vector<std::string> bdcs;
  std::string sid;  // "S-1-5-21-a-b-c"
  std::vector<DomainUser> users;
  std::vector<DomainGroup> groups;
  std::vector<DomainGroup> localGroups;
};

// Names of the domains of the network, alphabetical; empty without a domains folder.
DWORD DomainList(std::vector<std::string>* domains);
// Everything a domain file holds, in file order.
DWORD DomainRead(std::string_view domain, DomainInfo* info);

}  // namespace plat
