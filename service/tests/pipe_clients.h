// Clients of the service's pipe for the end-to-end tests: callers that send
// what the hook modules send, and silent clients that connect and say nothing.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/data_folder.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/pipe.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

namespace svc::testing {

inline std::string Account(int u) { return "DOM\\u" + std::to_string(u); }
inline std::string Port(int p) { return "COM" + std::to_string(p + 1); }

inline std::string TodaysLog() {
  return common::DayLogPath("C:\\PLData", common::DayLogName(plat::Now()));
}

// Domain users u0 ... u<count - 1> of DOM, each with a profile in `usersFile`:
// MaxSessionTime 3600, a daily period, and the keys of `extra`.
inline void ProvideCallers(const char* usersFile, int count,
                           const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  std::vector<plat::ProfileChange> profiles;
  for (int u = 0; u < count; ++u) {
    ASSERT_EQ(plat::DomainAddUser("DOM", "u" + std::to_string(u), "", {}), plat::ERROR_SUCCESS);
    profiles.push_back({Account(u), "MaxSessionTime", "3600"});
    profiles.push_back({Account(u), "PeriodType", "1"});
    for (const auto& [key, value] : extra) profiles.push_back({Account(u), key, value});
  }
  ASSERT_EQ(plat::ProfileApply(usersFile, profiles), plat::ERROR_SUCCESS);
}

// One dial-in and, when admitted, its hang-up, as the hook module sends them.
struct Session {
  int user = 0;
  int port = 0;
  long start = 0;
  bool answered = false;  // the NEW got a reply
  bool admitted = false;
  bool hungUp = false;
  long duration = 0;
};

inline Session Dial(int user, int port, long duration, bool hangUp = true) {
  Session s{user, port, static_cast<long>(plat::Now()), false, false, false, duration};
  std::string reply;
  const std::string startText = std::to_string(s.start);
  if (plat::CallNamedPipe(common::kPipeName,
                          *common::NewConnectionMessage(Port(port), Account(user), "*", startText),
                          &reply, 2000, 10000) != plat::ERROR_SUCCESS) {
    return s;
  }
  s.answered = true;
  s.admitted = common::ReplyCode(reply) == common::kReplyAccepted;
  if (!s.admitted || !hangUp) return s;
  s.hungUp = plat::CallNamedPipe(common::kPipeName,
                                 *common::HangUpMessage(Port(port), Account(user), "*", startText, duration),
                                 &reply, 2000, 10000) == plat::ERROR_SUCCESS;
  return s;
}

// `count` clients of the machine's service pipe that connect, say nothing and
// wait for the server to drop them, over and over, until the object goes.
class SilentClients {
 public:
  SilentClients(const std::string& machineRoot, int count) {
    const std::string path = plat::PipesDir(machineRoot) + "/plsvcpipe";
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, path] {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        while (!stop_.load()) {
          const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
          if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            timeval wait{0, 100000};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char byte;
            for (;;) {
              const ssize_t n = ::recv(fd, &byte, 1, 0);
              if (stop_.load() || n == 0 || (n < 0 && errno != EAGAIN)) break;
            }
          } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no pipe: the service is away
          }
          ::close(fd);
        }
      });
    }
  }
  ~SilentClients() {
    stop_.store(true);
    for (auto& t : threads_) t.join();
  }
  SilentClients(const SilentClients&) = delete;
  SilentClients& operator=(const SilentClients&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace svc::testing
