#include "installer/tests/package_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/package_list.h"
#include "installer/core/install_files.h"
#include "packaging/szdd/szdd_compress.h"
#include "platform/path.h"
#include "platform/testing/host_tools.h"

namespace setup::testing {

std::string StandInContents(const std::string& name) { return name + " of the test package\n"; }

void AddToPackage(const std::string& folder, const std::string& name, const std::string& contents) {
  common::PackageEntry entry;
  entry.compressedName = szdd::CompressedName(name);
  entry.size = contents.size();
  entry.crc = common::Crc32(contents);
  plat::testing::WriteHostFile(folder + "/" + entry.compressedName, szdd::Compress(contents, name.back()));
  ASSERT_EQ(common::WritePackageEntry(plat::HostToWindowsPath(folder), name, entry), 0u);
}

void BuildPackage(const std::string& folder, const std::map<std::string, std::string>& real) {
  std::filesystem::create_directories(folder);
  for (const InstallFile& file : InstallFiles()) {
    const auto found = real.find(file.name);
    const std::string contents =
        found == real.end() ? StandInContents(file.name) : plat::testing::ReadHostFile(found->second);
    ASSERT_FALSE(contents.empty()) << file.name;
    AddToPackage(folder, file.name, contents);
  }
}

}  // namespace setup::testing
