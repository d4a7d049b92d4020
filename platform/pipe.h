// Named pipes in message mode.
//
// \\.\pipe\NAME is an AF_UNIX SOCK_SEQPACKET socket in the machine's pipes/
// folder (message boundaries kept); \\SERVER\pipe\NAME reaches machine SERVER
// of the network. Names compare case-insensitively. The socket is reachable
// only by its owner.
//
// A server instance takes one client at a time. A client counts as connected
// to an instance only once the server has accepted it (the server sends a
// one-byte greeting then), so a client that finds every instance busy waits,
// up to its time-out, exactly as CallNamedPipe waits for a free instance.
//
// Thread safety: every call may run on several threads at once (nothing
// process-wide is changed, not even the umask); a server or connection object
// is one thread's at a time. Out parameters on failure: left as they were
// (`out`, `connection`, a message or reply), except that ERROR_MORE_DATA
// gives the message or reply cut to its maximum.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace plat {

inline constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;

class PipeConnection;

// CreateNamedPipe + ConnectNamedPipe for the server side.
class NamedPipeServer {
 public:
  NamedPipeServer() = default;
  ~NamedPipeServer();
  NamedPipeServer(NamedPipeServer&& other) noexcept;
  NamedPipeServer& operator=(NamedPipeServer&& other) noexcept;
  NamedPipeServer(const NamedPipeServer&) = delete;
  NamedPipeServer& operator=(const NamedPipeServer&) = delete;

  // `name` is "\\.\pipe\NAME" (local only, as on Windows). A socket left by a
  // server that died is replaced; a live server of the same name gives
  // ERROR_PIPE_BUSY. ERROR_INVALID_NAME for another form.
  static DWORD Create(std::string_view name, DWORD maxInstances, NamedPipeServer* out);

  // Waits for the next client and accepts it. With a time-out,
  // ERROR_SEM_TIMEOUT when none came.
  DWORD WaitForClient(PipeConnection* connection, DWORD timeoutMs = NMPWAIT_WAIT_FOREVER);

  // Closes the pipe and removes its socket.
  void Close();

  bool valid() const { return fd_ >= 0; }
  const std::string& socketPath() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// One accepted client.
class PipeConnection {
 public:
  PipeConnection() = default;
  ~PipeConnection();
  PipeConnection(PipeConnection&& other) noexcept;
  PipeConnection& operator=(PipeConnection&& other) noexcept;
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  // Reads one message of at most `maxBytes`; a longer one is cut and gives
  // ERROR_MORE_DATA with the first `maxBytes`. ERROR_BROKEN_PIPE when the
  // client went away, ERROR_SEM_TIMEOUT when it sent nothing in time.
  DWORD Read(std::string* message, size_t maxBytes, DWORD timeoutMs = NMPWAIT_WAIT_FOREVER);
  DWORD Write(std::string_view message);
  // DisconnectNamedPipe.
  void Disconnect();

  bool connected() const { return fd_ >= 0; }

 private:
  friend class NamedPipeServer;
  int fd_ = -1;
};

// CallNamedPipe: waits up to `timeoutMs` for a free instance, writes one
// message, reads one reply of at most `replyMax` bytes, closes. Errors:
// ERROR_FILE_NOT_FOUND (no such pipe), ERROR_SEM_TIMEOUT (no instance became
// free in time), ERROR_BAD_NETPATH (unknown or down machine), ERROR_BROKEN_PIPE
// (the server closed without replying), ERROR_MORE_DATA (reply cut).
DWORD CallNamedPipe(std::string_view pipeName, std::string_view message, std::string* reply,
                    size_t replyMax, DWORD timeoutMs);

// Whether a server has created the pipe, without connecting to it (so the
// server sees nothing): ERROR_SUCCESS when it exists (its instance may be
// busy), ERROR_FILE_NOT_FOUND when no server has it, ERROR_BAD_NETPATH for an
// unknown or down machine, ERROR_INVALID_NAME for a name of another form.
DWORD QueryNamedPipe(std::string_view pipeName);

}  // namespace plat
