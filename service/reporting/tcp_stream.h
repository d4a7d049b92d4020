// A TCP connection for a line-oriented protocol client (the status mail's
// SMTP): connect with a time limit, write whole buffers, read CRLF lines.
// Every wait is bounded by the time limit given at Connect; a peer that
// closes, a time-out or a network error make the call fail with a readable
// error(). Not thread-safe. The socket closes when the object goes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace svc {

class TcpStream {
 public:
  TcpStream() = default;
  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Resolves `host` (name or address) and connects to the first address that
  // answers on `port`.
  bool Connect(const std::string& host, int port, std::chrono::milliseconds timeout);
  bool WriteAll(std::string_view data);
  // The next line without its line end (CRLF or a bare LF).
  bool ReadLine(std::string* line);
  void Close();

  const std::string& error() const { return error_; }

 private:
  // Waits until the socket is readable (or writable); false on time-out.
  bool Wait(bool forWrite);

  int fd_ = -1;
  std::chrono::milliseconds timeout_{30000};
  std::string buffer_;  // bytes read beyond the last line handed out
  std::string error_;
};

}  // namespace svc
