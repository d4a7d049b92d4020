// OpenVPN takes one management client at a time, and the adapter is it. The
// relay gives the administrator the commands they know back on a second,
// local socket: "status", "kill", "log" (its history), "version", "pid",
// "load-stats", "help", each passed through the adapter's connection and
// answered as OpenVPN answers it. Commands that would decide about clients
// or hold the connection ("client-auth", "log on", "hold", "signal", ...)
// are refused: they are the adapter's.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win_types.h"

namespace ovpn {

// Whether a command line may pass, and whether its answer is several lines
// up to "END". False for anything not in the list above.
bool RelayAllows(std::string_view command, bool* multiLine);

class ManagementRelay {
 public:
  // Sends one command on OpenVPN's connection (ManagementSession::Command).
  using Forward = std::function<plat::DWORD(const std::string& command, bool multiLine,
                                            std::vector<std::string>* reply)>;

  ManagementRelay() = default;
  ~ManagementRelay();
  ManagementRelay(const ManagementRelay&) = delete;
  ManagementRelay& operator=(const ManagementRelay&) = delete;

  // Listens on the Unix socket `path` (its folder made if missing, the socket
  // for its owner only) and serves one client at a time. ERROR_ACCESS_DENIED
  // or ERROR_PATH_NOT_FOUND when it cannot be made.
  plat::DWORD Start(const std::string& path, Forward forward);
  // Closes the socket (and removes its file); the thread ends.
  void Stop();

 private:
  void Serve();
  void Talk(int fd);

  std::string path_;
  Forward forward_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ovpn
