#include "platform/posix_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"

namespace plat {

namespace {

struct Fault {
  FaultCall call;
  std::string name;
  int error;
};

// The faults tests set. `armed` spares every call the mutex while none is.
struct Faults {
  std::atomic<bool> armed{false};
  std::mutex mutex;  // guards list
  std::vector<Fault> list;
};

Faults& TheFaults() {
  static Faults faults;
  return faults;
}

}  // namespace

void SetFaultForTesting(FaultCall call, std::string_view fileName, int error) {
  Faults& f = TheFaults();
  std::lock_guard lock(f.mutex);
  std::erase_if(f.list, [&](const Fault& x) { return x.call == call; });
  f.list.push_back(Fault{call, std::string(fileName), error});
  f.armed = true;
}

void ClearFaultsForTesting() {
  Faults& f = TheFaults();
  std::lock_guard lock(f.mutex);
  f.list.clear();
  f.armed = false;
}

namespace posix {

int InjectedFault(FaultCall call, std::string_view path) {
  Faults& f = TheFaults();
  if (!f.armed.load(std::memory_order_relaxed)) return 0;
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::lock_guard lock(f.mutex);
  for (const Fault& x : f.list) {
    if (x.call == call && (x.name.empty() || EqualsIgnoringCase(x.name, name))) return x.error;
  }
  return 0;
}

namespace {

// -1 with errno when the seam fails `call` on `path`.
bool Failed(FaultCall call, std::string_view path) {
  const int e = InjectedFault(call, path);
  if (e != 0) errno = e;
  return e != 0;
}

}  // namespace

int Open(const std::string& path, int flags, mode_t mode) {
  if (Failed(FaultCall::Open, path)) return -1;
  return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

int Lock(int fd, int operation, std::string_view path) {
  if (Failed(FaultCall::Lock, path)) return -1;
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

int Rename(const std::string& from, const std::string& to) {
  if (Failed(FaultCall::Rename, to)) return -1;
  return ::rename(from.c_str(), to.c_str());
}

int Fsync(int fd, std::string_view path) {
  if (Failed(FaultCall::Fsync, path)) return -1;
  return ::fsync(fd);
}

DWORD Write(int fd, std::string_view data, std::string_view path) {
  if (Failed(FaultCall::Write, path)) return ErrorFromErrno(errno);
  return WriteFully(fd, data);
}

// ------------------------------------------------------------ LockedFile

DWORD LockedFile::Open(const std::string& path, int flags, int operation, bool* created) {
  if (created) *created = false;
  fd_.reset();
  for (;;) {
    bool made = false;
    // Most opens find the file: those cost one call.
    int raw = posix::Open(path, flags & ~(O_CREAT | O_EXCL));
    if (raw < 0 && errno == ENOENT && (flags & O_CREAT)) {
      raw = posix::Open(path, flags | O_CREAT | O_EXCL, kPrivateFileMode);
      if (raw >= 0) {
        made = true;
      } else if (errno == EEXIST) {
        continue;  // created meanwhile
      } else if (errno == ENOENT) {
        return ERROR_PATH_NOT_FOUND;  // the folder is missing
      }
    }
    if (raw < 0) return ErrorFromErrno(errno);
    UniqueFd fd(raw);
    if (Lock(fd.get(), operation, path) != 0) return ErrorFromErrno(errno);
    // Another writer may have renamed a new file over the one we locked.
    struct stat named;
    if (::fstat(fd.get(), &status_) != 0) return ErrorFromErrno(errno);
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == status_.st_dev && named.st_ino == status_.st_ino) {
      if (!made && (flags & O_ACCMODE) != O_RDONLY) KeepPrivate(fd.get(), status_);
      if (created) *created = made;
      fd_ = std::move(fd);
      return ERROR_SUCCESS;
    }
  }
}

UniqueFd LockedFile::Unlock() {
  if (fd_.valid()) ::flock(fd_.get(), LOCK_UN);
  return std::move(fd_);
}

// ------------------------------------------------------------ replace

std::string TemporaryName(const std::string& path) {
  return path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(::gettid());
}

namespace {

// The writer's process of a temporary name "<file>.~<pid>-<tid>"; 0 when the
// name is none.
pid_t TemporaryWriter(std::string_view name) {
  const size_t mark = name.rfind(".~");
  if (mark == std::string_view::npos) return 0;
  const std::string_view tail = name.substr(mark + 2);
  const size_t dash = tail.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == tail.size()) return 0;
  long long pid = 0;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (i == dash) continue;
    if (tail[i] < '0' || tail[i] > '9') return 0;
    if (i < dash) pid = pid * 10 + (tail[i] - '0');
    if (pid > INT_MAX) return 0;
  }
  return static_cast<pid_t>(pid);
}

// Puts `temp` in place of `path`. Exchanging the two names and then removing
// the old file is what readers see as a rename, but spares the file system
// the early write-back it starts when a rename replaces a file (about a
// millisecond for a file of a few megabytes). Where the exchange is not
// supported, or `path` does not exist yet, a plain rename does the same job.
int SwapIntoPlace(const std::string& temp, const std::string& path) {
  if (Failed(FaultCall::Rename, path)) return -1;
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlink(temp.c_str());  // now the old contents
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOENT && errno != ENOTSUP) return -1;
  return ::rename(temp.c_str(), path.c_str());
}

}  // namespace

int SyncFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return -1;
  return Fsync(fd.get(), path);
}

DWORD ReplaceAtomically(const std::string& path, const std::function<DWORD(int fd)>& write,
                        const ReplaceOptions& options, UniqueFd* pin, struct stat* status) {
  const std::string temp = options.temporary.empty() ? TemporaryName(path) : options.temporary;
  if (Failed(FaultCall::Open, path)) return ErrorFromErrno(errno);
  const mode_t mode = options.exactMode ? 0600 : options.mode;
  UniqueFd fd(::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (!fd.valid()) return ErrorFromErrno(errno);
  DWORD err = ERROR_SUCCESS;
  if (options.exactMode && ::fchmod(fd.get(), options.mode & 07777) != 0) err = ErrorFromErrno(errno);
  if (err == ERROR_SUCCESS) err = Failed(FaultCall::Write, path) ? ErrorFromErrno(errno) : write(fd.get());
  if (err == ERROR_SUCCESS && options.durable && Fsync(fd.get(), path) != 0) err = ErrorFromErrno(errno);
  struct stat st;
  if (err == ERROR_SUCCESS && ::fstat(fd.get(), &st) != 0) err = ErrorFromErrno(errno);
  if (err == ERROR_SUCCESS && SwapIntoPlace(temp, path) != 0) err = ErrorFromErrno(errno);
  if (err != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return err;
  }
  if (options.durable && SyncFolderOf(path) != 0) return ErrorFromErrno(errno);
  if (status) *status = st;
  if (pin) *pin = std::move(fd);
  return ERROR_SUCCESS;
}

DWORD ReplaceAtomically(const std::string& path, std::string_view contents, const ReplaceOptions& options,
                        struct stat* status) {
  return ReplaceAtomically(
      path, [&](int fd) { return WriteFully(fd, contents); }, options, nullptr, status);
}

int RemoveStaleTemporaries(const std::string& folder, int* failed) {
  if (failed) *failed = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(dir)) {
    const pid_t writer = TemporaryWriter(e->d_name);
    if (writer <= 0 || ::kill(writer, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
    if (::unlinkat(::dirfd(dir), e->d_name, 0) == 0) {
      ++removed;
    } else if (failed) {
      ++*failed;
    }
  }
  ::closedir(dir);
  return removed;
}

// ------------------------------------------------------------ sockets

DWORD UnixAddress::Set(const std::string& dir, std::string_view name) {
  addr_ = sockaddr_un{};
  addr_.sun_family = AF_UNIX;
  dir_.reset();
  std::string path = dir + "/" + std::string(name);
  if (path.size() >= sizeof addr_.sun_path) {
    dir_.reset(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir_.valid()) return ErrorFromErrno(errno);
    path = "/proc/self/fd/" + std::to_string(dir_.get()) + "/" + std::string(name);
    if (path.size() >= sizeof addr_.sun_path) return ERROR_FILENAME_EXCED_RANGE;
  }
  std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
  return ERROR_SUCCESS;
}

// ------------------------------------------------------------ names

bool FindEntryIgnoringCase(const std::string& dir, std::string_view component, std::string* stored) {
  DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    if (EqualsIgnoringCase(e->d_name, component)) {
      *stored = e->d_name;
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

std::string FindEntryIgnoringCase(const std::string& dir, std::string_view component) {
  struct stat st;
  std::string stored(component);
  if (::lstat((dir + "/" + stored).c_str(), &st) == 0) return stored;
  FindEntryIgnoringCase(dir, component, &stored);
  return stored;
}

}  // namespace posix
}  // namespace plat
