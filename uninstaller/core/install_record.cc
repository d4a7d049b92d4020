#include "uninstaller/core/install_record.h"

#include <algorithm>

#include "common/data_folder.h"
#include "common/service_values.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace pl_flush {

namespace {

// The files every setup of this product has installed, by component.
constexpr const char* kServerFiles[] = {"plsvc.exe",  "pl_msg.dll",   "plcollect.exe", "_plsvc.dll",
                                        "PL_RAS.dll", "PL_RRAS.dll",  common::kSystemDataFile,
                                        common::kUsersFile, common::kCombinedLogFile};
// pl.hlp, pl.cnt and pl.gid: the console's help files of earlier versions.
constexpr const char* kConsoleFiles[] = {"pladmin.exe", "pl.hlp", "pl.cnt", "pl.gid"};
constexpr const char* kSharedFiles[] = {"readme.htm", "securitynotes.htm", "_pladmin.dll", "pluser.exe",
                                        "plsettings.exe"};

}  // namespace

bool ReadInstallRecord(std::string_view componentKey, std::vector<std::string>* names) {
  names->clear();
  plat::RegKey key;
  if (plat::RegKey::Open(plat::Hive::LocalMachine, componentKey, &key) != plat::ERROR_SUCCESS) return false;
  if (key.QueryMultiString(kInstalledFilesValue, names) != plat::ERROR_SUCCESS) return false;
  // A name is a file of the install folder itself, never a way out of it.
  std::erase_if(*names, [](const std::string& n) {
    return n.empty() || n == "." || n == ".." || n.find_first_of("\\/:") != std::string::npos;
  });
  return true;
}

plat::DWORD RecordInstalledFiles(std::string_view componentKey, const std::string& installPath,
                                 const std::vector<std::string>& names) {
  std::vector<std::string> record;
  std::string recordedPath;
  if (plat::RegReadString(componentKey, common::kInstallPathValue, &recordedPath) == plat::ERROR_SUCCESS &&
      plat::EqualsIgnoringCase(recordedPath, installPath)) {
    ReadInstallRecord(componentKey, &record);
  }
  for (const std::string& name : names) {
    const bool known = std::any_of(record.begin(), record.end(),
                                   [&](const std::string& r) { return plat::EqualsIgnoringCase(r, name); });
    if (!known) record.push_back(name);
  }
  plat::RegKey key;
  if (const plat::DWORD err = plat::RegKey::Create(plat::Hive::LocalMachine, componentKey, &key);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  return key.SetMultiString(kInstalledFilesValue, record);
}

std::span<const char* const> KnownServerFiles() { return kServerFiles; }
std::span<const char* const> KnownConsoleFiles() { return kConsoleFiles; }
std::span<const char* const> KnownSharedFiles() { return kSharedFiles; }

}  // namespace pl_flush
