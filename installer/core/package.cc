#include "installer/core/package.h"

#include "installer/core/szdd_expand.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"

namespace setup {

DWORD Package::Open(std::string_view folder, Package* out) {
  Package package;
  package.folder_ = std::string(folder);
  while (!package.folder_.empty() && package.folder_.back() == '\\') package.folder_.pop_back();
  if (DWORD err = common::ReadPackageList(package.folder_, &package.entries_);
      err != plat::ERROR_SUCCESS)
    return err;
  *out = std::move(package);
  return plat::ERROR_SUCCESS;
}

bool Package::Lists(std::string_view name) const {
  return entries_.count(plat::ToLowerAscii(name)) != 0;
}

DWORD Package::Expand(std::string_view name, std::string* contents, std::string* message) const {
  contents->clear();
  const auto found = entries_.find(plat::ToLowerAscii(name));
  if (found == entries_.end()) {
    *message = "The installation files do not include " + std::string(name) + ".";
    return plat::ERROR_FILE_NOT_FOUND;
  }
  const std::string source = folder_ + "\\" + found->second.compressedName;
  std::string compressed;
  if (DWORD err = plat::ReadWholeFile(source, &compressed); err != plat::ERROR_SUCCESS) {
    *message = "The installation file " + found->second.compressedName + " is missing (error " +
               std::to_string(err) + ").";
    return plat::ERROR_FILE_NOT_FOUND;
  }
  std::string plain;
  if (ExpandSzdd(compressed, &plain) != plat::ERROR_SUCCESS || plain.size() != found->second.size ||
      common::Crc32(plain) != found->second.crc) {
    *message = "The installation file " + found->second.compressedName +
               " is damaged or incomplete. Copy the installation files again.";
    return plat::ERROR_INVALID_DATA;
  }
  *contents = std::move(plain);
  return plat::ERROR_SUCCESS;
}

}  // namespace setup
