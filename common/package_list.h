// The installation folder's list of the files setup installs, setup.ini:
//
//   [Files]
//   pladmin.exe=pladmin.ex_,1234567,9F3A02C1     compressed name, size, CRC-32
//
// plcompress writes a line for each file it compresses into the folder;
// setup reads the list to tell a missing or damaged file before it changes
// anything on the machine.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace common {

inline constexpr const char* kPackageListName = "setup.ini";

struct PackageEntry {
  std::string compressedName;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;  // Crc32 of the file as installed
};

// CRC-32 (the one of zip and PNG).
std::uint32_t Crc32(std::string_view data);

// Reads the list in `folder` (a Windows path) into *entries, keyed by the
// lower-case installed name. ERROR_FILE_NOT_FOUND when it is missing,
// ERROR_INVALID_DATA when it lists nothing or a line is malformed; *entries
// is left untouched on failure.
plat::DWORD ReadPackageList(std::string_view folder, std::map<std::string, PackageEntry>* entries);

// Adds or replaces one file's line of the list in `folder`.
plat::DWORD WritePackageEntry(std::string_view folder, std::string_view name,
                              const PackageEntry& entry);

}  // namespace common
