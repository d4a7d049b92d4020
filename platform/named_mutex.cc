#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/text.h"

namespace plat {

namespace {

// A named object is a file in the machine's objects/ folder; ownership is an
// exclusive flock on it, which the kernel drops when the owner ends. The
// owner's process id is written into the file for whoever finds it taken.
constexpr const char* kObjectsFolder = "objects";

bool ObjectFile(std::string_view name, std::string* path) {
  for (std::string_view prefix : {"Global\\", "Local\\"}) {
    if (name.size() >= prefix.size() && ToLowerAscii(name.substr(0, prefix.size())) ==
                                            ToLowerAscii(prefix)) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  if (name.empty() || name.find('\\') != std::string_view::npos ||
      name.find('/') != std::string_view::npos) {
    return false;
  }
  *path = ToLowerAscii(name) + ".mutex";
  return true;
}

DWORD ReadOwner(int fd) {
  std::string text;
  if (posix::ReadToEnd(fd, &text) != ERROR_SUCCESS) return 0;
  return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
}

}  // namespace

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void NamedMutex::Close() {
  if (fd_ < 0) return;
  // Emptied first, so that a later reader never sees a stale owner.
  if (::ftruncate(fd_, 0) != 0) {
    // Nothing to do: the lock below is what counts.
  }
  ::close(fd_);  // drops the lock
  fd_ = -1;
}

DWORD NamedMutex::CreateOwned(std::string_view name, NamedMutex* out, DWORD* ownerPid) {
  if (ownerPid) *ownerPid = 0;
  out->Close();
  std::string file;
  if (!ObjectFile(name, &file)) return ERROR_INVALID_NAME;
  const std::string root = CurrentMachineRoot();
  if (root.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string folder = root + "/" + kObjectsFolder;
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  const std::string path = folder + "/" + file;
  posix::UniqueFd fd(posix::Open(path, O_RDWR | O_CREAT, 0666));
  if (!fd.valid()) return ErrorFromErrno(errno);
  if (posix::Lock(fd.get(), LOCK_EX | LOCK_NB, path) != 0) {
    if (errno != EWOULDBLOCK) return ErrorFromErrno(errno);
    if (ownerPid) *ownerPid = ReadOwner(fd.get());
    return ERROR_ALREADY_EXISTS;
  }
  const std::string pid = std::to_string(::getpid());
  if (::ftruncate(fd.get(), 0) != 0 || ::pwrite(fd.get(), pid.data(), pid.size(), 0) < 0) {
    // The owner's id is only a courtesy to the one who finds the name taken.
  }
  out->fd_ = fd.release();
  return ERROR_SUCCESS;
}

}  // namespace plat
