#include "installer/core/install_choices.h"

#include <cctype>

#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace setup {

InstallChoices DefaultChoices() {
  InstallChoices c;
  std::string programFiles;
  if (plat::RegReadString(plat::kWindowsCurrentVersionKey, "ProgramFilesDir", &programFiles) != 0 ||
      programFiles.empty()) {
    programFiles = "C:\\Program Files";
  }
  c.installPath = AppendPortulon(programFiles);
  c.primaryName = plat::GetComputerName();
  return c;
}

std::string NormalizeInstallPath(std::string_view path) {
  std::string p(path);
  while (p.size() > 3 && p.back() == '\\') p.pop_back();  // "C:\" keeps its root
  return p;
}

std::string AppendPortulon(std::string_view folder) {
  std::string path(folder);
  if (path.empty() || path.back() != '\\') path += '\\';
  return path + "Portulon";
}

std::string CheckInstallPath(std::string_view pathIn) {
  const std::string path = NormalizeInstallPath(pathIn);
  if (path.empty()) return "Please enter the folder to install Portulon into.";
  if (path.size() > kMaxInstallPath) {
    return "The install path is too long: it may have at most " + std::to_string(kMaxInstallPath) +
           " characters.";
  }
  if (path.find_first_of("\"*?<>|") != std::string::npos) {
    return "The install path may not contain any of the characters \" * ? < > |.";
  }
  for (unsigned char c : path) {
    if (c < 0x20) return "The install path may not contain control characters.";
  }
  const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && path[2] == '\\';
  if (!drive) return "Please give the install path with its drive, as in C:\\Program Files\\Portulon.";
  if (path.find(':', 2) != std::string::npos) return "The install path may contain ':' only after the drive letter.";
  // Removing Portulon removes its folder: a drive's root is never one.
  if (path.size() == 3) return "Please choose a folder for Portulon, not the root of drive " + path.substr(0, 2) + ".";
  return "";
}

std::string CheckAccountForm(std::string* account) {
  for (char& c : *account) {
    if (c == '/') c = '\\';
  }
  const size_t slash = account->find('\\');
  if (account->empty() || slash == std::string::npos || slash + 1 == account->size()) {
    return kAccountFormMessage;
  }
  return "";
}

std::string CheckComputerName(std::string_view name) {
  if (name.empty()) return "Please enter the primary server's computer name.";
  if (name.size() > kMaxComputerName) return "A computer name has at most 100 characters.";
  if (name.find_first_of("\\/:*?\"<>| ") != std::string::npos) {
    return "A computer name may not contain blanks or any of \\ / : * ? \" < > |.";
  }
  return "";
}

}  // namespace setup

namespace setup {

unsigned long VerifyAccount(std::string_view account) {
  const size_t slash = account.find('\\');
  const std::string_view name = slash == std::string_view::npos ? account : account.substr(slash + 1);
  plat::AccountSid sid;
  std::string domain;
  plat::SID_NAME_USE use;
  return plat::LookupAccountName("", name, &sid, &domain, &use);
}

std::string AccountLookupQuestion(unsigned long error) {
  return "Failed to verify the account or password. The account might not\nexist, or the password was "
         "wrongly entered. Error code " +
         std::to_string(error) + ".\n\nDo you want to continue anyway?";
}

}  // namespace setup
