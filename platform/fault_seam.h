// Test only: makes one file-system call of the POSIX back end fail with a
// chosen errno, so that a test provokes a failure where it means to instead
// of changing file modes behind the code's back (which root ignores anyway).
//
// - A fault names a call and a file: the file's last path component,
//   compared ignoring case (an empty name matches every file). For a write,
//   fsync or rename that replaces a file, the file is the one replaced, not
//   its temporary.
// - Faults hold until cleared; setting the same call again replaces it.
// - Thread safety: any thread may set and clear faults; every thread's calls
//   see them. Without a fault set, the calls pay one atomic load.
#pragma once

#include <string>
#include <string_view>

namespace plat {

enum class FaultCall { Open, Write, Rename, Fsync, Lock };

void SetFaultForTesting(FaultCall call, std::string_view fileName, int error);
void ClearFaultsForTesting();

// A fault for the life of the object.
class ScopedFault {
 public:
  ScopedFault(FaultCall call, std::string_view fileName, int error) { SetFaultForTesting(call, fileName, error); }
  ~ScopedFault() { ClearFaultsForTesting(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

}  // namespace plat
