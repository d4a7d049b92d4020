// The pipe protocol: one comma-separated text message in, one short reply out.
//
//   token 0 kind      0 new connection, 1 hang-up, 2 address request
//   token 1 port      as the remote-access service names it ("??" unknown)
//   token 2 user      DOMAIN\user (kinds 0, 1) or the bare user name (kind 2)
//   token 3 machine   client computer, "*" when unknown
//   token 4 time      kind 0: session start (0 = now); kind 1: start, 0 unknown
//   token 5 address   kind 2: the proposed address, first octet high
//   token 6 duration  kind 1: session length in seconds
//
// Reply: the code in decimal immediately followed by the address in decimal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace svc {

inline constexpr const char* kPipeName = "\\\\.\\pipe\\plsvcpipe";
inline constexpr std::size_t kMessageBufferSize = 2000;
inline constexpr std::size_t kFieldLimit = 99;
inline constexpr const char* kUpdateMessage = "UPDATE_UPDATE";

inline constexpr int kKindNewConnection = 0;
inline constexpr int kKindHangUp = 1;
inline constexpr int kKindAddressRequest = 2;
// A kind that is not a decimal number: answered like any unknown kind.
inline constexpr int kKindUnreadable = -1;

struct ProtocolMessage {
  int kind = 0;
  std::string port;
  std::string user;
  std::string machine;
  long time = 0;
  long address = 0;
  long duration = 0;
  int tokenCount = 0;
  // Longest text field seen; a field beyond kFieldLimit makes the message unusable.
  std::size_t longestField = 0;
};

// Splits at ','; empty fields between consecutive commas are skipped. Returns
// the number of tokens (further tokens are counted and ignored). Numbers are
// read with atoi's decimal conversion.
int TokenizeMessage(std::string_view text, ProtocolMessage* message);

// True for a message whose first 13 characters are "UPDATE_UPDATE".
bool IsUpdateMessage(std::string_view text);

// The byte swap between our address order (first octet high) and the
// remote-access service's: the four bytes reversed. It is its own inverse.
std::int32_t RevertDWORD(std::int32_t value);

// "%d%d".
std::string FormatReply(int code, std::int32_t address);

}  // namespace svc
