// The file mechanics the POSIX back end repeats, once each: calls that pass
// through the test seam (fault_seam.h), a file locked and still named by its
// path, an atomic replace, a Unix socket address, and a case-insensitive
// look-up in a folder. For code inside platform/ only.
//
// - Errors: the calls that mirror a system call return -1 with errno set; the
//   others return a Win32 code.
// - Out parameters on failure: left as they were, unless a line says otherwise.
// - Thread safety: every function may be called from several threads; a
//   LockedFile or UnixAddress is one thread's at a time.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/fault_seam.h"
#include "platform/posix_fd.h"
#include "platform/win_types.h"

namespace plat::posix {

// The errno a test set for `call` on `path` (fault_seam.h); 0 when none.
int InjectedFault(FaultCall call, std::string_view path);

// open(2), O_CLOEXEC added, through the seam.
int Open(const std::string& path, int flags, mode_t mode = kPrivateFileMode);
// flock(2) on the file `path` names, interruptions retried, through the seam.
int Lock(int fd, int operation, std::string_view path);
// rename(2) of `from` over `to`, through the seam (the fault names `to`).
int Rename(const std::string& from, const std::string& to);
// fsync(2) of the file `path` names, through the seam.
int Fsync(int fd, std::string_view path);
// WriteFully of the file `path` names, through the seam.
DWORD Write(int fd, std::string_view data, std::string_view path);

// A file held under flock that its path still names: a writer that renamed a
// new file over it between the open and the lock is noticed and the new file
// taken instead. Closing it (or its destruction) drops the lock.
class LockedFile {
 public:
  // `flags` as for open(2): with O_CREAT a missing file is created private,
  // with `*created` set (and ERROR_PATH_NOT_FOUND when its folder is missing).
  // A file opened for writing that this call did not create is kept private.
  // `operation` is LOCK_SH or LOCK_EX. On failure the object holds nothing
  // and `*created` is false.
  DWORD Open(const std::string& path, int flags, int operation, bool* created = nullptr);

  int fd() const { return fd_.get(); }
  const struct stat& status() const { return status_; }  // as locked
  // Drops the lock and keeps the file open, for the caller to own.
  UniqueFd Unlock();

 private:
  UniqueFd fd_;
  struct stat status_ {};
};

// How ReplaceAtomically writes the new file.
struct ReplaceOptions {
  mode_t mode = kPrivateFileMode;  // less what the umask takes, unless exactMode
  bool exactMode = false;          // a replacement that keeps the replaced file's mode
  // fsync the new file before it takes the name, and the folder after: the
  // change then survives a crash of the host, not only of the process. A
  // folder that cannot be synced gives its error with the new file in place.
  bool durable = false;
  // The temporary's name; by default TemporaryName(path). A fixed name suits
  // a writer that holds a lock for it: a killed one's leftover is written over.
  std::string temporary;
};

// fsync(2) of the folder that holds `path`, so that a new name there
// survives a crash of the host.
int SyncFolderOf(const std::string& path);

// "<path>.~<pid>-<tid>": whose temporary it is, so that one left by a killed
// writer can be told apart (RemoveStaleTemporaries).
std::string TemporaryName(const std::string& path);

// Writes a new file beside `path` through `write` (given the new file's
// descriptor) and puts it in place of `path` in one step: readers see the old
// file or the new one, never a part. On success `*pin` (when given) keeps the
// new file open and `*status` (when given) is its status; on failure `path`
// is unchanged, the temporary is gone and `*pin`, `*status` are untouched.
DWORD ReplaceAtomically(const std::string& path, const std::function<DWORD(int fd)>& write,
                        const ReplaceOptions& options = {}, UniqueFd* pin = nullptr,
                        struct stat* status = nullptr);
DWORD ReplaceAtomically(const std::string& path, std::string_view contents,
                        const ReplaceOptions& options = {}, struct stat* status = nullptr);

// Removes from host folder `folder` the temporaries of writers that are gone;
// the number removed, with those that could not be in `*failed`.
int RemoveStaleTemporaries(const std::string& folder, int* failed);

// The address of the Unix socket `name` in host folder `dir`. A path too long
// for sun_path goes through the folder's descriptor (/proc/self/fd/N/name),
// which the object keeps open while it lives.
class UnixAddress {
 public:
  // ERROR_FILENAME_EXCED_RANGE when even that is too long (the object is then
  // unusable), or the error of opening the folder.
  DWORD Set(const std::string& dir, std::string_view name);
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
  socklen_t size() const { return sizeof addr_; }

 private:
  sockaddr_un addr_ {};
  UniqueFd dir_;
};

// The entry of host folder `dir` whose name equals `component` ignoring case,
// as stored; `component` itself when it exists so spelled or nothing matches
// (a name to create keeps the caller's case).
std::string FindEntryIgnoringCase(const std::string& dir, std::string_view component);
// The same, but false (and `*stored` untouched) when nothing matches.
bool FindEntryIgnoringCase(const std::string& dir, std::string_view component, std::string* stored);

}  // namespace plat::posix
