// The relay's own socket: like the management connection itself, no facility
// of the machine the platform layer stands in for.
#include "adapters/openvpn/management_relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "adapters/openvpn/management_session.h"
#include "common/trace.h"
#include "platform/errors.h"

namespace ovpn {

namespace {

constexpr const char* kBanner =
    ">INFO:Portulon's relay of OpenVPN's management interface: status, kill, log, version, pid, "
    "load-stats, help, quit\r\n";

std::string FirstWord(std::string_view line, std::string_view* rest) {
  const std::size_t blank = line.find(' ');
  *rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  return std::string(line.substr(0, blank));
}

}  // namespace

bool RelayAllows(std::string_view command, bool* multiLine) {
  std::string_view rest;
  const std::string verb = FirstWord(command, &rest);
  *multiLine = true;
  if (verb == "status" || verb == "version" || verb == "help") return true;
  // The log's history only: "log on" would stream into the adapter's connection.
  if (verb == "log") {
    if (rest == "all") return true;
    return !rest.empty() && rest.find_first_not_of("0123456789") == std::string_view::npos;
  }
  *multiLine = false;
  if (verb == "pid" || verb == "load-stats") return rest.empty();
  return verb == "kill" && !rest.empty();
}

ManagementRelay::~ManagementRelay() { Stop(); }

plat::DWORD ManagementRelay::Start(const std::string& path, Forward forward) {
  sockaddr_un sa{};
  if (path.empty() || path.front() != '/' || path.size() >= sizeof sa.sun_path)
    return plat::ERROR_INVALID_PARAMETER;
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return plat::ERROR_PATH_NOT_FOUND;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return plat::ERROR_TOO_MANY_OPEN_FILES;
  sa.sun_family = AF_UNIX;
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());  // a socket file left by an adapter that was killed
  // Owner only from the first moment: the relay can end anybody's session.
  const mode_t old = ::umask(0077);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  ::umask(old);
  if (bound != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return plat::ERROR_ACCESS_DENIED;
  }
  path_ = path;
  forward_ = std::move(forward);
  listener_ = fd;
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return plat::ERROR_SUCCESS;
}

void ManagementRelay::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) {
    ::close(listener_);
    ::unlink(path_.c_str());
    listener_ = -1;
  }
}

void ManagementRelay::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 500) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Talk(client);
    ::close(client);
  }
}

void ManagementRelay::Talk(int fd) {
  if (!WriteAll(fd, kBanner)) return;
  std::string buffer;
  char chunk[1024];
  while (!stop_) {
    const std::size_t nl = buffer.find('\n');
    if (nl == std::string::npos) {
      if (buffer.size() > 4096) return;  // no command is this long
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 500) <= 0) continue;
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    std::string line = buffer.substr(0, nl);
    buffer.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line == "quit" || line == "exit") return;
    bool multiLine = false;
    std::string answer;
    if (!RelayAllows(line, &multiLine)) {
      answer = "ERROR: not passed on by Portulon's relay (status, kill, log N|all, version, pid, "
               "load-stats, help)\r\n";
    } else {
      std::vector<std::string> reply;
      const plat::DWORD err = forward_(line, multiLine, &reply);
      common::Trace("Relay", line, static_cast<long>(err));
      if (err != plat::ERROR_SUCCESS) {
        answer = "ERROR: OpenVPN does not answer (" + std::to_string(err) + ")\r\n";
      } else {
        for (const std::string& r : reply) answer += r + "\r\n";
        const bool oneError = reply.size() == 1 && reply.front().rfind("ERROR:", 0) == 0;
        if (multiLine && !oneError) answer += "END\r\n";
      }
    }
    if (!WriteAll(fd, answer)) return;
  }
}

}  // namespace ovpn
