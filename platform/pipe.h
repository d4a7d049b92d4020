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
// process-wide is changed, not even the umask, but by RaiseOpenFileLimit,
// which is there for that); a server or connection object
// is one thread's at a time. Out parameters on failure: left as they were
// (`out`, `connection`, a message or reply), except that ERROR_MORE_DATA
// gives the message or reply cut to its maximum.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/win_types.h"

namespace plat {

inline constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;

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

// One client's turn as NamedPipeServer::NextRequest gives it.
struct PipeRequest {
  PipeConnection client;  // answer through it; it disconnects when it goes
  std::string message;
  // ERROR_SUCCESS; ERROR_MORE_DATA with the message cut to its maximum; or
  // why there is none: ERROR_BROKEN_PIPE (the client went away),
  // ERROR_SEM_TIMEOUT (it sent nothing in its time), ERROR_TOO_MANY_OPEN_FILES
  // (the oldest waiting client, dropped to make room for a new one when the
  // process has no descriptor left).
  DWORD readError = ERROR_SUCCESS;
};

// CreateNamedPipe + ConnectNamedPipe for the server side.
class NamedPipeServer {
 public:
  NamedPipeServer();
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

  // Serves every client from the calling thread, none holding up another:
  // accepts each client as it comes (it counts as connected then), watches
  // all of them at once and returns the next one whose message is complete,
  // or whose time is up: a client gets `clientTimeoutMs` from its acceptance
  // to send its message. Waiting clients cost a descriptor each and no thread.
  // ERROR_SUCCESS with `request` filled (its readError says how the client
  // fared); ERROR_SEM_TIMEOUT when `timeoutMs` passed with nobody to return;
  // ERROR_TOO_MANY_OPEN_FILES when a client could not be accepted and no
  // waiting one could make room. `request` is left as it was on failure.
  // Use either this or WaitForClient on one server, not both.
  DWORD NextRequest(PipeRequest* request, size_t maxBytes, DWORD clientTimeoutMs,
                    DWORD timeoutMs = NMPWAIT_WAIT_FOREVER);

  // Closes the pipe, drops the clients waiting in NextRequest and removes the socket.
  void Close();

  bool valid() const { return fd_ >= 0; }
  const std::string& socketPath() const { return path_; }

 private:
  class Clients;
  int fd_ = -1;
  std::string path_;
  std::unique_ptr<Clients> clients_;  // NextRequest's, made on its first call
};

// Raises this process's limit of open descriptors to the most it may have
// (the soft limit to the hard one), so that a server can hold as many
// waiting clients as the system allows. Process-wide: for a program's start,
// not for a library. The limit then in force in `limit`.
DWORD RaiseOpenFileLimit(unsigned long* limit);

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
