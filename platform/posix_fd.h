// What the POSIX back end of the platform layer shares: an owned file
// descriptor, and read/write loops that survive interruptions and short
// transfers. For code inside platform/ only.
//
// Thread safety: all calls; a UniqueFd is one owner's at a time. Out
// parameters on failure: ReadToEnd leaves unspecified text, IdentityOfPath
// leaves the identity as it was.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace plat::posix {

// Closes its descriptor when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// What tells one version of a file from another for the parse caches: the
// inode (never reused while a cache keeps the file open), size and
// modification time in nanoseconds.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& st);
// The identity of the file `hostPath` names (following links); false when it
// cannot be had.
bool IdentityOfPath(const std::string& hostPath, FileIdentity* id);

// What the platform writes for a machine (hives, profile and data files,
// event logs, traces, message inboxes) may hold passwords, accounts and who
// dialled in when: it is readable by its owner and group only, never by
// other local users. The group is the creating process's, or the folder's
// when the folder is set-group-ID: to let an operators' group read a
// machine, give it the machine's folder and make that folder set-group-ID,
// and everything created below inherits it. The umask may take more away.
inline constexpr mode_t kPrivateFileMode = 0660;
inline constexpr mode_t kPrivateFolderMode = 0770;
// A copy may be a program: it keeps the right to run.
inline constexpr mode_t kPrivateCopyMode = 0770;

// open(2) for such a file, creating it kPrivateFileMode. A file that exists
// and is open to others (made before files were private) loses their access,
// when this process owns it. -1 with errno on failure.
int OpenPrivate(const std::string& path, int flags);
// The same for a file opened otherwise whose status `st` the caller has.
void KeepPrivate(int fd, const struct stat& st);

// mkdir(2) of such a folder; an existing folder is success.
DWORD MakePrivateFolder(const std::string& path);

// Writes all of `data` at the descriptor's position.
DWORD WriteFully(int fd, std::string_view data);

// Reads the whole file from its start (pread: the position is left alone).
// `sizeHint`, when known, saves reallocations.
DWORD ReadToEnd(int fd, std::string* text, size_t sizeHint = 0);

// Waits until `fd` is readable; false when `timeoutMs` passed first (-1 waits for ever).
bool WaitReadable(int fd, int timeoutMs);

}  // namespace plat::posix
