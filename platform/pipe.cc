#include "platform/pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"

namespace plat {

namespace {

// Every message carries one leading byte, so that an empty message is never
// mistaken for the end of the connection; the greeting is a byte of its own.
constexpr char kMessageMark = 'M';
constexpr char kGreeting = 'G';
// Once connected, a client waits this long for the reply before giving up on
// a server that hangs.
constexpr int kReplyWaitMs = 60000;

using Clock = std::chrono::steady_clock;

// Splits "\\SERVER\pipe\NAME"; false for anything else.
bool ParsePipeName(std::string_view full, std::string* server, std::string* name) {
  std::string machine, share, rest;
  if (!SplitUncPath(full, &machine, &share, &rest)) return false;
  if (!EqualsIgnoringCase(share, "pipe")) return false;
  while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/')) rest.erase(0, 1);
  if (rest.empty()) return false;
  *server = machine;
  *name = rest;
  return true;
}

// The socket's file name: the pipe name folded to lower case, separators made safe.
std::string SocketFileName(const std::string& pipeName) {
  std::string file = ToLowerAscii(pipeName);
  for (auto& c : file) {
    if (c == '\\' || c == '/') c = '#';
  }
  return file;
}

DWORD SendMessage(int fd, std::string_view message) {
  std::string framed;
  framed.reserve(message.size() + 1);
  framed += kMessageMark;
  framed.append(message);
  for (;;) {
    const ssize_t n = ::send(fd, framed.data(), framed.size(), MSG_NOSIGNAL);
    if (n >= 0) return ERROR_SUCCESS;
    if (errno == EINTR) continue;
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) return ERROR_NO_DATA;
    return ErrorFromErrno(errno);
  }
}

// TakeMessage's word for "nothing there yet" (ERROR_IO_PENDING's value).
constexpr DWORD kNoMessageYet = 997;

// Takes one message; kNoMessageYet when none is there (`flags` holding MSG_DONTWAIT).
DWORD TakeMessage(int fd, std::string* message, size_t maxBytes, int flags) {
  std::vector<char> buffer(maxBytes + 1);
  iovec iov{buffer.data(), buffer.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kNoMessageYet;
  if (n < 0) return errno == ECONNRESET ? ERROR_BROKEN_PIPE : ErrorFromErrno(errno);
  if (n == 0 || buffer[0] != kMessageMark) return ERROR_BROKEN_PIPE;
  message->assign(buffer.data() + 1, static_cast<size_t>(n) - 1);
  return (msg.msg_flags & MSG_TRUNC) ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

DWORD ReceiveMessage(int fd, std::string* message, size_t maxBytes, int timeoutMs) {
  if (!posix::WaitReadable(fd, timeoutMs)) return ERROR_SEM_TIMEOUT;
  return TakeMessage(fd, message, maxBytes, 0);
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

// ------------------------------------------------------------------ server

// The clients NextRequest has accepted and waits for, all watched by one
// epoll set. Each is known by a number never used again, so that an event
// read before its client was dropped finds nobody rather than a newcomer
// that got the same descriptor.
class NamedPipeServer::Clients {
 public:
  Clients(int listener, posix::UniqueFd epoll) : listener_(listener), epoll_(std::move(epoll)) {}

  static DWORD Make(int listener, std::unique_ptr<Clients>* out) {
    // AcceptAll takes clients until none is left, which only a listener that
    // does not wait can tell (WaitForClient copes with either).
    const int flags = ::fcntl(listener, F_GETFL);
    if (flags < 0 || ::fcntl(listener, F_SETFL, flags | O_NONBLOCK) != 0) return ErrorFromErrno(errno);
    posix::UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll.valid()) return ErrorFromErrno(errno);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListener;
    if (::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, listener, &ev) != 0) return ErrorFromErrno(errno);
    *out = std::make_unique<Clients>(listener, std::move(epoll));
    return ERROR_SUCCESS;
  }

  DWORD Next(PipeRequest* request, size_t maxBytes, DWORD clientTimeoutMs, DWORD timeoutMs) {
    const bool forever = timeoutMs == NMPWAIT_WAIT_FOREVER;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
      // Messages that arrived come first; a client whose time is up only
      // loses its place, it takes none from the others.
      while (next_ < events_.size()) {
        const std::uint64_t id = events_[next_++].data.u64;
        if (id == kListener) {
          if (DWORD err = AcceptAll(clientTimeoutMs); err != ERROR_SUCCESS) {
            if (err != ERROR_TOO_MANY_OPEN_FILES || waiting_.empty()) return err;
            Hand(byDeadline_.begin()->second, err, request);  // the oldest makes room
            return ERROR_SUCCESS;
          }
          continue;
        }
        const auto it = waiting_.find(id);
        if (it == waiting_.end()) continue;
        std::string message;
        const DWORD err = TakeMessage(it->second.fd.get(), &message, maxBytes, MSG_DONTWAIT);
        if (err == kNoMessageYet) continue;
        Hand(id, err, request);
        request->message = std::move(message);
        return ERROR_SUCCESS;
      }
      const auto now = Clock::now();
      if (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
        Hand(byDeadline_.begin()->second, ERROR_SEM_TIMEOUT, request);
        return ERROR_SUCCESS;
      }
      if (!forever && now >= deadline) return ERROR_SEM_TIMEOUT;
      // Rounded up, so that the wake-up finds the time up.
      auto msUntil = [&now](Clock::time_point t) {
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(t - now).count());
      };
      int waitMs = forever ? -1 : msUntil(deadline);
      if (!byDeadline_.empty()) {
        const int firstMs = msUntil(byDeadline_.begin()->first);
        if (waitMs < 0 || firstMs < waitMs) waitMs = firstMs;
      }
      events_.resize(kEventsPerWait);
      const int n = ::epoll_wait(epoll_.get(), events_.data(), kEventsPerWait, waitMs);
      events_.resize(n > 0 ? static_cast<size_t>(n) : 0);
      next_ = 0;
      if (n < 0 && errno != EINTR) return ErrorFromErrno(errno);
    }
  }

