#include "platform/posix_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"

namespace plat::posix {

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{st.st_dev, st.st_ino, st.st_size,
                      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool IdentityOfPath(const std::string& hostPath, FileIdentity* id) {
  struct stat st;
  if (::stat(hostPath.c_str(), &st) != 0) return false;
  *id = IdentityOf(st);
  return true;
}

void KeepPrivate(int fd, const struct stat& st) {
  if ((st.st_mode & S_IRWXO) && st.st_uid == ::geteuid()) {
    ::fchmod(fd, st.st_mode & 07770);  // best effort: the file is usable either way
  }
}

int OpenPrivate(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0 || (flags & O_EXCL)) return fd;
  struct stat st;
  if (::fstat(fd, &st) == 0) KeepPrivate(fd, st);
  return fd;
}

DWORD MakePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), kPrivateFolderMode) == 0 || errno == EEXIST) return ERROR_SUCCESS;
  return ErrorFromErrno(errno);
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

DWORD WriteFully(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return ERROR_SUCCESS;
}

DWORD ReadToEnd(int fd, std::string* text, size_t sizeHint) {
  text->clear();
  text->resize(sizeHint + 1);
  size_t done = 0;
  for (;;) {
    if (done == text->size()) text->resize(text->size() * 2 + 4096);
    const ssize_t n = ::pread(fd, text->data() + done, text->size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  text->resize(done);
  return ERROR_SUCCESS;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace plat::posix
