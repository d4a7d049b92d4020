#include "service/reporting/tcp_stream.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace svc {

namespace {

constexpr size_t kLongestLine = 64 * 1024;

std::string ErrnoText(int err) { return std::strerror(err); }

struct AddressList {
  addrinfo* list = nullptr;
  ~AddressList() {
    if (list) freeaddrinfo(list);
  }
};

}  // namespace

TcpStream::~TcpStream() { Close(); }

void TcpStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
}

bool TcpStream::Wait(bool forWrite) {
  pollfd p{fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  for (;;) {
    const int n = ::poll(&p, 1, static_cast<int>(timeout_.count()));
    if (n > 0) return true;
    if (n == 0) {
      const auto ms = timeout_.count();
      error_ = "no answer within " +
               (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
      return false;
    }
    if (errno != EINTR) {
      error_ = ErrnoText(errno);
      return false;
    }
  }
}

bool TcpStream::Connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
  Close();
  timeout_ = timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  AddressList addresses;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.list); rc != 0) {
    error_ = "cannot resolve '" + host + "': " + ::gai_strerror(rc);
    return false;
  }
  error_ = "no address for '" + host + "'";
  for (addrinfo* a = addresses.list; a; a = a->ai_next) {
    fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd_ < 0) {
      error_ = ErrnoText(errno);
      continue;
    }
    int err = ::connect(fd_, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      if (Wait(true)) {
        socklen_t length = sizeof err;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &length);
        if (err != 0) error_ = ErrnoText(err);
      } else {
        err = ETIMEDOUT;
      }
    } else if (err != 0) {
      error_ = ErrnoText(err);
    }
    if (err == 0) {
      error_.clear();
      return true;
    }
    Close();
  }
  error_ = "cannot connect to " + host + ":" + service + ": " + error_;
  return false;
}

bool TcpStream::WriteAll(std::string_view data) {
  if (fd_ < 0) {
    error_ = "not connected";
    return false;
  }
  while (!data.empty()) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(true)) return false;
    } else if (n < 0 && errno != EINTR) {
      error_ = errno == EPIPE || errno == ECONNRESET ? "the server closed the connection"
                                                     : ErrnoText(errno);
      return false;
    }
  }
  return true;
}

bool TcpStream::ReadLine(std::string* line) {
  if (fd_ < 0) {
    error_ = "not connected";
    return false;
  }
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      size_t length = end;
      if (length > 0 && buffer_[length - 1] == '\r') --length;
      line->assign(buffer_, 0, length);
      buffer_.erase(0, end + 1);
      return true;
    }
    if (buffer_.size() > kLongestLine) {
      error_ = "the server sent an over-long line";
      return false;
    }
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      error_ = "the server closed the connection";
      return false;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!Wait(false)) return false;
    } else if (errno != EINTR) {
      error_ = errno == ECONNRESET ? "the server reset the connection" : ErrnoText(errno);
      return false;
    }
  }
}

}  // namespace svc