 private:
  static constexpr std::uint64_t kListener = 0;
  static constexpr int kEventsPerWait = 64;

  struct Waiting {
    posix::UniqueFd fd;
    Clock::time_point deadline;
  };

  // Accepts every client in the queue and greets it; a client that gave up
  // meanwhile is skipped. ERROR_TOO_MANY_OPEN_FILES when the process has no
  // descriptor for the next one.
  DWORD AcceptAll(DWORD clientTimeoutMs) {
    for (;;) {
      // Blocking, as WaitForClient's: only the greeting and the watched read
      // here must not wait, and they say so themselves.
      posix::UniqueFd client(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
      if (!client.valid()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return ERROR_SUCCESS;
        return ErrorFromErrno(errno);
      }
      if (::send(client.get(), &kGreeting, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) continue;
      const std::uint64_t id = ++lastId_;
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = id;
      if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, client.get(), &ev) != 0) {
        return ErrorFromErrno(errno);
      }
      const auto deadline = Clock::now() + std::chrono::milliseconds(clientTimeoutMs);
      byDeadline_.emplace(deadline, id);
      waiting_.emplace(id, Waiting{std::move(client), deadline});
    }
  }

  // Gives the waiting client `id` to the caller, its watch ended.
  void Hand(std::uint64_t id, DWORD readError, PipeRequest* request) {
    const auto it = waiting_.find(id);
    Waiting w = std::move(it->second);
    waiting_.erase(it);
    byDeadline_.erase({w.deadline, id});
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, w.fd.get(), nullptr);
    *request = PipeRequest();
    request->client.fd_ = w.fd.release();
    request->readError = readError;
  }

  const int listener_;  // the server's; not owned
  posix::UniqueFd epoll_;
  std::uint64_t lastId_ = kListener;
  std::map<std::uint64_t, Waiting> waiting_;
  std::set<std::pair<Clock::time_point, std::uint64_t>> byDeadline_;
  std::vector<epoll_event> events_;  // of the last wait, handled up to next_
  size_t next_ = 0;
};

NamedPipeServer::NamedPipeServer() = default;

NamedPipeServer::~NamedPipeServer() { Close(); }

void NamedPipeServer::Close() {
  clients_.reset();
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  fd_ = -1;
}

NamedPipeServer::NamedPipeServer(NamedPipeServer&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), clients_(std::move(other.clients_)) {
  other.fd_ = -1;
}

NamedPipeServer& NamedPipeServer::operator=(NamedPipeServer&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    clients_ = std::move(other.clients_);
    other.fd_ = -1;
  }
  return *this;
}

DWORD NamedPipeServer::NextRequest(PipeRequest* request, size_t maxBytes, DWORD clientTimeoutMs,
                                   DWORD timeoutMs) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (!clients_) {
    if (DWORD err = Clients::Make(fd_, &clients_); err != ERROR_SUCCESS) return err;
  }
  return clients_->Next(request, maxBytes, clientTimeoutMs, timeoutMs);
}

DWORD RaiseOpenFileLimit(unsigned long* limit) {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return ErrorFromErrno(errno);
  if (r.rlim_cur < r.rlim_max) {
    rlimit raised = r;
    raised.rlim_cur = r.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) return ErrorFromErrno(errno);
    r = raised;
  }
  *limit = r.rlim_cur == RLIM_INFINITY ? ~0UL : static_cast<unsigned long>(r.rlim_cur);
  return ERROR_SUCCESS;
}

