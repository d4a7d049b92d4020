// The file system namespace: Windows paths as the system stores and passes
// them, mapped to host paths at the moment a file is opened.
//
//   C:\...            drive_c/ of the current machine
//   Z:\...            the host's /  (so every host path has a Windows name)
//   \\NAME\SHARE\...  through machine NAME's share table; but when this
//                     machine has a network logon (smb_client.h) and NAME is
//                     no machine of the network folder, or is this machine
//                     itself, a share of host NAME over SMB: only
//                     ResolveLocation gives those
//   relative          against the process's Windows current directory
//
// Lookup of existing components is case-insensitive (an exact match is tried
// first); components that do not exist keep the spelling given, so files are
// created with it. Both '\' and '/' separate components.
//
// Thread safety: all calls; the current directory is one per process, as on
// Windows. Out parameters on failure: left as they were (ResolvePath's host
// path, SplitUncPath's parts when it returns false).
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"  // the name comparisons paths need
#include "platform/win_types.h"

namespace plat {

// Maps `windowsPath` to the host path of the file it names. Errors:
// ERROR_BAD_NETPATH (unknown or down machine), ERROR_BAD_NET_NAME (unknown
// share), ERROR_ACCESS_DENIED (a UNC path climbing out of its share),
// ERROR_PATH_NOT_FOUND (a drive other than C: or Z:, or no current machine),
// ERROR_INVALID_NAME (empty or malformed path), ERROR_NOT_SUPPORTED (a file
// of another host, which has no host path: see ResolveLocation).
DWORD ResolvePath(std::string_view windowsPath, std::string* hostPath);

// Where a Windows path leads: a host path of this computer, or a file of a
// share on another host, "smb://HOST/SHARE/rest" (its components as given).
struct FileLocation {
  bool remote = false;
  std::string path;  // the host path, or the URL when remote
};
// As ResolvePath, with the files of other hosts. Out parameter on failure:
// unspecified.
DWORD ResolveLocation(std::string_view windowsPath, FileLocation* location);

// The Windows name of a host path: C:\... when it lies in the current machine's
// drive_c/, else Z:\... .
std::string HostToWindowsPath(const std::string& hostPath);

// The process's Windows current directory. Initially the Windows name of the
// host working directory.
std::string GetCurrentDirectory();
DWORD SetCurrentDirectory(std::string_view windowsPath);

// Splits "\\NAME\SHARE\rest" into its parts; false when `path` is not a UNC path.
bool SplitUncPath(std::string_view path, std::string* machine, std::string* share,
                  std::string* rest);

}  // namespace plat
