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
#include "platform/smb_client.h"

namespace plat {

namespace {

DWORD Resolve(std::string_view path, std::string* host) { return ResolvePath(path, host); }

// A file that some process holds in use carries a shared flock (FileInUse).
bool HeldInUse(const std::string& host) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

// Where `path` leads; a local file about to be changed is looked at again by
// a request scope.
DWORD Locate(std::string_view path, FileLocation* where, bool forChange = false) {
  const DWORD err = ResolveLocation(path, where);
  if (err == ERROR_SUCCESS && forChange && !where->remote) scope::Forget(where->path);
  return err;
}

// Writes `contents` to a file on another host: at its end with `append`,
// else in place of what it held. `*sizeAfter` (when given) is its size then.
DWORD WriteRemote(const std::string& url, std::string_view contents, bool append,
                  std::uint64_t* sizeAfter = nullptr) {
  smb::RemoteFile file;
  const int flags = O_RDWR | O_CREAT | (append ? O_APPEND : O_TRUNC);
  // Another host's locked writer is waited for, as a local one would be.
  if (DWORD err = file.OpenWaiting(url, flags, smb::Share::All, smb::kLockWaitMs); err != ERROR_SUCCESS) {
    return err;
  }
  if (DWORD err = append ? file.Append(contents) : file.WriteAt(0, contents); err != ERROR_SUCCESS) return err;
  if (sizeAfter) {
    smb::Status st;
    if (DWORD err = file.GetStatus(&st); err != ERROR_SUCCESS) return err;
    *sizeAfter = st.size;
  }
  return file.Close();
}

// "smb://HOST/SHARE" of a file's URL: two files of one share can be renamed
// into each other.
std::string ShareOf(const std::string& url) {
  const size_t host = url.find('/', 6);
  const size_t share = host == std::string::npos ? host : url.find('/', host + 1);
  return ToLowerAscii(share == std::string::npos ? url : url.substr(0, share));
}

// Copies `contents` to a file of a share: written beside it and renamed into
// its place, so that the target is never half copied (a replaced target is
// missing for a moment: a rename over a file is not atomic over SMB).
DWORD CopyToShare(std::string_view contents, const std::string& url, bool failIfExists) {
  smb::Status st;
  const DWORD found = smb::GetStatus(url, &st);
  if (found == ERROR_SUCCESS && failIfExists) return ERROR_FILE_EXISTS;
  if (found != ERROR_SUCCESS && found != ERROR_FILE_NOT_FOUND) return found;
  const std::string temporary = posix::TemporaryName(url);
  if (DWORD err = WriteRemote(temporary, contents, false); err != ERROR_SUCCESS) {
    smb::Unlink(temporary);
    return err;
  }
  DWORD err = ERROR_SUCCESS;
  if (found == ERROR_SUCCESS) err = smb::Unlink(url);
  if (err == ERROR_SUCCESS) err = smb::Rename(temporary, url);
  if (err != ERROR_SUCCESS) smb::Unlink(temporary);
  return err;
}

}  // namespace

DWORD ReadWholeFile(std::string_view path, std::string* contents) {
  FileLocation where;
  if (DWORD err = Locate(path, &where); err != ERROR_SUCCESS) return err;
  if (where.remote) {
    // Read with writers kept out, after another host's writer is done: the
    // whole file of one moment, never half a write.
    smb::RemoteFile file;
    if (DWORD err = file.OpenWaiting(where.path, O_RDONLY, smb::Share::ReadOnly, smb::kLockWaitMs);
        err != ERROR_SUCCESS) {
      return err;
    }
    if (DWORD err = file.ReadAll(contents); err != ERROR_SUCCESS) return err;
    return file.Close();
  }
  const std::string& host = where.path;
  const posix::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return ErrorFromErrno(errno);
  return posix::ReadToEnd(fd.get(), contents);
}

DWORD WriteWholeFile(std::string_view path, std::string_view contents) {
  FileLocation where;
  if (DWORD err = Locate(path, &where, true); err != ERROR_SUCCESS) return err;
  if (where.remote) return WriteRemote(where.path, contents, false);
  const std::string& host = where.path;
  const int fd = posix::OpenPrivate(host, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return ErrorFromErrno(errno);
  const DWORD err = posix::WriteFully(fd, contents);
  ::close(fd);
  return err;
}

DWORD AppendToFile(std::string_view path, std::string_view contents) {
  FileLocation where;
  if (DWORD err = Locate(path, &where, true); err != ERROR_SUCCESS) return err;
  if (where.remote) return WriteRemote(where.path, contents, true);
  const std::string& host = where.path;
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
    // A file on another host is opened for each text: nothing is held there.
    if (FileLocation where; ResolveLocation(path, &where) == ERROR_SUCCESS && where.remote) {
      return WriteRemote(where.path, contents, true, sizeAfter);
    }
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
  FileLocation where;
  if (DWORD err = Locate(path, &where, true); err != ERROR_SUCCESS) return err;
  if (where.remote) return smb::Unlink(where.path);
  const std::string& host = where.path;
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (HeldInUse(host)) return ERROR_ACCESS_DENIED;
  if (::unlink(host.c_str()) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD MoveFileEx(std::string_view from, std::string_view to, DWORD flags) {
  FileLocation whereFrom, whereTo;
  if (DWORD err = Locate(from, &whereFrom, true); err != ERROR_SUCCESS) return err;
  if (DWORD err = Locate(to, &whereTo, true); err != ERROR_SUCCESS) return err;
  if (whereFrom.remote || whereTo.remote) {
    // Between this computer and a share, or two shares, a move is a copy and
    // a delete, as between two volumes.
    if (!whereFrom.remote || !whereTo.remote || ShareOf(whereFrom.path) != ShareOf(whereTo.path)) {
      if (!(flags & MOVEFILE_COPY_ALLOWED)) return ERROR_NOT_SAME_DEVICE;
      if (DWORD err = CopyFile(from, to, !(flags & MOVEFILE_REPLACE_EXISTING)); err != ERROR_SUCCESS) {
        return err == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : err;
      }
      return DeleteFile(from);
    }
    // Within one share a replaced target goes first (not atomic there).
    if (flags & MOVEFILE_REPLACE_EXISTING) {
      if (DWORD err = smb::Unlink(whereTo.path); err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return err;
    }
    return smb::Rename(whereFrom.path, whereTo.path);
  }
  const std::string& hostFrom = whereFrom.path;
  const std::string& hostTo = whereTo.path;
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
  FileLocation whereTo;
  if (DWORD err = Locate(to, &whereTo, true); err != ERROR_SUCCESS) return err;
  if (whereTo.remote) return CopyToShare(contents, whereTo.path, failIfExists);
  const std::string& hostTo = whereTo.path;
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
  FileLocation where;
  if (DWORD err = Locate(path, &where); err != ERROR_SUCCESS) return err;
  if (where.remote) {
    const DWORD err = smb::MakeDirectory(where.path);
    return err == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : err;
  }
  const std::string& host = where.path;
  if (::mkdir(host.c_str(), posix::kPrivateFolderMode) != 0) {
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

DWORD RemoveDirectory(std::string_view path) {
  FileLocation where;
  if (DWORD err = Locate(path, &where, true); err != ERROR_SUCCESS) return err;
  if (where.remote) return smb::RemoveDirectory(where.path);
  const std::string& host = where.path;
  if (::rmdir(host.c_str()) != 0) {
    return errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

namespace {

// Size, time and kind of a file on this computer or another host's share.
DWORD StatusOf(std::string_view path, smb::Status* status) {
  FileLocation where;
  if (DWORD err = Locate(path, &where); err != ERROR_SUCCESS) return err;
  if (where.remote) return smb::GetStatus(where.path, status);
  struct stat st;
  if (::stat(where.path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  status->size = static_cast<std::uint64_t>(st.st_size);
  status->mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  status->isDirectory = S_ISDIR(st.st_mode);
  return ERROR_SUCCESS;
}

}  // namespace

bool FileExists(std::string_view path) {
  smb::Status st;
  return StatusOf(path, &st) == ERROR_SUCCESS;
}

bool DirectoryExists(std::string_view path) {
  smb::Status st;
  return StatusOf(path, &st) == ERROR_SUCCESS && st.isDirectory;
}

DWORD GetFileSize(std::string_view path, std::uint64_t* size) {
  smb::Status st;
  if (DWORD err = StatusOf(path, &st); err != ERROR_SUCCESS) return err;
  *size = st.size;
  return ERROR_SUCCESS;
}

DWORD GetFileModificationTime(std::string_view path, std::time_t* mtime) {
  smb::Status st;
  if (DWORD err = StatusOf(path, &st); err != ERROR_SUCCESS) return err;
  *mtime = static_cast<std::time_t>(st.mtimeNs / 1000000000);
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
  FileLocation where;
  if (DWORD err = Locate(folder.empty() ? std::string("\\") : folder, &where); err != ERROR_SUCCESS) {
    return err;
  }
  if (where.remote) {
    std::vector<smb::Entry> found;
    if (DWORD err = smb::List(where.path, &found); err != ERROR_SUCCESS) {
      return err == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : err;
    }
    for (const auto& e : found) {
      if (!WildcardMatch(mask, e.name)) continue;
      entries->push_back(FindData{e.name, e.status.isDirectory, e.status.size,
                                  static_cast<std::time_t>(e.status.mtimeNs / 1000000000)});
    }
    return ERROR_SUCCESS;
  }
  const std::string& host = where.path;
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
