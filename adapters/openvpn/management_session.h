// One connection to OpenVPN's management interface. A reader thread splits
// what OpenVPN writes into real-time notifications (lines beginning with '>')
// and the replies to our commands; commands go out one at a time.
//
// OpenVPN takes one management client at a time and drops commands sent
// before its ">INFO" banner: Open returns only once the banner was read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win_types.h"

namespace ovpn {

// Sends all of `data` on the socket `fd` (never raising SIGPIPE), resuming
// after interruptions; false once the peer is gone or the send fails.
bool WriteAll(int fd, std::string_view data);

class ManagementSession {
 public:
  // Called on the reader thread for every notification line (without its
  // line end); it must not send commands (the reply would be read by the
  // thread that waits in it).
  using NotificationHandler = std::function<void(const std::string& line)>;

  // `address`: a Unix socket path ("/run/openvpn/portulon.sock") or a TCP
  // port on the loopback address ("127.0.0.1:7505"); any other host is
  // refused with ERROR_INVALID_PARAMETER. ERROR_FILE_NOT_FOUND when nobody
  // listens, ERROR_SEM_TIMEOUT when no banner came within `bannerTimeoutMs`.
  // On failure *out is left empty.
  static plat::DWORD Open(const std::string& address, NotificationHandler handler,
                          unsigned bannerTimeoutMs, std::unique_ptr<ManagementSession>* out);

  ~ManagementSession();
  ManagementSession(const ManagementSession&) = delete;
  ManagementSession& operator=(const ManagementSession&) = delete;

  // Sends one command line (or a block: several lines) and waits up to
  // `timeoutMs` for its reply: the single "SUCCESS:"/"ERROR:" line, or, with
  // `multiLine`, every line up to "END" (not included). ERROR_BROKEN_PIPE
  // once the connection is gone, ERROR_SEM_TIMEOUT without a reply in time
  // (the connection is then closed: a late reply would be taken for the next
  // command's). Safe from several threads; commands queue.
  plat::DWORD Command(std::string_view text, bool multiLine, std::vector<std::string>* reply,
                      unsigned timeoutMs = 10000);

  // True while OpenVPN is still connected.
  bool alive() const;
  // Closes the connection; the reader thread ends.
  void Close();

 private:
  ManagementSession(int fd, NotificationHandler handler);
  void ReadLoop();
  void Deliver(std::string line);

  int fd_;
  NotificationHandler handler_;
  std::thread reader_;
  std::mutex commandMutex_;   // one command in flight at a time
  mutable std::mutex mutex_;  // guards every member below
  std::condition_variable changed_;
  std::deque<std::string> replies_;  // reply lines not yet taken
  bool banner_ = false;
  bool closed_ = false;
};

}  // namespace ovpn
