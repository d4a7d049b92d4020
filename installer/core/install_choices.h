// What the wizard (or the unattended command line) decided, held for the
// whole run, and the rules that check each answer.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace setup {

using plat::DWORD;

enum class RasType { Ras, Rras };

struct InstallChoices {
  std::string installPath;    // no trailing backslash
  bool server = true;         // the server component
  bool console = true;        // the administration console
  bool multiple = false;      // other Portulon servers on the network
  bool master = true;         // this server is the primary server
  std::string primaryName;    // the primary server's computer name
  RasType ras = RasType::Ras;
  std::string account;        // DOMAIN\Account of the service's logon
  std::string password;
};

// The install path held in a 600-byte buffer: at most 599 characters.
inline constexpr size_t kMaxInstallPath = 599;
inline constexpr size_t kMaxComputerName = 100;

inline constexpr const char* kAccountFormMessage =
    "Please enter the account name in the form of DOMAIN\\Account.";

// Choices with the defaults: install path <ProgramFilesDir>\Portulon of the
// current machine, both components, a single server that is the primary one.
InstallChoices DefaultChoices();

// The install path as used: trailing backslashes removed.
std::string NormalizeInstallPath(std::string_view path);

// The folder browser's rule: the chosen folder with Portulon appended.
std::string AppendPortulon(std::string_view folder);

// "" when `path` can be an install path; otherwise what is wrong, for the
// user. A folder on a drive (C:\...; the data share needs one), not the
// drive's root, no more than kMaxInstallPath characters, none of the
// characters Windows refuses in names (" * ? < > |).
std::string CheckInstallPath(std::string_view path);

// Forward slashes become backslashes; "" when the result has the form
// DOMAIN\Account, else kAccountFormMessage.
std::string CheckAccountForm(std::string* account);

// "" when `name` can be a computer name, else what is wrong.
std::string CheckComputerName(std::string_view name);

}  // namespace setup

namespace setup {

// Looks up the account part after the backslash with the system's account
// lookup; the error code, 0 when the account exists.
unsigned long VerifyAccount(std::string_view account);

// The question shown when the lookup fails.
std::string AccountLookupQuestion(unsigned long error);

}  // namespace setup
