// What setup installed, as pl_flush reads it back: the value InstalledFiles
// (REG_MULTI_SZ) of the component's key (Service or Client), one file name
// per line relative to the component's InstallPath. pl_flush deletes those
// names and no others, so an administrator's own files in the same folder
// survive the removal. The record goes with the key when pl_flush removes it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/product_keys.h"
#include "platform/win_types.h"

namespace pl_flush {

using common::kClientKey;
using common::kServiceKey;
inline constexpr const char* kInstalledFilesValue = "InstalledFiles";

// The names recorded under `componentKey`; false when there is no record
// (an installation by a setup that kept none).
bool ReadInstallRecord(std::string_view componentKey, std::vector<std::string>* names);

// Records `names` as installed into `installPath` under `componentKey`.
// Into the folder already recorded there the names are added (an upgrade
// keeps what the earlier version installed, such as the other hook module);
// into another folder they replace the record. Call it before InstallPath
// of that key is changed.
plat::DWORD RecordInstalledFiles(std::string_view componentKey, const std::string& installPath,
                                 const std::vector<std::string>& names);

// The names an installation without a record may have: what setup installs
// for each component. Only these are deleted then.
std::span<const char* const> KnownServerFiles();   // the server component's own
std::span<const char* const> KnownConsoleFiles();  // the console's own
std::span<const char* const> KnownSharedFiles();   // both install them

}  // namespace pl_flush
