// The installation folder: setup, and beside it every file it installs,
// compressed in the expand utility's format under its compressed name
// ("pladmin.ex_"), and their list setup.ini (common/package_list.h), which
// lets setup tell a missing or damaged file before it changes anything on
// the machine.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "common/package_list.h"
#include "platform/win_types.h"

namespace setup {

using plat::DWORD;

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
  std::map<std::string, common::PackageEntry> entries_;  // key: lower-case installed name
};

}  // namespace setup
