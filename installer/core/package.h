// The installation folder: setup, and beside it every file it installs,
// compressed in the expand utility's format under its compressed name
// ("pladmin.ex_"), and the list of them, setup.ini:
//
//   [Files]
//   pladmin.exe=pladmin.ex_,1234567,9F3A02C1     compressed name, size, CRC-32
//
// The list lets setup tell a missing or damaged file before it changes
// anything on the machine.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace setup {

using plat::DWORD;

inline constexpr const char* kPackageListName = "setup.ini";

struct PackageEntry {
  std::string compressedName;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

class Package {
 public:
  // Reads the list in folder `folder` (a Windows path). ERROR_FILE_NOT_FOUND
  // when it is missing, ERROR_INVALID_DATA when it lists nothing or a line is
  // malformed.
  static DWORD Open(std::string_view folder, Package* out);

  const std::string& folder() const { return folder_; }
  bool Lists(std::string_view name) const;

  // Expands the file installed as `name` into *contents, checked against the
  // list. On failure *message says what is wrong in words for the user and
  // *contents is left empty: ERROR_FILE_NOT_FOUND (not listed, or missing),
  // ERROR_INVALID_DATA (damaged or truncated).
  DWORD Expand(std::string_view name, std::string* contents, std::string* message) const;

 private:
  std::string folder_;
  std::map<std::string, PackageEntry> entries_;  // key: lower-case installed name
};

// Adds or replaces one file's line of the list in `folder` (plcompress).
DWORD WritePackageEntry(std::string_view folder, std::string_view name, const PackageEntry& entry);

}  // namespace setup
