// The one place where the adapter speaks to a socket: OpenVPN's management
// interface is no facility of the machine the platform layer stands in for.
#include "adapters/openvpn/management_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/errors.h"

namespace ovpn {

namespace {

using plat::DWORD;

// A stream socket of `family` connected to `sa`, or -1 with *error set.
int ConnectTo(int family, const sockaddr* sa, socklen_t size, DWORD* error) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = plat::ERROR_TOO_MANY_OPEN_FILES;
    return -1;
  }
  if (::connect(fd, sa, size) != 0) {
    // A socket file this account may not use says so; anything else is "not there".
    *error = family == AF_UNIX && errno == EACCES ? plat::ERROR_ACCESS_DENIED
                                                  : plat::ERROR_FILE_NOT_FOUND;
    ::close(fd);
    return -1;
  }
  return fd;
}

// A connected socket, or -1 with *error set.
int Connect(const std::string& address, DWORD* error) {
  if (!address.empty() && address.front() == '/') {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (address.size() >= sizeof sa.sun_path) {
      *error = plat::ERROR_FILENAME_EXCED_RANGE;
      return -1;
    }
    std::memcpy(sa.sun_path, address.c_str(), address.size() + 1);
    return ConnectTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&sa), sizeof sa, error);
  }
  // "127.0.0.1:PORT" only: the management protocol is clear text.
  const std::size_t colon = address.rfind(':');
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (colon == std::string::npos ||
      ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1 ||
      (ntohl(sa.sin_addr.s_addr) >> 24) != 127) {
    *error = plat::ERROR_INVALID_PARAMETER;
    return -1;
  }
  const long port = std::strtol(address.c_str() + colon + 1, nullptr, 10);
  if (port <= 0 || port > 65535) {
    *error = plat::ERROR_INVALID_PARAMETER;
    return -1;
  }
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  return ConnectTo(AF_INET, reinterpret_cast<const sockaddr*>(&sa), sizeof sa, error);
}

}  // namespace

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

DWORD ManagementSession::Open(const std::string& address, NotificationHandler handler,
                              unsigned bannerTimeoutMs, std::unique_ptr<ManagementSession>* out) {
  DWORD error = 0;
  const int fd = Connect(address, &error);
  if (fd < 0) return error;
  std::unique_ptr<ManagementSession> session(new ManagementSession(fd, std::move(handler)));
  {
    std::unique_lock lock(session->mutex_);
    if (!session->changed_.wait_for(lock, std::chrono::milliseconds(bannerTimeoutMs),
                                    [&] { return session->banner_ || session->closed_; })) {
      lock.unlock();
      return plat::ERROR_SEM_TIMEOUT;
    }
    if (!session->banner_) return plat::ERROR_BROKEN_PIPE;
  }
  *out = std::move(session);
  return plat::ERROR_SUCCESS;
}

ManagementSession::ManagementSession(int fd, NotificationHandler handler)
    : fd_(fd), handler_(std::move(handler)) {
  reader_ = std::thread([this] { ReadLoop(); });
}

ManagementSession::~ManagementSession() {
  Close();
  if (reader_.joinable()) reader_.join();
  ::close(fd_);
}

void ManagementSession::Close() {
  // Wakes the reader; the descriptor itself is closed once it has ended.
  ::shutdown(fd_, SHUT_RDWR);
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool ManagementSession::alive() const {
  std::lock_guard lock(mutex_);
  return !closed_;
}

void ManagementSession::Deliver(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!line.empty() && line.front() == '>') {
    if (line.rfind(">INFO:", 0) == 0) {
      std::lock_guard lock(mutex_);
      banner_ = true;
      changed_.notify_all();
    }
    if (handler_) handler_(line);
    return;
  }
  std::lock_guard lock(mutex_);
  replies_.push_back(std::move(line));
  changed_.notify_all();
}

void ManagementSession::ReadLoop() {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
      Deliver(buffer.substr(start, nl - start));
    }
    buffer.erase(0, start);
  }
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

DWORD ManagementSession::Command(std::string_view text, bool multiLine,
                                 std::vector<std::string>* reply, unsigned timeoutMs) {
  std::lock_guard command(commandMutex_);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return plat::ERROR_BROKEN_PIPE;
    replies_.clear();  // nothing unasked-for may pass for this command's reply
  }
  std::string line(text);
  line.push_back('\n');
  if (!WriteAll(fd_, line)) {
    Close();
    return plat::ERROR_BROKEN_PIPE;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  reply->clear();
  for (;;) {
    if (!changed_.wait_until(lock, until, [this] { return !replies_.empty() || closed_; })) {
      lock.unlock();
      Close();
      return plat::ERROR_SEM_TIMEOUT;
    }
    while (!replies_.empty()) {
      std::string next = std::move(replies_.front());
      replies_.pop_front();
      if (!multiLine) {
        reply->push_back(std::move(next));
        return plat::ERROR_SUCCESS;
      }
      if (next == "END") return plat::ERROR_SUCCESS;
      // A command the interface does not know answers with one error line.
      if (reply->empty() && next.rfind("ERROR:", 0) == 0) {
        reply->push_back(std::move(next));
        return plat::ERROR_SUCCESS;
      }
      reply->push_back(std::move(next));
    }
    if (closed_) return plat::ERROR_BROKEN_PIPE;
  }
}

}  // namespace ovpn
