// The port operations a remote-access adapter serves to plsvc on
// \\.\pipe\plportops: where the remote-access server is a program of its own
// (not a service that loads our hook module), the adapter that stands between
// it and plsvc answers the two questions supervision asks of a port. One
// request in, one reply out; both ends build and read them here only.
//
//   "TRAFFIC <port>"     reply "0 <sent> <received>" (bytes so far, decimal)
//   "DISCONNECT <port> [<reason>]"
//                        reply "0": the session on the port is ended for good,
//                        the client told why (common/cut_reason.h; 0 or none:
//                        no reason given)
//   "CLIENT <port>"      reply "0 <sent> <received> <address> <name>": the
//                        session's client as the server knows it: its bytes,
//                        tunnel address ("-" before one is given) and the
//                        certificate's name (the rest of the line)
//   "SESSION <n>"        reply "0 <port> <start> <account>": the n-th port (from
//                        0) that holds a session, its start (seconds since
//                        1970) and account (the rest of the line, blanks kept);
//                        "259" (no more items) past the last
//   any failure          reply "<error>" alone, a Win32 error code (non-zero)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

inline constexpr const char* kPortOpsPipeName = "\\\\.\\pipe\\plportops";
inline constexpr std::size_t kPortOpsBufferSize = 200;
// How long plsvc waits for the adapter; a supervision pass must not hang on it.
inline constexpr unsigned kPortOpsWaitMs = 5000;

enum class PortOp { Traffic, Disconnect, Session, Client };

// Past the last session a SESSION request names.
inline constexpr std::uint32_t kNoMoreSessions = 259;  // ERROR_NO_MORE_ITEMS

struct PortOpsRequest {
  PortOp op = PortOp::Traffic;
  std::string port;    // Traffic, Disconnect, Client
  unsigned index = 0;  // Session
  int reason = 0;      // Disconnect
};

// Nothing usable (empty) for a port name that is empty, longer than 99
// characters or holds a blank. `reason` goes with a disconnect only.
std::string FormatPortOpsRequest(PortOp op, std::string_view port, int reason = 0);
std::string FormatSessionRequest(unsigned index);
bool ParsePortOpsRequest(std::string_view text, PortOpsRequest* request);

struct PortOpsReply {
  std::uint32_t error = 0;  // 0 success, else a Win32 error code
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  // A session's.
  std::string port;
  std::int64_t start = 0;
  std::string account;
  // A client's.
  std::string address;  // "-" when none
  std::string commonName;
};

// A traffic reply carries the counters, a session reply the session; any
// other success is "0"; a failure is its error code alone.
std::string FormatPortOpsReply(PortOp op, const PortOpsReply& reply);
// False for a reply that is not of that form (the caller then treats the
// operation as failed).
bool ParsePortOpsReply(PortOp op, std::string_view text, PortOpsReply* reply);

}  // namespace common
