#include "common/package_list.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace common {

namespace {

constexpr const char* kFilesSection = "Files";

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

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

std::uint32_t Crc32(std::string_view data) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

plat::DWORD ReadPackageList(std::string_view folder, std::map<std::string, PackageEntry>* entries) {
  const std::string list = ListPath(folder);
  if (!plat::FileExists(list)) return plat::ERROR_FILE_NOT_FOUND;
  const auto lines = plat::ProfileReadSection(list, kFilesSection);
  if (!lines || lines->empty()) return plat::ERROR_INVALID_DATA;
  std::map<std::string, PackageEntry> read;
  for (const auto& [name, value] : *lines) {
    PackageEntry entry;
    if (!ParseEntry(value, &entry)) return plat::ERROR_INVALID_DATA;
    read[plat::ToLowerAscii(name)] = entry;
  }
  *entries = std::move(read);
  return plat::ERROR_SUCCESS;
}

plat::DWORD WritePackageEntry(std::string_view folder, std::string_view name,
                              const PackageEntry& entry) {
  char line[600];
  std::snprintf(line, sizeof line, "%s,%" PRIu64 ",%08" PRIX32, entry.compressedName.c_str(),
                entry.size, entry.crc);
  return plat::ProfileWriteString(ListPath(folder), kFilesSection, name, line);
}

}  // namespace common
