#include "platform/smb_client.h"

#include <fcntl.h>
#include <libsmbclient.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_fd.h"

namespace plat::smb {

namespace {

struct Logon {
  std::string user, password, domain;
};

// Reads the current machine's logon. A file others could read is refused
// rather than used: the password would already be out.
DWORD ReadLogon(Logon* logon) {
  const std::string root = CurrentMachineRoot();
  if (root.empty()) return ERROR_BAD_NETPATH;
  const std::string path = root + "/" + kLogonFileName;
  const posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return ERROR_BAD_NETPATH;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrorFromErrno(errno);
  if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) return ERROR_ACCESS_DENIED;
  std::string text;
  if (DWORD err = posix::ReadToEnd(fd.get(), &text); err != ERROR_SUCCESS) return err;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    if (name == "user") logon->user = value;
    if (name == "password") logon->password = value;
    if (name == "domain") logon->domain = value;
  }
  return logon->user.empty() ? ERROR_BAD_NETPATH : ERROR_SUCCESS;
}

void CopyField(const std::string& value, char* out, int size) {
  if (size <= 0) return;
  const size_t n = std::min(value.size(), static_cast<size_t>(size - 1));
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
}

void GiveLogon(SMBCCTX* ctx, const char*, const char*, char* workgroup, int workgroupSize,
               char* user, int userSize, char* password, int passwordSize) {
  const auto* logon = static_cast<const Logon*>(smbc_getOptionUserData(ctx));
  CopyField(logon->domain, workgroup, workgroupSize);
  CopyField(logon->user, user, userSize);
  CopyField(logon->password, password, passwordSize);
}

struct ContextDeleter {
  void operator()(SMBCCTX* ctx) const { smbc_free_context(ctx, 1); }
};

// The process's one connection. The library's context is not safe for
// several threads, so every use holds the mutex.
class Connection {
 public:
  // The context, made on first use; nullptr with `*err` when it cannot be.
  SMBCCTX* Get(DWORD* err) {
    if (ctx_) return ctx_.get();
    if ((*err = ReadLogon(&logon_)) != ERROR_SUCCESS) return nullptr;
    std::unique_ptr<SMBCCTX, ContextDeleter> ctx(smbc_new_context());
    if (!ctx) {
      *err = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    smbc_setDebug(ctx.get(), 0);
    smbc_setOptionDebugToStderr(ctx.get(), 1);
    smbc_setOptionUserData(ctx.get(), &logon_);
    smbc_setFunctionAuthDataWithContext(ctx.get(), GiveLogon);
    smbc_setOptionNoAutoAnonymousLogin(ctx.get(), 1);
    smbc_setOptionUseKerberos(ctx.get(), 0);
    smbc_setOptionFallbackAfterKerberos(ctx.get(), 1);
    // A host that does not answer is given up after this long; the
    // server's keepalive lets go of a dead client's files in about 19 s.
    smbc_setTimeout(ctx.get(), kTimeoutMs);
    if (!smbc_init_context(ctx.get())) {
      *err = ERROR_BAD_NETPATH;
      return nullptr;
    }
    ctx_ = std::move(ctx);
    return ctx_.get();
  }
  void Drop() { ctx_.reset(); }
  std::mutex& mutex() { return mutex_; }

  static constexpr int kTimeoutMs = 5000;

 private:
  std::mutex mutex_;  // guards ctx_, logon_ and every call on the context
  Logon logon_;
  std::unique_ptr<SMBCCTX, ContextDeleter> ctx_;
};

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

// "smb://HOST/SHARE" of a URL.
std::string ShareOf(const std::string& url) {
  const size_t host = url.find('/', 6);
  if (host == std::string::npos) return url;
  const size_t share = url.find('/', host + 1);
  return share == std::string::npos ? url : url.substr(0, share);
}

// The Win32 code of a failed call on `url` (errno as the library left it).
// A missing share reads as a missing file; it is told apart by a look at
// the share itself.
DWORD ErrorOf(SMBCCTX* ctx, const std::string& url, int e) {
  switch (e) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case EPIPE:
      return ERROR_BAD_NETPATH;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case ENODEV:
      return ERROR_BAD_NET_NAME;
    case ENOENT: {
      const std::string share = ShareOf(url);
      struct stat st;
      if (share != url && smbc_getFunctionStat(ctx)(ctx, share.c_str(), &st) != 0 &&
          (errno == ENOENT || errno == ENODEV)) {
        return ERROR_BAD_NET_NAME;
      }
      return ERROR_FILE_NOT_FOUND;
    }
    default:
      return ErrorFromErrno(e);
  }
}