DWORD NamedPipeServer::Create(std::string_view name, DWORD maxInstances, NamedPipeServer* out) {
  std::string server, pipeName;
  if (!ParsePipeName(name, &server, &pipeName) || server != "." || maxInstances == 0) {
    return ERROR_INVALID_NAME;
  }
  const std::string root = CurrentMachineRoot();
  if (root.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string dir = PipesDir(root);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);

  const std::string file = SocketFileName(pipeName);
  posix::UnixAddress addr;
  if (addr.Set(dir, file) != ERROR_SUCCESS) return ERROR_FILENAME_EXCED_RANGE;

  const std::string path = dir + "/" + file;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    // A live server answers; a socket left by a dead one refuses.
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && ::connect(probe, addr.get(), addr.size()) == 0;
    if (probe >= 0) ::close(probe);
    if (live) return ERROR_PIPE_BUSY;
    ::unlink(path.c_str());
  }

  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return ErrorFromErrno(errno);
  // Owner-only before it listens, so no other local user ever talks to it
  // (a socket that does not listen yet refuses every connection). Not by
  // narrowing the umask around bind: that is the whole process's, and two
  // threads creating pipes at once could leave it narrowed for good.
  if (::bind(fd, addr.get(), addr.size()) != 0) {
    const DWORD err = ErrorFromErrno(errno);
    ::close(fd);
    return err;
  }
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 128) != 0) {
    const DWORD err = ErrorFromErrno(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return err;
  }
  *out = NamedPipeServer();
  out->fd_ = fd;
  out->path_ = path;
  return ERROR_SUCCESS;
}

DWORD NamedPipeServer::WaitForClient(PipeConnection* connection, DWORD timeoutMs) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  const bool forever = timeoutMs == NMPWAIT_WAIT_FOREVER;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    if (!posix::WaitReadable(fd_, forever ? -1 : RemainingMs(deadline))) return ERROR_SEM_TIMEOUT;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
      return ErrorFromErrno(errno);
    }
    // The greeting tells the client it has an instance; one that already gave
    // up waiting is skipped.
    if (::send(client, &kGreeting, 1, MSG_NOSIGNAL) != 1) {
      ::close(client);
      continue;
    }
    *connection = PipeConnection();
    connection->fd_ = client;
    return ERROR_SUCCESS;
  }
}

// ------------------------------------------------------------------ connection

PipeConnection::~PipeConnection() { Disconnect(); }

PipeConnection::PipeConnection(PipeConnection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

PipeConnection& PipeConnection::operator=(PipeConnection&& other) noexcept {
  if (this != &other) {
    Disconnect();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

DWORD PipeConnection::Read(std::string* message, size_t maxBytes, DWORD timeoutMs) {
  if (fd_ < 0) return ERROR_PIPE_NOT_CONNECTED;
  return ReceiveMessage(fd_, message, maxBytes,
                        timeoutMs == NMPWAIT_WAIT_FOREVER ? -1 : static_cast<int>(timeoutMs));
}

DWORD PipeConnection::Write(std::string_view message) {
  if (fd_ < 0) return ERROR_PIPE_NOT_CONNECTED;
  return SendMessage(fd_, message);
}

void PipeConnection::Disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ------------------------------------------------------------------ client

DWORD CallNamedPipe(std::string_view pipeName, std::string_view message, std::string* reply,
                    size_t replyMax, DWORD timeoutMs) {
  std::string server, name;
  if (!ParsePipeName(pipeName, &server, &name)) return ERROR_INVALID_NAME;
  std::string root;
  if (server == ".") {
    root = CurrentMachineRoot();
    if (root.empty()) return ERROR_FILE_NOT_FOUND;
  } else if (DWORD err = FindMachine(server, &root, true); err != ERROR_SUCCESS) {
    return err;
  }
  posix::UnixAddress addr;
  if (addr.Set(PipesDir(root), SocketFileName(name)) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;

  const auto deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs == NMPWAIT_WAIT_FOREVER ? 24L * 3600 * 1000
                                                                                  : timeoutMs);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return ErrorFromErrno(errno);
  posix::UniqueFd closeSocket(fd);
  for (;;) {
    if (::connect(fd, addr.get(), addr.size()) == 0) break;
    if (errno == EINTR) continue;
    if (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    if (errno != EAGAIN) return ErrorFromErrno(errno);
    // Even the queue of waiting clients is full: wait like any busy instance.
    if (RemainingMs(deadline) == 0) return ERROR_SEM_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  if (!posix::WaitReadable(fd, RemainingMs(deadline))) return ERROR_SEM_TIMEOUT;
  char greeting = 0;
  if (::recv(fd, &greeting, 1, 0) != 1 || greeting != kGreeting) return ERROR_BROKEN_PIPE;

  if (DWORD err = SendMessage(fd, message); err != ERROR_SUCCESS) return err;
  const DWORD err = ReceiveMessage(fd, reply, replyMax, kReplyWaitMs);
  return err == ERROR_SEM_TIMEOUT ? ERROR_BROKEN_PIPE : err;
}

}  // namespace plat

namespace plat {

DWORD QueryNamedPipe(std::string_view pipeName) {
  std::string server, name;
  if (!ParsePipeName(pipeName, &server, &name)) return ERROR_INVALID_NAME;
  std::string root;
  if (server == ".") {
    root = CurrentMachineRoot();
    if (root.empty()) return ERROR_FILE_NOT_FOUND;
  } else if (DWORD err = FindMachine(server, &root, true); err != ERROR_SUCCESS) {
    return err;
  }
  struct stat st;
  const std::string path = PipesDir(root) + "/" + SocketFileName(name);
  if (::stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

}  // namespace plat
