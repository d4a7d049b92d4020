#include "installer/core/package.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "installer/core/szdd_expand.h"
#include "packaging/szdd/checksum.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/profile.h"

namespace setup {

namespace {

constexpr const char* kFilesSection = "Files";

std::string ListPath(std::string_view folder) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + kPackageListName;
}

// "pladmin.ex_,1234567,9F3A02C1"
bool ParseEntry(const std::string& text, PackageEntry* entry) {
  const size_t first = text.find(',');
  const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos || first == 0) return false;
  entry->compressedName = text.substr(0, first);
  const std::string size = text.substr(first + 1, second - first - 1);
  const std::string crc = text.substr(second + 1);
  char* end = nullptr;
  entry->size = std::strtoull(size.c_str(), &end, 10);
  if (size.empty() || *end) return false;
  entry->crc = static_cast<std::uint32_t>(std::strtoul(crc.c_str(), &end, 16));
  return !crc.empty() && !*end && entry->compressedName.find_first_of("\\/:") == std::string::npos;
}

}  // namespace

DWORD Package::Open(std::string_view folder, Package* out) {
  Package package;
  package.folder_ = std::string(folder);
  while (!package.folder_.empty() && package.folder_.back() == '\\') package.folder_.pop_back();
  const std::string list = ListPath(package.folder_);
  if (!plat::FileExists(list)) return plat::ERROR_FILE_NOT_FOUND;
  const auto lines = plat::ProfileReadSection(list, kFilesSection);
  if (!lines || lines->empty()) return plat::ERROR_INVALID_DATA;
  for (const auto& [name, value] : *lines) {
    PackageEntry entry;
    if (!ParseEntry(value, &entry)) return plat::ERROR_INVALID_DATA;
    package.entries_[plat::ToLowerAscii(name)] = entry;
  }
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
      szdd::Crc32(plain) != found->second.crc) {
    *message = "The installation file " + found->second.compressedName +
               " is damaged or incomplete. Copy the installation files again.";
    return plat::ERROR_INVALID_DATA;
  }
  *contents = std::move(plain);
  return plat::ERROR_SUCCESS;
}

DWORD WritePackageEntry(std::string_view folder, std::string_view name, const PackageEntry& entry) {
  char line[600];
  std::snprintf(line, sizeof line, "%s,%" PRIu64 ",%08" PRIX32, entry.compressedName.c_str(),
                entry.size, entry.crc);
  return plat::ProfileWriteString(ListPath(folder), kFilesSection, name, line);
}

}  // namespace setup
