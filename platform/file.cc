#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/request_scope.h"

namespace plat {

namespace {

DWORD Resolve(std::string_view path, std::string* host) { return ResolvePath(path, host); }

// For a file about to be changed here: a request scope must look at it again.
DWORD ResolveForChange(std::string_view path, std::string* host) {
  const DWORD err = ResolvePath(path, host);
  if (err == ERROR_SUCCESS) scope::Forget(*host);
  return err;
}


// A file that some process holds in use carries a shared flock (FileInUse).
bool HeldInUse(const std::string& host) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

}  // namespace

DWORD ReadWholeFile(std::string_view path, std::string* contents) {
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  const posix::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return ErrorFromErrno(errno);
  return posix::ReadToEnd(fd.get(), contents);
}

DWORD WriteWholeFile(std::string_view path, std::string_view contents) {
  std::string host;
  if (DWORD err = ResolveForChange(path, &host); err != ERROR_SUCCESS) return err;
  const int fd = posix::OpenPrivate(host, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return ErrorFromErrno(errno);
  const DWORD err = posix::WriteFully(fd, contents);
  ::close(fd);
  return err;
}

DWORD AppendToFile(std::string_view path, std::string_view contents) {
  std::string host;
  if (DWORD err = ResolveForChange(path, &host); err != ERROR_SUCCESS) return err;
  const int fd = posix::OpenPrivate(host, O_WRONLY | O_CREAT | O_APPEND);
  if (fd < 0) return ErrorFromErrno(errno);
  const DWORD err = posix::WriteFully(fd, contents);
  ::close(fd);
  return err;
}

AppendingFile::~AppendingFile() { Close(); }

void AppendingFile::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

DWORD AppendingFile::OpenLocked(std::string_view path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  fd_ = posix::OpenPrivate(host, O_WRONLY | O_CREAT | O_APPEND);
  if (fd_ < 0) return ErrorFromErrno(errno);
  path_.assign(path);
  host_ = std::move(host);
  checkedAt_ = std::time(nullptr);
  return ERROR_SUCCESS;
}

// True while the descriptor held is still the file `path` names; `*size` is
// then its size.
bool AppendingFile::HeldLocked(std::string_view path, std::uint64_t* size) {
  if (fd_ < 0 || path != path_) return false;
  struct stat held;
  if (::fstat(fd_, &held) != 0 || held.st_nlink == 0) return false;  // deleted
  *size = static_cast<std::uint64_t>(held.st_size);
  const std::time_t now = std::time(nullptr);
  if (now == checkedAt_) return true;
  checkedAt_ = now;
  struct stat named;
  return ::stat(host_.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

DWORD AppendingFile::Append(std::string_view path, std::string_view contents,
                            std::uint64_t* sizeAfter) {
  std::lock_guard lock(mutex_);
  std::uint64_t size = 0;
  if (!HeldLocked(path, &size)) {
    if (DWORD err = OpenLocked(path); err != ERROR_SUCCESS) return err;
    struct stat st;
    size = ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
  const DWORD err = posix::WriteFully(fd_, contents);
  if (err == ERROR_SUCCESS && sizeAfter) *sizeAfter = size + contents.size();
  return err;
}

DWORD AppendingFile::Size(std::string_view path, std::uint64_t* size) {
  {
    std::lock_guard lock(mutex_);
    if (HeldLocked(path, size)) return ERROR_SUCCESS;
  }
  return GetFileSize(path, size);
}

DWORD DeleteFile(std::string_view path) {
  std::string host;
  if (DWORD err = ResolveForChange(path, &host); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (HeldInUse(host)) return ERROR_ACCESS_DENIED;
  if (::unlink(host.c_str()) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD MoveFileEx(std::string_view from, std::string_view to, DWORD flags) {
  std::string hostFrom, hostTo;
  if (DWORD err = ResolveForChange(from, &hostFrom); err != ERROR_SUCCESS) return err;
  if (DWORD err = ResolveForChange(to, &hostTo); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::lstat(hostFrom.c_str(), &st) != 0) return ErrorFromErrno(errno);
  // A file in use may be renamed, as Windows renames a loaded module; it
  // stays in use under its new name.
  if (::lstat(hostTo.c_str(), &st) == 0) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return ERROR_ALREADY_EXISTS;
    if (HeldInUse(hostTo)) return ERROR_ACCESS_DENIED;
  }
  if (posix::Rename(hostFrom, hostTo) == 0) {
    if (flags & MOVEFILE_WRITE_THROUGH) ::sync();
    return ERROR_SUCCESS;
  }
  if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) {
    if (DWORD err = CopyFile(from, to, false); err != ERROR_SUCCESS) return err;
    return ::unlink(hostFrom.c_str()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  }
  return ErrorFromErrno(errno);
}

DWORD CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  std::string contents;
  if (DWORD err = ReadWholeFile(from, &contents); err != ERROR_SUCCESS) return err;
  std::string hostTo;
  if (DWORD err = ResolveForChange(to, &hostTo); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::lstat(hostTo.c_str(), &st) == 0) {
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (HeldInUse(hostTo)) return ERROR_ACCESS_DENIED;
  }
  // Written beside the target and renamed, so the target is never half copied.
  posix::ReplaceOptions options;
  options.mode = posix::kPrivateCopyMode;
  return posix::ReplaceAtomically(hostTo, contents, options);
}

DWORD CreateDirectory(std::string_view path) {
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  if (::mkdir(host.c_str(), posix::kPrivateFolderMode) != 0) {
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

DWORD RemoveDirectory(std::string_view path) {
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  if (::rmdir(host.c_str()) != 0) {
    return errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

bool FileExists(std::string_view path) {
  std::string host;
  if (Resolve(path, &host) != ERROR_SUCCESS) return false;
  struct stat st;
  return ::stat(host.c_str(), &st) == 0;
}

bool DirectoryExists(std::string_view path) {
  std::string host;
  if (Resolve(path, &host) != ERROR_SUCCESS) return false;
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD GetFileSize(std::string_view path, std::uint64_t* size) {
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return ErrorFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

DWORD GetFileModificationTime(std::string_view path, std::time_t* mtime) {
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return ErrorFromErrno(errno);
  *mtime = st.st_mtime;
  return ERROR_SUCCESS;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // "*.*" matches every name, with or without a dot, as on Windows.
  if (pattern == "*.*" || pattern == "*") return true;
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

DWORD FindFiles(std::string_view pattern, std::vector<FindData>* entries) {
  entries->clear();
  const size_t sep = pattern.find_last_of("\\/");
  const std::string folder = sep == std::string_view::npos ? "." : std::string(pattern.substr(0, sep));
  const std::string mask(sep == std::string_view::npos ? pattern : pattern.substr(sep + 1));
  std::string host;
  if (DWORD err = Resolve(folder.empty() ? std::string("\\") : folder, &host); err != ERROR_SUCCESS) {
    return err;
  }
  DIR* d = ::opendir(host.c_str());
  if (!d) return errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
  while (dirent* e = ::readdir(d)) {
    if (!WildcardMatch(mask, e->d_name)) continue;
    FindData fd;
    fd.name = e->d_name;
    struct stat st;
    if (::stat((host + "/" + fd.name).c_str(), &st) == 0) {
      fd.isDirectory = S_ISDIR(st.st_mode);
      fd.size = static_cast<std::uint64_t>(st.st_size);
      fd.modified = st.st_mtime;
    }
    entries->push_back(std::move(fd));
  }
  ::closedir(d);
  return ERROR_SUCCESS;
}

FileInUse::~FileInUse() { Release(); }

FileInUse::FileInUse(FileInUse&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileInUse& FileInUse::operator=(FileInUse&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

DWORD FileInUse::Hold(std::string_view path) {
  Release();
  std::string host;
  if (DWORD err = Resolve(path, &host); err != ERROR_SUCCESS) return err;
  const int fd = posix::Open(host, O_RDONLY);
  if (fd < 0) return ErrorFromErrno(errno);
  if (posix::Lock(fd, LOCK_SH, host) != 0) {
    const DWORD err = ErrorFromErrno(errno);
    ::close(fd);
    return err;
  }
  fd_ = fd;
  return ERROR_SUCCESS;
}

void FileInUse::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace plat
