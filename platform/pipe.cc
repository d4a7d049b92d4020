#include "platform/pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
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

DWORD ReceiveMessage(int fd, std::string* message, size_t maxBytes, int timeoutMs) {
  if (!posix::WaitReadable(fd, timeoutMs)) return ERROR_SEM_TIMEOUT;
  std::vector<char> buffer(maxBytes + 1);
  iovec iov{buffer.data(), buffer.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == ECONNRESET ? ERROR_BROKEN_PIPE : ErrorFromErrno(errno);
  if (n == 0 || buffer[0] != kMessageMark) return ERROR_BROKEN_PIPE;
  message->assign(buffer.data() + 1, static_cast<size_t>(n) - 1);
  return (msg.msg_flags & MSG_TRUNC) ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

// ------------------------------------------------------------------ server

NamedPipeServer::~NamedPipeServer() { Close(); }

void NamedPipeServer::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  fd_ = -1;
}

NamedPipeServer::NamedPipeServer(NamedPipeServer&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

NamedPipeServer& NamedPipeServer::operator=(NamedPipeServer&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
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
