// plcompress: puts one file into an installation folder, compressed in the
// expand utility's format, and lists it in the folder's setup.ini.
#include <cstdio>
#include <string>

#include "common/package_list.h"
#include "packaging/szdd/szdd_compress.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage = R"(plcompress - compress a file into Portulon's installation folder

Usage:
  plcompress FOLDER SOURCE NAME [SHIPPED-NAME]

Compresses the file SOURCE into the installation folder FOLDER under the
compressed form of SHIPPED-NAME (default NAME: "pladmin.exe" becomes
"pladmin.ex_", "Portulon.hw" becomes "Portulon.hw_"), and lists it in
FOLDER/setup.ini as the file setup installs as NAME, with its size and CRC-32.
FOLDER and SOURCE are host paths.

Options:
  --help           show this text
  --version        show the program's version

Exit status:
  0  done
  1  a file could not be read or written
  2  the command line is wrong

Files:
  FOLDER/setup.ini   the list of the files setup installs

Examples:
  plcompress build/package build/bin/pladmin pladmin.exe

See also:
  setup(1)
)";

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("plcompress", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (!tool.RejectUnknownOptions()) return tool.exitCode();
  auto& args = tool.args();
  if (args.size() < 3 || args.size() > 4) return tool.UsageError("FOLDER, SOURCE and NAME are needed");
  const std::string folder = plat::HostToWindowsPath(args[0]);
  const std::string& name = args[2];
  const std::string shipped = args.size() == 4 ? args[3] : name;

  std::string data;
  if (plat::DWORD err = plat::ReadWholeFile(plat::HostToWindowsPath(args[1]), &data); err != 0) {
    return tool.Fail(err, args[1]);
  }
  common::PackageEntry entry;
  entry.compressedName = szdd::CompressedName(shipped);
  entry.size = data.size();
  entry.crc = common::Crc32(data);
  const char missing = entry.compressedName.back() == '_' && shipped.back() != '_' &&
                               entry.compressedName.size() == shipped.size()
                           ? shipped.back()
                           : '\0';
  if (plat::DWORD err = plat::WriteWholeFile(folder + "\\" + entry.compressedName, szdd::Compress(data, missing));
      err != 0) {
    return tool.Fail(err, entry.compressedName);
  }
  if (plat::DWORD err = common::WritePackageEntry(folder, name, entry); err != 0) {
    return tool.Fail(err, common::kPackageListName);
  }
  return 0;
}
