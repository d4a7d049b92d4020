// Files of a share on another host, reached over SMB: the back end of a UNC
// path whose host is not a machine of the local network folder (path.h,
// ResolveLocation). For code inside platform/ only.
//
// - One connection per process, made on first use and kept; it logs on with
//   the current machine's network logon (<machine root>/network.cred, lines
//   "user=", "password=", "domain="), which must be readable by its owner
//   only: it is never put on a command line.
// - URLs are "smb://HOST/SHARE/path", as ResolveLocation gives them.
// - Errors are Win32 codes: ERROR_BAD_NETPATH (host unreachable, or no
//   logon configured), ERROR_ACCESS_DENIED (logon refused, or an unsafe
//   logon file), ERROR_BAD_NET_NAME (no such share), ERROR_SHARING_VIOLATION
//   (another client holds the file, see Share), and the file errors.
// - Out parameters on failure: left as they were.
// - Thread safety: every call, from any thread; the connection is one at a
//   time (a mutex), so calls of several threads queue. A RemoteFile is one
//   thread's at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat::smb {

// The logon file's name in a machine folder.
inline constexpr const char* kLogonFileName = "network.cred";

// How long an open waits for another client's lock (OpenWaiting) before it
// gives up with ERROR_SHARING_VIOLATION: the cross-host counterpart of the
// local file lock's wait.
inline constexpr int kLockWaitMs = 10000;

// What other clients may do with a file while this one holds it open. The
// server enforces it between hosts: a conflicting open fails.
enum class Share {
  All,        // anything
  ReadOnly,   // read only: readers exclude writers, not each other
  None,       // nothing: the holder excludes every other opener (a lock)
};

struct Status {
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  bool isDirectory = false;
};

struct Entry {
  std::string name;
  Status status;
};

// An open file on a share. Closing it (or its destruction) ends the share
// mode it was opened with.
class RemoteFile {
 public:
  RemoteFile() = default;
  ~RemoteFile();
  RemoteFile(RemoteFile&& other) noexcept;
  RemoteFile& operator=(RemoteFile&& other) noexcept;
  RemoteFile(const RemoteFile&) = delete;
  RemoteFile& operator=(const RemoteFile&) = delete;

  // `flags` as for open(2) (O_RDONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND;
  // O_WRONLY is taken as O_RDWR, which the server accepts with O_APPEND).
  // With O_CREAT, `*created` (when given) tells whether this call made the
  // file. A file another client holds against `share` gives
  // ERROR_SHARING_VIOLATION at once.
  DWORD Open(const std::string& url, int flags, Share share, bool* created = nullptr);
  // As Open, but a file held by another client is tried again until
  // `timeoutMs` have passed: the cross-host counterpart of a blocking lock.
  DWORD OpenWaiting(const std::string& url, int flags, Share share, int timeoutMs,
                    bool* created = nullptr);

  bool valid() const { return handle_ != nullptr; }
  DWORD ReadAll(std::string* contents);                      // from offset 0
  DWORD WriteAt(std::uint64_t offset, std::string_view data);
  DWORD Append(std::string_view data);                       // at the end (O_APPEND)
  DWORD Truncate(std::uint64_t size);
  DWORD GetStatus(Status* status);
  DWORD Close();

 private:
  void* handle_ = nullptr;  // the library's SMBCFILE
};

DWORD GetStatus(const std::string& url, Status* status);
DWORD Rename(const std::string& from, const std::string& to);  // fails when `to` exists
DWORD Unlink(const std::string& url);
DWORD MakeDirectory(const std::string& url);
DWORD RemoveDirectory(const std::string& url);  // an empty folder only
// The entries of a folder, "." and ".." included.
DWORD List(const std::string& url, std::vector<Entry>* entries);

// Test only: ends the process's connection, so that the next call makes a
// new one (as after the server came back).
void DropConnectionForTesting();

}  // namespace plat::smb