smbc_share_mode ModeOf(Share share) {
  switch (share) {
    case Share::All: return SMBC_SHAREMODE_DENY_NONE;
    case Share::ReadOnly: return SMBC_SHAREMODE_DENY_WRITE;
    case Share::None: return SMBC_SHAREMODE_DENY_ALL;
  }
  return SMBC_SHAREMODE_DENY_NONE;
}

Status StatusOf(const struct stat& st) {
  Status s;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.isDirectory = S_ISDIR(st.st_mode);
  return s;
}

// Runs `call(ctx)` under the connection's mutex; `call` returns true on
// success and leaves errno otherwise.
template <typename Call>
DWORD WithContext(const std::string& url, Call call) {
  Connection& c = TheConnection();
  std::lock_guard lock(c.mutex());
  DWORD err = ERROR_SUCCESS;
  SMBCCTX* ctx = c.Get(&err);
  if (!ctx) return err;
  errno = 0;
  if (call(ctx)) return ERROR_SUCCESS;
  return ErrorOf(ctx, url, errno == 0 ? EIO : errno);
}

}  // namespace

// ------------------------------------------------------------ RemoteFile

RemoteFile::~RemoteFile() { Close(); }

RemoteFile::RemoteFile(RemoteFile&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RemoteFile& RemoteFile::operator=(RemoteFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

DWORD RemoteFile::Open(const std::string& url, int flags, Share share, bool* created) {
  Close();
  if (created) *created = false;
  int access = flags & O_ACCMODE;
  if (access == O_WRONLY) access = O_RDWR;
  const int rest = flags & (O_APPEND | O_TRUNC);
  SMBCFILE* file = nullptr;
  bool made = false;
  const DWORD err = WithContext(url, [&](SMBCCTX* ctx) {
    smbc_setOptionOpenShareMode(ctx, ModeOf(share));
    auto open = smbc_getFunctionOpen(ctx);
    // Most opens find the file: those cost one round trip.
    file = open(ctx, url.c_str(), access | rest, 0);
    while (!file && errno == ENOENT && (flags & O_CREAT)) {
      file = open(ctx, url.c_str(), access | rest | O_CREAT | O_EXCL, 0660);
      if (file) {
        made = true;
      } else if (errno == EEXIST) {
        file = open(ctx, url.c_str(), access | rest, 0);  // created meanwhile
      }
    }
    return file != nullptr;
  });
  if (err != ERROR_SUCCESS) return err;
  handle_ = file;
  if (created) *created = made;
  return ERROR_SUCCESS;
}

DWORD RemoteFile::OpenWaiting(const std::string& url, int flags, Share share, int timeoutMs,
                              bool* created) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const DWORD err = Open(url, flags, share, created);
    if (err != ERROR_SUCCESS && err != ERROR_SHARING_VIOLATION) return err;
    if (err == ERROR_SUCCESS || std::chrono::steady_clock::now() + pause > deadline) return err;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

DWORD RemoteFile::ReadAll(std::string* contents) {
  if (!handle_) return ERROR_INVALID_HANDLE;
  auto* file = static_cast<SMBCFILE*>(handle_);
  std::string text;
  const DWORD err = WithContext("", [&](SMBCCTX* ctx) {
    if (smbc_getFunctionLseek(ctx)(ctx, file, 0, SEEK_SET) < 0) return false;
    char buffer[65536];
    for (;;) {
      const ssize_t n = smbc_getFunctionRead(ctx)(ctx, file, buffer, sizeof buffer);
      if (n < 0) return false;
      if (n == 0) return true;
      text.append(buffer, static_cast<size_t>(n));
    }
  });
  if (err == ERROR_SUCCESS) *contents = std::move(text);
  return err;
}

DWORD RemoteFile::WriteAt(std::uint64_t offset, std::string_view data) {
  if (!handle_) return ERROR_INVALID_HANDLE;
  auto* file = static_cast<SMBCFILE*>(handle_);
  return WithContext("", [&](SMBCCTX* ctx) {
    if (smbc_getFunctionLseek(ctx)(ctx, file, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = smbc_getFunctionWrite(ctx)(ctx, file, data.data() + done, data.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  });
}

DWORD RemoteFile::Append(std::string_view data) {
  if (!handle_) return ERROR_INVALID_HANDLE;
  auto* file = static_cast<SMBCFILE*>(handle_);
  return WithContext("", [&](SMBCCTX* ctx) {
    const ssize_t n = smbc_getFunctionWrite(ctx)(ctx, file, data.data(), data.size());
    if (n >= 0 && static_cast<size_t>(n) != data.size()) errno = EIO;
    return n >= 0 && static_cast<size_t>(n) == data.size();
  });
}

DWORD RemoteFile::Truncate(std::uint64_t size) {
  if (!handle_) return ERROR_INVALID_HANDLE;
  auto* file = static_cast<SMBCFILE*>(handle_);
  return WithContext("", [&](SMBCCTX* ctx) {
    return smbc_getFunctionFtruncate(ctx)(ctx, file, static_cast<off_t>(size)) == 0;
  });
}

DWORD RemoteFile::GetStatus(Status* status) {
  if (!handle_) return ERROR_INVALID_HANDLE;
  auto* file = static_cast<SMBCFILE*>(handle_);
  struct stat st;
  const DWORD err = WithContext("", [&](SMBCCTX* ctx) { return smbc_getFunctionFstat(ctx)(ctx, file, &st) == 0; });
  if (err == ERROR_SUCCESS) *status = StatusOf(st);
  return err;
}

DWORD RemoteFile::Close() {
  if (!handle_) return ERROR_SUCCESS;
  auto* file = static_cast<SMBCFILE*>(handle_);
  handle_ = nullptr;
  return WithContext("", [&](SMBCCTX* ctx) { return smbc_getFunctionClose(ctx)(ctx, file) == 0; });
}

// ------------------------------------------------------------ by name

DWORD GetStatus(const std::string& url, Status* status) {
  struct stat st;
  const DWORD err = WithContext(url, [&](SMBCCTX* ctx) { return smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0; });
  if (err == ERROR_SUCCESS) *status = StatusOf(st);
  return err;
}

DWORD Rename(const std::string& from, const std::string& to) {
  return WithContext(from, [&](SMBCCTX* ctx) {
    struct stat st;
    if (smbc_getFunctionStat(ctx)(ctx, to.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    return smbc_getFunctionRename(ctx)(ctx, from.c_str(), ctx, to.c_str()) == 0;
  });
}

DWORD Unlink(const std::string& url) {
  return WithContext(url, [&](SMBCCTX* ctx) { return smbc_getFunctionUnlink(ctx)(ctx, url.c_str()) == 0; });
}

DWORD MakeDirectory(const std::string& url) {
  return WithContext(url, [&](SMBCCTX* ctx) { return smbc_getFunctionMkdir(ctx)(ctx, url.c_str(), 0770) == 0; });
}

DWORD RemoveDirectory(const std::string& url) {
  return WithContext(url, [&](SMBCCTX* ctx) { return smbc_getFunctionRmdir(ctx)(ctx, url.c_str()) == 0; });
}

DWORD List(const std::string& url, std::vector<Entry>* entries) {
  std::vector<Entry> found;
  const DWORD err = WithContext(url, [&](SMBCCTX* ctx) {
    SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, url.c_str());
    if (!dir) return false;
    struct stat st;
    while (const libsmb_file_info* e = smbc_getFunctionReaddirPlus2(ctx)(ctx, dir, &st)) {
      found.push_back(Entry{e->name, StatusOf(st)});
    }
    smbc_getFunctionClosedir(ctx)(ctx, dir);
    return true;
  });
  if (err == ERROR_SUCCESS) *entries = std::move(found);
  return err;
}

void DropConnectionForTesting() {
  Connection& c = TheConnection();
  std::lock_guard lock(c.mutex());
  c.Drop();
}

}  // namespace plat::smb
